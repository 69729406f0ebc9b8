// Sessions that own their port, without a window: several in one process,
// each with its own reader on its own pseudo-terminal, run jobs between
// polls, exchange settings blocks while a settings window is open, and
// report what happened as values.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <memory>
#include <mutex>
#include <unistd.h>
#include <vector>

#include "core/session/firmware_update.h"
#include "core/session/session.h"
#include "core/session/texts.h"
#include "firmware_images.h"
#include "sim/boot_loader.h"
#include "sim/device_info.h"
#include "sim/settings_store.h"
#include "sim/simulated_reader.h"
#include "wait_until.h"

namespace {

using Kind = SettingsEvent::Kind;

constexpr int kAnswerMs = 5000;

struct SimReader {
    std::unique_ptr<sim::SimulatedReader> line;
    std::shared_ptr<sim::BootLoader> boot = std::make_shared<sim::BootLoader>();
    std::shared_ptr<sim::SettingsStore> settings = std::make_shared<sim::SettingsStore>();

    SimReader(const QString &folder, const std::string &name, uint16_t serial)
    {
        sim::Options options;
        options.folder = folder.toStdString();
        options.linkName = name;
        options.state.serialNumber = serial;
        line = std::make_unique<sim::SimulatedReader>(options);
        line->AddResponder(std::make_shared<sim::DeviceInfo>());
        line->AddResponder(boot);
        line->AddResponder(settings);
    }
};

// What a session reported; a settings event with the blocks the reader had
// received by then.
class Recorder : public SessionObserver {
public:
    struct Seen {
        SettingsEvent event;
        uint64_t reads = 0;
        uint64_t writes = 0;
    };
    explicit Recorder(const sim::SettingsStore *store = nullptr) : store_(store) {}

    void UpdateChanged(const UpdateProgress &progress) override
    {
        std::lock_guard<std::mutex> guard(lock_);
        steps_.push_back(progress);
    }
    void UpdateEnded(const UpdateResult &result) override
    {
        std::lock_guard<std::mutex> guard(lock_);
        ended_.push_back(result.outcome);
    }
    void SettingsChanged(const SettingsEvent &event) override
    {
        const Seen seen{event, store_ ? store_->Reads() : 0, store_ ? store_->Writes() : 0};
        std::lock_guard<std::mutex> guard(lock_);
        settings_.push_back(seen);
    }
    std::vector<UpdateProgress> Steps() const
    {
        std::lock_guard<std::mutex> guard(lock_);
        return steps_;
    }
    std::vector<UpdateOutcome> Ended() const
    {
        std::lock_guard<std::mutex> guard(lock_);
        return ended_;
    }
    std::vector<Seen> Settings(size_t first = 0) const
    {
        std::lock_guard<std::mutex> guard(lock_);
        return first < settings_.size() ? std::vector<Seen>(settings_.begin() + long(first), settings_.end())
                                        : std::vector<Seen>();
    }
    size_t SettingsCount() const
    {
        std::lock_guard<std::mutex> guard(lock_);
        return settings_.size();
    }
    // Waits for an event of kind after the first ones; its index, or -1.
    int WaitFor(Kind kind, size_t first = 0) const
    {
        int found = -1;
        WaitUntil([&] {
            const auto seen = Settings(first);
            for (size_t i = 0; i < seen.size() && found < 0; ++i)
                if (seen[i].event.kind == kind)
                    found = int(first + i);
            return found >= 0;
        });
        return found;
    }

private:
    const sim::SettingsStore *store_;
    mutable std::mutex lock_;
    std::vector<UpdateProgress> steps_;
    std::vector<UpdateOutcome> ended_;
    std::vector<Seen> settings_;
};

class SessionTest : public ::testing::Test {
protected:
    QTemporaryDir portDir;
    QTemporaryDir fileDir;
    std::vector<std::unique_ptr<SimReader>> readers;

    SimReader &AddReader(const std::string &name, uint16_t serial)
    {
        readers.push_back(std::make_unique<SimReader>(portDir.path(), name, serial));
        EXPECT_TRUE(readers.back()->line->Start()) << readers.back()->line->ErrorText();
        return *readers.back();
    }
    Session::Options Options(SessionObserver *observer = nullptr) const
    {
        Session::Options options;
        options.lockPrefix = "test-session-" + std::to_string(::getpid());
        options.observer = observer;
        return options;
    }
    std::unique_ptr<Session> OpenSession(const QString &name, SessionObserver *observer = nullptr)
    {
        Session::OpenResult opened = Session::Open(name, portDir.filePath(name), Options(observer));
        EXPECT_TRUE(opened.session) << opened.failure.systemText << opened.lockFailure.toStdString();
        return std::move(opened.session);
    }
    QString WriteImage(const QByteArray &image)
    {
        const QString path = fileDir.filePath(QStringLiteral("image.rom"));
        EXPECT_TRUE(test_images::Write(path, image));
        return path;
    }
};

TEST_F(SessionTest, TwoSessionsInOneProcessUpdateAtOnceOneFailingWithTheReadersError)
{
    const QByteArray image = test_images::Image(test_images::SectionBytes(1500), "TALVOR two sessions");
    const QString file = WriteImage(image);
    SimReader &good = AddReader("good", 101);
    SimReader &failing = AddReader("failing", 202);
    sim::BootLoaderOptions options;
    options.sectionSize = uint32_t(image.size());
    good.boot->SetOptions(options);
    options.errorAtBlock = 5;
    options.errorCode = 11;
    failing.boot->SetOptions(options);

    Recorder goodLog;
    Recorder failingLog;
    auto goodSession = OpenSession(QStringLiteral("good"), &goodLog);
    auto failingSession = OpenSession(QStringLiteral("failing"), &failingLog);
    ASSERT_TRUE(goodSession && failingSession);
    EXPECT_EQ(goodSession->WaitForReader(kAnswerMs).info->serialNumber, 101);
    EXPECT_EQ(failingSession->WaitForReader(kAnswerMs).info->serialNumber, 202);

    std::future<UpdateResult> goodUpdate = goodSession->Update(file);
    std::future<UpdateResult> failingUpdate = failingSession->Update(file);
    const UpdateResult goodResult = goodUpdate.get();
    const UpdateResult failingResult = failingUpdate.get();

    EXPECT_EQ(goodResult.outcome, UpdateOutcome::Completed);
    EXPECT_TRUE(goodResult.errorLines.isEmpty());
    // Every 66-byte block the boot loader asks for, the last one short.
    EXPECT_EQ(goodResult.blocksSent, (image.size() + 65) / 66);
    EXPECT_EQ(goodResult.blocksTotal, goodResult.blocksSent);
    EXPECT_EQ(good.boot->Received(), test_images::Expected(image, image.size(), 0, image.size()));

    EXPECT_EQ(failingResult.outcome, UpdateOutcome::ReaderError);
    EXPECT_EQ(failingResult.errorLines, QStringList{update_text::ChecksumTransmission()});
    EXPECT_EQ(failingResult.blocksSent, 4);
    // Each observer heard its own session's end before the future was ready.
    EXPECT_EQ(goodLog.Ended(), std::vector<UpdateOutcome>{UpdateOutcome::Completed});
    EXPECT_EQ(failingLog.Ended(), std::vector<UpdateOutcome>{UpdateOutcome::ReaderError});

    // The observer saw the countdown, then each block, then the end, in order.
    const std::vector<UpdateProgress> steps = goodLog.Steps();
    ASSERT_GE(steps.size(), 3u);
    EXPECT_EQ(steps.front().stage, UpdateStage::WaitingForBootLoader);
    EXPECT_EQ(steps.front().attemptsLeft, firmware_update::kConnectAttempts);
    EXPECT_EQ(steps.back().stage, UpdateStage::Completed);
    for (size_t i = 1; i < steps.size(); ++i)
        EXPECT_GE(steps[i].stepsDone, steps[i - 1].stepsDone);

    // The monitor polls again once the job is done.
    const uint64_t polls = goodSession->Reader().polls;
    const ReaderSnapshot after = goodSession->WaitForReader(kAnswerMs, polls);
    EXPECT_EQ(after.state, ReaderSnapshot::State::Ready);
    EXPECT_GT(after.polls, polls);
}

TEST_F(SessionTest, StopOfTheCountdownEndsOnlyTheCountdownInFlight)
{
    platform::SetTimeoutScaleForTests(0.25);
    SimReader &reader = AddReader("countdown", 7);
    auto session = OpenSession(QStringLiteral("countdown"));
    ASSERT_TRUE(session);
    const QByteArray image = test_images::Image(test_images::SectionBytes(500), "stop");
    const QString file = WriteImage(image);
    sim::BootLoaderOptions never;
    never.bootAfterAttempts = sim::BootLoaderOptions::kNever;
    reader.boot->SetOptions(never);

    // A "Stop" before the update began does not end its countdown.
    session->RequestStop(StopScope::Countdown);
    std::future<UpdateResult> stopped = session->Update(file);
    ASSERT_TRUE(WaitUntil([&] { return reader.boot->Record().bootRequests >= 2; }));
    session->RequestStop(StopScope::Countdown);
    UpdateResult result = stopped.get();
    EXPECT_EQ(result.outcome, UpdateOutcome::Stopped);
    EXPECT_FALSE(result.LeftInBootLoader());
    EXPECT_LT(result.bootAttempts, firmware_update::kConnectAttempts);

    // The session goes on: the next update runs whole.
    reader.boot->Reset();
    sim::BootLoaderOptions answering;
    answering.sectionSize = uint32_t(image.size());
    reader.boot->SetOptions(answering);
    platform::SetTimeoutScaleForTests(1.0);
    EXPECT_EQ(session->Update(file).get().outcome, UpdateOutcome::Completed);
}

TEST_F(SessionTest, StopOfEverythingEndsTheTransferAndLaterJobs)
{
    SimReader &reader = AddReader("everything", 8);
    auto session = OpenSession(QStringLiteral("everything"));
    ASSERT_TRUE(session);
    const QByteArray image = test_images::Image(test_images::SectionBytes(3000), "stop");
    sim::BootLoaderOptions options;
    options.sectionSize = uint32_t(image.size());
    reader.boot->SetOptions(options);
    std::future<UpdateResult> update = session->Update(WriteImage(image));
    ASSERT_TRUE(WaitUntil([&] { return reader.boot->Record().dataBlocks >= 2; }));
    session->RequestStop(StopScope::Everything);
    const UpdateResult result = update.get();
    EXPECT_EQ(result.outcome, UpdateOutcome::Interrupted);
    EXPECT_TRUE(result.LeftInBootLoader());
    EXPECT_FALSE(reader.boot->Record().completed);

    // Later jobs end at once, without a word to the reader; the monitor polls on.
    EXPECT_EQ(session->Update(WriteImage(image)).get().outcome, UpdateOutcome::Stopped);
    EXPECT_FALSE(session->ReadSettings().get().answered);
    EXPECT_EQ(reader.boot->Record().bootRequests, 1);
    EXPECT_EQ(reader.settings->Reads(), 0u);
    EXPECT_EQ(session->WaitForReader(kAnswerMs, session->Reader().polls).state, ReaderSnapshot::State::Ready);
}

TEST_F(SessionTest, SettingsWriteIsReadBackAndShowsWhatTheReaderRefused)
{
    SimReader &reader = AddReader("settings", 9);
    sim::SettingsStore::Options storeOptions;
    storeOptions.refusedBits = {0, 0, 0, 0, 0, 0, 0, 0, 0x0F};
    reader.settings->SetOptions(storeOptions);
    auto session = OpenSession(QStringLiteral("settings"));
    ASSERT_TRUE(session);

    const SettingsRecord wanted = {1, 2, 3, 4, 5, 1, 0, 0, 0xFF};
    const SettingsResult written = session->WriteSettings(wanted).get();
    ASSERT_TRUE(written.answered);
    SettingsRecord taken = wanted;
    taken[8] = 0xF0;
    EXPECT_EQ(written.record, taken);
    EXPECT_EQ(reader.settings->Record(), taken);

    const SettingsResult read = session->ReadSettings().get();
    ASSERT_TRUE(read.answered);
    EXPECT_EQ(read.record, taken);

    // Six blocks in all, then the job gives up and says why.
    reader.settings->SetSilent(true);
    const uint64_t reads = reader.settings->Reads();
    const SettingsResult silent = session->ReadSettings().get();
    EXPECT_FALSE(silent.answered);
    EXPECT_EQ(silent.failure, SettingsFailure::NoAnswer);
    EXPECT_EQ(reader.settings->Reads() - reads, 6u);
}

// ---------------------------------------------------------------- the settings window's loop

class SettingsLoopTest : public SessionTest {
protected:
    void SetUp() override
    {
        reader = &AddReader("loop", 11);
        reader->settings->SetRecord(kStored);
        log = std::make_unique<Recorder>(reader->settings.get());
        session = OpenSession(QStringLiteral("loop"), log.get());
        ASSERT_TRUE(session);
        ASSERT_EQ(session->WaitForReader(kAnswerMs).state, ReaderSnapshot::State::Ready);
    }
    // Opens the settings and waits for the first read.
    void Open()
    {
        session->OpenSettings();
        const int read = log->WaitFor(Kind::Read);
        ASSERT_GE(read, 0);
        EXPECT_EQ(log->Settings()[size_t(read)].event.record, kStored);
    }
    // The events from first on, without those of the idle cycles before the
    // first one that is not.
    std::vector<Recorder::Seen> After(size_t first) const
    {
        std::vector<Recorder::Seen> seen = log->Settings(first);
        while (!seen.empty() && seen.front().event.kind == Kind::Answered)
            seen.erase(seen.begin());
        return seen;
    }

    const SettingsRecord kStored = {0, 1, 0, 1, 2, 1, 0, 2, 4};
    SimReader *reader = nullptr;
    std::unique_ptr<Recorder> log;
    std::unique_ptr<Session> session;
};

TEST_F(SettingsLoopTest, OpenSettingsReadsEveryCycleWithoutPollsAndCloseGivesThePortBack)
{
    Open();
    // One read block per cycle, the reader answering, and no status request meanwhile.
    const uint64_t polls = reader->line->FramesReceived(0x3D);
    const size_t shown = log->SettingsCount();
    ASSERT_TRUE(WaitUntil([&] { return log->SettingsCount() >= shown + 3; }));
    for (const Recorder::Seen &seen : log->Settings(shown))
        EXPECT_EQ(seen.event.kind, Kind::Answered);
    EXPECT_EQ(reader->settings->LastRequest()[0], settings_protocol::kReadCommand);
    EXPECT_EQ(reader->line->FramesReceived(0x3D), polls);
    EXPECT_EQ(reader->settings->Writes(), 0u);

    session->CloseSettings();
    const uint64_t blocks = reader->line->BlocksReceived();
    ASSERT_TRUE(WaitUntil([&] { return reader->line->FramesReceived(0x3D) >= polls + 2; }));
    EXPECT_EQ(reader->line->BlocksReceived(), blocks) << "a block after the close returned";
}

TEST_F(SettingsLoopTest, WriteIsFollowedByItsReadBack)
{
    reader->settings->SetRefusedBits({0, 0, 0, 0, 0, 0, 0, 0, 0x06});
    Open();
    const size_t shown = log->SettingsCount();
    const SettingsRecord wanted = {1, 0, 1, 0, 1, 0, 1, 1, 2};
    session->AskSettingsWrite(wanted);
    ASSERT_GE(log->WaitFor(Kind::Read, shown), 0);
    session->CloseSettings();
    const auto seen = After(shown);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].event.kind, Kind::Written);
    EXPECT_EQ(seen[1].event.kind, Kind::Read);
    SettingsRecord taken = wanted;
    taken[8] = 4;  // the refused bits kept the stored ones
    EXPECT_EQ(seen[1].event.record, taken);
    EXPECT_EQ(seen[1].event.written, wanted);
    EXPECT_EQ(reader->settings->Writes(), 1u);
}

TEST_F(SettingsLoopTest, SixUnansweredWritesGiveUpAndReadAgain)
{
    Open();
    reader->settings->SetWriteMode(sim::SettingsStore::WriteMode::IgnoreWrites);
    const size_t shown = log->SettingsCount();
    session->AskSettingsWrite({1, 1, 1, 1, 1, 1, 1, 1, 1});
    ASSERT_GE(log->WaitFor(Kind::Read, shown), 0);
    session->CloseSettings();
    const auto seen = After(shown);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].event.kind, Kind::WriteGivenUp);
    EXPECT_EQ(seen[0].writes, 6u);
    EXPECT_EQ(seen[1].event.kind, Kind::Read);
    EXPECT_EQ(seen[1].event.record, kStored);
    EXPECT_FALSE(seen[1].event.written.has_value());
}

TEST_F(SettingsLoopTest, SilentReaderIsLostOnceAfterFiveFailuresThenTheNoticeStays)
{
    platform::SetTimeoutScaleForTests(0.25);
    Open();
    const size_t shown = log->SettingsCount() - 1;  // from the read on
    reader->settings->SetSilent(true);
    ASSERT_TRUE(WaitUntil([&] {
        const auto seen = log->Settings(shown);
        return seen.size() >= 4 && seen.back().event.kind == Kind::Silent && !seen.back().event.lost;
    }, 10000));
    reader->settings->SetSilent(false);
    ASSERT_GE(log->WaitFor(Kind::Answered, log->SettingsCount()), 0);
    session->CloseSettings();
    platform::SetTimeoutScaleForTests(1.0);

    std::vector<Recorder::Seen> seen = log->Settings(shown);
    while (seen.back().event.kind == Kind::Answered)
        seen.pop_back();
    // The last answered block, then silence only: reported first at the sixth
    // failed block, then at every one.
    while (seen.size() > 1 && seen[1].event.kind != Kind::Silent)
        seen.erase(seen.begin());
    ASSERT_GE(seen.size(), 3u);
    EXPECT_EQ(seen[1].reads - seen[0].reads, 6u);
    for (size_t i = 1; i < seen.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(seen[i].event.kind, Kind::Silent);
        EXPECT_EQ(seen[i].event.failure, SettingsFailure::NoAnswer);
        EXPECT_EQ(seen[i].event.lost, i == 1);
        EXPECT_TRUE(seen[i].event.noticeOn);
        EXPECT_EQ(seen[i].reads - seen[i - 1].reads, i == 1 ? 6u : 1u);
    }
}

TEST_F(SessionTest, APortThatIsNotThereSaysSo)
{
    const Session::OpenResult opened =
        Session::Open(QStringLiteral("nothing"), portDir.filePath(QStringLiteral("nothing")), Options());
    EXPECT_FALSE(opened.session);
    EXPECT_EQ(opened.failure.cause, platform::OpenFailureCause::NoSuchDevice);
}

}  // namespace
