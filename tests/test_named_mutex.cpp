// The port lock across threads and processes. Every test uses a name of its
// own (process id and a counter), so the tool's real locks are never touched.

#include "core/line/named_mutex.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using platform::NamedMutex;
using Clock = std::chrono::steady_clock;

namespace {

class NamedMutexTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        static std::atomic<int> counter{0};
        name_ = "unittest-" + std::to_string(getpid()) + "-" + std::to_string(++counter);
    }
    // The product never removes the object; the tests clean up their own.
    void TearDown() override { shm_unlink(("/talvor-" + name_).c_str()); }

    std::string name_;
};

// Waits on another thread; gives the mutex back there when it got it.
bool WaitOnOtherThread(NamedMutex &mutex, int timeoutMs)
{
    bool got = false;
    std::thread t([&] {
        got = mutex.wait(timeoutMs);
        if (got)
            mutex.release();
    });
    t.join();
    return got;
}

long long MsSince(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

TEST_F(NamedMutexTest, WaitAndRelease)
{
    NamedMutex m(name_);
    ASSERT_TRUE(m.valid());
    EXPECT_EQ(m.name(), name_);
    EXPECT_TRUE(WaitOnOtherThread(m, 0)) << "created not owned";
    ASSERT_TRUE(m.wait());
    EXPECT_FALSE(WaitOnOtherThread(m, 0));
    EXPECT_FALSE(WaitOnOtherThread(m, 50));
    m.release();
    EXPECT_TRUE(WaitOnOtherThread(m, 0));
}

TEST_F(NamedMutexTest, ZeroAndTimedWaitsSucceedWhenFree)
{
    NamedMutex m(name_);
    ASSERT_TRUE(m.wait(0));
    m.release();
    ASSERT_TRUE(m.wait(100));
    m.release();
    EXPECT_TRUE(WaitOnOtherThread(m, 0));
}

TEST_F(NamedMutexTest, RecursiveForTheOwner)
{
    NamedMutex m(name_);
    ASSERT_TRUE(m.wait());
    ASSERT_TRUE(m.wait(0));
    ASSERT_TRUE(m.wait(100));
    m.release();
    EXPECT_FALSE(WaitOnOtherThread(m, 0)) << "two levels still held";
    m.release();
    EXPECT_FALSE(WaitOnOtherThread(m, 0)) << "one level still held";
    m.release();
    EXPECT_TRUE(WaitOnOtherThread(m, 0));
}

TEST_F(NamedMutexTest, ReleaseByNonOwnerHasNoEffect)
{
    NamedMutex m(name_);
    ASSERT_TRUE(m.wait());
    std::thread intruder([&] {
        m.release();
        m.release();
    });
    intruder.join();
    EXPECT_FALSE(WaitOnOtherThread(m, 0));
    // The owner's single release is still the one that frees it.
    m.release();
    EXPECT_TRUE(WaitOnOtherThread(m, 0));
}

TEST_F(NamedMutexTest, ReleaseWhenNobodyHoldsItIsIgnored)
{
    NamedMutex m(name_);
    m.release();
    m.release();
    ASSERT_TRUE(m.wait());
    // Had the stray releases been counted, this wait would not hold it.
    EXPECT_FALSE(WaitOnOtherThread(m, 0));
    m.release();
    EXPECT_TRUE(WaitOnOtherThread(m, 0));
}

TEST_F(NamedMutexTest, TimedWaitOnHeldMutexTimesOut)
{
    NamedMutex m(name_);
    ASSERT_TRUE(m.wait());
    const auto start = Clock::now();
    EXPECT_FALSE(WaitOnOtherThread(m, 300));
    const auto elapsed = MsSince(start);
    EXPECT_GE(elapsed, 250);
    EXPECT_LT(elapsed, 5000);
    m.release();
}

TEST_F(NamedMutexTest, TimedWaitGetsItWhenReleasedInTime)
{
    NamedMutex m(name_);
    ASSERT_TRUE(m.wait());
    auto waiter = std::async(std::launch::async, [&] {
        bool got = m.wait(10000);
        if (got)
            m.release();
        return got;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    m.release();
    EXPECT_TRUE(waiter.get());
}

TEST_F(NamedMutexTest, TwoObjectsOfOneNameExcludeEachOther)
{
    NamedMutex a(name_);
    NamedMutex b(name_);
    ASSERT_TRUE(a.valid());
    ASSERT_TRUE(b.valid());
    ASSERT_TRUE(a.wait());
    EXPECT_FALSE(WaitOnOtherThread(b, 0));
    EXPECT_FALSE(WaitOnOtherThread(b, 50));
    a.release();
    EXPECT_TRUE(WaitOnOtherThread(b, 0));
    ASSERT_TRUE(b.wait());
    EXPECT_FALSE(WaitOnOtherThread(a, 0));
    b.release();
    EXPECT_TRUE(WaitOnOtherThread(a, 0));
}

TEST_F(NamedMutexTest, OwnershipBelongsToTheThreadNotTheObject)
{
    NamedMutex a(name_);
    ASSERT_TRUE(a.wait());
    {
        // Opening and dropping another object of the name leaves the hold alone.
        NamedMutex b(name_);
        ASSERT_TRUE(b.wait(0));
        b.release();
    }
    EXPECT_FALSE(WaitOnOtherThread(a, 0));
    NamedMutex c(name_);
    c.release();
    EXPECT_TRUE(WaitOnOtherThread(a, 0));
}

TEST_F(NamedMutexTest, SharedWithEveryUser)
{
    NamedMutex m(name_);
    ASSERT_TRUE(m.valid());
    const std::string object = "/talvor-" + name_;
    int fd = shm_open(object.c_str(), O_RDONLY, 0);
    ASSERT_GE(fd, 0);
    struct stat st {};
    ASSERT_EQ(fstat(fd, &st), 0);
    close(fd);
    EXPECT_EQ(st.st_mode & 0777, 0666u);
}

TEST_F(NamedMutexTest, AnotherProcessIsExcluded)
{
    NamedMutex m(name_);
    ASSERT_TRUE(m.wait());
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        NamedMutex other(name_);
        _exit(!other.valid() ? 2 : other.wait(100) ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the child got a mutex the parent holds";
    m.release();
}

// Closes the descriptors it is given when the test leaves, also on a failed assertion.
struct FdCloser {
    std::vector<int> fds;
    ~FdCloser()
    {
        for (int fd : fds)
            close(fd);
    }
};

TEST_F(NamedMutexTest, ProcessThatDiesHoldingItDoesNotBlockOthers)
{
    NamedMutex m(name_);
    int held[2];
    int go[2];
    ASSERT_EQ(pipe(held), 0);
    ASSERT_EQ(pipe(go), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(held[0]);
        close(go[1]);
        NamedMutex mine(name_);
        bool ok = mine.wait() && mine.wait();  // two levels, never given back
        char c = ok ? 'y' : 'n';
        (void)!write(held[1], &c, 1);
        (void)!read(go[0], &c, 1);  // a byte, or end of file when the parent is gone
        _exit(0);
    }
    close(held[1]);
    close(go[0]);
    FdCloser closer{{held[0], go[1]}};
    char c = 0;
    ASSERT_EQ(read(held[0], &c, 1), 1);
    ASSERT_EQ(c, 'y');
    EXPECT_FALSE(m.wait(50)) << "the child holds it";
    ASSERT_EQ(write(go[1], "x", 1), 1);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);

    EXPECT_TRUE(m.wait(2000));
    // Taken over at a single level: one release frees it for everyone.
    m.release();
    EXPECT_TRUE(WaitOnOtherThread(m, 0));
    ASSERT_TRUE(m.wait(0));
    m.release();
}

TEST_F(NamedMutexTest, ThreadThatEndsHoldingItDoesNotBlockOthers)
{
    NamedMutex m(name_);
    std::thread holder([&] { ASSERT_TRUE(m.wait()); });
    holder.join();
    EXPECT_TRUE(m.wait(2000));
    m.release();
    EXPECT_TRUE(WaitOnOtherThread(m, 0));
}

// A lock that cannot be created: not valid, never got, and the text for the
// user names it, where it lives and why. All of these also hold for root.
struct UnusableCase {
    const char *name;
    // Spoils the place of lock (its /dev/shm path given); returns the lock name to use.
    std::function<std::string(const std::string &name, const std::string &path)> spoil;
    const char *reason;
};

void PrintTo(const UnusableCase &c, std::ostream *os) { *os << c.name; }

class UnusableLock : public NamedMutexTest, public ::testing::WithParamInterface<UnusableCase> {
protected:
    void TearDown() override
    {
        rmdir(("/dev/shm/talvor-" + name_).c_str());
        NamedMutexTest::TearDown();
    }
};

TEST_P(UnusableLock, FailsAtOnceAndSaysWhy)
{
    const std::string name = GetParam().spoil(name_, "/dev/shm/talvor-" + name_);
    NamedMutex m(name);
    EXPECT_FALSE(m.valid());
    const auto start = Clock::now();
    EXPECT_FALSE(m.wait());
    EXPECT_FALSE(m.wait(100));
    EXPECT_LT(MsSince(start), 100) << "a wait for a lock that does not exist returns at once";
    m.release();
    EXPECT_NE(m.failureText().find("\"" + name + "\""), std::string::npos) << m.failureText();
    EXPECT_NE(m.failureText().find(m.location()), std::string::npos) << m.failureText();
    EXPECT_NE(m.failureText().find(GetParam().reason), std::string::npos) << m.failureText();
}

INSTANTIATE_TEST_SUITE_P(
    Causes, UnusableLock,
    ::testing::Values(
        UnusableCase{"directory_in_its_place",
                     [](const std::string &name, const std::string &path) {
                         EXPECT_EQ(mkdir(path.c_str(), 0700), 0);
                         return name;
                     },
                     "Is a directory"},
        UnusableCase{"name_too_long",
                     [](const std::string &name, const std::string &) { return name + std::string(300, 'x'); },
                     "File name too long"},
        UnusableCase{"foreign_empty_object",
                     [](const std::string &name, const std::string &path) {
                         const int fd = open(path.c_str(), O_CREAT | O_RDWR, 0600);
                         EXPECT_GE(fd, 0);
                         close(fd);
                         return name;
                     },
                     "not a finished lock"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(NamedMutexTest, OpenedAgainUnderAnotherNameIsThatLockOnly)
{
    NamedMutex first(name_ + "-a");
    NamedMutex reopened(name_ + "-a");
    ASSERT_TRUE(first.wait());
    EXPECT_FALSE(WaitOnOtherThread(reopened, 0));

    // Another port's lock: the holder of the first does not stand in its way.
    ASSERT_TRUE(reopened.open(name_ + "-b"));
    EXPECT_EQ(reopened.name(), name_ + "-b");
    EXPECT_TRUE(WaitOnOtherThread(reopened, 0));
    NamedMutex second(name_ + "-b");
    ASSERT_TRUE(second.wait(0));
    EXPECT_FALSE(WaitOnOtherThread(reopened, 0));
    second.release();
    first.release();
    shm_unlink(("/talvor-" + name_ + "-a").c_str());
    shm_unlink(("/talvor-" + name_ + "-b").c_str());
}

TEST(PortLockName, PortNameMadeSafeForTheLockName)
{
    const std::pair<const char *, const char *> cases[] = {
        {"ttyUSB0", "COMpBusy-ttyUSB0"},
        {"talvor-sim", "COMpBusy-talvor-sim"},
        {"usb/0 a.b", "COMpBusy-usb_0_a.b"},
        {"", "COMpBusy-"},
    };
    for (const auto &[port, lock] : cases)
        EXPECT_EQ(platform::PortLockName("COMpBusy", port), lock) << port;
}

}  // namespace
