// The locks of the open port: named after the port at each open, made only
// for a port that opened, and a lock that cannot be created leaves the port
// closed with one message.

#include <QPushButton>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

#include <sys/stat.h>
#include <unistd.h>

#include "core/line/named_mutex.h"
#include "core/line/serial_device.h"
#include "gui/application.h"
#include "gui/main_window.h"
#include "gui/setup.h"
#include "lock_objects.h"
#include "recorded_boxes.h"
#include "test_app.h"
#include "ui_main_window.h"

namespace {

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
        return app->form1->PortOpen();
    }
    uint64_t Polls() { return app->form1->Reader().polls; }
};

TEST_F(PortLocksTest, EachOpenTakesTheLockOfThePortChosen)
{
    app->form1->show();
    OtherCopyHolding onPortA(platform::PortLockName(lockName, "port-a"));
    ASSERT_TRUE(onPortA.Holds());

    // Another copy busy on port A does not hold up this one on port B.
    ASSERT_TRUE(Open("port-b")) << boxes.Texts().join('|').toStdString();
    const uint64_t polls = Polls();
    EXPECT_TRUE(WaitUntil([&] { return Polls() >= polls + 2; }, kDeadlineMs));
    app->form1->ClosePort();

    // Now on port A, this copy waits for the other one there.
    ASSERT_TRUE(Open("port-a")) << boxes.Texts().join('|').toStdString();
    const uint64_t held = Polls();
    EXPECT_FALSE(WaitUntil([&] { return Polls() > held; }, 300));
    onPortA.LetGo();
    EXPECT_TRUE(WaitUntil([&] { return Polls() > held; }, kDeadlineMs));
    app->form1->ClosePort();
    EXPECT_EQ(boxes.Count(), 0u) << boxes.Texts().join('|').toStdString();
}

// The locks outlive their users in /dev/shm: a name that does not open as a
// serial port gets none, and its box says why.
TEST_F(PortLocksTest, PortThatDoesNotOpenGetsNoLocks)
{
    app->form1->show();
    ASSERT_TRUE(Open("port-a")) << boxes.Texts().join('|').toStdString();
    app->form1->ClosePort();
    const std::string portALocks = "talvor-" + lockName + "-port-a talvor-" + lockName + "1-port-a";
    ASSERT_EQ(LockObjects(lockName), portALocks);
    platform::SerialDevice holder;
    ASSERT_TRUE(holder.open(portB.Link().toStdString())) << holder.errorText();

    // Absent, a character device that is not a terminal, held by another program.
    const struct { const char *port; const char *says; } table[] = {
        {"never-there", "never-there is not there"},
        {"null", "null does not lead to a serial port"},
        {"port-b", "Another program holds port-b"},
    };
    for (const auto &row : table) {
        boxes.Clear();
        EXPECT_FALSE(Open(row.port)) << row.port;
        EXPECT_EQ(LockObjects(lockName), portALocks) << row.port;
        ASSERT_EQ(boxes.Count(), 1u) << row.port << ": " << boxes.Texts().join('|').toStdString();
        EXPECT_TRUE(boxes.Texts()[0].contains(QString::fromLatin1(row.says))) << boxes.Texts()[0].toStdString();
    }
}

struct SpoiledCase {
    const char *name;
    const char *lockSuffix;  // appended to the test's lock name: the port lock or the settings lock
};

void PrintTo(const SpoiledCase &c, std::ostream *os) { *os << c.name; }

class LockCannotBeCreated : public PortLocksTest, public ::testing::WithParamInterface<SpoiledCase> {};

TEST_P(LockCannotBeCreated, PortStaysClosedWithOneMessage)
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
    EXPECT_EQ(app->form1->ui->StaticText3->text(), "COM-port is closed");
    // The device itself was let go: another program may open it.
    {
        platform::SerialDevice other;
        EXPECT_TRUE(other.open(portA.Link().toStdString())) << other.errorText();
    }

    // With the place cleared the next open works.
    app->form1->ClosePort();
    rmdir(directories.back().c_str());
    EXPECT_TRUE(Open("port-a")) << boxes.Texts().join('|').toStdString();
    EXPECT_TRUE(WaitUntil([&] { return Polls() > 0; }, kDeadlineMs));
    EXPECT_EQ(boxes.Count(), 1u);
    app->form1->ClosePort();
}

INSTANTIATE_TEST_SUITE_P(Locks, LockCannotBeCreated,
                         ::testing::Values(SpoiledCase{"port_lock", ""}, SpoiledCase{"settings_lock", "1"}),
                         [](const auto &info) { return std::string(info.param.name); });

}  // namespace
