// Two copies of the tool on one machine, through the layers: a port held by
// a copy in another process cannot be opened (the window says the port is
// busy); two copies on two ports, in two processes, never wait for each other;
// a copy on the same port killed while it holds its lock blocks the other for
// one wait at most.
// Children are forked before the test starts any thread of its own.

#include <QElapsedTimer>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <memory>

#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include "core/line/named_mutex.h"
#include "core/line/serial_device.h"
#include "core/line/serial_port.h"
#include "core/session/monitor.h"
#include "core/session/texts.h"
#include "firmware_images.h"
#include "gui/application.h"
#include "gui/main_window.h"
#include "gui/setup.h"
#include "holder_process.h"
#include "recorded_boxes.h"
#include "sim/boot_loader.h"
#include "sim/device_info.h"
#include "sim/simulated_reader.h"
#include "test_app.h"
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
            CloseInheritedDescriptors(report[1], go[0]);
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
        // Three sanitized processes share the machine here: a simulator thread
        // kept waiting must not take a request the line delivered whole for a
        // broken one.
        options.partialRequestMs = 1000;
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
        SerialPort mine;
        ASSERT_TRUE(mine.Open(path));
        Child other([&] {
            SerialPort theirs;
            return theirs.Open(path) ? 'y' : 'n';
        });
        ASSERT_TRUE(other.Started());
        EXPECT_EQ(other.Report(), 'n') << "the other process opened a port this one holds";
        EXPECT_TRUE(other.End());
        mine.Close();
        Child after([&] {
            SerialPort theirs;
            return theirs.Open(path) ? 'y' : 'n';
        });
        EXPECT_EQ(after.Report(), 'y') << "a released port stays locked";
        return;
    }

    // The child holds the port; this process runs the tool.
    Child holder([&] {
        static SerialPort theirs;  // kept open until the child ends
        return theirs.Open(path) ? 'y' : 'n';
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
    EXPECT_FALSE(app.form1->PortOpen());

    // Once the other copy has let go, the same window opens it.
    ASSERT_TRUE(holder.End());
    app.form1->ui->Button2->click();
    boxes.Clear();
    app.form1->OpenPort();
    EXPECT_EQ(boxes.Count(), 0u) << boxes.Texts().join('|').toStdString();
    EXPECT_TRUE(app.form1->PortOpen());
    app.form1->ClosePort();
}

INSTANTIATE_TEST_SUITE_P(Processes, PortHeldByAnotherProcess,
                         ::testing::Values(HolderCase{"other_holds", true}, HolderCase{"this_holds", false}),
                         [](const auto &info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// Two ports, two processes: each port has its own lock, so neither copy waits
// for the other.

// The second copy, a process of its own (tests/second_copy.cpp).
class SecondCopyProcess {
public:
    SecondCopyProcess(const QString &iniFolder, const QString &portFolder, const std::string &lockName,
                      const QString &portName)
    {
        process_.start(QStringLiteral(TALVOR_SECOND_COPY),
                       {iniFolder, portFolder, QString::fromStdString(lockName), portName});
    }
    ~SecondCopyProcess()
    {
        process_.closeWriteChannel();
        if (!process_.waitForFinished(kDeadlineMs))
            process_.kill();
    }
    void Send(const QString &command) { process_.write((command + QLatin1Char('\n')).toLocal8Bit()); }
    // Its next line, or empty when none came in time; this window is served meanwhile.
    QString NextLine()
    {
        if (!WaitUntil([&] { return process_.canReadLine(); }, kDeadlineMs))
            return QString();
        return QString::fromLocal8Bit(process_.readLine()).trimmed();
    }

private:
    QProcess process_;
};

TEST_F(TwoCopiesTest, TwoProcessesOnTwoPortsDoNotWaitForEachOther)
{
    const std::string lockName = LockName("two-ports");
    Reader readerA(portDir.path(), "copy-a");
    Reader readerB(portDir.path(), "copy-b");
    ASSERT_TRUE(readerA.line->Start()) << readerA.line->ErrorText();
    ASSERT_TRUE(readerB.line->Start()) << readerB.line->ErrorText();
    // At the line's real pace the second copy's update takes more than a second.
    readerB.line->SetBaud(19200);
    const QByteArray image = test_images::Image(test_images::SectionBytes(2048), "TALVOR two copies");
    const QString file = fileDir.filePath(QStringLiteral("two.rom"));
    ASSERT_TRUE(test_images::Write(file, image));
    sim::BootLoaderOptions options;
    options.sectionSize = uint32_t(image.size());
    readerB.boot->SetOptions(options);

    TalvorApp first(OptionsFor(iniDir, portDir, lockName));
    first.form1->show();
    first.setup->PortName = QStringLiteral("copy-a");
    first.form1->OpenPort();
    ASSERT_TRUE(first.form1->PortOpen()) << boxes.Texts().join('|').toStdString();
    auto &ui = *first.form1->ui;
    const auto pollsA = [&first] { return first.form1->Reader().polls; };

    QTemporaryDir secondIniDir;
    SecondCopyProcess second(secondIniDir.path(), portDir.path(), lockName, QStringLiteral("copy-b"));
    ASSERT_EQ(second.NextLine(), "ready");
    ASSERT_TRUE(WaitUntil([&] { return ui.StaticText3->text() == "Device is ready"; }, kDeadlineMs));

    // The second copy updates its reader: this copy's monitor polls on all through it.
    second.Send(QStringLiteral("update ") + file);
    ASSERT_TRUE(WaitUntil([&] { return readerB.line->FramesReceived(sim::BootLoader::kCommand) > 0; },
                        kDeadlineMs));
    const uint64_t pollsBeforeUpdate = pollsA();
    EXPECT_EQ(second.NextLine().toStdString(), (QStringLiteral("updated ") + text::Completed()).toStdString());
    EXPECT_TRUE(readerB.boot->Record().completed);
    EXPECT_GE(pollsA(), pollsBeforeUpdate + 4) << "polls stalled by the other copy's update";
    EXPECT_EQ(readerA.line->FramesReceived(sim::BootLoader::kCommand), 0u);

    // Its reader falls silent: each of its polls keeps its lock for a whole
    // read time-out, and this copy's polls keep their pace.
    sim::Faults silent;
    silent.silence = sim::kAlways;
    readerB.line->SetFaults(silent);
    const uint64_t framesB = readerB.line->FramesReceived(Monitor::kStatusRequest);
    ASSERT_TRUE(WaitUntil([&] { return readerB.line->FramesReceived(Monitor::kStatusRequest) > framesB; },
                        kDeadlineMs));
    const uint64_t pollsBeforeSilence = pollsA();
    ASSERT_TRUE(WaitUntil([&] { return readerB.line->FramesReceived(Monitor::kStatusRequest) >= framesB + 3; },
                        kDeadlineMs));
    EXPECT_GE(pollsA(), pollsBeforeSilence + 6) << "polls slowed by the other copy's silent reader";
    EXPECT_EQ(ui.StaticText3->text(), "Device is ready");
    EXPECT_EQ(boxes.Count(), 0u) << boxes.Texts().join('|').toStdString();
    first.form1->ClosePort();
}

// ---------------------------------------------------------------------------
// A copy killed while it holds its port's lock.

TEST_F(TwoCopiesTest, CopyKilledHoldingTheLockBlocksTheOtherForOneWaitAtMost)
{
    const std::string lockName = LockName("killed");
    Child dead([&] {
        // A copy on the same port: never released, the process dies with it.
        static platform::NamedMutex theirs(platform::PortLockName(lockName, "killed-copy"));
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
    ASSERT_TRUE(app.form1->PortOpen()) << boxes.Texts().join('|').toStdString();

    // While the other copy lives, this one's monitor waits for the lock.
    EXPECT_FALSE(WaitUntil([&] { return app.form1->Reader().polls > 0; }, 300));
    EXPECT_EQ(reader.line->FramesReceived(Monitor::kStatusRequest), 0u);

    // Killed: the monitor's next slice of waiting gets the lock.
    dead.Kill();
    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(WaitUntil([&] { return app.form1->Reader().polls > 0; }, kDeadlineMs));
    // A hang check: one wait of the monitor is 50 ms.
    EXPECT_LT(clock.elapsed(), 2000);
    EXPECT_TRUE(WaitUntil([&] { return app.form1->ui->StaticText3->text() == "Device is ready"; }, kDeadlineMs));

    // The lock taken over from the dead copy is let go and taken again poll after poll.
    const uint64_t polls = app.form1->Reader().polls;
    EXPECT_TRUE(WaitUntil([&] { return app.form1->Reader().polls >= polls + 3; }, kDeadlineMs));
    app.form1->ClosePort();
}

}  // namespace
