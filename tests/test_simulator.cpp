// The simulated reader itself, through the real serial port: framing of its
// answers, the settings blocks, its faults, its pacing, the line going away
// and coming back, and the talvor-sim program around it.
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

#include "core/line/serial_device.h"
#include "core/line/serial_port.h"
#include "core/protocol/frame.h"
#include "core/session/frame_link.h"
#include "sim/device_info.h"
#include "wait_until.h"
#include "sim/simulated_reader.h"

namespace {

using Clock = std::chrono::steady_clock;
using sim::Bytes;

long long msSince(Clock::time_point t)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

// The monitor's status request as it travels on the line.
const Bytes kStatusRequest = {0xDA, 0x11, 0x3D, 0x01, 0x00, 0x00, 0x00, 0x00, 0xAC, 0xD5};

Bytes Request(uint8_t command, const Bytes &payload)
{
    Bytes body = {0x11, command, 0x01, 0x00, 0x00, 0x00};
    body.insert(body.end(), payload.begin(), payload.end());
    return frame::Encode(body);
}

Bytes ExpectedInfoReply(const sim::ReaderState &state)
{
    Bytes body = {0x11, 0x3D, 0x01, 0x00, 0x00, 0x00};
    const Bytes payload = sim::DeviceInfo::Payload(state);
    body.insert(body.end(), payload.begin(), payload.end());
    return frame::Encode(body);
}

// The unstuffed reply with its start and end bytes, indexed as the tool reads it.
Bytes Unstuffed(const Bytes &wire)
{
    Bytes out(wire.size());
    out.resize(frame::Unescape(wire.data(), wire.size(), out.data()));
    return out;
}

bool LinkExists(const std::string &path)
{
    struct stat info{};
    return ::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
}

// Answers command 0x41 with its payload and records short-header payloads of 0x05.
class EchoResponder : public sim::Responder {
public:
    Bytes lastPayload;
    bool HandlesFrame(uint8_t command, const Bytes &) const override { return command == 0x41 || command == 0x05; }
    std::optional<Bytes> OnFrame(sim::ReaderState &, uint8_t command, const Bytes &payload) override
    {
        lastPayload = payload;
        if (command == 0x05)
            return std::nullopt;  // silent on purpose
        return payload;
    }
    bool HandlesBlock(const sim::SettingsBlock &block) const override { return block[0] == 0x55; }
    std::optional<Bytes> OnBlock(sim::ReaderState &, const sim::SettingsBlock &block) override
    {
        Bytes reply(block.begin(), block.end());
        reply[1] = 0x77;
        return reply;
    }
};

class SimulatorTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        options.folder = dir.path().toStdString();
        options.linkName = "sim-test";
        reader = std::make_unique<sim::SimulatedReader>(options);
        reader->AddResponder(std::make_shared<sim::DeviceInfo>());
        reader->AddResponder(echo);
        ASSERT_TRUE(reader->Start()) << reader->ErrorText();
        ASSERT_TRUE(port.Open(reader->LinkPath())) << port.Device().errorText();
        // Silent reads of 100 bytes last 200 ms instead of a second.
        platform::SetTimeoutScaleForTests(0.2);
    }
    void TearDown() override
    {
        platform::SetTimeoutScaleForTests(1.0);
        port.Close();
        reader.reset();
    }

public:
    Bytes Exchange(const Bytes &request, uint16_t maxBytes = 100)
    {
        EXPECT_EQ(port.Write(request.data(), uint16_t(request.size())), request.size());
        return ReadReply(maxBytes);
    }
    Bytes ReadReply(uint16_t maxBytes = 100)
    {
        Bytes reply(maxBytes);
        reply.resize(port.Read(reply.data(), maxBytes));
        return reply;
    }

protected:
    QTemporaryDir dir;
    sim::Options options;
    std::shared_ptr<EchoResponder> echo = std::make_shared<EchoResponder>();
    std::unique_ptr<sim::SimulatedReader> reader;
    SerialPort port;
};

TEST_F(SimulatorTest, DeviceInformationAnswerCarriesTheStateAtTheToolsPositions)
{
    struct Case { const char *name; uint8_t loader, major, minor; uint16_t serial; bool stuffed; };
    for (const Case c : {Case{"defaults", 0x83, 6, 4, 12345, false}, Case{"old", 0x81, 0, 0, 0, false},
                         Case{"stuffed serial", 0x9C, 10, 11, 0xDAD5, true},
                         Case{"stuffed versions", 0xDF, 0xDA, 0xD5, 1, true}}) {
        sim::ReaderState state;
        state.loaderVersion = c.loader;
        state.firmwareMajor = c.major;
        state.firmwareMinor = c.minor;
        state.serialNumber = c.serial;
        reader->SetState(state);
        const Bytes wire = Exchange(kStatusRequest);
        EXPECT_EQ(wire, ExpectedInfoReply(state)) << c.name;
        ASSERT_GE(wire.size(), 15u) << c.name;
        EXPECT_EQ(wire.size() > 15, c.stuffed) << c.name;
        EXPECT_EQ(wire.front(), 0xDA);
        EXPECT_EQ(wire.back(), 0xD5);

        const Bytes reply = Unstuffed(wire);
        ASSERT_EQ(reply.size(), 15u) << c.name;
        EXPECT_EQ(frame::Crc8(reply.data() + 1, reply.size() - 2), 0) << c.name;
        EXPECT_EQ(Bytes(reply.begin() + 1, reply.begin() + 7), Bytes({0x11, 0x3D, 0x01, 0x00, 0x00, 0x00}));
        EXPECT_EQ(reply[7], 0x00);
        EXPECT_EQ(reply[8], c.major) << c.name;
        EXPECT_EQ(reply[9], c.minor) << c.name;
        EXPECT_EQ(reply[10], c.loader) << c.name;
        EXPECT_EQ(reply[11] | reply[12] << 8, c.serial) << c.name;
    }
    EXPECT_EQ(reader->FramesReceived(0x3D), 4u);
    EXPECT_EQ(reader->Snapshot().repliesSent, 4u);
}

TEST_F(SimulatorTest, OnlyWholeFramesWithTheRightCheckByteAreOffered)
{
    Bytes bad = kStatusRequest;
    bad[8] ^= 0x01;
    EXPECT_TRUE(Exchange(bad).empty());

    // Stray bytes and an abandoned start before a good frame are dropped.
    Bytes noisy = {0x01, 0x02, 0xDA, 0x11, 0x3D};
    noisy.insert(noisy.end(), kStatusRequest.begin(), kStatusRequest.end());
    EXPECT_EQ(Exchange(noisy), ExpectedInfoReply(reader->State()));

    // A command nobody handles is counted and left unanswered.
    EXPECT_TRUE(Exchange(Request(0x40, {1, 2})).empty());

    // Settings-block bytes inside a frame belong to the frame; stuffed bytes come back as sent.
    const Bytes payload = {0x55, 0xAA, 0xDA, 0xD5, 0xDF, 0x00};
    const Bytes echoed = Exchange(Request(0x41, payload));
    EXPECT_EQ(echo->lastPayload, payload);
    const Bytes reply = Unstuffed(echoed);
    ASSERT_EQ(reply.size(), 6 + payload.size() + 3);
    EXPECT_EQ(Bytes(reply.begin() + 7, reply.end() - 2), payload);

    // Commands below 31 carry the short header: payload after three bytes.
    Bytes shortBody = {0x11, 0x05, 0x00, 0x21, 0x22};
    EXPECT_TRUE(Exchange(frame::Encode(shortBody)).empty());
    EXPECT_EQ(echo->lastPayload, Bytes({0x21, 0x22}));

    const sim::Counters c = reader->Snapshot();
    EXPECT_EQ(c.badFrames, 1u);
    EXPECT_EQ(c.droppedBytes, 5u);
    EXPECT_EQ(c.framesByCommand[0x3D], 1u);
    EXPECT_EQ(c.framesByCommand[0x40], 1u);
    EXPECT_EQ(c.framesByCommand[0x41], 1u);
    EXPECT_EQ(c.framesByCommand[0x05], 1u);
    EXPECT_EQ(c.frames, 4u);
    EXPECT_EQ(c.repliesSent, 2u);
}

TEST_F(SimulatorTest, BareSettingsBlocksGoToTheBlockResponders)
{
    Bytes read = {0x55, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x63, 0x56};
    Bytes expected = read;
    expected[1] = 0x77;
    EXPECT_EQ(Exchange(read, 12), expected);
    // A block nobody handles stays unanswered; a frame right after it is read as a frame.
    Bytes write = {0xAA, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0x57, 0x59};
    EXPECT_TRUE(Exchange(write, 12).empty());
    EXPECT_EQ(Exchange(kStatusRequest), ExpectedInfoReply(reader->State()));
    EXPECT_EQ(reader->BlocksReceived(), 2u);
    EXPECT_EQ(reader->Requests(), 3u);

    // Half a block is dropped after the reader's receive time-out, not glued to the next request.
    Bytes half(read.begin(), read.begin() + 6);
    EXPECT_TRUE(Exchange(half, 12).empty());
    ASSERT_TRUE(WaitUntil([&] { return reader->Snapshot().droppedBytes == 6; }, 2000));
    EXPECT_EQ(Exchange(read, 12), expected);
}

struct FaultCase {
    const char *name;
    std::function<void(sim::Faults &)> set;
    std::function<void(const Bytes &first, const Bytes &good, SimulatorTest &)> check;
};

void PrintTo(const FaultCase &c, std::ostream *os) { *os << c.name; }

class SimulatorFaults : public SimulatorTest, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(SimulatorFaults, SpoilsTheNextReplyOnlyThenAnswersNormally)
{
    const FaultCase c = GetParam();
    const Bytes good = ExpectedInfoReply(reader->State());
    sim::Faults faults;
    c.set(faults);
    reader->SetFaults(faults);
    const Bytes first = Exchange(kStatusRequest);
    c.check(first, good, *this);
    // Used up: the next exchanges are clean.
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(Exchange(kStatusRequest), good) << "exchange " << i;
    EXPECT_EQ(reader->GetFaults().silence + reader->GetFaults().garbage + reader->GetFaults().garbageOnly +
                  reader->GetFaults().badCheck + reader->GetFaults().gap,
              0);
}

INSTANTIATE_TEST_SUITE_P(
    Table, SimulatorFaults,
    ::testing::Values(
        FaultCase{"silence", [](sim::Faults &f) { f.silence = 1; },
                  [](const Bytes &first, const Bytes &, SimulatorTest &) { EXPECT_TRUE(first.empty()); }},
        FaultCase{"bad_check", [](sim::Faults &f) { f.badCheck = 1; },
                  [](const Bytes &first, const Bytes &good, SimulatorTest &) {
                      const Bytes reply = Unstuffed(first);
                      const Bytes expected = Unstuffed(good);
                      ASSERT_EQ(reply.size(), expected.size());
                      EXPECT_EQ(first.front(), 0xDA);
                      EXPECT_EQ(first.back(), 0xD5);
                      EXPECT_NE(frame::Crc8(reply.data() + 1, reply.size() - 2), 0);
                      // Only the check byte differs.
                      EXPECT_EQ(Bytes(reply.begin(), reply.end() - 2), Bytes(expected.begin(), expected.end() - 2));
                      EXPECT_NE(reply[reply.size() - 2], expected[expected.size() - 2]);
                  }},
        FaultCase{"garbage_before",
                  [](sim::Faults &f) {
                      f.garbage = 1;
                      f.garbageLength = 24;
                  },
                  [](const Bytes &first, const Bytes &good, SimulatorTest &) {
                      ASSERT_EQ(first.size(), 24 + good.size());
                      EXPECT_EQ(Bytes(first.end() - long(good.size()), first.end()), good);
                  }},
        FaultCase{"garbage_instead",
                  [](sim::Faults &f) {
                      f.garbageOnly = 1;
                      f.garbageLength = 40;
                  },
                  [](const Bytes &first, const Bytes &good, SimulatorTest &) {
                      EXPECT_EQ(first.size(), 40u);
                      EXPECT_NE(first, good);
                  }},
        FaultCase{"gap",
                  [](sim::Faults &f) {
                      f.gap = 1;
                      f.gapAfterByte = 5;
                      f.gapMs = 60;
                  },
                  [](const Bytes &first, const Bytes &good, SimulatorTest &t) {
                      // The read ends at the gap (more than 20 ms quiet); the rest follows.
                      platform::SetTimeoutScaleForTests(1.0);
                      const Bytes rest = t.ReadReply();
                      platform::SetTimeoutScaleForTests(0.2);
                      EXPECT_EQ(first, Bytes(good.begin(), good.begin() + 5));
                      EXPECT_EQ(rest, Bytes(good.begin() + 5, good.end()));
                  }}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(SimulatorTest, FaultsForeverStayUntilCleared)
{
    sim::Faults faults;
    faults.silence = sim::kAlways;
    reader->SetFaults(faults);
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(Exchange(kStatusRequest).empty()) << i;
    EXPECT_EQ(reader->FramesReceived(0x3D), 3u);
    reader->ClearFaults();
    EXPECT_EQ(Exchange(kStatusRequest), ExpectedInfoReply(reader->State()));
}

TEST_F(SimulatorTest, PacedReplyTakesTheLineTimeOfBothDirectionsInPiecesAsAskedFor)
{
    reader->SetBaud(19200);
    const Bytes good = ExpectedInfoReply(reader->State());
    const double byteMs = 10.0 * 1000.0 / 19200.0;
    struct Case { const char *name; sim::Delivery delivery; size_t mostPieces; };
    // The reply's line time (about 8 ms) fits between two ticks at most once.
    for (const Case c : {Case{"whole reply", sim::Delivery::WholeReply, 1},
                         Case{"byte by byte", sim::Delivery::ByteByByte, good.size()},
                         Case{"ticks", sim::Delivery::Ticks, 2}}) {
        SCOPED_TRACE(c.name);
        reader->SetDelivery(c.delivery, 16);
        // A piece is stamped only once this thread wakes; a wake-up held up by
        // the machine merges pieces and shortens a round's span, but not every round's.
        double longestSpan = 0;
        size_t mostPiecesSeen = 0;
        for (int round = 0; round < 3; ++round) {
            const auto sent = Clock::now();
            ASSERT_EQ(port.Write(kStatusRequest.data(), uint16_t(kStatusRequest.size())), kStatusRequest.size());
            Bytes reply;
            std::vector<Clock::time_point> pieces;
            while (reply.size() < good.size() && msSince(sent) < 1000) {
                pollfd p{port.Device().descriptor(), POLLIN, 0};
                uint8_t piece[64];
                const ssize_t n = ::poll(&p, 1, 100) == 1 ? ::read(port.Device().descriptor(), piece, sizeof piece) : 0;
                if (n > 0) {
                    pieces.push_back(Clock::now());
                    reply.insert(reply.end(), piece, piece + n);
                }
            }
            ASSERT_EQ(reply, good);
            const double total = std::chrono::duration<double, std::milli>(pieces.back() - sent).count();
            longestSpan = std::max(longestSpan,
                                   std::chrono::duration<double, std::milli>(pieces.back() - pieces.front()).count());
            mostPiecesSeen = std::max(mostPiecesSeen, pieces.size());
            // Request and reply each at about 0.52 ms per byte; a generous upper bound.
            EXPECT_GE(total, (kStatusRequest.size() + good.size() - 1) * byteMs) << "round " << round;
            EXPECT_LE(total, 500.0);
        }
        EXPECT_LE(mostPiecesSeen, c.mostPieces);
        if (c.delivery == sim::Delivery::ByteByByte) {
            EXPECT_GE(longestSpan, (good.size() - 2) * byteMs);
        }
    }
}

TEST_F(SimulatorTest, QuietGapStillEndsAReplyPacedByteByByte)
{
    reader->SetBaud(19200);
    reader->SetDelivery(sim::Delivery::ByteByByte);
    platform::SetTimeoutScaleForTests(1.0);
    FrameLink link(port);
    const Bytes good = ExpectedInfoReply(reader->State());
    ASSERT_EQ(good.size(), 15u) << "unstuffed, so that line bytes are reply bytes";
    // The frame layer expects 14 bytes and sleeps while they cross; a reply
    // that stops after 6 must still end its read 20 ms after its last byte.
    struct Case { const char *name; int gapMs; size_t firstRead; };
    for (const Case c : {Case{"whole", 0, good.size()}, Case{"stops after 6", 60, 6}}) {
        SCOPED_TRACE(c.name);
        sim::Faults faults;
        faults.gap = c.gapMs > 0 ? 1 : sim::kOff;
        faults.gapAfterByte = c.firstRead;
        faults.gapMs = c.gapMs;
        reader->SetFaults(faults);
        ASSERT_EQ(port.Write(kStatusRequest.data(), uint16_t(kStatusRequest.size())), kStatusRequest.size());
        const auto outcome = link.Receive(20, true);
        EXPECT_EQ(Bytes(link.Reply(), link.Reply() + link.ReplyLength()),
                  Bytes(good.begin(), good.begin() + long(c.firstRead)));
        if (c.firstRead == good.size()) {
            EXPECT_EQ(outcome, FrameLink::ReplyOutcome::Valid);
            continue;
        }
        EXPECT_EQ(outcome, FrameLink::ReplyOutcome::ChecksumError);
        // The rest is the next read's.
        link.Receive(20, true);
        EXPECT_EQ(Bytes(link.Reply(), link.Reply() + link.ReplyLength()),
                  Bytes(good.begin() + long(c.firstRead), good.end()));
    }
}

TEST_F(SimulatorTest, DroppedLineDisappearsAndComesBackUnderTheSameName)
{
    const std::string link = reader->LinkPath();
    const std::string oldSlave = reader->SlavePath();
    reader->DropLine();
    EXPECT_FALSE(reader->LineUp());
    EXPECT_FALSE(LinkExists(link));
    EXPECT_TRUE(reader->SlavePath().empty());
    EXPECT_TRUE(ReadReply().empty());
    EXPECT_FALSE(port.Device().isOpen());

    ASSERT_TRUE(reader->RestoreLine()) << reader->ErrorText();
    EXPECT_TRUE(LinkExists(link));
    EXPECT_FALSE(reader->SlavePath().empty());
    // The port takes up the new line by itself on its next read, which purges;
    // the exchange after that is answered.
    EXPECT_TRUE(ReadReply(10).empty());
    EXPECT_TRUE(port.Device().isOpen());
    EXPECT_EQ(Exchange(kStatusRequest), ExpectedInfoReply(reader->State()));

    // Away for a while, back on its own.
    const auto dropped = Clock::now();
    reader->DropLine(200);
    EXPECT_FALSE(LinkExists(link));
    ASSERT_TRUE(WaitUntil([&] { return LinkExists(link); }, 3000));
    EXPECT_GE(msSince(dropped), 150);
    EXPECT_TRUE(reader->LineUp());
    EXPECT_EQ(reader->Snapshot().lineDrops, 2u);
}

TEST_F(SimulatorTest, VanishFaultTakesTheLineInsteadOfAnswering)
{
    sim::Faults faults;
    faults.vanish = 1;
    faults.comeBackAfterMs = 300;
    reader->SetFaults(faults);
    const std::string link = reader->LinkPath();
    EXPECT_TRUE(Exchange(kStatusRequest).empty());
    EXPECT_EQ(reader->Snapshot().lineDrops, 1u);
    ASSERT_TRUE(WaitUntil([&] { return LinkExists(link) && reader->LineUp(); }, 3000));
    const auto start = Clock::now();
    Bytes reply;
    while (reply.empty() && msSince(start) < 3000) {
        port.Write(kStatusRequest.data(), uint16_t(kStatusRequest.size()));
        reply = ReadReply();
    }
    EXPECT_EQ(reply, ExpectedInfoReply(reader->State()));
}

TEST_F(SimulatorTest, WaitForRequestsHonoursItsDeadline)
{
    const auto start = Clock::now();
    EXPECT_FALSE(reader->WaitForRequests(1, 100));
    EXPECT_GE(msSince(start), 90);
    std::thread tool([&] { port.Write(kStatusRequest.data(), uint16_t(kStatusRequest.size())); });
    EXPECT_TRUE(reader->WaitForRequests(1, 3000));
    tool.join();
}

class SimulatorLinkTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }
    sim::Options Options(const std::string &name)
    {
        sim::Options o;
        o.folder = dir.path().toStdString();
        o.linkName = name;
        return o;
    }
    QTemporaryDir dir;
};

TEST_F(SimulatorLinkTest, RefusesWhatItCannotPublish)
{
    {
        sim::SimulatedReader reader(Options("sixteen-chars-xx"));
        EXPECT_FALSE(reader.Start());
        EXPECT_NE(reader.ErrorText().find("15"), std::string::npos) << reader.ErrorText();
    }
    {
        std::ofstream(dir.filePath("plain").toStdString()) << "x";
        sim::SimulatedReader reader(Options("plain"));
        EXPECT_FALSE(reader.Start());
        EXPECT_FALSE(reader.ErrorText().empty());
    }
    {
        auto o = Options("x");
        o.folder = dir.filePath("plain").toStdString();
        sim::SimulatedReader reader(o);
        EXPECT_FALSE(reader.Start());
        EXPECT_FALSE(reader.ErrorText().empty());
    }
}

TEST_F(SimulatorLinkTest, CreatesTheFolderReplacesAStaleLinkAndRemovesItsOwnOnly)
{
    auto o = Options("s1");
    o.folder = dir.filePath("ports").toStdString();
    const std::string link = o.folder + "/s1";
    sim::SimulatedReader first(o);
    ASSERT_TRUE(first.Start()) << first.ErrorText();
    struct stat info{};
    ASSERT_EQ(::stat(o.folder.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 01777u);
    EXPECT_TRUE(LinkExists(link));
    char target[256] = {};
    ASSERT_GT(::readlink(link.c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(std::string(target), first.SlavePath());

    // A second simulator under the same name takes the link over; the first
    // one's stop leaves it alone.
    sim::SimulatedReader second(o);
    ASSERT_TRUE(second.Start()) << second.ErrorText();
    first.Stop();
    ASSERT_TRUE(LinkExists(link));
    std::fill(std::begin(target), std::end(target), 0);
    ASSERT_GT(::readlink(link.c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(std::string(target), second.SlavePath());
    second.Stop();
    EXPECT_FALSE(LinkExists(link));
}

TEST(SimulatorOptions, VersionsAndNumbersParse)
{
    struct Loader { const char *text; bool ok; uint8_t value; };
    for (const Loader c : {Loader{"8.3", true, 0x83}, Loader{"9.12", true, 0x9C}, Loader{"0.0", true, 0x00},
                           Loader{"15.15", true, 0xFF}, Loader{"0x81", true, 0x81}, Loader{"16.0", false, 0},
                           Loader{"8", false, 0}, Loader{"8.3.1", false, 0}, Loader{"-8.3", false, 0},
                           Loader{"", false, 0}, Loader{"0x100", false, 0}}) {
        uint8_t value = 0xEE;
        EXPECT_EQ(sim::ParseLoaderVersion(c.text, value), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(value, c.value) << c.text;
        }
    }
    struct Firmware { const char *text; bool ok; uint8_t major, minor; };
    for (const Firmware c : {Firmware{"6.4", true, 6, 4}, Firmware{"0.0", true, 0, 0},
                             Firmware{"255.255", true, 255, 255}, Firmware{"256.1", false, 0, 0},
                             Firmware{"6,4", false, 0, 0}, Firmware{"6.", false, 0, 0}}) {
        uint8_t major = 0xEE, minor = 0xEE;
        EXPECT_EQ(sim::ParseFirmwareVersion(c.text, major, minor), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(major, c.major) << c.text;
            EXPECT_EQ(minor, c.minor) << c.text;
        }
    }
    long n = 0;
    EXPECT_TRUE(sim::ParseNumber("65535", 0, 65535, n));
    EXPECT_EQ(n, 65535);
    EXPECT_FALSE(sim::ParseNumber("65536", 0, 65535, n));
    EXPECT_FALSE(sim::ParseNumber("12a", 0, 65535, n));
}

class SimulatorProgram : public SimulatorLinkTest {
protected:
    QString Program() const { return QStringLiteral(TALVOR_SIM_PROGRAM); }
};

TEST_F(SimulatorProgram, HelpListsEveryOption)
{
    QProcess p;
    p.start(Program(), {"--help"});
    ASSERT_TRUE(p.waitForFinished(5000));
    EXPECT_EQ(p.exitCode(), 0);
    const QString help = QString::fromUtf8(p.readAllStandardOutput());
    for (const char *option : {"--folder", "--link", "--baud", "--byte-by-byte", "--burst-ms", "--verbose",
                               "--loader", "--firmware", "--serial", "--silent", "--garbage", "--garbage-only",
                               "--bad-check", "--gap", "--gap-ms", "--vanish", "--come-back", "--reader-line-only", "--help", "--version"})
        EXPECT_TRUE(help.contains(QString::fromLatin1(option))) << option;

    QProcess version;
    version.start(Program(), {"--version"});
    ASSERT_TRUE(version.waitForFinished(5000));
    EXPECT_EQ(version.exitCode(), 0);
    EXPECT_EQ(version.readAllStandardOutput(), QByteArray("talvor-sim " TALVOR_VERSION "\n"));

    QProcess bad;
    bad.start(Program(), {"--loader", "8.30"});
    ASSERT_TRUE(bad.waitForFinished(5000));
    EXPECT_EQ(bad.exitCode(), 2);
    EXPECT_FALSE(bad.readAllStandardError().isEmpty());
}

TEST_F(SimulatorProgram, PrintsThePortNameWhenReadyAndCleansUpOnTerminate)
{
    QProcess p;
    p.start(Program(), {"--folder", dir.path(), "--link", "prog-sim", "--firmware", "7.2", "--serial", "4660"});
    ASSERT_TRUE(p.waitForStarted(5000));
    // The first line is the readiness handshake.
    const auto start = Clock::now();
    while (!p.canReadLine() && msSince(start) < 5000)
        p.waitForReadyRead(100);
    ASSERT_TRUE(p.canReadLine()) << p.readAllStandardError().toStdString();
    EXPECT_EQ(p.readLine().trimmed(), QByteArray("prog-sim"));
    const std::string link = dir.filePath("prog-sim").toStdString();
    ASSERT_TRUE(LinkExists(link));

    SerialPort port;
    ASSERT_TRUE(port.Open(link)) << port.Device().errorText();
    ASSERT_EQ(port.Write(kStatusRequest.data(), uint16_t(kStatusRequest.size())), kStatusRequest.size());
    Bytes reply(100);
    reply.resize(port.Read(reply.data(), 100));
    sim::ReaderState state;
    state.firmwareMajor = 7;
    state.firmwareMinor = 2;
    state.serialNumber = 4660;
    EXPECT_EQ(reply, ExpectedInfoReply(state));
    port.Close();

    p.terminate();  // SIGTERM
    ASSERT_TRUE(p.waitForFinished(5000));
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p.exitCode(), 0);
    EXPECT_FALSE(LinkExists(link));
}

}  // namespace
