// The frame codec: CRC, byte stuffing, composing and sending requests, and
// reading replies. Wire tests run over a pseudo-terminal pair: the port under
// test opens the slave, the test plays the reader on the master.

#include "core/engine/frame_codec.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include "core/engine/com_port.h"
#include "gui/engine_boxes.h"
#include "gui/message_box.h"
#include "core/line/serial_device.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

Bytes Ascii(const std::string &s) { return Bytes(s.begin(), s.end()); }

Bytes Concat(Bytes a, const Bytes &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
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
    EXPECT_EQ(TProtFrame::Crc8(digits.data(), digits.size()), 0xA1);
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

// ---------------------------------------------------------------- the codec object

class FrameCodecTest : public ::testing::Test {
protected:
    FrameCodecTest() : codec(port) {}

    void SetUp() override
    {
        int slaveFd = -1;
        char name[128] = {};
        ASSERT_EQ(openpty(&master, &slaveFd, name, nullptr, nullptr), 0);
        ASSERT_NE(port.Open(name), NullHandle) << port.Device().errorText();
        close(slaveFd);  // the port holds the slave from here on
        codec.SetPortOpenFlag(&portOpen);
        platform::SetMessageBoxHandler([this](const platform::MessageBoxRequest &r) {
            boxes.push_back(r);
            return int(platform::ResultOk);
        });
        ShowEngineNoticesAsBoxes();
    }

    void TearDown() override
    {
        platform::SetMessageBoxHandler({});
        port.Close();
        if (master >= 0)
            close(master);
    }

    // What reaches the master within limitMs, up to n bytes.
    Bytes Received(size_t n, int limitMs = 1000)
    {
        Bytes out;
        const auto until = Clock::now() + std::chrono::milliseconds(limitMs);
        while (out.size() < n && Clock::now() < until) {
            pollfd p{master, POLLIN, 0};
            if (poll(&p, 1, 10) > 0 && (p.revents & POLLIN)) {
                uint8_t buf[1024];
                const ssize_t r = read(master, buf, std::min(sizeof buf, n - out.size()));
                if (r > 0)
                    out.insert(out.end(), buf, buf + r);
            }
        }
        return out;
    }

    void Send(const Bytes &b) { ASSERT_EQ(write(master, b.data(), b.size()), ssize_t(b.size())); }

    void StartRequest() { codec.TxLength = frame::kLongHeaderLength; }
    void PutAll(const Bytes &b)
    {
        for (uint8_t v : b)
            codec.Put(v);
    }

    int master = -1;
    TComPort1 port;
    TProtFrame codec;
    std::atomic<bool> portOpen{true};
    std::vector<platform::MessageBoxRequest> boxes;
};

TEST_F(FrameCodecTest, PutAppendsAtTxLength)
{
    codec.TxLength = 6;
    codec.Put(0x50);
    codec.Put(0x52);
    EXPECT_EQ(codec.TxLength, 8);
    EXPECT_EQ(codec.TxFrame[6], 0x50);
    EXPECT_EQ(codec.TxFrame[7], 0x52);
}

TEST_F(FrameCodecTest, RequestsOnTheWire)
{
    struct Case {
        const char *what;
        uint8_t command;
        uint16_t txLength;  // set directly after clearing TxFrame
        Bytes payload;      // then appended with Put
        Bytes line;
    };
    const Case cases[] = {
        {"status request", 0x3D, 7, {},
         {0xDA, 0x11, 0x3D, 0x01, 0x00, 0x00, 0x00, 0x00, 0xAC, 0xD5}},
        {"boot entry", 0x3E, 6, Ascii("PROG"),
         {0xDA, 0x11, 0x3E, 0x01, 0x00, 0x00, 0x00, 0x50, 0x52, 0x4F, 0x47, 0x12, 0xD5}},
        {"next-block query", 0x3E, 6, Ascii("NEXT"),
         {0xDA, 0x11, 0x3E, 0x01, 0x00, 0x00, 0x00, 0x4E, 0x45, 0x58, 0x54, 0xF2, 0xD5}},
        {"data block with a stuffed CRC", 0x3E, 6, {0x01, 0x0F, 0x00},
         {0xDA, 0x11, 0x3E, 0x01, 0x00, 0x00, 0x00, 0x01, 0x0F, 0x00, 0xDF, 0x55, 0xD5}},
        {"no payload", 0x3E, 6, {},
         Concat(Concat({0xDA}, {0x11, 0x3E, 0x01, 0x00, 0x00, 0x00}),
                {frame::Crc8(Bytes{0x11, 0x3E, 0x01, 0x00, 0x00, 0x00}.data(), 6), 0xD5})},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        // Leftovers of an earlier request must not leak into the header.
        std::memset(codec.TxFrame, 0x77, sizeof codec.TxFrame);
        TProtFrame::ClearBuffer(codec.TxFrame, 200);
        codec.TxLength = c.txLength;
        PutAll(c.payload);
        ASSERT_TRUE(codec.SendCommand(c.command));
        EXPECT_EQ(codec.TxLength, c.line.size() - 2) << "TxLength holds the escaped length";
        EXPECT_EQ(codec.HeaderWord, 1u);
        EXPECT_EQ(Received(c.line.size() + 1, 300), c.line);
    }
    EXPECT_TRUE(boxes.empty());
}

TEST_F(FrameCodecTest, ShortHeaderBelowCommand31)
{
    struct Case { uint8_t command; Bytes body; };
    // Bytes 3 to 5 belong to the caller under the short header.
    const Case cases[] = {
        {30, {0x11, 0x1E, 0x00, 0x77, 0x77, 0x77}},
        {31, {0x11, 0x1F, 0x01, 0x00, 0x00, 0x00}},
        {0, {0x11, 0x00, 0x00, 0x77, 0x77, 0x77}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(int(c.command));
        std::memset(codec.TxFrame, 0x77, sizeof codec.TxFrame);
        codec.TxLength = 6;
        ASSERT_TRUE(codec.SendCommand(c.command));
        EXPECT_EQ(Received(c.body.size() + 8, 300), frame::Encode(c.body));
    }
}

TEST_F(FrameCodecTest, LargestDataBlockGoesOutWhole)
{
    // 255 image bytes, every one of them needing stuffing.
    Bytes payload = {0x01, 0x34, 0x12};
    payload.insert(payload.end(), 255, 0xDF);
    StartRequest();
    PutAll(payload);
    ASSERT_EQ(codec.TxLength, 264);
    ASSERT_TRUE(codec.SendCommand(0x3E));
    EXPECT_LE(codec.TxLength, TProtFrame::kMaxEscaped);
    const Bytes body = Concat({0x11, 0x3E, 0x01, 0x00, 0x00, 0x00}, payload);
    const Bytes expected = frame::Encode(body);
    ASSERT_EQ(BodyOf(expected).size(), TProtFrame::kMaxBody);
    EXPECT_EQ(codec.TxLength, expected.size() - 2);
    EXPECT_EQ(Received(expected.size() + 1, 2000), expected);
}

TEST_F(FrameCodecTest, OverlongRequestIsRefusedAndTheNextOneGoesOut)
{
    struct Case { const char *what; size_t payloadBytes; uint16_t txLength; };
    const size_t room = TProtFrame::kMaxBody - 6;
    const Case cases[] = {
        {"no room left for the CRC", room, 0},
        {"a Put refused", room + 1, 0},
        {"TxLength set too large", 0, uint16_t(TProtFrame::kMaxBody + 1)},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        StartRequest();
        PutAll(Bytes(c.payloadBytes, 0x42));
        if (c.txLength != 0)
            codec.TxLength = c.txLength;
        EXPECT_FALSE(codec.SendCommand(0x3E));
        EXPECT_TRUE(Received(1, 150).empty()) << "nothing may be written";

        // The refusal does not stick to the following request.
        StartRequest();
        PutAll(Ascii("NEXT"));
        ASSERT_TRUE(codec.SendCommand(0x3E));
        EXPECT_EQ(Received(14, 300), frame::Encode(Concat({0x11, 0x3E, 0x01, 0x00, 0x00, 0x00},
                                                          Ascii("NEXT"))));
    }
    EXPECT_TRUE(boxes.empty());
}

TEST_F(FrameCodecTest, PutPastTheLimitIsRefused)
{
    StartRequest();
    PutAll(Bytes(TProtFrame::kMaxBody - 6 + 3, 0x42));
    EXPECT_EQ(codec.TxLength, TProtFrame::kMaxBody);
    EXPECT_EQ(codec.TxFrame[TProtFrame::kMaxBody - 1], 0x42);
    EXPECT_FALSE(codec.SendCommand(0x3E));
    EXPECT_TRUE(Received(1, 150).empty());
}

TEST_F(FrameCodecTest, ClosedPortSendsNothingAndSaysSo)
{
    struct Case { const char *what; bool nullFlag; bool value; };
    const Case cases[] = {{"flag down", false, false}, {"no flag", true, true}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        boxes.clear();
        portOpen = c.value;
        codec.SetPortOpenFlag(c.nullFlag ? nullptr : &portOpen);
        StartRequest();
        PutAll(Ascii("PROG"));
        EXPECT_FALSE(codec.SendCommand(0x3E));
        EXPECT_TRUE(Received(1, 150).empty());
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].caption, QStringLiteral("Error"));
        EXPECT_EQ(boxes[0].text, QStringLiteral("You have not opened the port!"));
        EXPECT_EQ(boxes[0].buttons, platform::BoxButtons::Ok);
    }
}

TEST_F(FrameCodecTest, UnescapeInPlace)
{
    const Bytes raw = {0xDA, 0x11, 0xDF, 0xAA, 0xDF, 0x55, 0xDF, 0xFF, 0xDF, 0x12, 0xD5};
    std::memcpy(codec.RxBuffer, raw.data(), raw.size());
    const uint16_t n = codec.Unescape(codec.RxBuffer, uint16_t(raw.size()));
    EXPECT_EQ(Bytes(codec.RxBuffer, codec.RxBuffer + n),
              Bytes({0xDA, 0x11, 0xDA, 0xD5, 0xDF, 0xDF, 0xD5}));
    EXPECT_EQ(Bytes(codec.RxScratch, codec.RxScratch + raw.size()), raw);
}

// Bodies as the reader answers: header, payload; Encode adds CRC and delimiters.
Bytes ReplyBody(const Bytes &payload)
{
    return Concat({0x11, 0x3E, 0x01, 0x00, 0x00, 0x00}, payload);
}

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

TEST_F(FrameCodecTest, ReceiveReplyOutcomes)
{
    const Bytes boot = ReplyBody(Concat(Ascii("BOOT"), {0xDA, 0xD5, 0xDF}));
    Bytes corrupted = frame::Encode(boot);
    corrupted[8] ^= 0x01;
    struct Case {
        const char *what;
        Bytes line;
        uint16_t maxBytes;
        TProtFrame::ReplyOutcome outcome;
        uint16_t length;
        Bytes expectedBuffer;  // RxBuffer from index 0 (checked when not empty)
    };
    using R = TProtFrame::ReplyOutcome;
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
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        std::memset(codec.RxBuffer, 0xEE, sizeof codec.RxBuffer);
        if (!c.line.empty())
            Send(c.line);
        EXPECT_EQ(codec.ReceiveReply(c.maxBytes), c.outcome);
        EXPECT_EQ(codec.ReplyLength, c.length);
        if (!c.expectedBuffer.empty()) {
            EXPECT_EQ(Bytes(codec.RxBuffer, codec.RxBuffer + c.expectedBuffer.size()),
                      c.expectedBuffer);
        }
        // The cleared part of the buffer is 0 past the reply.
        EXPECT_EQ(codec.RxBuffer[std::max<size_t>(c.length, 1) + 20], 0);
    }
}

TEST_F(FrameCodecTest, ReplyNeverReadsPastMaxBytes)
{
    const Bytes line = frame::Encode(ReplyBody(Ascii("0123456789ABCDEF")));
    ASSERT_GT(line.size(), 20u);
    Send(line);
    EXPECT_EQ(codec.ReceiveReply(20), TProtFrame::ReplyOutcome::ChecksumError);
    EXPECT_EQ(codec.ReplyLength, 20);
    EXPECT_EQ(codec.RxBuffer[20], 0);
    // The rest waits in the queue for the next read.
    EXPECT_EQ(codec.ReceiveReply(20), TProtFrame::ReplyOutcome::ChecksumError);
    EXPECT_EQ(codec.ReplyLength, line.size() - 20);
    EXPECT_EQ(codec.RxBuffer[0], line[20]);
}

TEST_F(FrameCodecTest, ReplyCutByAGapSpillsIntoTheNextRead)
{
    const Bytes line = frame::Encode(ReplyBody(Ascii("NEXT")));
    const size_t cut = 5;
    Send(Bytes(line.begin(), line.begin() + cut));
    std::thread tail([&] {
        // Far longer than the 20 ms that end a read.
        std::this_thread::sleep_for(std::chrono::milliseconds(120));
        Send(Bytes(line.begin() + cut, line.end()));
    });
    EXPECT_EQ(codec.ReceiveReply(20), TProtFrame::ReplyOutcome::ChecksumError);
    EXPECT_EQ(codec.ReplyLength, cut);
    tail.join();
    EXPECT_EQ(codec.ReceiveReply(20), TProtFrame::ReplyOutcome::ChecksumError);
    EXPECT_EQ(codec.ReplyLength, line.size() - cut);
    EXPECT_EQ(Bytes(codec.RxBuffer, codec.RxBuffer + codec.ReplyLength),
              Bytes(line.begin() + cut, line.end()));
}

TEST_F(FrameCodecTest, RequestThenReplyExchange)
{
    StartRequest();
    PutAll(Ascii("PROG"));
    ASSERT_TRUE(codec.SendCommand(0x3E));
    ASSERT_EQ(Received(13, 300).size(), 13u);
    Send(frame::Encode(ReplyBody(Ascii("BOOT"))));
    ASSERT_EQ(codec.ReceiveReply(100), TProtFrame::ReplyOutcome::Valid);
    EXPECT_EQ(Bytes(codec.RxBuffer + 7, codec.RxBuffer + 11), Ascii("BOOT"));
}

}  // namespace
