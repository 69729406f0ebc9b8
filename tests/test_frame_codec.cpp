// The frame codec: CRC, byte stuffing, and the frame link that sends
// requests and reads replies. Wire tests run over a pseudo-terminal pair: the
// port under test opens the slave, the test plays the reader on the master.

#include "core/protocol/frame.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

#include "core/line/serial_port.h"
#include "core/session/frame_link.h"
#include "pty_pair.h"

namespace {

using R = FrameLink::ReplyOutcome;

Bytes Ascii(const std::string &s) { return Bytes(s.begin(), s.end()); }

Bytes Unstuffed(const Bytes &line)
{
    Bytes out(line.size());
    out.resize(frame::Unescape(line.data(), line.size(), out.data()));
    return out;
}

// Undoes the line form: drops the start and end byte and unstuffs the rest.
Bytes BodyOf(const Bytes &line)
{
    if (line.size() < 2)
        return {};
    Bytes out(line.size());
    out.resize(frame::Unescape(line.data() + 1, line.size() - 2, out.data()));
    return out;
}

// ---------------------------------------------------------------- CRC-8

TEST(Crc8, CheckValueAndEmptyInput)
{
    const Bytes digits = Ascii("123456789");
    EXPECT_EQ(frame::Crc8(digits.data(), digits.size()), 0xA1);
    EXPECT_EQ(frame::Crc8(nullptr, 0), 0x00);
}

TEST(Crc8, KnownBodiesAndZeroOverBodyWithItsCrc)
{
    struct Case { Bytes body; uint8_t crc; };
    const Case cases[] = {
        {{0x11, 0x3D, 0x01, 0x00, 0x00, 0x00, 0x00}, 0xAC},
        {Concat({0x11, 0x3E, 0x01, 0x00, 0x00, 0x00}, Ascii("PROG")), 0x12},
        {Concat({0x11, 0x3E, 0x01, 0x00, 0x00, 0x00}, Ascii("NEXT")), 0xF2},
        {{0x11, 0x3E, 0x01, 0x00, 0x00, 0x00, 0x01, 0x0F, 0x00}, 0xD5},
        {{0x01}, 0x5E},
        {{0x80}, 0x8C},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(frame::Crc8(c.body.data(), c.body.size()), c.crc);
        const Bytes whole = Concat(c.body, {c.crc});
        EXPECT_EQ(frame::Crc8(whole.data(), whole.size()), 0);
    }
}

// ---------------------------------------------------------------- stuffing

TEST(Escape, Table)
{
    struct Case { Bytes in; Bytes out; };
    const Case cases[] = {
        {{}, {}},
        {{0x12}, {0x12}},
        {{0xDF}, {0xDF, 0xFF}},
        {{0xDA}, {0xDF, 0xAA}},
        {{0xD5}, {0xDF, 0x55}},
        {{0xFF, 0xAA, 0x55}, {0xFF, 0xAA, 0x55}},
        {{0x11, 0xDA, 0xD5, 0xDF, 0x00}, {0x11, 0xDF, 0xAA, 0xDF, 0x55, 0xDF, 0xFF, 0x00}},
    };
    for (const Case &c : cases) {
        Bytes out(2 * c.in.size() + 4, 0xEE);
        const size_t n = frame::Escape(c.in.data(), c.in.size(), out.data(), out.size());
        out.resize(n);
        EXPECT_EQ(out, c.out);
    }
}

TEST(Escape, RefusesWhatDoesNotFit)
{
    struct Case { Bytes in; size_t capacity; size_t result; };
    const Case cases[] = {
        {{0x12, 0x34}, 2, 2},
        {{0x12, 0x34}, 1, 0},
        {{0xDA}, 2, 2},
        {{0xDA}, 1, 0},   // the pair would be split
        {{0x12, 0xDF}, 2, 0},
        {{0x12, 0xDF}, 3, 3},
    };
    for (const Case &c : cases) {
        Bytes out(c.capacity + 4, 0xEE);
        EXPECT_EQ(frame::Escape(c.in.data(), c.in.size(), out.data(), c.capacity), c.result);
        // Nothing beyond the capacity is touched.
        for (size_t i = c.capacity; i < out.size(); ++i)
            EXPECT_EQ(out[i], 0xEE);
    }
}

TEST(Unescape, Table)
{
    struct Case { Bytes in; Bytes out; };
    const Case cases[] = {
        {{}, {}},
        {{0xDF, 0xAA}, {0xDA}},
        {{0xDF, 0x55}, {0xD5}},
        {{0xDF, 0xFF}, {0xDF}},
        {{0xDF, 0x12}, {0xDF}},              // unknown code: DF, the code is dropped
        {{0xDF, 0x12, 0x34}, {0xDF, 0x34}},
        {{0x01, 0xDF}, {0x01, 0xDF}},        // a DF that ends the input stays
        {{0xDF}, {0xDF}},
        {{0xDF, 0xDF, 0xFF}, {0xDF, 0xFF}},  // the second DF is the first one's code
        {{0xDA, 0x11, 0xD5}, {0xDA, 0x11, 0xD5}},
        {{0xAA, 0x55, 0xFF}, {0xAA, 0x55, 0xFF}},
    };
    for (const Case &c : cases) {
        Bytes out(c.in.size() + 4, 0xEE);
        out.resize(frame::Unescape(c.in.data(), c.in.size(), out.data()));
        EXPECT_EQ(out, c.out);
    }
}

TEST(Unescape, NeverLooksPastCount)
{
    // The byte after the counted ones would turn a final DF into DA if it were read.
    struct Case { Bytes in; size_t count; Bytes out; };
    const Case cases[] = {
        {{0x01, 0xDF, 0xAA}, 2, {0x01, 0xDF}},
        {{0xDF, 0x55}, 1, {0xDF}},
        {{0x01, 0xDF, 0xAA}, 3, {0x01, 0xDA}},
    };
    for (const Case &c : cases) {
        Bytes out(c.in.size() + 4, 0xEE);
        out.resize(frame::Unescape(c.in.data(), c.count, out.data()));
        EXPECT_EQ(out, c.out);
    }
}

TEST(Encode, FramesAndStuffsBodyAndCrc)
{
    struct Case { Bytes body; Bytes line; };
    const Case cases[] = {
        {{0x11, 0x3D, 0x01, 0x00, 0x00, 0x00, 0x00},
         {0xDA, 0x11, 0x3D, 0x01, 0x00, 0x00, 0x00, 0x00, 0xAC, 0xD5}},
        {{0x11, 0x3E, 0x01, 0x00, 0x00, 0x00, 0x01, 0x0F, 0x00},
         {0xDA, 0x11, 0x3E, 0x01, 0x00, 0x00, 0x00, 0x01, 0x0F, 0x00, 0xDF, 0x55, 0xD5}},
        {{}, {0xDA, 0x00, 0xD5}},
        {{0xDA}, {0xDA, 0xDF, 0xAA, 0x29, 0xD5}},
        {{0x34}, {0xDA, 0x34, 0xDF, 0xFF, 0xD5}},  // CRC 0xDF
        {{0x49}, {0xDA, 0x49, 0xDF, 0xAA, 0xD5}},  // CRC 0xDA
        {{0xCE}, {0xDA, 0xCE, 0xDF, 0x55, 0xD5}},  // CRC 0xD5
    };
    for (const Case &c : cases) {
        const Bytes line = frame::Encode(c.body);
        EXPECT_EQ(line, c.line);
    }
}

// Bodies drawn mostly from the values that need stuffing and their codes.
Bytes RandomBody(std::mt19937 &rng, size_t length)
{
    static const uint8_t kAwkward[] = {0xDA, 0xD5, 0xDF, 0xAA, 0x55, 0xFF, 0x00, 0x11};
    std::uniform_int_distribution<int> pick(0, 15);
    std::uniform_int_distribution<int> any(0, 255);
    Bytes body(length);
    for (auto &b : body) {
        const int p = pick(rng);
        b = p < 8 ? kAwkward[p] : uint8_t(any(rng));
    }
    return body;
}

TEST(Encode, RoundTripsRandomBodies)
{
    std::mt19937 rng(20240611);
    size_t stuffed = 0;
    for (int round = 0; round < 500; ++round) {
        const Bytes body = RandomBody(rng, size_t(round % 80));
        const Bytes line = frame::Encode(body);
        ASSERT_GE(line.size(), 3u);
        EXPECT_EQ(line.front(), 0xDA);
        EXPECT_EQ(line.back(), 0xD5);
        // The delimiters appear nowhere else on the line.
        for (size_t i = 1; i + 1 < line.size(); ++i) {
            EXPECT_NE(line[i], 0xDA);
            EXPECT_NE(line[i], 0xD5);
        }
        const Bytes back = BodyOf(line);
        ASSERT_EQ(back.size(), body.size() + 1);
        EXPECT_TRUE(std::equal(body.begin(), body.end(), back.begin()));
        EXPECT_EQ(frame::Crc8(back.data(), back.size()), 0);
        stuffed += line.size() - back.size() - 2;
    }
    EXPECT_GT(stuffed, 1000u) << "the random bodies should exercise the stuffing";
}

TEST(Unescape, FramesBackToBackStayApart)
{
    const Bytes first = frame::Encode({0x11, 0xDA, 0x3E});
    const Bytes second = frame::Encode({0x11, 0xD5, 0xDF});
    const Bytes both = Concat(first, second);
    Bytes out(both.size());
    out.resize(frame::Unescape(both.data(), both.size(), out.data()));
    const Bytes expected = Concat(Concat({0xDA}, Concat(BodyOf(first), {0xD5})),
                                  Concat({0xDA}, Concat(BodyOf(second), {0xD5})));
    EXPECT_EQ(out, expected);
}

// ---------------------------------------------------------------- the frame link

class FrameLinkTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(port.Open(pty.slave)) << port.Device().errorText(); }

    Bytes Reply() const { return Bytes(link.Reply(), link.Reply() + link.ReplyLength()); }

    PtyPair pty;
    SerialPort port;
    FrameLink link{port};
};

const Bytes kLongHeader = {0x11, 0x3E, 0x01, 0x00, 0x00, 0x00};

TEST_F(FrameLinkTest, RequestsOnTheWire)
{
    struct Case {
        const char *what;
        uint8_t command;
        Bytes payload;
        Bytes line;
    };
    const Case cases[] = {
        {"status request", 0x3D, {0x00}, {0xDA, 0x11, 0x3D, 0x01, 0x00, 0x00, 0x00, 0x00, 0xAC, 0xD5}},
        {"boot entry", 0x3E, Ascii("PROG"),
         {0xDA, 0x11, 0x3E, 0x01, 0x00, 0x00, 0x00, 0x50, 0x52, 0x4F, 0x47, 0x12, 0xD5}},
        {"next-block query", 0x3E, Ascii("NEXT"),
         {0xDA, 0x11, 0x3E, 0x01, 0x00, 0x00, 0x00, 0x4E, 0x45, 0x58, 0x54, 0xF2, 0xD5}},
        {"data block with a stuffed CRC", 0x3E, {0x01, 0x0F, 0x00},
         {0xDA, 0x11, 0x3E, 0x01, 0x00, 0x00, 0x00, 0x01, 0x0F, 0x00, 0xDF, 0x55, 0xD5}},
        {"no payload", 0x3E, {}, frame::Encode(kLongHeader)},
        // Below command 31 the short header: address 0, the rest of the header zeros.
        {"command 30", 30, {0x21}, frame::Encode({0x11, 0x1E, 0x00, 0x00, 0x00, 0x00, 0x21})},
        {"command 31", 31, {}, frame::Encode({0x11, 0x1F, 0x01, 0x00, 0x00, 0x00})},
        {"command 0", 0, {}, frame::Encode({0x11, 0x00, 0x00, 0x00, 0x00, 0x00})},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(link.Send(c.command, c.payload.data(), c.payload.size()));
        EXPECT_EQ(pty.Receive(c.line.size()), c.line);
    }
    EXPECT_TRUE(pty.Receive(1, 100).empty());
}

TEST_F(FrameLinkTest, LargestDataBlockGoesOutWholeAndALargerOneNotAtAll)
{
    // 255 image bytes, every one of them needing stuffing.
    Bytes payload = {0x01, 0x34, 0x12};
    payload.insert(payload.end(), 255, 0xDF);
    ASSERT_EQ(payload.size(), FrameLink::kMaxPayload);
    const Bytes expected = frame::Encode(Concat(kLongHeader, payload));
    ASSERT_TRUE(link.Send(0x3E, payload.data(), payload.size()));
    EXPECT_EQ(pty.Receive(expected.size()), expected);

    payload.push_back(0x42);
    EXPECT_FALSE(link.Send(0x3E, payload.data(), payload.size()));
    // The refusal does not stick to the following request, and nothing of it went out.
    ASSERT_TRUE(link.Send(0x3E, payload.data(), 4));
    EXPECT_EQ(pty.Receive(64, 300), frame::Encode(Concat(kLongHeader, Bytes(payload.begin(), payload.begin() + 4))));
}

// Bodies as the reader answers: header, payload; Encode adds CRC and delimiters.
Bytes ReplyBody(const Bytes &payload) { return Concat(kLongHeader, payload); }

// A payload whose CRC comes out as the given value, found by varying its last byte.
Bytes PayloadWithCrc(uint8_t wantedCrc)
{
    for (int last = 0; last < 256; ++last) {
        const Bytes payload = {0x00, 0x10, 0x00, 0x00, uint8_t(last)};
        const Bytes body = ReplyBody(payload);
        if (frame::Crc8(body.data(), body.size()) == wantedCrc)
            return payload;
    }
    return {};
}

TEST_F(FrameLinkTest, ReceiveOutcomes)
{
    const Bytes boot = ReplyBody(Concat(Ascii("BOOT"), {0xDA, 0xD5, 0xDF}));
    Bytes corrupted = frame::Encode(boot);
    corrupted[8] ^= 0x01;
    struct Case {
        const char *what;
        Bytes line;
        uint16_t maxBytes;
        R outcome;
        uint16_t length;
        Bytes expectedReply;  // from index 0 (checked when not empty)
    };
    const Case cases[] = {
        {"valid, stuffed payload", frame::Encode(boot), 100, R::Valid, uint16_t(boot.size() + 3),
         Concat(Concat({0xDA}, boot), {frame::Crc8(boot.data(), boot.size()), 0xD5})},
        {"valid, CRC 0xDA", frame::Encode(ReplyBody(PayloadWithCrc(0xDA))), 20, R::Valid, 14, {}},
        {"valid, CRC 0xDF", frame::Encode(ReplyBody(PayloadWithCrc(0xDF))), 20, R::Valid, 14, {}},
        {"valid, CRC 0xD5", frame::Encode(ReplyBody(PayloadWithCrc(0xD5))), 20, R::Valid, 14, {}},
        {"two bytes", {0xDA, 0xD5}, 20, R::Valid, 2, {0xDA, 0xD5, 0, 0, 0, 0, 0, 0, 0, 0}},
        {"one byte", {0xDA}, 20, R::ChecksumError, 1, {0xDA, 0}},
        {"bad CRC", corrupted, 100, R::ChecksumError, uint16_t(boot.size() + 3), {}},
        {"truncated", Bytes(corrupted.begin(), corrupted.begin() + 6), 20, R::ChecksumError, 6, {}},
        {"silence", {}, 20, R::NoReply, 0, {}},
    };
    // A long reply first, so that every case must clear what it left.
    pty.Send(frame::Encode(ReplyBody(Bytes(150, 0x77))));
    link.Receive(200, true);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        if (!c.line.empty())
            pty.Send(c.line);
        EXPECT_EQ(link.Receive(c.maxBytes, true), c.outcome);
        EXPECT_EQ(link.ReplyLength(), c.length);
        if (!c.expectedReply.empty()) {
            EXPECT_EQ(Bytes(link.Reply(), link.Reply() + c.expectedReply.size()), c.expectedReply);
        }
        // Zeros past the reply, whatever the one before left.
        for (size_t i = c.length; i < FrameLink::kReplyReadLimit; ++i)
            ASSERT_EQ(link.Reply()[i], 0) << i;
    }
}

TEST_F(FrameLinkTest, ReplyNeverReadsPastMaxBytes)
{
    const Bytes line = frame::Encode(ReplyBody(Ascii("0123456789ABCDEF")));
    ASSERT_GT(line.size(), 20u);
    pty.Send(line);
    EXPECT_EQ(link.Receive(20, true), R::ChecksumError);
    EXPECT_EQ(Reply(), Bytes(line.begin(), line.begin() + 20));
    EXPECT_EQ(link.Reply()[20], 0);
    // The rest waits in the queue for the next read.
    EXPECT_EQ(link.Receive(20, true), R::ChecksumError);
    EXPECT_EQ(Reply(), Unstuffed(Bytes(line.begin() + 20, line.end())));
}

TEST_F(FrameLinkTest, MonitorReadTakesWhateverComesUnstuffedAndUnchecked)
{
    // The monitor's way: one read until 20 ms of quiet, end byte or not.
    const Bytes reply = frame::Encode(ReplyBody({0x83, 0xDA, 0xD5}));
    const Bytes stray = {0x11, 0xDF, 0xAA, 0x33};
    pty.Send(Concat(reply, stray));
    const Bytes unstuffed = Unstuffed(Concat(reply, stray));
    EXPECT_EQ(link.ReceiveRaw(100), unstuffed.size());
    EXPECT_EQ(Reply(), unstuffed);
    EXPECT_EQ(link.ReceiveRaw(20), 0);
    EXPECT_EQ(link.ReplyLength(), 0);
    EXPECT_EQ(link.Reply()[0], 0);
}

}  // namespace
