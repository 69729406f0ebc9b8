// The serial port against a real pseudo-terminal pair: the test plays the
// reader on the master side, the port under test opens the slave.
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <numeric>
#include <thread>
#include <vector>

#include "core/engine/com_port.h"
#include "gui/engine_boxes.h"
#include "gui/message_box.h"
#include "core/line/serial_device.h"

namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<uint8_t>;

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

struct Pty {
    int master = -1;
    std::string slave;

    Pty()
    {
        int s = -1;
        char name[256] = {};
        if (::openpty(&master, &s, name, nullptr, nullptr) == 0) {
            slave = name;
            ::close(s);  // the port under test opens the slave itself
        }
    }
    ~Pty() { closeMaster(); }
    // No echo, as on a real converter: what the far end sends before the port
    // has set its own modes must not come back to it.
    void makeRaw() const
    {
        const int s = ::open(slave.c_str(), O_RDWR | O_NOCTTY);
        ASSERT_GE(s, 0);
        termios t{};
        ASSERT_EQ(::tcgetattr(s, &t), 0);
        ::cfmakeraw(&t);
        EXPECT_EQ(::tcsetattr(s, TCSANOW, &t), 0);
        ::close(s);
    }
    void closeMaster()
    {
        if (master >= 0)
            ::close(master);
        master = -1;
    }
    void send(const Bytes &b) const
    {
        ASSERT_EQ(::write(master, b.data(), b.size()), ssize_t(b.size()));
    }
    // Whatever reaches the master within the time limit, up to n bytes.
    Bytes receive(size_t n, int limitMs = 1000) const
    {
        Bytes out;
        const auto start = Clock::now();
        while (out.size() < n && msSince(start) < limitMs) {
            pollfd p{master, POLLIN, 0};
            if (::poll(&p, 1, 20) > 0 && (p.revents & POLLIN)) {
                uint8_t buf[512];
                const ssize_t r = ::read(master, buf, std::min(sizeof buf, n - out.size()));
                if (r > 0)
                    out.insert(out.end(), buf, buf + r);
            }
        }
        return out;
    }
};

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
        ASSERT_NE(port.Open(pty.slave), NullHandle) << port.Device().errorText();
    }
    Bytes readPort(uint16_t count)
    {
        Bytes b(count);
        b.resize(port.Read(b.data(), count));
        return b;
    }

    Pty pty;
    TComPort1 port;
};

TEST_F(SerialPortTest, SilentReadWaitsTenMsPerByteAndKeepsLastReadCount)
{
    pty.send({1, 2, 3});
    EXPECT_EQ(readPort(3), Bytes({1, 2, 3}));
    ASSERT_EQ(port.LastReadCount, 3);

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
        EXPECT_EQ(port.LastReadCount, 3);
    }
}

TEST_F(SerialPortTest, QuietGapEndsTheReadWithTheBytesSoFar)
{
    std::thread reader([this] {
        pty.send(range(1, 5));
        std::this_thread::sleep_for(std::chrono::milliseconds(80));
        pty.send(range(6, 5));
    });
    const Bytes first = readPort(20);
    const Bytes second = readPort(20);
    reader.join();
    EXPECT_EQ(first, range(1, 5));
    EXPECT_EQ(second, range(6, 5));
    EXPECT_EQ(port.LastReadCount, 5);
}

TEST_F(SerialPortTest, BytesFiveMsApartAreReadWhole)
{
    std::thread reader([this] {
        for (uint8_t v = 1; v <= 10; ++v) {
            pty.send({v});
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
    pty.send({1, 2, 3});
    EXPECT_EQ(readPort(3), Bytes({1, 2, 3}));

    // Only a device that was opened was asked.
    platform::SerialDevice other;
    EXPECT_EQ(other.lowLatency(), platform::LowLatency::NotAsked);
    EXPECT_FALSE(other.open(pty.slave + "-absent"));
    EXPECT_EQ(other.lowLatency(), platform::LowLatency::NotAsked);
}

TEST_F(SerialPortTest, ZeroCountsTouchNothing)
{
    pty.send({7, 8});
    uint8_t buf[2] = {};
    EXPECT_EQ(port.Read(buf, 0), 0);
    EXPECT_EQ(port.LastReadCount, 0);
    EXPECT_EQ(readPort(2), Bytes({7, 8}));  // the 0-byte read consumed nothing

    EXPECT_EQ(port.Write(buf, 0), 0);
    EXPECT_TRUE(pty.receive(1, 100).empty());
}

TEST_F(SerialPortTest, EveryByteValuePassesUnchangedBothWays)
{
    const Bytes all = range(0, 256);
    for (uint8_t v : all)
        ASSERT_EQ(port.WriteByte(v), 1);
    EXPECT_EQ(pty.receive(256), all);

    pty.send(all);
    EXPECT_EQ(readPort(256), all);
}

TEST_F(SerialPortTest, HeldPortCannotBeOpenedAgainUntilClosed)
{
    TComPort1 second;
    EXPECT_EQ(second.Open(pty.slave), NullHandle);
    EXPECT_EQ(second.Handle, NullHandle);
    platform::SerialDevice device;
    EXPECT_FALSE(device.open(pty.slave));
    EXPECT_FALSE(device.errorText().empty());

    // The refused openers left the holder's line as it was.
    EXPECT_EQ(port.WriteByte(0x0D), 1);
    EXPECT_EQ(pty.receive(1), Bytes({0x0D}));

    port.Close();
    EXPECT_EQ(port.Handle, NullHandle);
    EXPECT_NE(second.Open(pty.slave), NullHandle) << second.Device().errorText();
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
        EXPECT_EQ(port.Open(c.path, settings), NullHandle) << c.path;
        EXPECT_EQ(port.Handle, NullHandle);
        EXPECT_FALSE(port.Device().isOpen());
        EXPECT_FALSE(port.Device().errorText().empty());
    }
    EXPECT_EQ(openDescriptors(), before);
    EXPECT_NE(port.Open(pty.slave), NullHandle) << port.Device().errorText();
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
        ASSERT_NE(port.Open(pty.slave, c.settings), NullHandle);
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
        pty.send({1, 2, 3, 4});
        pollfd p{port.Handle, POLLIN, 0};
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

TEST_F(SerialPortTest, WarnsWhenTheOutputQueueWouldFillButWritesAnyway)
{
    std::vector<platform::MessageBoxRequest> boxes;
    platform::SetMessageBoxHandler([&](const platform::MessageBoxRequest &r) {
        boxes.push_back(r);
        return int(platform::ResultOk);
    });
    ShowEngineNoticesAsBoxes();
    const Bytes small = range(1, 10);
    EXPECT_EQ(port.Write(small.data(), 10), 10);
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(pty.receive(10), small);

    Bytes big(1024);
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = uint8_t(i * 7);
    EXPECT_EQ(port.Write(big.data(), 1024), 1024);
    platform::SetMessageBoxHandler({});
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(boxes[0].caption.isEmpty());
    EXPECT_EQ(boxes[0].text, QString::fromUtf8("Невозможно поместить в выходной буфер "));
    EXPECT_EQ(boxes[0].icon, platform::BoxIcon::None);
    EXPECT_EQ(boxes[0].buttons, platform::BoxButtons::Ok);
    EXPECT_EQ(pty.receive(1024), big);
}

TEST_F(SerialPortTest, VanishedLineFailsWithinTheReadBudget)
{
    pty.closeMaster();
    for (int i = 0; i < 2; ++i) {
        const auto start = Clock::now();
        EXPECT_TRUE(readPort(20).empty());
        const long long took = msSince(start);
        EXPECT_GE(took, 150);  // waits out its budget instead of spinning
        EXPECT_LE(took, 1000);
    }
    const uint8_t b = 0x55;
    EXPECT_EQ(port.WriteByte(b), 0);
    EXPECT_EQ(port.Write(&b, 1), 0);
    EXPECT_FALSE(port.PurgeAll());
    port.Close();
    EXPECT_EQ(port.Handle, NullHandle);
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
    // a deadline (a frame goes out byte by byte).
    const auto start = Clock::now();
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(port.WriteByte(0x3D), 0);
    EXPECT_LT(msSince(start), 140);

    // The far end reads again; the next read (the reply's) lifts the failure.
    while (pty.receive(65536, 50).size() > 0) {
    }
    EXPECT_TRUE(readPort(1).empty());
    platform::SetTimeoutScaleForTests(1.0);
    EXPECT_EQ(port.WriteByte(0x42), 1);
    EXPECT_EQ(pty.receive(1), Bytes({0x42}));
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
    Bytes readUntilBytes(const Pty &line, uint8_t value, int limitMs)
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
    TComPort1 port;
};

TEST_F(HungUpLineTest, ReadsReturnNothingWhileGoneThenTheNewLineIsReadWithoutReopening)
{
    auto first = std::make_unique<Pty>();
    ASSERT_GE(first->master, 0);
    pointLinkAt(first->slave);
    ASSERT_NE(port.Open(link), NullHandle) << port.Device().errorText();
    first->send({1, 2, 3});
    EXPECT_EQ(readPort(3), Bytes({1, 2, 3}));

    // The line goes away: the far end closes and its link disappears.
    first->closeMaster();
    ASSERT_EQ(::unlink(link.c_str()), 0);
    for (int i = 0; i < 2; ++i) {
        const auto start = Clock::now();
        EXPECT_TRUE(readPort(20).empty());
        EXPECT_GE(msSince(start), 150) << "read " << i << " must wait out its budget";
        EXPECT_LE(msSince(start), 1000);
        EXPECT_EQ(port.Handle, NullHandle);
        EXPECT_FALSE(port.Device().isOpen());
    }
    EXPECT_EQ(port.Device().reopenCount(), 0u);

    // A new line under the same name (the system may hand out the same pty
    // number again, the dead one was closed): the next read takes it up.
    Pty second;
    ASSERT_GE(second.master, 0);
    second.makeRaw();
    pointLinkAt(second.slave);
    const Bytes got = readUntilBytes(second, 0x5A, 3000);
    ASSERT_FALSE(got.empty());
    for (uint8_t b : got)
        EXPECT_EQ(b, 0x5A);
    EXPECT_EQ(port.Device().reopenCount(), 1u);
    EXPECT_NE(port.Handle, NullHandle);
    EXPECT_EQ(port.Handle, port.Device().descriptor());

    // Both directions work on the new line, with the settings of the first open.
    EXPECT_EQ(port.WriteByte(0x42), 1);
    EXPECT_EQ(second.receive(1), Bytes({0x42}));
    termios t{};
    ASSERT_EQ(::tcgetattr(port.Handle, &t), 0);
    EXPECT_EQ(::cfgetospeed(&t), speed_t(B19200));
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO), 0u);

    // The new line is held as exclusively as the first.
    platform::SerialDevice other;
    EXPECT_FALSE(other.open(link));
}

TEST_F(HungUpLineTest, LineReplacedBeforeTheNextReadIsTakenUpByIt)
{
    Pty first;
    pointLinkAt(first.slave);
    ASSERT_NE(port.Open(link), NullHandle) << port.Device().errorText();
    Pty second;
    pointLinkAt(second.slave);
    first.closeMaster();
    const Bytes got = readUntilBytes(second, 0x33, 3000);
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(got.front(), 0x33);
    EXPECT_EQ(port.Device().reopenCount(), 1u);
}

TEST_F(HungUpLineTest, HangUpDuringAHandOverKeepsOneDescriptorForBothThreads)
{
    auto first = std::make_unique<Pty>();
    pointLinkAt(first->slave);
    ASSERT_NE(port.Open(link), NullHandle) << port.Device().errorText();
    platform::SetTimeoutScaleForTests(0.1);

    // The monitor's side polls (request out, reply read, which reopens a
    // hung-up line); the GUI side purges and looks at the port, as the
    // hand-over does. Both touch the descriptor while it is replaced.
    std::atomic<bool> stop{false};
    std::atomic<int> purges{0};
    std::thread monitor([&] {
        uint8_t reply[20];
        while (!stop) {
            port.WriteByte(0x3D);
            port.Read(reply, sizeof reply);
        }
    });
    std::thread handover([&] {
        while (!stop) {
            port.PurgeAll();
            port.Device().outputQueueLevel();
            port.Device().isOpen();
            ++purges;
        }
    });
    const auto waitUntil = [](const std::function<bool()> &done) {
        const auto start = Clock::now();
        while (!done() && msSince(start) < 5000)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return done();
    };
    EXPECT_TRUE(waitUntil([&] { return purges > 100; }));

    Pty second;
    ASSERT_GE(second.master, 0);
    second.makeRaw();
    pointLinkAt(second.slave);
    first->closeMaster();
    EXPECT_TRUE(waitUntil([&] { return port.Device().reopenCount() >= 1; }));
    const int purgesAtReopen = purges;
    EXPECT_TRUE(waitUntil([&] { return purges > purgesAtReopen + 100; }));
    stop = true;
    monitor.join();
    handover.join();
    platform::SetTimeoutScaleForTests(1.0);

    EXPECT_EQ(port.Device().reopenCount(), 1u);
    EXPECT_NE(port.Handle, NullHandle);
    EXPECT_EQ(port.Handle, port.Device().descriptor());
    EXPECT_TRUE(port.PurgeAll());
    second.receive(4096, 100);  // the polls that reached the new line
    EXPECT_EQ(port.WriteByte(0x42), 1);
    EXPECT_EQ(second.receive(1), Bytes({0x42}));
}

TEST_F(HungUpLineTest, ExplicitCloseEndsTheReopening)
{
    Pty first;
    pointLinkAt(first.slave);
    ASSERT_NE(port.Open(link), NullHandle) << port.Device().errorText();
    first.closeMaster();
    ::unlink(link.c_str());
    EXPECT_TRUE(readPort(5).empty());
    port.Close();

    Pty second;
    pointLinkAt(second.slave);
    second.send({9, 9});
    const auto start = Clock::now();
    EXPECT_TRUE(readPort(20).empty());
    EXPECT_LT(msSince(start), 100) << "a closed port does not wait or retry";
    EXPECT_EQ(port.Handle, NullHandle);
    EXPECT_FALSE(port.Device().isOpen());
    EXPECT_EQ(port.Device().reopenCount(), 0u);

    // Nobody holds the new line: another opener gets it.
    platform::SerialDevice other;
    EXPECT_TRUE(other.open(link)) << other.errorText();
}

}  // namespace
