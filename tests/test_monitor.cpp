// The connection monitor of a session against the simulated reader on a
// pseudo-terminal: the polls on the wire, the answers decoded, and the
// snapshots the session reports when they change.
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <vector>

#include "core/line/serial_device.h"
#include "core/session/session.h"
#include "holder_process.h"
#include "sim/device_info.h"
#include "sim/simulated_reader.h"
#include "wait_until.h"

namespace {

using device_info::DeviceInfo;
using device_info::FirmwareUnknown;
using State = ReaderSnapshot::State;

class SnapshotLog : public SessionObserver {
public:
    void ReaderChanged(const ReaderSnapshot &now) override
    {
        std::lock_guard<std::mutex> guard(lock_);
        snapshots_.push_back(now);
    }
    std::vector<ReaderSnapshot> From(size_t first = 0) const
    {
        std::lock_guard<std::mutex> guard(lock_);
        return first < snapshots_.size() ? std::vector<ReaderSnapshot>(snapshots_.begin() + long(first), snapshots_.end())
                                         : std::vector<ReaderSnapshot>();
    }
    size_t Count() const
    {
        std::lock_guard<std::mutex> guard(lock_);
        return snapshots_.size();
    }

private:
    mutable std::mutex lock_;
    std::vector<ReaderSnapshot> snapshots_;
};

std::vector<State> States(const std::vector<ReaderSnapshot> &snapshots)
{
    std::vector<State> states;
    for (const ReaderSnapshot &s : snapshots)
        states.push_back(s.state);
    return states;
}

sim::ReaderState Sim(uint8_t loader, uint8_t major, uint8_t minor, uint16_t serial)
{
    sim::ReaderState s;
    s.loaderVersion = loader;
    s.firmwareMajor = major;
    s.firmwareMinor = minor;
    s.serialNumber = serial;
    return s;
}

DeviceInfo Info(int loaderMajor, int loaderMinor, std::optional<device_info::Version> firmware,
                FirmwareUnknown why, std::optional<uint16_t> serial)
{
    DeviceInfo info;
    info.loader = {loaderMajor, loaderMinor};
    info.firmware = firmware;
    info.unknownBecause = why;
    info.serialNumber = serial;
    return info;
}

class MonitorTest : public ::testing::Test {
protected:
    static constexpr const char *kLinkName = "monitor-sim";

    // The monitor's silent reads take 300 ms instead of a second.
    void SetUp() override { platform::SetTimeoutScaleForTests(0.3); }
    void TearDown() override
    {
        session.reset();
        reader.reset();
        platform::SetTimeoutScaleForTests(1.0);
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
    void OpenSession()
    {
        Session::Options options;
        options.lockPrefix = "test-monitor-" + std::to_string(::getpid());
        options.observer = &log;
        Session::OpenResult opened = Session::Open(kLinkName, portDir.filePath(kLinkName), options);
        ASSERT_TRUE(opened.session) << opened.failure.systemText;
        session = std::move(opened.session);
    }
    // Waits for this many more completed polls.
    bool WaitForPolls(uint64_t more)
    {
        const uint64_t target = session->Reader().polls + more;
        return WaitUntil([&] { return session->Reader().polls >= target; });
    }
    // Waits until the last reported snapshot is in state.
    bool WaitForState(State state, int ms = 5000)
    {
        return WaitUntil([&] {
            const auto all = log.From();
            return !all.empty() && all.back().state == state;
        }, ms);
    }
    void BringUp(const sim::ReaderState &state)
    {
        StartReader(state);
        OpenSession();
        ASSERT_TRUE(WaitForState(State::Ready));
        up = log.Count();
        answer = *log.From().back().info;
    }

    QTemporaryDir portDir;
    SnapshotLog log;
    std::unique_ptr<sim::SimulatedReader> reader;
    std::unique_ptr<Session> session;
    // After BringUp: the snapshots so far, and the reader's answer.
    size_t up = 0;
    DeviceInfo answer;
};

struct AnswerCase {
    const char *name;
    sim::ReaderState state;
    DeviceInfo decoded;
};

class MonitorAnswer : public MonitorTest, public ::testing::WithParamInterface<AnswerCase> {};

TEST_P(MonitorAnswer, AnswerIsDecodedOnceAndRepeatsChangeNothing)
{
    const AnswerCase c = GetParam();
    BringUp(c.state);
    const ReaderSnapshot ready = log.From().back();
    EXPECT_EQ(ready.info, c.decoded);
    EXPECT_EQ(ready.lastAnswer, c.decoded);
    EXPECT_TRUE(ready.holders.isEmpty());

    ASSERT_TRUE(WaitForPolls(3));
    EXPECT_EQ(log.Count(), up);
    EXPECT_GE(session->Reader().answers, 4u);
    // The reader saw only well-formed status requests.
    const sim::Counters counters = reader->Snapshot();
    EXPECT_GE(counters.framesByCommand[0x3D], 4u);
    EXPECT_EQ(counters.frames, counters.framesByCommand[0x3D]);
    EXPECT_EQ(counters.badFrames, 0u);
    EXPECT_EQ(counters.droppedBytes, 0u);
}

using V = device_info::Version;
INSTANTIATE_TEST_SUITE_P(
    Table, MonitorAnswer,
    ::testing::Values(
        AnswerCase{"loader_8_1", Sim(0x81, 6, 4, 12345), Info(8, 1, {}, FirmwareUnknown::OldLoader, {})},
        AnswerCase{"loader_0_0", Sim(0x00, 6, 4, 12345), Info(0, 0, {}, FirmwareUnknown::OldLoader, {})},
        AnswerCase{"loader_8_2_no_firmware_version", Sim(0x82, 0, 9, 12345),
                   Info(8, 2, {}, FirmwareUnknown::OldFirmware, {})},
        AnswerCase{"loader_8_2_firmware_version", Sim(0x82, 5, 3, 12345),
                   Info(8, 2, V{5, 3}, FirmwareUnknown::None, {})},
        AnswerCase{"loader_8_3_serial_from_0x39_0x30", Sim(0x83, 6, 4, 0x3039),
                   Info(8, 3, V{6, 4}, FirmwareUnknown::None, 12345)},
        AnswerCase{"loader_8_3_no_firmware_version", Sim(0x83, 0, 0, 0),
                   Info(8, 3, {}, FirmwareUnknown::OldFirmware, 0)},
        AnswerCase{"loader_9_12", Sim(0x9C, 10, 11, 65535), Info(9, 12, V{10, 11}, FirmwareUnknown::None, 65535)},
        // Both serial bytes travel stuffed (DF 55, DF AA).
        AnswerCase{"serial_with_stuffed_bytes", Sim(0x83, 6, 4, 0xDAD5),
                   Info(8, 3, V{6, 4}, FirmwareUnknown::None, 0xDAD5)},
        AnswerCase{"firmware_with_stuffed_minor", Sim(0x83, 6, 0xDF, 7),
                   Info(8, 3, V{6, 0xDF}, FirmwareUnknown::None, 7)}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(MonitorTest, ChangedAnswerIsReportedOnce)
{
    BringUp(Sim(0x83, 6, 4, 12345));
    reader->UpdateState([](sim::ReaderState &s) { s.firmwareMinor = 5; });
    ASSERT_TRUE(WaitUntil([&] { return log.Count() > up; }));
    ASSERT_TRUE(WaitForPolls(3));
    const auto changes = log.From(up);
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(changes[0].state, State::Ready);
    EXPECT_EQ(changes[0].info, Info(8, 3, V{6, 5}, FirmwareUnknown::None, 12345));
}

TEST_F(MonitorTest, UnansweredPollKeepsTheLastAnswerAndTheNextAnswerIsReadyAgain)
{
    BringUp(Sim(0x83, 0, 0, 12345));
    sim::Faults once;
    once.silence = 1;
    reader->SetFaults(once);
    ASSERT_TRUE(WaitUntil([&] { return log.Count() >= up + 2; }));
    const auto changes = log.From(up);
    EXPECT_EQ(States(changes), (std::vector<State>{State::NoAnswer, State::Ready}));
    EXPECT_FALSE(changes[0].info);
    EXPECT_EQ(changes[0].lastAnswer, answer);
    EXPECT_EQ(changes[1].info, answer);
}

TEST_F(MonitorTest, GarbledAnswersCountAsAnswers)
{
    // Any bytes are an answer; a wrong check byte is not looked at.
    BringUp(Sim(0x83, 6, 4, 12345));
    sim::Faults faults;
    faults.badCheck = sim::kAlways;
    reader->SetFaults(faults);
    const uint64_t sent = reader->Snapshot().repliesSent;
    ASSERT_TRUE(WaitForPolls(3));
    EXPECT_EQ(log.Count(), up);
    EXPECT_GE(reader->Snapshot().repliesSent, sent + 3);
    EXPECT_EQ(session->Reader().state, State::Ready);
}

TEST_F(MonitorTest, StoppedReaderIsNoAnswerAndARestartedOneIsReadyWithoutReopeningTheSession)
{
    BringUp(Sim(0x83, 6, 4, 12345));
    reader->Stop();
    ASSERT_TRUE(WaitForState(State::NoAnswer));
    const size_t lost = log.Count();

    // The same port name comes back with another reader behind it.
    StartReader(Sim(0x83, 7, 1, 4321));
    ASSERT_TRUE(WaitForState(State::Ready, 8000));
    const auto changes = log.From(lost);
    EXPECT_EQ(changes.back().info, Info(8, 3, V{7, 1}, FirmwareUnknown::None, 4321));
    // While it was away nothing but silence was reported.
    for (size_t i = 0; i + 1 < changes.size(); ++i)
        EXPECT_EQ(changes[i].state, State::NoAnswer) << i;
}

TEST_F(MonitorTest, LineThatComesBackIsShownAgain)
{
    BringUp(Sim(0x82, 6, 4, 12345));
    reader->DropLine(300);
    ASSERT_TRUE(WaitForState(State::NoAnswer));
    ASSERT_TRUE(WaitForState(State::Ready, 6000));
    EXPECT_EQ(log.From().back().info, answer);
    EXPECT_EQ(reader->Snapshot().lineDrops, 1u);
}

TEST_F(MonitorTest, SilentPortThatAnotherProgramHoldsNamesItUntilTheReaderAnswers)
{
    // The other program had the port first (as ModemManager would), so the
    // exclusive open does not keep it out.
    StartReader(Sim(0x83, 6, 4, 12345));
    sim::Faults silent;
    silent.silence = sim::kAlways;
    reader->SetFaults(silent);
    HolderProcess other(portDir.filePath(kLinkName).toStdString());
    ASSERT_TRUE(other.Holding());
    OpenSession();

    const QString named = QStringLiteral("%1 is also open in %2 (pid %3).")
                              .arg(QString::fromUtf8(kLinkName), QString::fromUtf8(HolderProcess::kName))
                              .arg(other.Pid());
    const auto timesNamed = [&] {
        const auto all = log.From();
        return std::count_if(all.begin(), all.end(), [&](const ReaderSnapshot &s) { return s.holders == named; });
    };
    ASSERT_TRUE(WaitUntil([&] { return timesNamed() > 0; }, 8000));
    EXPECT_EQ(log.From().front().state, State::NoAnswer);
    // Said once, not at every silent poll.
    ASSERT_TRUE(WaitForPolls(3));
    EXPECT_EQ(timesNamed(), 1);

    // The reader answers again: the holders are no longer named.
    reader->ClearFaults();
    ASSERT_TRUE(WaitForState(State::Ready));
    EXPECT_TRUE(log.From().back().holders.isEmpty());
}

}  // namespace
