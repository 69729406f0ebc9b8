// The firmware update against the simulated reader's boot loader over a real
// pseudo-terminal: what reaches the reader, the progress values on the way,
// and how each update ends.

#include <QCryptographicHash>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <set>
#include <thread>

#include "core/line/serial_port.h"
#include "core/protocol/frame.h"
#include "core/session/firmware_update.h"
#include "core/session/frame_link.h"
#include "core/session/session.h"
#include "core/session/texts.h"
#include "firmware_images.h"
#include "update_rig.h"
#include "pty_pair.h"
#include "sim/boot_loader.h"
#include "sim/device_info.h"
#include "sim/simulated_reader.h"

namespace {

using sim::BootLoaderOptions;
using Stage = UpdateStage;
namespace text = update_text;

constexpr uint8_t kBoot = 0x3E;
using update_rig::ImageFile;
using update_rig::kFastLine;
using update_rig::Reader;

class UpdateTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    Reader reader{"upd-engine"};
    SerialPort port;
    FrameLink link{port};
    UpdateStop stop;
    std::vector<UpdateProgress> steps;
    // Runs after each progress value, where the update looks at stop requests next.
    std::function<void(const UpdateProgress &)> onStep;

    void SetUp() override
    {
        platform::SetTimeoutScaleForTests(kFastLine);
        ASSERT_TRUE(reader.line->Start()) << reader.line->ErrorText();
        ASSERT_TRUE(port.Open(reader.line->LinkPath())) << port.Device().errorText();
    }
    void TearDown() override
    {
        port.Close();
        reader.line->Stop();
        platform::SetTimeoutScaleForTests(1.0);
    }

    BootLoaderOptions For(const ImageFile &image) const
    {
        BootLoaderOptions options;
        options.sectionSize = uint32_t(image.sectionSize);
        return options;
    }
    UpdateResult Run(const QString &path)
    {
        steps.clear();
        const image_copy::ImageCopy image = image_copy::Load(path);
        return firmware_update::Run(link, port, image, stop, [this](const UpdateProgress &progress) {
            steps.push_back(progress);
            if (onStep)
                onStep(progress);
        });
    }
    // An update whose every request the reader answers runs on the real
    // line's time-outs: a shortened line saves time only where the reader is
    // silent, and a busy machine can outlast it.
    UpdateResult RunAnswered(const QString &path)
    {
        platform::SetTimeoutScaleForTests(1.0);
        return Run(path);
    }

    std::vector<Stage> Stages() const
    {
        std::vector<Stage> stages;
        for (const UpdateProgress &p : steps)
            if (stages.empty() || stages.back() != p.stage)
                stages.push_back(p.stage);
        return stages;
    }
    // The countdown as shown: the boot requests left at each attempt.
    std::vector<int> Countdown() const
    {
        std::vector<int> shown;
        for (const UpdateProgress &p : steps)
            if (p.stage == Stage::WaitingForBootLoader && (shown.empty() || shown.back() != p.attemptsLeft))
                shown.push_back(p.attemptsLeft);
        return shown;
    }
    std::vector<int> BlocksDone() const
    {
        std::vector<int> done;
        for (const UpdateProgress &p : steps)
            if (p.stage == Stage::Transfer)
                done.push_back(p.stepsDone);
        return done;
    }
    void ExpectSuccess(const UpdateResult &result)
    {
        EXPECT_TRUE(reader.boot->Record().completed);
        EXPECT_EQ(result.outcome, UpdateOutcome::Completed);
        EXPECT_TRUE(result.errorLines.isEmpty()) << result.errorLines.join('|').toStdString();
        ASSERT_FALSE(steps.empty());
        EXPECT_EQ(steps.back().stage, Stage::Completed);
        EXPECT_FALSE(result.LeftInBootLoader());
    }
};

std::vector<int> Range(int from, int to)
{
    std::vector<int> values;
    for (int n = from; from <= to ? n <= to : n >= to; n += from <= to ? 1 : -1)
        values.push_back(n);
    return values;
}

TEST_F(UpdateTest, CompletesWithEveryBlockAndItsProgress)
{
    const ImageFile image(dir, 726);  // 11 blocks of 66, ten of them counted
    reader.Set(For(image));
    const UpdateResult result = RunAnswered(image.path);

    ExpectSuccess(result);
    const auto record = reader.boot->Record();
    ASSERT_EQ(record.asked.size(), 11u);
    EXPECT_EQ(record.received, record.asked);
    EXPECT_EQ(record.misplacedBlocks, 0);
    EXPECT_EQ(record.closingBlocks, 1);
    EXPECT_EQ(record.badClosingBlocks, 0);
    EXPECT_EQ(reader.boot->Received(), image.Section(726));

    EXPECT_EQ(result.bootAttempts, 1);
    // Eleven data blocks, the bar's ten steps.
    EXPECT_EQ(result.blocksSent, 11);
    EXPECT_EQ(result.blocksTotal, 11);
    EXPECT_EQ(steps.back().stepsTotal, 10);
    EXPECT_EQ(result.imageDescription, "TALVOR 7.1 test");
    EXPECT_EQ(result.imageSha256,
              QString::fromLatin1(QCryptographicHash::hash(image.bytes, QCryptographicHash::Sha256).toHex()));
    // Found at the first attempt; one step per block that asked for another.
    EXPECT_EQ(Stages(), (std::vector<Stage>{Stage::WaitingForBootLoader, Stage::StartingFirmware, Stage::Transfer,
                                            Stage::Completed}));
    EXPECT_EQ(Countdown(), std::vector<int>{100});
    EXPECT_EQ(BlocksDone(), Range(0, 10));
    EXPECT_EQ(steps.back().unansweredAttempts, 0);
}

struct PlanCase {
    const char *name;
    int sectionSize;
    uint8_t blockSize;
    bool reverse;
    int repeatBlock;
    bool resume;
    std::vector<sim::BlockRequest> plan;
};

class UpdatePlanTest : public UpdateTest, public ::testing::WithParamInterface<PlanCase> {};

TEST_P(UpdatePlanTest, SendsTheBytesOfEveryBlockAsked)
{
    const PlanCase c = GetParam();
    const ImageFile image(dir, c.sectionSize);
    BootLoaderOptions options = For(image);
    options.blockSize = c.blockSize;
    options.reverseOrder = c.reverse;
    options.repeatBlock = c.repeatBlock;
    options.resumeAfterEnd = c.resume;
    options.plan = c.plan;
    reader.Set(options);
    const UpdateResult result = RunAnswered(image.path);

    ExpectSuccess(result);
    const auto record = reader.boot->Record();
    EXPECT_EQ(record.received, record.asked);
    EXPECT_EQ(record.misplacedBlocks, 0);
    const auto received = reader.boot->Received();
    size_t highest = 0;
    for (const auto &block : record.received) {
        highest = std::max(highest, size_t(block.offset) + block.count);
        ASSERT_LE(size_t(block.offset) + block.count, received.size());
        EXPECT_EQ(std::vector<uint8_t>(received.begin() + block.offset,
                                       received.begin() + block.offset + block.count),
                  test_images::Expected(image.bytes, image.sectionSize, block.offset, block.count))
            << "block at " << block.offset;
    }
    EXPECT_EQ(received.size(), highest);
    // One progress step per accepted block, held at the bar's end.
    const int accepted = int(record.received.size()) - 1;
    EXPECT_EQ(BlocksDone().back(), std::min(accepted, steps.back().stepsTotal));
    // Each offset taken counts once, and a completed update took them all.
    std::set<uint16_t> offsets;
    for (const auto &block : record.received)
        offsets.insert(block.offset);
    EXPECT_EQ(result.blocksSent, int(offsets.size()));
    EXPECT_EQ(result.blocksTotal, result.blocksSent);
}

INSTANTIATE_TEST_SUITE_P(
    Plans, UpdatePlanTest,
    ::testing::Values(PlanCase{"largest_blocks", 1000, 255, false, 0, false, {}},
                      PlanCase{"last_block_short", 700, 66, false, 0, false, {}},
                      PlanCase{"image_of_686_bytes", 686, 66, false, 0, false, {}},
                      // Past what 16-bit offsets reach: the boot loader asks up to 65535.
                      PlanCase{"larger_than_the_offsets_reach", 70000, 255, false, 0, false, {}},
                      PlanCase{"last_to_first", 660, 66, true, 0, false, {}},
                      PlanCase{"same_block_twice", 396, 66, false, 3, false, {}},
                      PlanCase{"resumed_after_the_end", 264, 66, false, 0, true, {}},
                      // Escape values in the offset bytes, and a block reaching past the file.
                      PlanCase{"odd_offsets", 600, 66, false, 0, false, {{0x00DA, 40}, {0x00D5, 255}, {0x01DF, 90}, {590, 200}}}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(UpdateTest, EndFollowedByABlockRequestResumesAndCountsOneMoreStep)
{
    const ImageFile image(dir, 330);  // 5 blocks, 4 counted
    BootLoaderOptions options = For(image);
    options.resumeAfterEnd = true;
    reader.Set(options);
    ExpectSuccess(RunAnswered(image.path));
    const auto record = reader.boot->Record();
    ASSERT_EQ(record.asked.size(), 6u);
    EXPECT_EQ(record.asked.back(), record.asked.front());
    EXPECT_EQ(record.dataBlocks, 6);
    // Four blocks, then the fifth's end and the resumed request count one
    // step more, held at the bar's end.
    EXPECT_EQ(BlocksDone(), (std::vector<int>{0, 1, 2, 3, 4, 4}));
}

TEST_F(UpdateTest, LineGoingAwayMidTransferEndsWithThePortVanished)
{
    const ImageFile image(dir, 726);
    BootLoaderOptions options = For(image);
    options.unplugAtBlock = 4;
    reader.Set(options);
    const UpdateResult result = Run(image.path);
    EXPECT_EQ(result.outcome, UpdateOutcome::PortVanished);
    EXPECT_EQ(result.errorLines, QStringList{text::PortVanished()});
    EXPECT_TRUE(result.LeftInBootLoader());
    EXPECT_EQ(BlocksDone().back(), 3);
    EXPECT_EQ(result.blocksSent, 3);
    EXPECT_EQ(result.blocksTotal, 11);
    EXPECT_EQ(steps.back().stage, Stage::Failed);
    EXPECT_EQ(reader.line->Snapshot().lineDrops, 1u);
}

TEST_F(UpdateTest, ReaderErrorsEndTheTransferWithTheirLine)
{
    const ImageFile image(dir, 330);
    struct Case {
        uint8_t code;
        int badCheckAt;
        QStringList lines;
        UpdateOutcome outcome;
    };
    const Case cases[] = {
        {1, 0, {text::WrongModel()}, UpdateOutcome::ReaderError},
        {2, 0, {text::DeviceNumber()}, UpdateOutcome::ReaderError},
        {3, 0, {text::ProgramSize()}, UpdateOutcome::ReaderError},
        {10, 0, {text::BlockNumber()}, UpdateOutcome::ReaderError},
        {11, 0, {text::ChecksumTransmission()}, UpdateOutcome::ReaderError},
        {4, 0, {text::NoResponse()}, UpdateOutcome::NoAnswer},
        {0, 2, {text::ChecksumReceiving(), text::NoResponse()}, UpdateOutcome::NoAnswer},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.lines.join('|').toStdString());
        reader.boot->Reset();
        BootLoaderOptions options = For(image);
        options.errorAtBlock = c.code ? 2 : 0;
        options.errorCode = c.code;
        options.badCheckAtBlock = c.badCheckAt;
        reader.Set(options);
        const UpdateResult result = RunAnswered(image.path);
        EXPECT_EQ(result.outcome, c.outcome);
        EXPECT_EQ(result.errorLines, c.lines);
        EXPECT_EQ(steps.back().errorLines, c.lines);
        EXPECT_EQ(result.blocksSent, 1);
        EXPECT_EQ(result.blocksTotal, 5);
        EXPECT_EQ(result.LeftInBootLoader(), c.outcome == UpdateOutcome::ReaderError);
    }
}

TEST_F(UpdateTest, CountdownRunsUntilTheBootLoaderAnswers)
{
    const ImageFile image(dir, 264);
    struct Case {
        const char *name;
        bool answerNotBoot;
    };
    // A silent attempt is told apart from an answer without "BOOT".
    for (const Case c : {Case{"silent attempts", false}, Case{"answers without BOOT", true}}) {
        SCOPED_TRACE(c.name);
        reader.boot->Reset();
        BootLoaderOptions options = For(image);
        options.bootAfterAttempts = 3;
        options.answerNotBoot = c.answerNotBoot;
        reader.Set(options);
        const UpdateResult result = Run(image.path);

        ExpectSuccess(result);
        EXPECT_EQ(Countdown(), Range(100, 97));
        EXPECT_EQ(reader.boot->Record().bootRequests, 4);
        EXPECT_EQ(result.bootAttempts, 4);
        EXPECT_EQ(steps.back().unansweredAttempts, 3);
        EXPECT_EQ(steps.back().silenceHeard, !c.answerNotBoot);
    }
}

TEST_F(UpdateTest, SilentReaderCountsDownFromHundredAndEndsWithoutReport)
{
    // A silent boot entry attempt costs its whole read window; shortened here.
    platform::SetTimeoutScaleForTests(0.02);
    const ImageFile image(dir, 264);
    BootLoaderOptions options = For(image);
    options.bootAfterAttempts = BootLoaderOptions::kNever;
    reader.Set(options);
    const UpdateResult result = Run(image.path);

    EXPECT_EQ(result.outcome, UpdateOutcome::NoBootLoader);
    EXPECT_TRUE(result.errorLines.isEmpty());
    EXPECT_FALSE(result.LeftInBootLoader());
    EXPECT_EQ(Countdown(), Range(100, 1));
    EXPECT_EQ(reader.line->FramesReceived(kBoot), 100u);
    EXPECT_EQ(result.bootAttempts, 100);
    EXPECT_EQ(steps.back().unansweredAttempts, 100);
    EXPECT_FALSE(steps.back().transferBegan);
}

TEST_F(UpdateTest, StopEndsTheCountdownAfterTheAttemptInProgressButNotTheTransfer)
{
    const ImageFile image(dir, 396);
    BootLoaderOptions options = For(image);
    options.bootAfterAttempts = BootLoaderOptions::kNever;
    reader.Set(options);
    // Stop is pressed while the third attempt is under way.
    onStep = [&](const UpdateProgress &p) {
        if (p.attemptsLeft == 98)
            stop.countdown = true;
    };
    UpdateResult result = Run(image.path);
    EXPECT_EQ(result.outcome, UpdateOutcome::Stopped);
    EXPECT_EQ(reader.line->FramesReceived(kBoot), 3u);
    EXPECT_EQ(Countdown(), Range(100, 98));
    EXPECT_TRUE(result.errorLines.isEmpty());
    EXPECT_FALSE(result.LeftInBootLoader());

    // Once the boot loader has answered, a stop has no effect.
    reader.boot->Reset();
    reader.Set(For(image));
    stop.countdown = false;
    onStep = [&](const UpdateProgress &) { stop.countdown = true; };
    ExpectSuccess(RunAnswered(image.path));
}

TEST_F(UpdateTest, StopOfEverythingEndsTheUpdateAtItsNextStep)
{
    const ImageFile image(dir, 726);
    reader.Set(For(image));
    onStep = [&](const UpdateProgress &p) {
        if (p.stepsDone == 3)
            stop.everything = true;
    };
    UpdateResult result = Run(image.path);
    EXPECT_EQ(reader.boot->Record().dataBlocks, 3);
    EXPECT_FALSE(reader.boot->Record().completed);
    EXPECT_EQ(result.outcome, UpdateOutcome::Interrupted);
    EXPECT_TRUE(result.LeftInBootLoader());
    EXPECT_TRUE(result.errorLines.isEmpty());

    // During the countdown too: no further attempt after it.
    reader.boot->Reset();
    BootLoaderOptions silent = For(image);
    silent.bootAfterAttempts = BootLoaderOptions::kNever;
    reader.Set(silent);
    stop.everything = false;
    const uint64_t before = reader.line->FramesReceived(kBoot);
    onStep = [&](const UpdateProgress &) { stop.everything = true; };
    result = Run(image.path);
    EXPECT_EQ(reader.line->FramesReceived(kBoot) - before, 1u);
    EXPECT_EQ(result.outcome, UpdateOutcome::Stopped);
}

TEST_F(UpdateTest, UnansweredFirstQueryEndsWithoutReport)
{
    const ImageFile image(dir, 264);
    BootLoaderOptions options = For(image);
    options.silentNext = true;
    reader.Set(options);
    const UpdateResult result = Run(image.path);
    EXPECT_EQ(reader.boot->Record().nextQueries, 1);
    EXPECT_EQ(reader.boot->Record().dataBlocks, 0);
    EXPECT_TRUE(result.bootLoaderFound);
    EXPECT_EQ(result.outcome, UpdateOutcome::NoAnswer);
    EXPECT_TRUE(result.errorLines.isEmpty());
    EXPECT_FALSE(steps.back().transferBegan);
}

TEST_F(UpdateTest, ClosingAnsweredFirstStillSendsOneBlockFromOffsetZero)
{
    const ImageFile image(dir, 264);
    BootLoaderOptions options = For(image);
    options.sectionSize = 0;  // nothing to ask for: the first query says "closing block"
    reader.Set(options);
    EXPECT_EQ(Run(image.path).outcome, UpdateOutcome::Completed);
    const auto record = reader.boot->Record();
    EXPECT_EQ(record.headers, (std::vector<sim::BlockRequest>{{0, 0}}));
    EXPECT_TRUE(record.completed);
}

// Files that are certainly no image, and files that cannot be read: the
// reader hears nothing of them.
TEST_F(UpdateTest, ImagesThatSendNothing)
{
    struct Case {
        const char *name;
        QByteArray bytes;  // written to the file unless null
        UpdateOutcome outcome;
        QString reason;
    };
    const QString missing = dir.filePath(QStringLiteral("missing.rom"));
    const Case cases[] = {
        {"empty", QByteArray(""), UpdateOutcome::ImageRefused, "The file is too short to be a firmware image (0 bytes)"},
        {"zeros_declaring_a_megabyte", QByteArray(65536, 0) + test_images::Trailer(0, 1 << 20),
         UpdateOutcome::ImageRefused,
         "The program section declared in the file (1,048,576 bytes) is larger than the file (65,544 bytes)"},
        {"no_counted_block", test_images::Image(test_images::SectionBytes(100), "short"), UpdateOutcome::ImageRefused,
         "The program section declared in the file (113 bytes) is smaller than the smallest firmware program (132 "
         "bytes)"},
        {"missing", QByteArray(), UpdateOutcome::ImageUnreadable, missing + ": No such file or directory"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = dir.filePath(QString::fromLatin1(c.name) + QStringLiteral(".rom"));
        if (!c.bytes.isNull()) {
            ASSERT_TRUE(test_images::Write(path, c.bytes));
        }
        const UpdateResult result = Run(path);
        EXPECT_EQ(result.outcome, c.outcome);
        EXPECT_EQ(result.refusalReason, c.reason);
        EXPECT_TRUE(result.errorLines.isEmpty());
        EXPECT_EQ(reader.line->Requests(), 0u);
        ASSERT_EQ(steps.size(), 1u);
        EXPECT_EQ(steps[0].stage, Stage::Failed);
        EXPECT_FALSE(steps[0].imageAccepted);
    }
}

// The file is truncated or overwritten on disk once the transfer runs: the
// reader still gets exactly the bytes that were checked, and the result's
// hash and size, which the journal records, are theirs.
class ReplacingObserver : public SessionObserver {
public:
    std::function<void(const UpdateProgress &)> onStep;
    void UpdateChanged(const UpdateProgress &progress) override { onStep(progress); }
};

TEST_F(UpdateTest, FileChangedDuringTheTransferIsNotSent)
{
    port.Close();  // the session opens the line itself
    platform::SetTimeoutScaleForTests(1.0);
    const ImageFile image(dir, 30 * 66);
    const QString checked =
        QString::fromLatin1(QCryptographicHash::hash(image.bytes, QCryptographicHash::Sha256).toHex());
    const QByteArray other = test_images::Image(QByteArray(image.bytes.size() - 17, '\xA5'), "other 9.9");
    ASSERT_EQ(other.size(), image.bytes.size());
    ReplacingObserver observer;
    Session::Options options;
    options.lockPrefix = "test-update-" + std::to_string(::getpid());
    options.observer = &observer;
    options.monitor = false;
    Session::OpenResult opened = Session::Open("upd-engine", QString::fromStdString(reader.line->LinkPath()), options);
    ASSERT_TRUE(opened.session) << opened.failure.systemText;
    for (const QByteArray &replacement : {QByteArray(), other}) {
        SCOPED_TRACE(replacement.size());
        ASSERT_TRUE(test_images::Write(image.path, image.bytes));
        reader.boot->Reset();
        reader.Set(For(image));
        bool changed = false;
        observer.onStep = [&](const UpdateProgress &p) {
            if (!changed && p.stepsDone == 3)
                changed = test_images::Write(image.path, replacement);
        };
        const UpdateResult result = opened.session->Update(image.path).get();
        EXPECT_TRUE(changed);
        EXPECT_EQ(result.outcome, UpdateOutcome::Completed);
        EXPECT_EQ(reader.boot->Received(), image.Section(size_t(image.bytes.size())));
        EXPECT_EQ(result.imageSha256, checked);
        EXPECT_EQ(result.imageSize, image.bytes.size());
    }
}

// The boot loader's replies are read up to their end byte: bytes that follow
// a reply closely are not taken for part of it.
TEST(BootEntry, ReplyReadEndsAtItsEndByte)
{
    platform::SetTimeoutScaleForTests(kFastLine);
    PtyPair pty;
    SerialPort port;
    ASSERT_TRUE(port.Open(pty.slave)) << port.Device().errorText();
    FrameLink link(port);
    image_copy::ImageCopy image;
    image.failure = image_copy::Failure::None;
    image.bytes = test_images::Image(test_images::SectionBytes(300), "end byte");
    image.size = image.bytes.size();
    UpdateStop stop;
    UpdateResult result;
    std::thread update([&] { result = firmware_update::Run(link, port, image, stop, {}); });

    const Bytes header = {0x11, 0x3E, 0x01, 0x00, 0x00, 0x00};
    const Bytes prog = frame::Encode(Concat(header, {'P', 'R', 'O', 'G'}));
    EXPECT_EQ(pty.Receive(prog.size()), prog);
    pty.Send(frame::Encode(Concat(header, {'B', 'O', 'O', 'T'})));
    // Well inside the 20 ms of quiet that would end a read that waits for it.
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    pty.Send({0x5A, 0x5B});
    // Found at the first attempt: the next request is the next-block query.
    const Bytes next = frame::Encode(Concat(header, {'N', 'E', 'X', 'T'}));
    EXPECT_EQ(pty.Receive(next.size()), next);
    stop.everything = true;  // ends a countdown that goes on after a failure above
    update.join();
    port.Close();
    platform::SetTimeoutScaleForTests(1.0);
    EXPECT_TRUE(result.bootLoaderFound);
    EXPECT_EQ(result.bootAttempts, 1);
}

}  // namespace
