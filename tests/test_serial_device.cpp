// The serial port against a real pseudo-terminal pair: the test plays the
// reader on the master side, the port under test opens the slave.
#include <gtest/gtest.h>

#include <dirent.h>

#include <atomic>
#include <memory>
#include <numeric>
#include <thread>

#include "core/line/serial_device.h"
#include "core/line/serial_port.h"
#include "pty_pair.h"

namespace {

using Clock = std::chrono::steady_clock;

long long msSince(Clock::time_point t)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

int openDescriptors()
{
    int n = 0;
    if (DIR *d = ::opendir("/proc/self/fd")) {
        while (::readdir(d))
            ++n;
        ::closedir(d);
    }
    return n;
}

Bytes range(uint8_t first, size_t n)
{
    Bytes b(n);
    std::iota(b.begin(), b.end(), first);
    return b;
}

class SerialPortTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_GE(pty.master, 0) << "openpty failed";
        ASSERT_TRUE(port.Open(pty.slave)) << port.Device().errorText();
    }
    Bytes readPort(uint16_t count)
    {
        Bytes b(count);
        b.resize(port.Read(b.data(), count));
        return b;
    }

    PtyPair pty;
    SerialPort port;
};

TEST_F(SerialPortTest, SilentReadWaitsTenMsPerByte)
{
    // The last case runs with the time-outs scaled down as other tests use them.
    struct Case { uint16_t count; double scale; long long minMs, maxMs; };
    for (const Case c : {Case{20, 1.0, 150, 600}, Case{100, 1.0, 900, 2000}, Case{100, 0.25, 150, 700}}) {
        platform::SetTimeoutScaleForTests(c.scale);
        const auto start = Clock::now();
        const Bytes got = readPort(c.count);
        const long long took = msSince(start);
        platform::SetTimeoutScaleForTests(1.0);
        EXPECT_TRUE(got.empty());
        EXPECT_GE(took, c.minMs) << c.count << " bytes, scale " << c.scale;
        EXPECT_LE(took, c.maxMs) << c.count << " bytes, scale " << c.scale;
    }
}

TEST_F(SerialPortTest, QuietGapEndsTheReadWithTheBytesSoFar)
{
    std::thread reader([this] {
        pty.Send(range(1, 5));
        std::this_thread::sleep_for(std::chrono::milliseconds(80));
        pty.Send(range(6, 5));
    });
    const Bytes first = readPort(20);
    const Bytes second = readPort(20);
    reader.join();
    EXPECT_EQ(first, range(1, 5));
    EXPECT_EQ(second, range(6, 5));
}

TEST_F(SerialPortTest, BytesFiveMsApartAreReadWhole)
{
    std::thread reader([this] {
        for (uint8_t v = 1; v <= 10; ++v) {
            pty.Send({v});
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });
    const Bytes got = readPort(10);
    reader.join();
    EXPECT_EQ(got, range(1, 10));
}

TEST_F(SerialPortTest, LowLatencyIsAskedForAndARefusalLeavesTheLineWorking)
{
    // A pseudo-terminal has no serial driver behind it and refuses.
    EXPECT_EQ(port.Device().lowLatency(), platform::LowLatency::Refused);
    pty.Send({1, 2, 3});
    EXPECT_EQ(readPort(3), Bytes({1, 2, 3}));

    // Only a device that was opened was asked.
    platform::SerialDevice other;
    EXPECT_EQ(other.lowLatency(), platform::LowLatency::NotAsked);
    EXPECT_FALSE(other.open(pty.slave + "-absent"));
    EXPECT_EQ(other.lowLatency(), platform::LowLatency::NotAsked);
}

TEST_F(SerialPortTest, ZeroCountsTouchNothing)
{
    pty.Send({7, 8});
    uint8_t buf[2] = {};
    EXPECT_EQ(port.Read(buf, 0), 0);
    EXPECT_EQ(readPort(2), Bytes({7, 8}));  // the 0-byte read consumed nothing

    EXPECT_EQ(port.Write(buf, 0), 0);
    EXPECT_TRUE(pty.Receive(1, 100).empty());
}

TEST_F(SerialPortTest, EveryByteValuePassesUnchangedBothWays)
{
    const Bytes all = range(0, 256);
    ASSERT_EQ(port.Write(all.data(), uint16_t(all.size())), all.size());
    EXPECT_EQ(pty.Receive(256), all);

    pty.Send(all);
    EXPECT_EQ(readPort(256), all);
}

TEST_F(SerialPortTest, HeldPortCannotBeOpenedAgainUntilClosed)
{
    SerialPort second;
    EXPECT_FALSE(second.Open(pty.slave));
    EXPECT_FALSE(second.Device().isOpen());
    platform::SerialDevice device;
    EXPECT_FALSE(device.open(pty.slave));
    EXPECT_FALSE(device.errorText().empty());

    // The refused openers left the holder's line as it was.
    const uint8_t cr = 0x0D;
    EXPECT_EQ(port.Write(&cr, 1), 1);
    EXPECT_EQ(pty.Receive(1), Bytes({0x0D}));

    port.Close();
    EXPECT_FALSE(port.Device().isOpen());
    EXPECT_TRUE(second.Open(pty.slave)) << second.Device().errorText();
    second.Close();
    EXPECT_TRUE(device.open(pty.slave)) << device.errorText();
}

TEST_F(SerialPortTest, FailedOpensLeaveNothingOpen)
{
    port.Close();
    const int before = openDescriptors();
    struct Case { std::string path; uint32_t baud; uint8_t size; };
    const Case cases[] = {
        {"/dev/no-such-serial-port", 19200, 8}, {"/dev/", 19200, 8}, {"", 19200, 8},
        {pty.slave, 12345, 8}, {pty.slave, 19200, 9},
    };
    for (const Case &c : cases) {
        platform::LineSettings settings;
        settings.baudRate = c.baud;
        settings.dataBits = c.size;
        EXPECT_FALSE(port.Open(c.path, settings)) << c.path;
        EXPECT_FALSE(port.Device().isOpen());
        EXPECT_FALSE(port.Device().errorText().empty());
    }
    EXPECT_EQ(openDescriptors(), before);
    EXPECT_TRUE(port.Open(pty.slave)) << port.Device().errorText();
}

TEST_F(SerialPortTest, LineSettingsAreAppliedAndRestoredAtClose)
{
    port.Close();
    const int probe = ::open(pty.slave.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(probe, 0);
    termios original{};
    ASSERT_EQ(::tcgetattr(probe, &original), 0);

    // A pseudo-terminal always keeps 8 data bits and no parity, whatever is asked.
    using platform::Parity;
    using platform::StopBits;
    struct Case { platform::LineSettings settings; speed_t speed; tcflag_t cflags; };
    for (const Case c : {Case{{19200, 8, Parity::None, StopBits::One}, B19200, 0},
                         Case{{9600, 7, Parity::Even, StopBits::Two}, B9600, CSTOPB},
                         Case{{115200, 8, Parity::Odd, StopBits::One}, B115200, 0}}) {
        ASSERT_TRUE(port.Open(pty.slave, c.settings));
        termios t{};
        ASSERT_EQ(::tcgetattr(probe, &t), 0);
        EXPECT_EQ(::cfgetospeed(&t), c.speed);
        EXPECT_EQ(::cfgetispeed(&t), c.speed);
        EXPECT_EQ(t.c_cflag & (CSTOPB | CRTSCTS | CLOCAL | CREAD), c.cflags | CLOCAL | CREAD)
            << c.settings.baudRate;
        EXPECT_EQ(t.c_iflag & (IXON | IXOFF | ICRNL | ISTRIP), 0u);
        EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
        EXPECT_EQ(t.c_oflag & OPOST, 0u);
        port.Close();
        termios after{};
        ASSERT_EQ(::tcgetattr(probe, &after), 0);
        EXPECT_EQ(after.c_cflag, original.c_cflag);
        EXPECT_EQ(after.c_iflag, original.c_iflag);
        EXPECT_EQ(after.c_lflag, original.c_lflag);
        EXPECT_EQ(after.c_oflag, original.c_oflag);
    }
    ::close(probe);
}

TEST_F(SerialPortTest, PurgesDropPendingInput)
{
    for (int round = 0; round < 2; ++round) {
        pty.Send({1, 2, 3, 4});
        pollfd p{port.Device().descriptor(), POLLIN, 0};
        ASSERT_EQ(::poll(&p, 1, 1000), 1);
        if (round == 0)
            port.PurgeInput();
        else
            EXPECT_TRUE(port.PurgeAll());
        EXPECT_TRUE(readPort(4).empty()) << "round " << round;
    }
    port.Close();
    EXPECT_FALSE(port.PurgeAll());
}

TEST_F(SerialPortTest, VanishedLineFailsWithinTheReadBudget)
{
    pty.CloseMaster();
    for (int i = 0; i < 2; ++i) {
        const auto start = Clock::now();
        EXPECT_TRUE(readPort(20).empty());
        const long long took = msSince(start);
        EXPECT_GE(took, 150);  // waits out its budget instead of spinning
        EXPECT_LE(took, 1000);
    }
    const uint8_t b = 0x55;
    EXPECT_EQ(port.Write(&b, 1), 0);
    EXPECT_FALSE(port.PurgeAll());
    port.Close();
    EXPECT_FALSE(port.Device().isOpen());
}

TEST_F(SerialPortTest, StalledWriteEndsByItsDeadlineAndTheLineCountsAsFailing)
{
    // The far end never reads, so the kernel buffer fills and the output stalls.
    // Deadline of a 256-byte write here: (10 ms x 256 + 500 ms) x 0.05 = 153 ms.
    platform::SetTimeoutScaleForTests(0.05);
    const Bytes chunk(256, 0x55);
    size_t written = 0;
    long long took = 0;
    for (int i = 0; i < 8192; ++i) {  // 2 MiB, far beyond any pseudo-terminal's buffer
        const auto start = Clock::now();
        const size_t n = port.Device().write(chunk.data(), chunk.size());
        took = msSince(start);
        if (n == 0)
            break;
        ASSERT_EQ(n, chunk.size());
        written += n;
    }
    ASSERT_LT(written, size_t(8192) * 256) << "the output never stalled";
    EXPECT_GE(took, 140) << "the stalled write gave up before its deadline";
    EXPECT_LE(took, 3000) << "the stalled write hung";

    // A failing line: the next writes fail at once instead of each waiting out
    // a deadline (a frame goes out in three writes).
    const auto start = Clock::now();
    const uint8_t request = 0x3D;
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(port.Write(&request, 1), 0);
    EXPECT_LT(msSince(start), 140);

    // The far end reads again; the next read (the reply's) lifts the failure.
    while (pty.Receive(65536, 50).size() > 0) {
    }
    EXPECT_TRUE(readPort(1).empty());
    platform::SetTimeoutScaleForTests(1.0);
    const uint8_t b = 0x42;
    EXPECT_EQ(port.Write(&b, 1), 1);
    EXPECT_EQ(pty.Receive(1), Bytes({0x42}));
}

// The port opens a link, as it opens a virtual port; the test replaces the
// pseudo-terminal behind it, as a restarted simulator or a re-plugged
// converter would.
class HungUpLineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char folderTemplate[] = "/tmp/talvor-reopen-XXXXXX";
        ASSERT_NE(::mkdtemp(folderTemplate), nullptr);
        folder = folderTemplate;
        link = folder + "/line";
    }
    void TearDown() override
    {
        ::unlink(link.c_str());
        ::rmdir(folder.c_str());
    }
    void pointLinkAt(const std::string &target)
    {
        const std::string temporary = link + ".new";
        ASSERT_EQ(::symlink(target.c_str(), temporary.c_str()), 0);
        ASSERT_EQ(::rename(temporary.c_str(), link.c_str()), 0);
    }
    Bytes readPort(uint16_t count)
    {
        Bytes b(count);
        b.resize(port.Read(b.data(), count));
        return b;
    }
    // Reads until bytes come or the deadline passes; the reopen purges what
    // was sent before it, so the sender repeats its byte meanwhile.
    Bytes readUntilBytes(const PtyPair &line, uint8_t value, int limitMs)
    {
        std::atomic<bool> done{false};
        std::thread sender([&] {
            const auto start = Clock::now();
            while (!done && msSince(start) < limitMs) {
                const ssize_t n = ::write(line.master, &value, 1);
                (void)n;
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        });
        Bytes got;
        const auto start = Clock::now();
        while (got.empty() && msSince(start) < limitMs)
            got = readPort(20);
        done = true;
        sender.join();
        return got;
    }

    std::string folder;
    std::string link;
    SerialPort port;
};

TEST_F(HungUpLineTest, ReadsReturnNothingWhileGoneThenTheNewLineIsReadWithoutReopening)
{
    auto first = std::make_unique<PtyPair>();
    ASSERT_GE(first->master, 0);
    pointLinkAt(first->slave);
    ASSERT_TRUE(port.Open(link)) << port.Device().errorText();
    first->Send({1, 2, 3});
    EXPECT_EQ(readPort(3), Bytes({1, 2, 3}));

    // The line goes away: the far end closes and its link disappears.
    first->CloseMaster();
    ASSERT_EQ(::unlink(link.c_str()), 0);
    for (int i = 0; i < 2; ++i) {
        const auto start = Clock::now();
        EXPECT_TRUE(readPort(20).empty());
        EXPECT_GE(msSince(start), 150) << "read " << i << " must wait out its budget";
        EXPECT_LE(msSince(start), 1000);
        EXPECT_FALSE(port.Device().isOpen());
    }
    EXPECT_EQ(port.Device().reopenCount(), 0u);

    // A new line under the same name (the system may hand out the same pty
    // number again, the dead one was closed): the next read takes it up.
    PtyPair second;
    ASSERT_GE(second.master, 0);
    second.MakeRaw();
    pointLinkAt(second.slave);
    const Bytes got = readUntilBytes(second, 0x5A, 3000);
    ASSERT_FALSE(got.empty());
    for (uint8_t b : got)
        EXPECT_EQ(b, 0x5A);
    EXPECT_EQ(port.Device().reopenCount(), 1u);
    EXPECT_TRUE(port.Device().isOpen());

    // Both directions work on the new line, with the settings of the first open.
    const uint8_t b = 0x42;
    EXPECT_EQ(port.Write(&b, 1), 1);
    EXPECT_EQ(second.Receive(1), Bytes({0x42}));
    termios t{};
    ASSERT_EQ(::tcgetattr(port.Device().descriptor(), &t), 0);
    EXPECT_EQ(::cfgetospeed(&t), speed_t(B19200));
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO), 0u);

    // The new line is held as exclusively as the first.
    platform::SerialDevice other;
    EXPECT_FALSE(other.open(link));
}

TEST_F(HungUpLineTest, LineReplacedBeforeTheNextReadIsTakenUpByIt)
{
    PtyPair first;
    pointLinkAt(first.slave);
    ASSERT_TRUE(port.Open(link)) << port.Device().errorText();
    PtyPair second;
    pointLinkAt(second.slave);
    first.CloseMaster();
    const Bytes got = readUntilBytes(second, 0x33, 3000);
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(got.front(), 0x33);
    EXPECT_EQ(port.Device().reopenCount(), 1u);
}

TEST_F(HungUpLineTest, ExplicitCloseEndsTheReopening)
{
    PtyPair first;
    pointLinkAt(first.slave);
    ASSERT_TRUE(port.Open(link)) << port.Device().errorText();
    first.CloseMaster();
    ::unlink(link.c_str());
    EXPECT_TRUE(readPort(5).empty());
    port.Close();

    PtyPair second;
    pointLinkAt(second.slave);
    second.Send({9, 9});
    const auto start = Clock::now();
    EXPECT_TRUE(readPort(20).empty());
    EXPECT_LT(msSince(start), 100) << "a closed port does not wait or retry";
    EXPECT_FALSE(port.Device().isOpen());
    EXPECT_EQ(port.Device().reopenCount(), 0u);

    // Nobody holds the new line: another opener gets it.
    platform::SerialDevice other;
    EXPECT_TRUE(other.open(link)) << other.errorText();
}

}  // namespace
