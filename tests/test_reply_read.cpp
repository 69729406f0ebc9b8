// Reading a reply up to its end byte: the read ends on 0xD5 instead of waiting
// out the quiet gap, bytes behind the end byte wait for the next read, and
// purges and close drop them. Over a real pseudo-terminal: the test plays the
// reader on the master, the port under test holds the slave.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "core/engine/update_procedure.h"
#include "core/engine/com_port.h"
#include "core/engine/frame_codec.h"
#include "core/line/serial_device.h"

namespace {

using Bytes = std::vector<uint8_t>;
using R = TProtFrame::ReplyOutcome;

Bytes Concat(Bytes a, const Bytes &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// A boot loader reply on the line: header, payload, CRC, stuffed and framed.
Bytes ReplyLine(const Bytes &payload)
{
    return frame::Encode(Concat({0x11, 0x3E, 0x01, 0x00, 0x00, 0x00}, payload));
}

// What the reply buffer holds after reading line: the same bytes unstuffed.
Bytes Unstuffed(const Bytes &line)
{
    Bytes out(line.size());
    out.resize(frame::Unescape(line.data(), line.size(), out.data()));
    return out;
}

class ReplyReadTest : public ::testing::Test {
protected:
    ReplyReadTest() : codec(port) {}

    void SetUp() override
    {
        int slaveFd = -1;
        char name[128] = {};
        ASSERT_EQ(::openpty(&master, &slaveFd, name, nullptr, nullptr), 0);
        slave = name;
        ASSERT_NE(port.Open(slave), NullHandle) << port.Device().errorText();
        ::close(slaveFd);
        codec.SetPortOpenFlag(&portOpen);
        codec.SetEndByteEndsRead(true);
    }
    void TearDown() override
    {
        port.Close();
        if (master >= 0)
            ::close(master);
    }

    void Send(const Bytes &b) { ASSERT_EQ(::write(master, b.data(), b.size()), ssize_t(b.size())); }
    // Bytes waiting in the driver on the port's side.
    int Waiting() const
    {
        int n = -1;
        return ::ioctl(port.Handle, FIONREAD, &n) == 0 ? n : -1;
    }
    // Returns once n bytes wait on the port's side, so that a whole write is
    // in the driver before the read under test starts.
    void AwaitInput(size_t n)
    {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(1);
        while (Waiting() < int(n) && std::chrono::steady_clock::now() < until) {
            pollfd p{port.Handle, POLLIN, 0};
            ::poll(&p, 1, 1);
        }
        ASSERT_GE(Waiting(), int(n));
    }
    Bytes Received() const { return Bytes(codec.RxBuffer, codec.RxBuffer + codec.ReplyLength); }
    Bytes ReadPlain(uint16_t count)
    {
        Bytes b(count);
        b.resize(port.Read(b.data(), count));
        return b;
    }

    int master = -1;
    std::string slave;
    TComPort1 port;
    TProtFrame codec;
    std::atomic<bool> portOpen{true};
};

TEST_F(ReplyReadTest, EndByteEndsTheReadBeforeALateSecondBurst)
{
    const Bytes reply = ReplyLine({0x01, 0x42, 0x00, 0x00, 66});
    ASSERT_LT(reply.size(), 20u);
    const Bytes late = {0x11, 0x22, 0x33};
    Send(reply);
    std::thread second([&] {
        // Well inside the 20 ms gap: a read that waits for quiet takes it in too.
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        Send(late);
    });
    const R outcome = codec.ReceiveReply(20);
    second.join();
    EXPECT_EQ(outcome, R::Valid);
    EXPECT_EQ(codec.ReplyLength, reply.size());
    EXPECT_EQ(port.LastReadCount, reply.size());
    EXPECT_EQ(codec.RxBuffer[reply.size()], 0) << "nothing of the late burst in the buffer";

    // The late burst is the next read's, whole.
    EXPECT_EQ(codec.ReceiveReply(20), R::ChecksumError);
    EXPECT_EQ(Received(), late);
}

TEST_F(ReplyReadTest, WithoutTheModeBytesAfterTheEndByteJoinTheRead)
{
    // The monitor's way: one read until 20 ms of quiet, end byte or not.
    codec.SetEndByteEndsRead(false);
    const Bytes reply = ReplyLine({0x01, 0x42, 0x00, 0x00, 66});
    const Bytes stray = {0x11, 0x22, 0x33};
    Send(Concat(reply, stray));
    AwaitInput(reply.size() + stray.size());
    EXPECT_EQ(codec.ReceiveReply(20), R::ChecksumError);
    EXPECT_EQ(Received(), Concat(reply, stray));
}

TEST_F(ReplyReadTest, ReplySplitByALongGapStillFails)
{
    const Bytes reply = ReplyLine({0x80});
    const size_t cut = 5;
    Send(Bytes(reply.begin(), reply.begin() + cut));
    std::thread tail([&] {
        // Far beyond the 20 ms of quiet that end a read.
        std::this_thread::sleep_for(std::chrono::milliseconds(80));
        Send(Bytes(reply.begin() + cut, reply.end()));
    });
    EXPECT_EQ(codec.ReceiveReply(20), R::ChecksumError);
    EXPECT_EQ(Received(), Bytes(reply.begin(), reply.begin() + cut));
    tail.join();
    EXPECT_EQ(codec.ReceiveReply(20), R::ChecksumError);
    EXPECT_EQ(Received(), Bytes(reply.begin() + cut, reply.end()));
}

TEST_F(ReplyReadTest, StrayBytesAfterTheEndByteAreTheNextReadsExactly)
{
    struct Case {
        const char *what;
        Bytes reply;
        Bytes stray;
    };
    const Case cases[] = {
        {"stray bytes", ReplyLine({0x01, 0x10, 0x00, 0x00, 66}), {0x01, 0x02, 0x03}},
        // Stuffed 0xD5 inside the frame must not end the read early.
        {"stuffed payload", ReplyLine({0xD5, 0xDA, 0xDF, 0xD5}), {0xDF, 0x55}},
        {"one stray byte", ReplyLine({0x02}), {0x7E}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        // One write: the reply and its stray bytes reach the port together.
        Send(Concat(c.reply, c.stray));
        AwaitInput(c.reply.size() + c.stray.size());
        ASSERT_EQ(codec.ReceiveReply(20), R::Valid);
        EXPECT_EQ(Received(), Unstuffed(c.reply));
        EXPECT_EQ(port.LastReadCount, c.reply.size());
        // The monitor's plain read gets exactly the stray bytes.
        EXPECT_EQ(ReadPlain(100), c.stray);
    }
}

TEST_F(ReplyReadTest, RepliesInOneBurstAreReadOneByOne)
{
    const Bytes first = ReplyLine({0x01, 0x00, 0x00, 0x00, 66});
    const Bytes second = ReplyLine({0x01, 0x42, 0x00, 0x00, 66});
    Send(Concat(first, second));
    AwaitInput(first.size() + second.size());
    ASSERT_EQ(codec.ReceiveReply(20), R::Valid);
    EXPECT_EQ(Received(), Unstuffed(first));
    ASSERT_EQ(codec.ReceiveReply(20), R::Valid);
    EXPECT_EQ(Received(), Unstuffed(second));
    EXPECT_TRUE(ReadPlain(20).empty());
}

TEST_F(ReplyReadTest, PurgesAndCloseDropTheKeptBytes)
{
    const Bytes reply = ReplyLine({0x80});
    const Bytes stray = {0x01, 0x02, 0x03, 0x04};
    struct Case {
        const char *what;
        std::function<void()> drop;
    };
    const Case cases[] = {
        {"input purge", [&] { port.PurgeInput(); }},
        {"purge of everything", [&] { EXPECT_TRUE(port.PurgeAll()); }},
        {"close and open again", [&] {
             port.Close();
             ASSERT_NE(port.Open(slave), NullHandle) << port.Device().errorText();
         }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Send(Concat(reply, stray));
        AwaitInput(reply.size() + stray.size());
        ASSERT_EQ(codec.ReceiveReply(20), R::Valid);
        // The stray bytes have left the driver: only the port holds them now.
        EXPECT_EQ(Waiting(), 0);
        c.drop();
        EXPECT_TRUE(ReadPlain(20).empty());
    }
    // Nothing else is lost: the output side is not touched by an input purge.
    Send(Concat(reply, stray));
    AwaitInput(reply.size() + stray.size());
    ASSERT_EQ(codec.ReceiveReply(20), R::Valid);
    port.PurgeOutput();
    EXPECT_EQ(ReadPlain(20), stray);
}

TEST_F(ReplyReadTest, DeviceReadEndsAtTheCountOrTheEndByteWhicheverComesFirst)
{
    platform::SerialDevice &device = port.Device();
    Send({0xA1, 0xA2, 0xD5, 0xB1, 0xB2, 0xB3, 0xD5, 0xC1});
    AwaitInput(8);
    struct Step {
        size_t count;
        int endByte;
        Bytes expected;
    };
    const Step steps[] = {
        {20, 0xD5, {0xA1, 0xA2, 0xD5}},
        {2, 0xD5, {0xB1, 0xB2}},
        {20, 0xD5, {0xB3, 0xD5}},
        {20, platform::SerialDevice::kNoEndByte, {0xC1}},
        {20, 0xD5, {}},
    };
    int i = 0;
    for (const Step &s : steps) {
        SCOPED_TRACE(i++);
        Bytes got(s.count);
        got.resize(device.read(got.data(), s.count, s.endByte));
        EXPECT_EQ(got, s.expected);
    }
}

TEST_F(ReplyReadTest, ReadFrameKeepsLastReadCountWhenNothingCame)
{
    const Bytes reply = ReplyLine({0x02});
    Send(reply);
    Bytes buffer(20);
    ASSERT_EQ(port.ReadFrame(buffer.data(), 20, frame::kEnd), reply.size());
    EXPECT_EQ(port.LastReadCount, reply.size());
    EXPECT_EQ(port.ReadFrame(buffer.data(), 20, frame::kEnd), 0);
    EXPECT_EQ(port.LastReadCount, reply.size());
}

TEST_F(ReplyReadTest, UpdateEngineReadsUpToTheEndByte)
{
    TProt prot(port);
    prot.SetPortOpenFlag(&portOpen);
    // The boot loader asks for 66 bytes at 0x0142; a late burst follows.
    const Bytes reply = ReplyLine({0x01, 0x42, 0x01, 0x00, 66});
    const Bytes late = {0x5A, 0x5B};
    Send(reply);
    AwaitInput(reply.size());
    std::thread second([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        Send(late);
    });
    const int result = prot.RequestNext();
    second.join();
    EXPECT_EQ(result, 1);
    EXPECT_EQ(prot.RequestOffset, 0x0142);
    EXPECT_EQ(prot.RequestCount, 66u);
    EXPECT_EQ(ReadPlain(20), late);
}

}  // namespace
