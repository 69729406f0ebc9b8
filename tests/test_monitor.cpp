// The connection monitor against the simulated reader on a pseudo-terminal,
// through the real port and frame codec. The window is a recording view; the
// test thread is the GUI thread and keeps serving the monitor's window calls
// while it waits.
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <ostream>
#include <thread>
#include <vector>

#include "core/engine/com_port.h"
#include "core/engine/frame_codec.h"
#include "core/engine/connect_saver.h"
#include "core/engine/port_handover.h"
#include "core/engine/gui_call.h"
#include "core/line/named_mutex.h"
#include "core/line/serial_device.h"
#include "holder_process.h"
#include "recorded_boxes.h"
#include "sim/device_info.h"
#include "sim/simulated_reader.h"

namespace {

using Clock = std::chrono::steady_clock;
using F = MonitorLine;
namespace text = monitor_text;

long long msSince(Clock::time_point t)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

// One window call of the monitor: a text, or Label10's colour.
struct Call {
    bool colour = false;
    F field = F::Status;
    QString text;
    bool windowText = false;
    uint64_t requestsSeen = 0;  // at the simulator when the call came; not compared

    bool operator==(const Call &o) const
    {
        return colour == o.colour && (colour ? windowText == o.windowText : field == o.field && text == o.text);
    }
};

Call T(F field, const QString &text) { return Call{false, field, text, false, 0}; }
Call Colour(bool windowText) { return Call{true, F::Status, QString(), windowText, 0}; }

const char *FieldName(F f)
{
    switch (f) {
    case F::Status: return "Status";
    case F::FirmwareVersion: return "FirmwareVersion";
    case F::LoaderVersion: return "LoaderVersion";
    case F::Remark: return "Remark";
    case F::SerialNumber: return "SerialNumber";
    }
    return "?";
}

void PrintTo(const Call &c, std::ostream *os)
{
    if (c.colour)
        *os << "Label10 colour " << (c.windowText ? "window text" : "active border");
    else
        *os << FieldName(c.field) << " \"" << c.text.toStdString() << "\"";
}

class RecordingView : public MonitorView {
public:
    std::function<uint64_t()> probe;

    void SetLineText(MonitorLine field, const QString &text) override { Record(T(field, text)); }
    void SetSerialCaptionLit(bool windowText) override { Record(Colour(windowText)); }

    std::vector<Call> Calls(size_t from = 0) const
    {
        std::lock_guard<std::mutex> guard(lock_);
        return from < calls_.size() ? std::vector<Call>(calls_.begin() + long(from), calls_.end())
                                    : std::vector<Call>();
    }
    size_t Count() const
    {
        std::lock_guard<std::mutex> guard(lock_);
        return calls_.size();
    }
    int OffGuiCalls() const { return offGui_.load(); }

private:
    void Record(Call call)
    {
        if (!platform::OnGuiThread())
            ++offGui_;
        if (probe)
            call.requestsSeen = probe();
        std::lock_guard<std::mutex> guard(lock_);
        calls_.push_back(call);
    }

    mutable std::mutex lock_;
    std::vector<Call> calls_;
    std::atomic<int> offGui_{0};
};

std::string UniqueMutexName()
{
    static std::atomic<int> serial{0};
    return "monitor-test-" + std::to_string(::getpid()) + "-" + std::to_string(++serial);
}

sim::ReaderState State(uint8_t loader, uint8_t major, uint8_t minor, uint16_t serial)
{
    sim::ReaderState s;
    s.loaderVersion = loader;
    s.firmwareMajor = major;
    s.firmwareMinor = minor;
    s.serialNumber = serial;
    return s;
}

// What a new answer of a reader with this state writes, after the status line.
std::vector<Call> FieldsFor(const sim::ReaderState &s, const QString &loaderText, const QString &serialText)
{
    std::vector<Call> calls = {T(F::LoaderVersion, text::VersionPrefix() + loaderText)};
    if (s.loaderVersion <= 0x81)
        return {calls[0], T(F::Remark, text::OldLoader()), T(F::FirmwareVersion, text::Unknown())};
    if (s.loaderVersion >= 0x83) {
        calls.push_back(Colour(true));
        calls.push_back(T(F::SerialNumber, serialText));
    }
    if (s.firmwareMajor != 0) {
        calls.push_back(T(F::Remark, QString()));
        calls.push_back(T(F::FirmwareVersion, text::VersionPrefix() + QString::number(s.firmwareMajor) + "." +
                                        QString::number(s.firmwareMinor)));
    } else {
        calls.push_back(T(F::Remark, text::OldFirmware()));
        calls.push_back(T(F::FirmwareVersion, text::Unknown()));
    }
    return calls;
}

std::vector<Call> Join(std::vector<Call> a, const std::vector<Call> &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

const std::vector<Call> kEmptied = {Colour(false), T(F::FirmwareVersion, QString()), T(F::LoaderVersion, QString()),
                                    T(F::SerialNumber, QString())};

class MonitorTest : public ::testing::Test {
protected:
    static constexpr const char *kLinkName = "monitor-sim";

    void SetUp() override
    {
        ASSERT_TRUE(portDir.isValid());
        ASSERT_TRUE(portBusy.valid());
        prot.SetPortOpenFlag(&portOpen);
        view.probe = [this] { return reader ? reader->Requests() : 0; };
        // The monitor's silent reads take 300 ms instead of a second.
        platform::SetTimeoutScaleForTests(0.3);
    }

    void TearDown() override
    {
        monitor.reset();  // stops the thread before anything it uses goes
        port.Close();
        reader.reset();
        platform::SetTimeoutScaleForTests(1.0);
        EXPECT_EQ(view.OffGuiCalls(), 0) << "window calls must come on the GUI thread";
        EXPECT_EQ(boxes.Count(), 0u) << boxes.Texts().join(" | ").toStdString();
    }

    void StartReader(const sim::ReaderState &state)
    {
        sim::Options options;
        options.folder = portDir.path().toStdString();
        options.linkName = kLinkName;
        options.state = state;
        auto r = std::make_unique<sim::SimulatedReader>(options);
        r->AddResponder(std::make_shared<sim::DeviceInfo>());
        ASSERT_TRUE(r->Start()) << r->ErrorText();
        reader = std::move(r);
    }

    std::string LinkPath() const { return portDir.filePath(kLinkName).toStdString(); }

    void StartMonitor()
    {
        monitor = std::make_unique<ConnectSaver>(true, prot, port, portBusy, portOpen, view);
        monitor->Resume();
    }

    void OpenPort()
    {
        ASSERT_NE(port.Open(LinkPath()), NullHandle) << port.Device().errorText();
        portOpen = true;
    }

    bool Serve(const std::function<bool()> &done, int ms) { return platform::WaitServingGui(done, ms); }
    void ServeFor(int ms)
    {
        platform::WaitServingGui([] { return false; }, ms);
    }
    bool WaitForCalls(size_t count, int ms)
    {
        return Serve([&] { return view.Count() >= count; }, ms);
    }
    // Waits for this many more completed polls of the monitor.
    bool WaitForPolls(uint64_t more, int ms)
    {
        const uint64_t target = monitor->PollCount() + more;
        return Serve([&] { return monitor->PollCount() >= target; }, ms);
    }

    // Starts the reader and the monitor, opens the port, and waits until the
    // first answer has been shown.
    void BringUp(const sim::ReaderState &state, const QString &loaderText, const QString &serialText)
    {
        StartReader(state);
        StartMonitor();
        OpenPort();
        const auto expected =
            Join({T(F::Status, text::NoAnswer()), T(F::Status, text::Ready())},
                 FieldsFor(state, loaderText, serialText));
        ASSERT_TRUE(WaitForCalls(expected.size(), 5000));
        ASSERT_EQ(view.Calls(), expected);
    }

    QTemporaryDir portDir;
    RecordedBoxes boxes;
    std::atomic<bool> portOpen{false};
    TComPort1 port;
    TProtFrame prot{port};
    platform::NamedMutex portBusy{UniqueMutexName()};
    RecordingView view;
    std::unique_ptr<sim::SimulatedReader> reader;
    std::unique_ptr<ConnectSaver> monitor;
};

struct OutcomeCase {
    const char *name;
    sim::ReaderState state;
    const char *loaderText;
    const char *serialText;  // unused below loader 8.3
};

class MonitorOutcome : public MonitorTest, public ::testing::WithParamInterface<OutcomeCase> {};

TEST_P(MonitorOutcome, AnswerFillsTheFieldsOnceAsTheTableSays)
{
    const OutcomeCase c = GetParam();
    BringUp(c.state, c.loaderText, c.serialText);
    const size_t shown = view.Count();

    // Identical answers cause no window traffic at all.
    ASSERT_TRUE(WaitForPolls(3, 3000));
    EXPECT_EQ(view.Calls(shown), std::vector<Call>());

    // The reader saw only well-formed status requests.
    const sim::Counters counters = reader->Snapshot();
    EXPECT_GE(counters.framesByCommand[0x3D], 4u);
    EXPECT_EQ(counters.frames, counters.framesByCommand[0x3D]);
    EXPECT_EQ(counters.badFrames, 0u);
    EXPECT_EQ(counters.droppedBytes, 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Table, MonitorOutcome,
    ::testing::Values(OutcomeCase{"loader_8_1", State(0x81, 6, 4, 12345), "8.1", ""},
                      OutcomeCase{"loader_0_0", State(0x00, 6, 4, 12345), "0.0", ""},
                      OutcomeCase{"loader_8_2_no_firmware_version", State(0x82, 0, 9, 12345), "8.2", ""},
                      OutcomeCase{"loader_8_2_firmware_version", State(0x82, 5, 3, 12345), "8.2", ""},
                      OutcomeCase{"loader_8_3_serial_from_0x39_0x30", State(0x83, 6, 4, 0x3039), "8.3",
                                  "12345"},
                      OutcomeCase{"loader_8_3_no_firmware_version", State(0x83, 0, 0, 0), "8.3", "0"},
                      OutcomeCase{"loader_9_12", State(0x9C, 10, 11, 65535), "9.12", "65535"},
                      // Both serial bytes travel stuffed (DF 55, DF AA).
                      OutcomeCase{"serial_with_stuffed_bytes", State(0x83, 6, 4, 0xDAD5), "8.3", "56021"},
                      OutcomeCase{"firmware_with_stuffed_minor", State(0x83, 6, 0xDF, 7), "8.3", "7"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(MonitorTest, ClosedPortWritesNothingThenOpeningShowsNoAnswerAtOnceThenReady)
{
    StartReader(State(0x83, 6, 4, 12345));
    StartMonitor();
    // More than one closed cycle: the status line keeps its initial text.
    ServeFor(1200);
    EXPECT_EQ(view.Count(), 0u);
    EXPECT_EQ(reader->Requests(), 0u);

    const auto opened = Clock::now();
    OpenPort();
    ASSERT_TRUE(WaitForCalls(1, 2000));
    EXPECT_LE(msSince(opened), 1000) << "within one closed-port pause";
    ASSERT_TRUE(WaitForCalls(2, 3000));
    const auto calls = view.Calls();
    EXPECT_EQ(calls[0], T(F::Status, text::NoAnswer()));
    EXPECT_EQ(calls[0].requestsSeen, 0u) << "shown before the first poll went out";
    EXPECT_EQ(calls[1], T(F::Status, text::Ready()));
    EXPECT_GE(calls[1].requestsSeen, 1u);
}

TEST_F(MonitorTest, AnswerDifferingOnlyInTheSerialBytesChangesNothing)
{
    const auto state = State(0x83, 6, 4, 12345);
    BringUp(state, "8.3", "12345");
    size_t shown = view.Count();

    reader->UpdateState([](sim::ReaderState &s) { s.serialNumber = 54321; });
    const uint64_t seen = reader->Requests();
    ASSERT_TRUE(Serve([&] { return reader->Requests() >= seen + 3; }, 3000));
    ASSERT_TRUE(WaitForPolls(1, 3000));
    EXPECT_EQ(view.Calls(shown), std::vector<Call>());

    // A change in bytes 7 to 10 refreshes every field, the new serial with them.
    reader->UpdateState([](sim::ReaderState &s) { s.firmwareMinor = 5; });
    auto changed = state;
    changed.firmwareMinor = 5;
    const auto expected = FieldsFor(changed, "8.3", "54321");
    ASSERT_TRUE(WaitForCalls(shown + expected.size(), 3000));
    EXPECT_EQ(view.Calls(shown), expected);
}

TEST_F(MonitorTest, UnansweredPollEmptiesVersionsInOrderKeepsTheRemarkAndTheNextAnswerRefreshes)
{
    const auto state = State(0x83, 0, 0, 12345);
    BringUp(state, "8.3", "12345");
    const size_t shown = view.Count();

    sim::Faults once;
    once.silence = 1;
    reader->SetFaults(once);
    const auto expected = Join(Join(kEmptied, {T(F::Status, text::NoAnswer()), T(F::Status, text::Ready())}),
                               FieldsFor(state, "8.3", "12345"));
    ASSERT_TRUE(WaitForCalls(shown + expected.size(), 5000));
    EXPECT_EQ(view.Calls(shown), expected);
}

TEST_F(MonitorTest, GarbledAnswersCountAsAnswers)
{
    // Any bytes are an answer; a wrong check byte is not looked at.
    const auto state = State(0x83, 6, 4, 12345);
    BringUp(state, "8.3", "12345");
    const size_t shown = view.Count();
    sim::Faults faults;
    faults.badCheck = sim::kAlways;
    reader->SetFaults(faults);
    ASSERT_TRUE(WaitForPolls(3, 3000));
    EXPECT_EQ(view.Calls(shown), std::vector<Call>());
    EXPECT_GE(reader->Snapshot().repliesSent, 4u);
}

TEST_F(MonitorTest, ClosingThePortWhileReadyWritesOnlyTheStatusLine)
{
    BringUp(State(0x83, 6, 4, 12345), "8.3", "12345");
    const size_t shown = view.Count();

    portOpen = false;
    ASSERT_TRUE(WaitForCalls(shown + 1, 2000));
    port.Close();
    ServeFor(1200);  // two more closed cycles
    EXPECT_EQ(view.Calls(shown), std::vector<Call>({T(F::Status, text::PortClosed())}));

    // Opened again: the remembered answer was kept, so only the status moves.
    OpenPort();
    ASSERT_TRUE(WaitForCalls(shown + 3, 3000));
    ASSERT_TRUE(WaitForPolls(2, 3000));
    EXPECT_EQ(view.Calls(shown),
              std::vector<Call>({T(F::Status, text::PortClosed()), T(F::Status, text::NoAnswer()),
                                 T(F::Status, text::Ready())}));
}

TEST_F(MonitorTest, PortClosedWhileTheMonitorWaitsForTheLockIsNotPolled)
{
    BringUp(State(0x83, 6, 4, 12345), "8.3", "12345");
    const size_t shown = view.Count();

    // As "Close" does: hold the lock while the monitor comes for it, lower the
    // flag, close, and let go.
    ASSERT_TRUE(portBusy.wait(1000));
    ServeFor(300);
    const uint64_t polls = monitor->PollCount();
    portOpen = false;
    port.Close();
    portBusy.release();
    ServeFor(800);

    EXPECT_EQ(monitor->PollCount(), polls);
    EXPECT_EQ(view.Calls(shown), std::vector<Call>({T(F::Status, text::PortClosed())}));
    // TearDown checks that no "You have not opened the port!" box came up.
}

TEST_F(MonitorTest, HandOverParksTheMonitorBetweenPollsUntilResumed)
{
    BringUp(State(0x83, 6, 4, 12345), "8.3", "12345");
    PortHandover handover(port, portBusy, *monitor);
    const auto start = Clock::now();
    handover.TakeFromMonitor();
    EXPECT_LE(msSince(start), 2000);
    EXPECT_TRUE(monitor->Suspended());
    EXPECT_TRUE(handover.PurgeSucceeded());
    EXPECT_TRUE(handover.GotPortLock());

    const uint64_t parkedAt = reader->Requests();
    const uint64_t pollsAt = monitor->PollCount();
    ServeFor(600);
    EXPECT_EQ(reader->Requests(), parkedAt) << "no poll while the port is handed over";
    EXPECT_EQ(monitor->PollCount(), pollsAt);

    // The port is ours meanwhile: an exchange of our own gets the one answer.
    TProtFrame::ClearBuffer(prot.TxFrame, sizeof prot.TxFrame);
    prot.TxLength = 7;
    ASSERT_TRUE(prot.SendCommand(0x3D));
    EXPECT_EQ(prot.ReceiveReply(100), TProtFrame::ReplyOutcome::Valid);
    EXPECT_EQ(prot.RxBuffer[10], 0x83);
    EXPECT_EQ(reader->Requests(), parkedAt + 1);

    handover.GiveBackToMonitor();
    EXPECT_TRUE(Serve([&] { return reader->Requests() >= parkedAt + 3; }, 3000));
    EXPECT_FALSE(monitor->Suspended());
}

TEST_F(MonitorTest, HandOverWhileTheMonitorWaitsForAWindowCallDoesNotDeadlock)
{
    BringUp(State(0x83, 6, 4, 12345), "8.3", "12345");
    const size_t shown = view.Count();

    // The reader changes while the monitor is parked, so its next poll after
    // the resume gets a new answer and with it window calls. The GUI thread
    // does not serve them: the monitor sits in the first one, holding the lock.
    PortHandover first(port, portBusy, *monitor);
    first.TakeFromMonitor();
    ASSERT_TRUE(monitor->Suspended());
    reader->UpdateState([](sim::ReaderState &s) { s.firmwareMinor = 9; });
    const uint64_t polls = monitor->PollCount();
    first.GiveBackToMonitor();
    const auto deadline = Clock::now() + std::chrono::seconds(3);
    while (monitor->PollCount() < polls + 1 && Clock::now() < deadline)
        std::this_thread::yield();
    ASSERT_EQ(monitor->PollCount(), polls + 1);
    EXPECT_EQ(view.Count(), shown) << "no window call can have run yet";

    PortHandover handover(port, portBusy, *monitor);
    const auto start = Clock::now();
    handover.TakeFromMonitor();
    EXPECT_LE(msSince(start), 2000);
    EXPECT_TRUE(monitor->Suspended());
    // The blocked cycle was completed, not cut short.
    auto changed = State(0x83, 6, 9, 12345);
    EXPECT_EQ(view.Calls(shown), FieldsFor(changed, "8.3", "12345"));

    const uint64_t parkedAt = reader->Requests();
    ServeFor(600);
    EXPECT_EQ(reader->Requests(), parkedAt);

    handover.GiveBackToMonitor();
    EXPECT_TRUE(Serve([&] { return reader->Requests() >= parkedAt + 2; }, 3000));
}

TEST_F(MonitorTest, StoppedReaderShowsNoAnswerAndARestartedOneIsShownWithoutReopeningThePort)
{
    platform::SetTimeoutScaleForTests(1.0);  // the real read budget of one second
    BringUp(State(0x83, 6, 4, 12345), "8.3", "12345");
    size_t shown = view.Count();
    const PortHandle before = port.Handle;
    ASSERT_NE(before, NullHandle);

    const auto stopped = Clock::now();
    reader->Stop();
    const auto lost = Join(kEmptied, {T(F::Status, text::NoAnswer())});
    ASSERT_TRUE(WaitForCalls(shown + lost.size(), 3000));
    EXPECT_LE(msSince(stopped), 1600);
    EXPECT_EQ(view.Calls(shown), lost);
    shown = view.Count();

    // The same port name comes back with another reader behind it.
    const auto restarted = State(0x83, 7, 1, 4321);
    StartReader(restarted);
    const auto expected = Join({T(F::Status, text::Ready())}, FieldsFor(restarted, "8.3", "4321"));
    ASSERT_TRUE(Serve(
        [&] {
            const auto calls = view.Calls(shown);
            return !calls.empty() && calls.back() == expected.back();
        },
        8000));
    // While it was away each silent poll emptied the fields and said so again.
    auto calls = view.Calls(shown);
    ASSERT_GE(calls.size(), expected.size());
    EXPECT_EQ(std::vector<Call>(calls.end() - long(expected.size()), calls.end()), expected);
    for (size_t i = 0; i + expected.size() < calls.size(); ++i) {
        const Call &c = calls[i];
        EXPECT_TRUE(c.colour || c == T(F::Status, text::NoAnswer()) || c.text.isEmpty())
            << "unexpected call " << ::testing::PrintToString(c);
    }
    EXPECT_GE(port.Device().reopenCount(), 1u);
    EXPECT_NE(port.Handle, NullHandle);
    EXPECT_EQ(port.Handle, port.Device().descriptor());
    EXPECT_TRUE(portOpen.load());
}

TEST_F(MonitorTest, SilentPortThatAnotherProgramHoldsNamesItUntilTheReaderAnswers)
{
    // The other program had the port first (as ModemManager would), so the
    // exclusive open does not keep it out.
    StartReader(State(0x83, 6, 4, 12345));
    sim::Faults silent;
    silent.silence = sim::kAlways;
    reader->SetFaults(silent);
    HolderProcess other(LinkPath());
    ASSERT_TRUE(other.Holding());
    StartMonitor();
    OpenPort();

    const Call named = T(F::Remark, QStringLiteral("%1 is also open in %2 (pid %3).")
                                       .arg(QString::fromUtf8(kLinkName), QString::fromUtf8(HolderProcess::kName))
                                       .arg(other.Pid()));
    const auto timesNamed = [&] {
        const auto calls = view.Calls();
        return std::count(calls.begin(), calls.end(), named);
    };
    ASSERT_TRUE(Serve([&] { return timesNamed() > 0; }, 8000));
    const auto calls = view.Calls();
    ASSERT_GE(calls.size(), 5u);
    EXPECT_EQ(std::vector<Call>(calls.begin(), calls.begin() + 5), Join({T(F::Status, text::NoAnswer())}, kEmptied));
    // Said once, not at every silent poll.
    ASSERT_TRUE(WaitForPolls(3, 5000));
    EXPECT_EQ(timesNamed(), 1);

    // The reader answers again: the remark line is its own again.
    const size_t shown = view.Count();
    reader->SetFaults(sim::Faults{});
    const auto expected =
        Join({T(F::Status, text::Ready())}, FieldsFor(State(0x83, 6, 4, 12345), "8.3", "12345"));
    const auto fromReady = [&] {
        const auto after = view.Calls(shown);
        const auto ready = std::find(after.begin(), after.end(), expected.front());
        return std::vector<Call>(ready, after.end());
    };
    ASSERT_TRUE(Serve([&] { return fromReady().size() >= expected.size(); }, 5000));
    EXPECT_EQ(fromReady(), expected);
}

TEST_F(MonitorTest, LineThatComesBackIsShownAgain)
{
    BringUp(State(0x82, 6, 4, 12345), "8.2", "");
    const size_t shown = view.Count();
    reader->DropLine(300);
    const auto expected =
        Join(Join(kEmptied, {T(F::Status, text::NoAnswer()), T(F::Status, text::Ready())}),
             FieldsFor(State(0x82, 6, 4, 12345), "8.2", ""));
    ASSERT_TRUE(Serve(
        [&] {
            const auto calls = view.Calls(shown);
            return !calls.empty() && calls.back() == expected.back();
        },
        6000));
    const auto calls = view.Calls(shown);
    ASSERT_GE(calls.size(), expected.size());
    EXPECT_EQ(std::vector<Call>(calls.begin(), calls.begin() + 4), kEmptied);
    EXPECT_EQ(std::vector<Call>(calls.end() - long(expected.size()) + 4, calls.end()),
              std::vector<Call>(expected.begin() + 4, expected.end()));
    EXPECT_EQ(reader->Snapshot().lineDrops, 1u);
}

}  // namespace
