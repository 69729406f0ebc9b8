// Sessions that own their port, without a window: several in one process,
// each with its own reader on its own pseudo-terminal, report what happened
// as values.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <chrono>
#include <memory>
#include <thread>
#include <unistd.h>
#include <mutex>
#include <vector>

#include "core/engine/port_session.h"
#include "core/engine/update_procedure.h"
#include "firmware_images.h"
#include "sim/boot_loader.h"
#include "sim/device_info.h"
#include "sim/settings_store.h"
#include "sim/simulated_reader.h"

namespace {

constexpr int kAnswerMs = 5000;

template <typename Condition>
bool WaitUntil(Condition done)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kAnswerMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

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

class UpdateLog : public SessionObserver {
public:
    void UpdateChanged(const UpdateProgress &progress) override
    {
        std::lock_guard<std::mutex> guard(lock);
        steps.push_back(progress);
    }
    std::vector<UpdateProgress> Steps()
    {
        std::lock_guard<std::mutex> guard(lock);
        return steps;
    }

private:
    std::mutex lock;
    std::vector<UpdateProgress> steps;
};

class PortSessionTest : public ::testing::Test {
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
    std::unique_ptr<PortSession> OpenSession(const QString &name, SessionObserver *observer = nullptr)
    {
        PortSession::Options options;
        options.lockPrefix = "test-session-" + std::to_string(::getpid());
        options.observer = observer;
        PortSession::OpenResult opened = PortSession::Open(name, portDir.filePath(name), options);
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

TEST_F(PortSessionTest, TwoSessionsInOneProcessUpdateAtOnceOneFailingWithTheReadersError)
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

    UpdateLog goodLog;
    auto goodSession = OpenSession(QStringLiteral("good"), &goodLog);
    auto failingSession = OpenSession(QStringLiteral("failing"));
    ASSERT_TRUE(goodSession && failingSession);
    EXPECT_EQ(goodSession->WaitForReader(kAnswerMs).info->serialNumber, 101);
    EXPECT_EQ(failingSession->WaitForReader(kAnswerMs).info->serialNumber, 202);

    std::future<UpdateResult> goodUpdate = goodSession->Update(file);
    std::future<UpdateResult> failingUpdate = failingSession->Update(file);
    const UpdateResult goodResult = goodUpdate.get();
    const UpdateResult failingResult = failingUpdate.get();

    EXPECT_EQ(goodResult.outcome, UpdateOutcome::Completed);
    EXPECT_TRUE(goodResult.errorLines.isEmpty());
    EXPECT_FALSE(goodResult.LeftInBootLoader());
    // Every 66-byte block the boot loader asks for, the last one short.
    EXPECT_EQ(goodResult.blocksSent, (image.size() + 65) / 66);
    EXPECT_EQ(good.boot->Received(),
              test_images::Expected(image, image.size(), 0, image.size()));

    EXPECT_EQ(failingResult.outcome, UpdateOutcome::ReaderError);
    EXPECT_EQ(failingResult.errorLines, QStringList{update_text::ChecksumTransmission()});
    EXPECT_TRUE(failingResult.LeftInBootLoader());
    EXPECT_EQ(failingResult.blocksSent, 4);

    // The observer saw the countdown, then each block, then the end, in order.
    const std::vector<UpdateProgress> steps = goodLog.Steps();
    ASSERT_GE(steps.size(), 3u);
    EXPECT_EQ(steps.front().stage, UpdateStage::WaitingForBootLoader);
    EXPECT_EQ(steps.front().attemptsLeft, TProt::kConnectAttempts);
    EXPECT_EQ(steps.back().stage, UpdateStage::Completed);
    EXPECT_EQ(steps.back().blocksDone, steps.back().blocksTotal);
    for (size_t i = 1; i < steps.size(); ++i)
        EXPECT_GE(steps[i].blocksDone, steps[i - 1].blocksDone);

    // The monitor polls again once the job is done.
    const uint64_t polls = goodSession->Reader().polls;
    EXPECT_TRUE(goodSession->WaitForReader(kAnswerMs).state == ReaderSnapshot::State::Ready);
    EXPECT_GE(goodSession->WaitForReader(kAnswerMs).polls, polls);
}

TEST_F(PortSessionTest, OutcomesThatSendNoProgram)
{
    SimReader &reader = AddReader("outcomes", 7);
    auto session = OpenSession(QStringLiteral("outcomes"));
    ASSERT_TRUE(session);

    // An image the rules refuse never reaches the line.
    const QString tooShort = WriteImage(QByteArray(3, 'x'));
    UpdateResult result = session->Update(tooShort).get();
    EXPECT_EQ(result.outcome, UpdateOutcome::ImageRefused);
    EXPECT_FALSE(result.refusalReason.isEmpty());
    result = session->Update(fileDir.filePath(QStringLiteral("missing.rom"))).get();
    EXPECT_EQ(result.outcome, UpdateOutcome::ImageUnreadable);
    EXPECT_EQ(reader.boot->Record().bootRequests, 0);

    // A reader that never enters its boot loader: stopped during the countdown.
    sim::BootLoaderOptions never;
    never.bootAfterAttempts = sim::BootLoaderOptions::kNever;
    reader.boot->SetOptions(never);
    const QString file = WriteImage(test_images::Image(test_images::SectionBytes(500), "stop"));
    std::future<UpdateResult> stopped = session->Update(file);
    ASSERT_TRUE(WaitUntil([&] { return reader.boot->Record().bootRequests >= 2; }));
    session->RequestStop();
    result = stopped.get();
    EXPECT_EQ(result.outcome, UpdateOutcome::Stopped);
    EXPECT_FALSE(result.LeftInBootLoader());
    EXPECT_LT(result.bootAttempts, TProt::kConnectAttempts);
    // A stopped session starts no further update.
    const int requests = reader.boot->Record().bootRequests;
    EXPECT_EQ(session->Update(file).get().outcome, UpdateOutcome::Stopped);
    EXPECT_EQ(reader.boot->Record().bootRequests, requests);
}

TEST_F(PortSessionTest, SettingsWriteIsReadBackAndShowsWhatTheReaderRefused)
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

    reader.settings->SetSilent(true);
    EXPECT_FALSE(session->ReadSettings().get().answered);
}

TEST_F(PortSessionTest, APortThatIsNotThereSaysSo)
{
    PortSession::Options options;
    options.lockPrefix = "test-session-" + std::to_string(::getpid());
    const PortSession::OpenResult opened =
        PortSession::Open(QStringLiteral("nothing"), portDir.filePath(QStringLiteral("nothing")), options);
    EXPECT_FALSE(opened.session);
    EXPECT_EQ(opened.failure.cause, platform::OpenFailureCause::NoSuchDevice);
}

}  // namespace
