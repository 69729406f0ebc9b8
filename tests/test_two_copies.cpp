// Two copies of the tool on one machine, through the layers: a port held by
// a copy in another process cannot be opened (the window says the port is
// busy); two copies on two ports both work while they share one "COMpBusy";
// a copy killed while it holds "COMpBusy" blocks the other for one wait at most.
// Children are forked before the test starts any thread of its own.

#include <QElapsedTimer>
#include <QFile>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <memory>

#include <fcntl.h>
#include <pty.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include "app/application.h"
#include "app/main_window.h"
#include "firmware/update_procedure.h"
#include "firmware_images.h"
#include "link/com_port.h"
#include "monitor/connect_saver.h"
#include "monitor/port_handover.h"
#include "platform/gui_call.h"
#include "platform/named_mutex.h"
#include "platform/serial_device.h"
#include "ports/setup.h"
#include "recorded_boxes.h"
#include "test_app.h"
#include "recording_view.h"
#include "sim/boot_loader.h"
#include "sim/device_info.h"
#include "sim/simulated_reader.h"
#include "ui_main_window.h"

namespace {

namespace text = update_text;

constexpr double kFastLine = 0.25;
constexpr int kDeadlineMs = 10000;
const QString kBusy = QStringLiteral("The COM port is busy!");

std::string UniqueName(const char *what)
{
    static int counter = 0;
    return std::string("test-two-copies-") + what + "-" + std::to_string(getpid()) + "-" +
           std::to_string(++counter);
}

using test_app::WaitFor;

// A child process that does one thing, reports one byte and then waits until
// it is told to end (a byte or the end of the pipe) or is killed.
class Child {
public:
    // what runs in the child and returns the byte to report.
    explicit Child(const std::function<char()> &what)
    {
        int report[2], go[2];
        if (pipe(report) != 0 || pipe(go) != 0)
            return;
        pid_ = fork();
        if (pid_ == 0) {
            close(report[0]);
            close(go[1]);
            char c = what();
            (void)!write(report[1], &c, 1);
            (void)!read(go[0], &c, 1);
            _exit(0);
        }
        close(report[1]);
        close(go[0]);
        report_ = report[0];
        go_ = go[1];
    }
    ~Child()
    {
        End();
        if (report_ >= 0)
            close(report_);
    }
    bool Started() const { return pid_ > 0; }
    // The byte the child reported; 0 when it reported nothing.
    char Report()
    {
        char c = 0;
        return read(report_, &c, 1) == 1 ? c : 0;
    }
    // Lets it end and reaps it; true when it ended normally.
    bool End()
    {
        if (pid_ <= 0)
            return false;
        if (go_ >= 0) {
            (void)!write(go_, "x", 1);
            close(go_);
            go_ = -1;
        }
        return Reap();
    }
    void Kill()
    {
        if (pid_ > 0)
            ::kill(pid_, SIGKILL);
        Reap();
    }

private:
    bool Reap()
    {
        int status = 0;
        const bool ok = waitpid(pid_, &status, 0) == pid_ && WIFEXITED(status) && WEXITSTATUS(status) == 0;
        pid_ = -1;
        return ok;
    }

    pid_t pid_ = -1;
    int report_ = -1;
    int go_ = -1;
};

// A simulated reader with its boot loader, published in folder.
struct Reader {
    std::unique_ptr<sim::SimulatedReader> line;
    std::shared_ptr<sim::BootLoader> boot = std::make_shared<sim::BootLoader>();

    Reader(const QString &folder, const std::string &name)
    {
        sim::Options options;
        options.folder = folder.toStdString();
        options.linkName = name;
        line = std::make_unique<sim::SimulatedReader>(options);
        line->AddResponder(std::make_shared<sim::DeviceInfo>());
        line->AddResponder(boot);
    }
};

AppOptions OptionsFor(const QTemporaryDir &iniDir, const QTemporaryDir &portDir, const std::string &lockName)
{
    return test_app::Options(iniDir.path(), portDir.path(), lockName);
}

class TwoCopiesTest : public ::testing::Test {
protected:
    QTemporaryDir iniDir;
    QTemporaryDir portDir;
    QTemporaryDir fileDir;
    RecordedBoxes boxes;
    std::vector<std::string> lockNames;

    void SetUp() override { platform::SetTimeoutScaleForTests(kFastLine); }
    void TearDown() override
    {
        for (const std::string &name : lockNames)
            shm_unlink(("/talvor-" + name).c_str());
        platform::SetTimeoutScaleForTests(1.0);
    }
    std::string LockName(const char *what)
    {
        lockNames.push_back(UniqueName(what));
        return lockNames.back();
    }
};

// ---------------------------------------------------------------------------
// One port, two processes.

struct HolderCase {
    const char *name;
    bool childHolds;  // else this process holds it and the child tries
};

void PrintTo(const HolderCase &c, std::ostream *os) { *os << c.name; }

class PortHeldByAnotherProcess : public TwoCopiesTest, public ::testing::WithParamInterface<HolderCase> {};

TEST_P(PortHeldByAnotherProcess, CannotBeOpenedUntilItsHolderLetsGo)
{
    const test_app::VirtualPort port(portDir.path(), QStringLiteral("shared-port"));
    const std::string path = port.Link().toStdString();

    if (!GetParam().childHolds) {
        TComPort1 mine;
        ASSERT_NE(mine.Open(path, 19200, 8, 0, 0), NullHandle);
        Child other([&] {
            TComPort1 theirs;
            return theirs.Open(path, 19200, 8, 0, 0) == NullHandle ? 'n' : 'y';
        });
        ASSERT_TRUE(other.Started());
        EXPECT_EQ(other.Report(), 'n') << "the other process opened a port this one holds";
        EXPECT_TRUE(other.End());
        mine.Close();
        Child after([&] {
            TComPort1 theirs;
            return theirs.Open(path, 19200, 8, 0, 0) == NullHandle ? 'n' : 'y';
        });
        EXPECT_EQ(after.Report(), 'y') << "a released port stays locked";
        return;
    }

    // The child holds the port; this process runs the tool.
    Child holder([&] {
        static TComPort1 theirs;  // kept open until the child ends
        return theirs.Open(path, 19200, 8, 0, 0) == NullHandle ? 'n' : 'y';
    });
    ASSERT_TRUE(holder.Started());
    ASSERT_EQ(holder.Report(), 'y');

    TalvorApp app(OptionsFor(iniDir, portDir, LockName("busy")));
    app.form1->show();
    app.setup->PortName = QStringLiteral("shared-port");
    app.form1->OpenPort();
    ASSERT_EQ(boxes.Count(), 1u);
    EXPECT_TRUE(boxes.Texts()[0].startsWith(kBusy + QStringLiteral("\n\nshared-port is also open in ")))
        << boxes.Texts()[0].toStdString();
    EXPECT_EQ(app.form1->PortOpen.load(), 0);
    EXPECT_EQ(app.comPort->Handle, NullHandle);

    // Once the other copy has let go, the same window opens it.
    ASSERT_TRUE(holder.End());
    app.form1->ui->Button2->click();
    boxes.Clear();
    app.form1->OpenPort();
    EXPECT_EQ(boxes.Count(), 0u) << boxes.Texts().join('|').toStdString();
    EXPECT_EQ(app.form1->PortOpen.load(), 1);
    app.form1->ClosePort();
}

INSTANTIATE_TEST_SUITE_P(Processes, PortHeldByAnotherProcess,
                         ::testing::Values(HolderCase{"other_holds", true}, HolderCase{"this_holds", false}),
                         [](const auto &info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// Two ports, one "COMpBusy".

class RecordingMonitorView : public MonitorView {
public:
    void SetControlText(MonitorField field, const QString &value) override
    {
        if (field == MonitorField::StaticText3)
            status = value;
        if (field == MonitorField::Memo2)
            firmware = value;
    }
    void SetSerialLabelWindowText(bool) override {}
    QString status, firmware;  // GUI thread only
};

// The second copy: its own port, engine and monitor, the shared lock name.
struct SecondCopy {
    TComPort1 port;
    TProt prot{port};
    std::atomic<uint8_t> portOpen{0};
    platform::NamedMutex portBusy;
    RecordingMonitorView monitorView;
    RecordingView updateView;
    ConnectSaver monitor{true, prot, port, portBusy, portOpen, monitorView};
    PortHandover handover{port, portBusy, monitor};

    explicit SecondCopy(const std::string &lockName) : portBusy(lockName)
    {
        prot.SetPortOpenFlag(&portOpen);
        prot.SetView(&updateView);
    }
    bool Open(const std::string &path)
    {
        if (port.Open(path, 19200, 8, 0, 0) == NullHandle)
            return false;
        portOpen = 1;
        monitor.Resume();
        return true;
    }
    bool ShowsTheReader() const
    {
        return monitorView.status == "Device is ready" && monitorView.firmware == "vesion  6.4";
    }
    void Update(const QString &file)
    {
        handover.TakeFromMonitor();
        prot.StartUpdate(file);
        handover.GiveBackToMonitor();
    }
};

TEST_F(TwoCopiesTest, TwoPortsSharingTheLockBothPollAndUpdate)
{
    const std::string lockName = LockName("shared");
    Reader readerA(portDir.path(), "copy-a");
    Reader readerB(portDir.path(), "copy-b");
    ASSERT_TRUE(readerA.line->Start()) << readerA.line->ErrorText();
    ASSERT_TRUE(readerB.line->Start()) << readerB.line->ErrorText();

    TalvorApp first(OptionsFor(iniDir, portDir, lockName));
    first.form1->show();
    first.setup->PortName = QStringLiteral("copy-a");
    first.form1->OpenPort();
    ASSERT_EQ(first.form1->PortOpen.load(), 1) << boxes.Texts().join('|').toStdString();
    SecondCopy second(lockName);
    ASSERT_TRUE(second.Open(readerB.line->LinkPath()));

    auto &ui = *first.form1->ui;
    const auto firstShowsTheReader = [&] {
        return ui.StaticText3->text() == "Device is ready" && ui.Memo2->toPlainText() == "vesion  6.4";
    };
    ASSERT_TRUE(WaitFor([&] { return firstShowsTheReader() && second.ShowsTheReader(); }, kDeadlineMs))
        << ui.StaticText3->text().toStdString() << " / " << second.monitorView.status.toStdString();

    // Both monitors take turns on the one lock: each keeps polling.
    const uint64_t pollsA = first.form1->Monitor().PollCount(), pollsB = second.monitor.PollCount();
    EXPECT_TRUE(WaitFor([&] {
        return first.form1->Monitor().PollCount() >= pollsA + 5 && second.monitor.PollCount() >= pollsB + 5;
    }, kDeadlineMs));

    // The first copy updates through its window; then the second its reader.
    const QByteArray image = test_images::Image(test_images::SectionBytes(700), "TALVOR two copies");
    const QString file = fileDir.filePath(QStringLiteral("two.rom"));
    ASSERT_TRUE(test_images::Write(file, image));
    sim::BootLoaderOptions options;
    options.sectionSize = uint32_t(image.size());
    readerA.boot->SetOptions(options);
    readerB.boot->SetOptions(options);

    TOpenDialog::SetChooserForTests([file](QWidget *, const QString &) { return file; });
    ui.Button21->click();
    ui.Button22->click();
    TOpenDialog::SetChooserForTests({});
    EXPECT_EQ(ui.StaticText2->text(), text::Completed);
    EXPECT_TRUE(readerA.boot->Record().completed);

    // The second copy's monitor polls again once the first has given the lock back.
    const uint64_t afterFirst = second.monitor.PollCount();
    EXPECT_TRUE(WaitFor([&] { return second.monitor.PollCount() > afterFirst; }, kDeadlineMs));

    second.Update(file);
    EXPECT_EQ(second.updateView.status, text::Completed);
    EXPECT_TRUE(second.updateView.errorLines.isEmpty()) << second.updateView.errorLines.join('|').toStdString();
    EXPECT_TRUE(readerB.boot->Record().completed);
    EXPECT_EQ(readerA.boot->Received(), readerB.boot->Received());

    // Both monitors are back.
    const uint64_t nowA = first.form1->Monitor().PollCount(), nowB = second.monitor.PollCount();
    EXPECT_TRUE(WaitFor([&] {
        return first.form1->Monitor().PollCount() > nowA && second.monitor.PollCount() > nowB;
    }, kDeadlineMs));
    EXPECT_EQ(boxes.Count(), 0u) << boxes.Texts().join('|').toStdString();

    second.monitor.Terminate();
    second.monitor.WaitFor();
    second.port.Close();
    first.form1->ClosePort();
}

// ---------------------------------------------------------------------------
// A copy killed while it holds "COMpBusy".

TEST_F(TwoCopiesTest, CopyKilledHoldingTheLockBlocksTheOtherForOneWaitAtMost)
{
    const std::string lockName = LockName("killed");
    Child dead([&] {
        static platform::NamedMutex theirs(lockName);  // never released: the process dies with it
        return theirs.wait(0) ? 'y' : 'n';
    });
    ASSERT_TRUE(dead.Started());
    ASSERT_EQ(dead.Report(), 'y');

    Reader reader(portDir.path(), "killed-copy");
    ASSERT_TRUE(reader.line->Start()) << reader.line->ErrorText();
    TalvorApp app(OptionsFor(iniDir, portDir, lockName));
    app.form1->show();
    app.setup->PortName = QStringLiteral("killed-copy");
    app.form1->OpenPort();
    ASSERT_EQ(app.form1->PortOpen.load(), 1) << boxes.Texts().join('|').toStdString();

    // While the other copy lives, this one's monitor waits for the lock.
    EXPECT_FALSE(WaitFor([&] { return app.form1->Monitor().PollCount() > 0; }, 300));
    EXPECT_EQ(reader.line->FramesReceived(ConnectSaver::kStatusRequest), 0u);

    // Killed: the monitor's next slice of waiting gets the lock.
    dead.Kill();
    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(WaitFor([&] { return app.form1->Monitor().PollCount() > 0; }, kDeadlineMs));
    // A hang check: one wait of the monitor is 50 ms.
    EXPECT_LT(clock.elapsed(), 2000);
    EXPECT_TRUE(WaitFor([&] { return app.form1->ui->StaticText3->text() == "Device is ready"; }, kDeadlineMs));

    // And the hand-over gets it too.
    app.form1->Handover().TakeFromMonitor();
    EXPECT_TRUE(app.form1->Handover().GotPortLock());
    app.form1->Handover().GiveBackToMonitor();
    const uint64_t polls = app.form1->Monitor().PollCount();
    EXPECT_TRUE(WaitFor([&] { return app.form1->Monitor().PollCount() > polls; }, kDeadlineMs));
    app.form1->ClosePort();
}

}  // namespace
