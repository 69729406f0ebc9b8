// The locks of the open port: named after the port at each open, a lock that
// cannot be created leaves the port closed with one message, and nothing that
// meets such a lock spins or waits without a bound.

#include <QDir>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QFile>
#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <ctime>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

#include <sys/stat.h>
#include <unistd.h>

#include "gui/application.h"
#include "gui/main_window.h"
#include "core/engine/com_port.h"
#include "core/engine/frame_codec.h"
#include "core/engine/connect_saver.h"
#include "core/engine/port_handover.h"
#include "core/engine/gui_call.h"
#include "core/line/named_mutex.h"
#include "core/line/serial_device.h"
#include "gui/setup.h"
#include "recorded_boxes.h"
#include "lock_objects.h"
#include "gui/settings_window.h"
#include "test_app.h"
#include "ui_main_window.h"
#include "ui_settings_window.h"

namespace {

double ProcessCpuMs()
{
    timespec now {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

// The share of one core this process used while the window was served for ms
// (about 0.01 when idle, near 1 with a thread spinning).
double CpuShareWhileServing(int ms)
{
    const double before = ProcessCpuMs();
    platform::WaitServingGui([] { return false; }, ms);
    return (ProcessCpuMs() - before) / ms;
}

constexpr double kSpinning = 0.25;

std::string UniqueLockName()
{
    static int counter = 0;
    return "test-port-locks-" + std::to_string(getpid()) + "-" + std::to_string(++counter);
}
constexpr int kDeadlineMs = 10000;

// Another copy on a port: holds that port's lock on a thread of its own until told.
class OtherCopyHolding {
public:
    explicit OtherCopyHolding(const std::string &lockName)
        : thread_([this, lockName] {
              platform::NamedMutex lock(lockName);
              std::unique_lock<std::mutex> guard(mutex_);
              held_ = lock.wait(0);
              changed_.notify_all();
              changed_.wait(guard, [this] { return letGo_; });
              lock.release();
          })
    {
        std::unique_lock<std::mutex> guard(mutex_);
        changed_.wait(guard, [this] { return held_.has_value(); });
    }
    ~OtherCopyHolding() { LetGo(); }
    bool Holds() const { return held_.value_or(false); }
    void LetGo()
    {
        {
            std::lock_guard<std::mutex> guard(mutex_);
            letGo_ = true;
        }
        changed_.notify_all();
        if (thread_.joinable())
            thread_.join();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::optional<bool> held_;
    bool letGo_ = false;
    std::thread thread_;
};

class PortLocksTest : public ::testing::Test {
protected:
    QTemporaryDir iniDir;
    QTemporaryDir portDir;
    RecordedBoxes boxes;
    const std::string lockName = UniqueLockName();
    test_app::VirtualPort portA{portDir.path(), QStringLiteral("port-a")};
    test_app::VirtualPort portB{portDir.path(), QStringLiteral("port-b")};
    std::unique_ptr<TalvorApp> app;
    std::vector<std::string> directories;

    void SetUp() override
    {
        platform::SetTimeoutScaleForTests(0.25);
        app = std::make_unique<TalvorApp>(test_app::Options(iniDir.path(), portDir.path(), lockName));
    }
    void TearDown() override
    {
        app.reset();
        for (const std::string &path : directories)
            rmdir(path.c_str());
        platform::SetTimeoutScaleForTests(1.0);
    }
    // A directory where a lock's object belongs: it cannot be created, even by root.
    void SpoilLock(const std::string &name)
    {
        directories.push_back("/dev/shm/talvor-" + name);
        ASSERT_EQ(mkdir(directories.back().c_str(), 0700), 0);
    }
    bool Open(const char *port)
    {
        app->setup->PortName = QString::fromLatin1(port);
        app->form1->OpenPort();
        return app->form1->PortOpen.load();
    }
    uint64_t Polls() { return app->form1->Monitor().PollCount(); }
};

TEST_F(PortLocksTest, EachOpenTakesTheLockOfThePortChosen)
{
    app->form1->show();
    OtherCopyHolding onPortA(platform::PortLockName(lockName, "port-a"));
    ASSERT_TRUE(onPortA.Holds());

    // Another copy busy on port A does not hold up this one on port B.
    ASSERT_TRUE(Open("port-b")) << boxes.Texts().join('|').toStdString();
    const uint64_t polls = Polls();
    EXPECT_TRUE(test_app::WaitFor([&] { return Polls() >= polls + 2; }, kDeadlineMs));
    app->form1->ClosePort();

    // Now on port A, this copy waits for the other one there.
    ASSERT_TRUE(Open("port-a")) << boxes.Texts().join('|').toStdString();
    const uint64_t held = Polls();
    EXPECT_FALSE(test_app::WaitFor([&] { return Polls() > held; }, 300));
    onPortA.LetGo();
    EXPECT_TRUE(test_app::WaitFor([&] { return Polls() > held; }, kDeadlineMs));
    app->form1->ClosePort();
    EXPECT_EQ(boxes.Count(), 0u) << boxes.Texts().join('|').toStdString();
}

// The locks outlive their users in /dev/shm: a name that does not open as a
// serial port gets none, and this copy lets go of the locks of the port it
// had before, so "Close" waits for none of them.
TEST_F(PortLocksTest, PortThatDoesNotOpenGetsNoLocks)
{
    app->form1->show();
    ASSERT_TRUE(Open("port-a")) << boxes.Texts().join('|').toStdString();
    app->form1->ClosePort();
    const std::string portALocks = "talvor-" + lockName + "-port-a talvor-" + lockName + "1-port-a";
    ASSERT_EQ(LockObjects(lockName), portALocks);
    OtherCopyHolding onPortA(platform::PortLockName(lockName, "port-a"));
    ASSERT_TRUE(onPortA.Holds());
    platform::SerialDevice holder;
    ASSERT_TRUE(holder.open(portB.Link().toStdString())) << holder.errorText();

    // Absent, a character device that is not a terminal, held by another program.
    for (const char *port : {"never-there", "null", "port-b"}) {
        EXPECT_FALSE(Open(port)) << port;
        EXPECT_EQ(LockObjects(lockName), portALocks) << port;
    }
    EXPECT_EQ(boxes.Count(), 3u) << boxes.Texts().join('|').toStdString();
    QElapsedTimer clock;
    clock.start();
    app->form1->ClosePort();
    // It would wait its whole bound (2 s) for port A's lock.
    EXPECT_LT(clock.elapsed(), 1000);
}

struct SpoiledCase {
    const char *name;
    const char *lockSuffix;  // appended to the test's lock name: the port lock or the settings lock
};

void PrintTo(const SpoiledCase &c, std::ostream *os) { *os << c.name; }

class LockCannotBeCreated : public PortLocksTest, public ::testing::WithParamInterface<SpoiledCase> {};

TEST_P(LockCannotBeCreated, PortStaysClosedWithOneMessageAndNothingSpins)
{
    app->form1->show();
    const std::string spoiled = platform::PortLockName(lockName + GetParam().lockSuffix, "port-a");
    SpoilLock(spoiled);

    EXPECT_FALSE(Open("port-a"));
    ASSERT_EQ(boxes.Count(), 1u) << boxes.Texts().join('|').toStdString();
    const auto box = boxes.Boxes()[0];
    EXPECT_EQ(box.caption, "Error");
    EXPECT_EQ(box.buttons, platform::BoxButtons::Ok);
    EXPECT_TRUE(box.text.contains(QString::fromStdString("\"" + spoiled + "\""))) << box.text.toStdString();
    EXPECT_TRUE(box.text.contains("Is a directory")) << box.text.toStdString();
    EXPECT_EQ(app->comPort->Handle, NullHandle);
    EXPECT_LT(CpuShareWhileServing(600), kSpinning);
    EXPECT_EQ(Polls(), 0u);
    EXPECT_EQ(app->form1->ui->StaticText3->text(), "COM-port is closed");

    // "Close" does not wait for a lock that is not there; the next open, with
    // the place cleared, works.
    app->form1->ClosePort();
    rmdir(directories.back().c_str());
    EXPECT_TRUE(Open("port-a")) << boxes.Texts().join('|').toStdString();
    EXPECT_TRUE(test_app::WaitFor([&] { return Polls() > 0; }, kDeadlineMs));
    EXPECT_EQ(boxes.Count(), 1u);
    app->form1->ClosePort();
}

INSTANTIATE_TEST_SUITE_P(Locks, LockCannotBeCreated,
                         ::testing::Values(SpoiledCase{"port_lock", ""}, SpoiledCase{"settings_lock", "1"}),
                         [](const auto &info) { return std::string(info.param.name); });

class QuietMonitorView : public MonitorView {
public:
    void SetLineText(MonitorLine field, const QString &text) override
    {
        if (field == MonitorLine::Status)
            status = text;
    }
    void SetSerialCaptionLit(bool) override {}
    QString status;  // GUI thread only
};

// Whoever meets a lock that could not be created (should a port ever be open
// without its locks) neither spins nor waits for it without a bound.
TEST(UnusableLock, MonitorSettingsThreadAndButtonsNeitherSpinNorWait)
{
    RecordedBoxes boxes;
    TComPort1 port;
    TProtFrame prot{port};
    platform::NamedMutex portBusy;
    platform::NamedMutex settingsBusy(std::string(300, 'x'));
    ASSERT_FALSE(portBusy.valid());
    ASSERT_FALSE(settingsBusy.valid());
    std::atomic<bool> portOpen{true};
    QuietMonitorView view;
    ConnectSaver monitor{false, prot, port, portBusy, portOpen, view};
    ASSERT_TRUE(test_app::WaitFor([&] { return view.status == "Device no answer"; }, kDeadlineMs));
    EXPECT_LT(CpuShareWhileServing(600), kSpinning) << "the monitor spins";
    EXPECT_EQ(monitor.PollCount(), 0u);

    PortHandover handover{port, portBusy, monitor};
    TForm6 form{handover, port, settingsBusy};
    form.show();
    ASSERT_NE(form.CurrentThread(), nullptr);
    EXPECT_LT(CpuShareWhileServing(600), kSpinning) << "the settings thread spins";

    form.Button2Click();
    form.Button1Click();
    ASSERT_EQ(boxes.Count(), 2u);
    for (const auto &box : boxes.Boxes()) {
        EXPECT_EQ(box.caption, "Error");
        EXPECT_EQ(box.text.toStdString(), settingsBusy.failureText());
    }
    EXPECT_EQ(form.Exchange.PendingCommand.load(), settings_protocol::kReadCommand);

    form.ui->Button3->click();
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(form.CurrentThread(), nullptr);
    monitor.Terminate();
    monitor.WaitFor();
}

}  // namespace
