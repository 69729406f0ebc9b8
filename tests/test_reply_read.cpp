// Reading a reply up to its end byte: the read ends on 0xD5 instead of waiting
// out the quiet gap, bytes behind the end byte wait for the next read, and
// purges and close drop them. Over a real pseudo-terminal: the test plays the
// reader on the master, the port under test holds the slave.
#include <gtest/gtest.h>

#include <sys/ioctl.h>

#include <functional>
#include <thread>

#include "core/line/serial_device.h"
#include "core/line/serial_port.h"
#include "core/protocol/frame.h"
#include "core/session/frame_link.h"
#include "pty_pair.h"

namespace {

using R = FrameLink::ReplyOutcome;

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
    void SetUp() override { ASSERT_TRUE(port.Open(pty.slave)) << port.Device().errorText(); }

    // Bytes waiting in the driver on the port's side.
    int Waiting() const
    {
        int n = -1;
        return ::ioctl(port.Device().descriptor(), FIONREAD, &n) == 0 ? n : -1;
    }
    // Returns once n bytes wait on the port's side, so that a whole write is
    // in the driver before the read under test starts.
    void AwaitInput(size_t n)
    {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(1);
        while (Waiting() < int(n) && std::chrono::steady_clock::now() < until) {
            pollfd p{port.Device().descriptor(), POLLIN, 0};
            ::poll(&p, 1, 1);
        }
        ASSERT_GE(Waiting(), int(n));
    }
    Bytes Received() const { return Bytes(link.Reply(), link.Reply() + link.ReplyLength()); }
    Bytes ReadPlain(uint16_t count)
    {
        Bytes b(count);
        b.resize(port.Read(b.data(), count));
        return b;
    }

    PtyPair pty;
    SerialPort port;
    FrameLink link{port};
};

TEST_F(ReplyReadTest, EndByteEndsTheReadBeforeALateSecondBurst)
{
    const Bytes reply = ReplyLine({0x01, 0x42, 0x00, 0x00, 66});
    ASSERT_LT(reply.size(), 20u);
    const Bytes late = {0x11, 0x22, 0x33};
    pty.Send(reply);
    std::thread second([&] {
        // Well inside the 20 ms gap: a read that waits for quiet takes it in too.
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        pty.Send(late);
    });
    const R outcome = link.Receive(20, true);
    second.join();
    EXPECT_EQ(outcome, R::Valid);
    EXPECT_EQ(link.ReplyLength(), reply.size());
    EXPECT_EQ(link.Reply()[reply.size()], 0) << "nothing of the late burst in the buffer";

    // The late burst is the next read's, whole.
    EXPECT_EQ(link.Receive(20, true), R::ChecksumError);
    EXPECT_EQ(Received(), late);
}

TEST_F(ReplyReadTest, ReplySplitByALongGapStillFails)
{
    const Bytes reply = ReplyLine({0x80});
    const size_t cut = 5;
    pty.Send(Bytes(reply.begin(), reply.begin() + cut));
    std::thread tail([&] {
        // Far beyond the 20 ms of quiet that end a read.
        std::this_thread::sleep_for(std::chrono::milliseconds(80));
        pty.Send(Bytes(reply.begin() + cut, reply.end()));
    });
    EXPECT_EQ(link.Receive(20, true), R::ChecksumError);
    EXPECT_EQ(Received(), Bytes(reply.begin(), reply.begin() + cut));
    tail.join();
    EXPECT_EQ(link.Receive(20, true), R::ChecksumError);
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
        pty.Send(Concat(c.reply, c.stray));
        AwaitInput(c.reply.size() + c.stray.size());
        ASSERT_EQ(link.Receive(20, true), R::Valid);
        EXPECT_EQ(Received(), Unstuffed(c.reply));
        // The monitor's plain read gets exactly the stray bytes.
        EXPECT_EQ(ReadPlain(100), c.stray);
    }
}

TEST_F(ReplyReadTest, RepliesInOneBurstAreReadOneByOne)
{
    const Bytes first = ReplyLine({0x01, 0x00, 0x00, 0x00, 66});
    const Bytes second = ReplyLine({0x01, 0x42, 0x00, 0x00, 66});
    pty.Send(Concat(first, second));
    AwaitInput(first.size() + second.size());
    ASSERT_EQ(link.Receive(20, true), R::Valid);
    EXPECT_EQ(Received(), Unstuffed(first));
    ASSERT_EQ(link.Receive(20, true), R::Valid);
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
             ASSERT_TRUE(port.Open(pty.slave)) << port.Device().errorText();
         }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        pty.Send(Concat(reply, stray));
        AwaitInput(reply.size() + stray.size());
        ASSERT_EQ(link.Receive(20, true), R::Valid);
        // The stray bytes have left the driver: only the port holds them now.
        EXPECT_EQ(Waiting(), 0);
        c.drop();
        EXPECT_TRUE(ReadPlain(20).empty());
    }
    // Nothing else is lost: the output side is not touched by an input purge.
    pty.Send(Concat(reply, stray));
    AwaitInput(reply.size() + stray.size());
    ASSERT_EQ(link.Receive(20, true), R::Valid);
    port.PurgeOutput();
    EXPECT_EQ(ReadPlain(20), stray);
}

TEST_F(ReplyReadTest, DeviceReadEndsAtTheCountOrTheEndByteWhicheverComesFirst)
{
    platform::Line &device = port.Device();
    pty.Send({0xA1, 0xA2, 0xD5, 0xB1, 0xB2, 0xB3, 0xD5, 0xC1});
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
        {20, platform::Line::kNoEndByte, {0xC1}},
        {20, 0xD5, {}},
    };
    int i = 0;
    for (const Step &s : steps) {
        SCOPED_TRACE(i++);
        Bytes got(s.count);
        got.resize(device.read(got.data(), s.count, s.endByte, 0));
        EXPECT_EQ(got, s.expected);
    }
}

TEST_F(ReplyReadTest, ReadFrameKeepsLastReadCountWhenNothingCame)
{
    const Bytes reply = ReplyLine({0x02});
    pty.Send(reply);
    Bytes buffer(20);
    ASSERT_EQ(port.ReadFrame(buffer.data(), 20, frame::kEnd), reply.size());
    EXPECT_EQ(port.ReadFrame(buffer.data(), 20, frame::kEnd), 0);
}

}  // namespace
