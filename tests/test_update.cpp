// The firmware update end to end: the engine against the simulated reader's
// boot loader over a real pseudo-terminal, first with a recording view, then
// through the main window as the user drives it.

#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QSet>
#include <QTimer>
#include <QToolButton>
#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QDir>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <thread>

#include "core/journal/journal.h"
#include "gui/application.h"
#include "gui/main_window.h"
#include "core/engine/update_procedure.h"
#include "firmware_images.h"
#include "core/engine/com_port.h"
#include "gui/beep.h"
#include "core/line/serial_device.h"
#include "gui/system_colours.h"
#include "gui/setup.h"
#include "recorded_boxes.h"
#include "test_app.h"
#include "recording_view.h"
#include "sim/boot_loader.h"
#include "sim/device_info.h"
#include "sim/simulated_reader.h"
#include "ui_main_window.h"
#include "gui/information_window.h"

namespace {

using sim::BootLoaderOptions;
namespace text = update_text;

constexpr uint8_t kBoot = 0x3E;
// Replies come at once from the simulator; a quarter of the real read
// windows keeps the suite quick and still far above its answer time.
constexpr double kFastLine = 0.25;

// A pseudo-terminal reader with the device information and the boot loader.
struct Reader {
    QTemporaryDir folder;
    std::unique_ptr<sim::SimulatedReader> line;
    std::shared_ptr<sim::BootLoader> boot = std::make_shared<sim::BootLoader>();

    explicit Reader(const std::string &name)
    {
        sim::Options options;
        options.folder = folder.path().toStdString();
        options.linkName = name;
        line = std::make_unique<sim::SimulatedReader>(options);
        line->AddResponder(std::make_shared<sim::DeviceInfo>());
        line->AddResponder(boot);
        boot->AttachLine(line.get());
    }
    bool Start()
    {
        const bool ok = line->Start();
        EXPECT_TRUE(ok) << line->ErrorText();
        return ok;
    }
    void Set(BootLoaderOptions options) { boot->SetOptions(std::move(options)); }
};

// An image of sectionSize bytes (body, description and trailer) in dir.
struct ImageFile {
    QString path;
    QByteArray bytes;
    int32_t sectionSize = 0;

    ImageFile(const QTemporaryDir &dir, int sectionSize, const QByteArray &description = "TALVOR 7.1 test")
    {
        const int body = std::max(0, sectionSize - int(description.size()) - 8);
        bytes = test_images::Image(test_images::SectionBytes(body), description);
        this->sectionSize = int32_t(bytes.size());
        path = dir.filePath(QStringLiteral("image-%1.rom").arg(sectionSize));
        EXPECT_TRUE(test_images::Write(path, bytes));
    }
    // What the boot loader should hold after the blocks asked for.
    std::vector<uint8_t> Section(size_t size) const
    {
        return test_images::Expected(bytes, sectionSize, 0, int64_t(size));
    }
};

QStringList Countdown(int from, int to)
{
    QStringList captions;
    for (int n = from; n >= to; --n)
        captions << text::Waiting(n);
    return captions;
}

// ---------------------------------------------------------------------------
// The engine with a recording view.

class UpdateEngineTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    RecordedBoxes boxes;
    Reader reader{"upd-engine"};
    TComPort1 port;
    std::atomic<bool> portOpen{true};
    TProt prot{port};
    RecordingView view;

    void SetUp() override
    {
        platform::SetTimeoutScaleForTests(kFastLine);
        ASSERT_TRUE(reader.Start());
        ASSERT_NE(port.Open(reader.line->LinkPath()), NullHandle);
        prot.SetPortOpenFlag(&portOpen);
        prot.SetView(&view);
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

    void ExpectNoReport()
    {
        EXPECT_TRUE(view.errorLines.isEmpty()) << view.errorLines.join('|').toStdString();
        EXPECT_FALSE(view.errorIcon);
        EXPECT_EQ(view.beeps, 0);
    }
    void ExpectIdleAfterwards()
    {
        EXPECT_EQ(view.caption, text::LoadProgram());
        EXPECT_FALSE(view.stopEnabled);
        EXPECT_FALSE(view.blinking);
        EXPECT_EQ(prot.Updating.load(), false);
        EXPECT_FALSE(prot.ImageLoaded());
        EXPECT_EQ(boxes.Count(), 0u) << boxes.Texts().join('|').toStdString();
    }
    // An update whose every request the reader answers runs on the real
    // line's time-outs: a shortened line saves time only where the reader is
    // silent, and a busy machine can outlast it.
    void RunAnsweredUpdate(const QString &path)
    {
        platform::SetTimeoutScaleForTests(1.0);
        prot.StartUpdate(path);
    }
    void ExpectSuccess()
    {
        EXPECT_TRUE(reader.boot->Record().completed);
        EXPECT_EQ(view.status, text::Completed());
        EXPECT_EQ(view.percentage, "100%");
        EXPECT_EQ(view.lamp, Lamp::Done);
        EXPECT_EQ(view.beeps, 1);
        EXPECT_TRUE(view.errorLines.isEmpty()) << view.errorLines.join('|').toStdString();
        ExpectIdleAfterwards();
    }
};

TEST_F(UpdateEngineTest, CompletesWithEveryBlockAndItsProgress)
{
    const ImageFile image(dir, 726);  // 11 blocks of 66, ten of them counted
    reader.Set(For(image));
    RunAnsweredUpdate(image.path);

    ExpectSuccess();
    const auto record = reader.boot->Record();
    ASSERT_EQ(record.asked.size(), 11u);
    EXPECT_EQ(record.received, record.asked);
    EXPECT_EQ(record.misplacedBlocks, 0);
    EXPECT_EQ(record.closingBlocks, 1);
    EXPECT_EQ(record.badClosingBlocks, 0);
    EXPECT_EQ(reader.boot->Received(), image.Section(726));

    EXPECT_EQ(view.percentages, QStringList({"0%", "10%", "20%", "30%", "40%", "50%", "60%", "70%", "80%",
                                             "90%", "100%", "100%"}));
    // Found at the first attempt: no countdown at all.
    EXPECT_EQ(view.Captions(), QStringList({text::Updating(), text::LoadProgram()}));
    EXPECT_EQ(view.Statuses(), QStringList({text::Connect(), text::StartFirmware(), text::Transfer(), text::Completed()}));
    EXPECT_EQ(view.Count(Lamp::NoReply), 0);
    // The lamp blinks during the transfer and ends green; the beep comes last.
    const int blinkOn = view.log.indexOf("blink:1");
    const int blinkOff = view.log.indexOf("blink:0");
    ASSERT_GE(blinkOn, 0);
    EXPECT_GT(blinkOff, blinkOn);
    const int beep = view.log.indexOf("beep");
    ASSERT_GE(beep, 3);
    EXPECT_EQ(view.log.mid(beep - 3, 4),
              QStringList({"status:" + text::Completed(), "percent:100%",
                           QStringLiteral("lamp:%1").arg(int(Lamp::Done)), "beep"}));
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

class UpdatePlanTest : public UpdateEngineTest, public ::testing::WithParamInterface<PlanCase> {};

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
    RunAnsweredUpdate(image.path);

    ExpectSuccess();
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
    EXPECT_EQ(view.position, std::min<int>(accepted, prot.BlockCount));
}

INSTANTIATE_TEST_SUITE_P(
    Plans, UpdatePlanTest,
    ::testing::Values(PlanCase{"largest_blocks", 1000, 255, false, 0, false, {}},
                      PlanCase{"last_block_short", 700, 66, false, 0, false, {}},
                      PlanCase{"last_to_first", 660, 66, true, 0, false, {}},
                      PlanCase{"same_block_twice", 396, 66, false, 3, false, {}},
                      PlanCase{"resumed_after_the_end", 264, 66, false, 0, true, {}},
                      // Escape values in the offset bytes, and a block reaching past the file.
                      PlanCase{"odd_offsets", 600, 66, false, 0, false, {{0x00DA, 40}, {0x00D5, 255}, {0x01DF, 90}, {590, 200}}}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(UpdateEngineTest, EndFollowedByABlockRequestResumesAndCountsOneMoreStep)
{
    const ImageFile image(dir, 330);  // 5 blocks, 4 counted
    BootLoaderOptions options = For(image);
    options.resumeAfterEnd = true;
    reader.Set(options);
    RunAnsweredUpdate(image.path);
    ExpectSuccess();
    const auto record = reader.boot->Record();
    ASSERT_EQ(record.asked.size(), 6u);
    EXPECT_EQ(record.asked.back(), record.asked.front());
    EXPECT_EQ(record.dataBlocks, 6);
    // Four blocks, then the fifth's end and the resumed request count one
    // step more (the bar already at its end), then success.
    EXPECT_EQ(view.percentages, QStringList({"0%", "25%", "50%", "75%", "100%", "100%", "100%"}));
    EXPECT_EQ(view.position, 4);
}

TEST_F(UpdateEngineTest, LineGoingAwayMidTransferEndsWithThePortVanished)
{
    const ImageFile image(dir, 726);
    BootLoaderOptions options = For(image);
    options.unplugAtBlock = 4;
    reader.Set(options);
    prot.StartUpdate(image.path);
    EXPECT_EQ(view.errorLines, QStringList{text::PortVanished()});
    EXPECT_EQ(prot.LastResult().outcome, UpdateOutcome::PortVanished);
    EXPECT_TRUE(prot.LastResult().LeftInBootLoader());
    EXPECT_EQ(view.percentage, "30%");
    EXPECT_EQ(reader.line->Snapshot().lineDrops, 1u);
    ExpectIdleAfterwards();
}

// The file is truncated or overwritten on disk once the transfer runs: the
// reader still gets exactly the bytes that were checked, and the result's
// hash and size, which the journal records, are theirs.
TEST_F(UpdateEngineTest, FileChangedDuringTheTransferIsNotSent)
{
    const ImageFile image(dir, 30 * 66);
    const QString checked =
        QString::fromLatin1(QCryptographicHash::hash(image.bytes, QCryptographicHash::Sha256).toHex());
    const QByteArray other = test_images::Image(QByteArray(image.bytes.size() - 17, '\xA5'), "other 9.9");
    ASSERT_EQ(other.size(), image.bytes.size());
    for (const QByteArray &replacement : {QByteArray(), other}) {
        SCOPED_TRACE(replacement.size());
        ASSERT_TRUE(test_images::Write(image.path, image.bytes));
        reader.boot->Reset();
        reader.Set(For(image));
        view = RecordingView();
        bool changed = false;
        view.onStep = [&] {
            if (!changed && view.position == 3)
                changed = test_images::Write(image.path, replacement);
        };
        RunAnsweredUpdate(image.path);
        EXPECT_TRUE(changed);
        ExpectSuccess();
        EXPECT_EQ(reader.boot->Received(), image.Section(size_t(image.bytes.size())));
        EXPECT_EQ(prot.LastResult().imageSha256, checked);
        EXPECT_EQ(prot.LastResult().imageSize, image.bytes.size());
    }
}

// Opening a FIFO would wait for a writer for ever; none of these is opened
// for reading at all, and the reader hears nothing.
TEST_F(UpdateEngineTest, OnlyARegularFileIsTakenAndOthersAreRefusedAtOnce)
{
    const QString fifo = dir.filePath(QStringLiteral("fifo.rom"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const QString folder = dir.filePath(QStringLiteral("folder.rom"));
    ASSERT_TRUE(QDir().mkdir(folder));
    for (const QString &path : {fifo, folder, QStringLiteral("/dev/null")}) {
        SCOPED_TRACE(path.toStdString());
        boxes.Clear();
        view = RecordingView();
        QElapsedTimer clock;
        clock.start();
        prot.StartUpdate(path);
        EXPECT_LT(clock.elapsed(), 1000);
        EXPECT_EQ(prot.LastResult().outcome, UpdateOutcome::ImageUnreadable);
        EXPECT_EQ(prot.LastResult().refusalReason, path + " is not a regular file");
        EXPECT_EQ(boxes.Texts(), QStringList{text::CouldNotOpen() + "\n" + path + "\nNot a regular file"});
        EXPECT_EQ(reader.line->Requests(), 0u);
        EXPECT_FALSE(prot.ImageLoaded());
        EXPECT_EQ(view.caption, text::LoadProgram());
    }
}

TEST_F(UpdateEngineTest, CountdownRunsUntilTheBootLoaderAnswers)
{
    const ImageFile image(dir, 264);
    struct Case {
        const char *name;
        bool answerNotBoot;
        int maroon;
    };
    // A silent attempt turns the lamp maroon; an answer without "BOOT" does not.
    for (const Case c : {Case{"silent attempts", false, 3}, Case{"answers without BOOT", true, 0}}) {
        SCOPED_TRACE(c.name);
        reader.boot->Reset();
        view = RecordingView();
        BootLoaderOptions options = For(image);
        options.bootAfterAttempts = 3;
        options.answerNotBoot = c.answerNotBoot;
        reader.Set(options);
        prot.StartUpdate(image.path);

        EXPECT_EQ(view.Captions(), Countdown(100, 98) + QStringList({text::Updating(), text::LoadProgram()}));
        EXPECT_EQ(view.Count(Lamp::NoReply), c.maroon);
        EXPECT_EQ(reader.boot->Record().bootRequests, 4);
        ExpectSuccess();
    }
}

TEST_F(UpdateEngineTest, SilentReaderCountsDownFromHundredAndEndsWithoutReport)
{
    // A silent boot entry attempt costs its whole read window; shortened here.
    platform::SetTimeoutScaleForTests(0.02);
    const ImageFile image(dir, 264);
    BootLoaderOptions options = For(image);
    options.bootAfterAttempts = BootLoaderOptions::kNever;
    reader.Set(options);
    prot.StartUpdate(image.path);

    EXPECT_EQ(view.Captions(), Countdown(100, 1) + QStringList({text::Updating(), text::LoadProgram()}));
    EXPECT_EQ(reader.line->FramesReceived(kBoot), 100u);
    EXPECT_EQ(view.Count(Lamp::NoReply), 100);
    EXPECT_EQ(view.status, text::StartFirmware());
    EXPECT_EQ(view.lamp, Lamp::Off);
    EXPECT_EQ(view.percentage, "0%");
    ExpectNoReport();
    ExpectIdleAfterwards();
}

TEST_F(UpdateEngineTest, StopEndsTheWaitAfterTheAttemptInProgress)
{
    const ImageFile image(dir, 264);
    BootLoaderOptions options = For(image);
    options.bootAfterAttempts = BootLoaderOptions::kNever;
    reader.Set(options);
    // Stop is pressed while the third countdown step is shown.
    view.onStep = [&] {
        if (view.Captions().size() == 3)
            prot.StopRequested = true;
    };
    prot.StopRequested = true;  // a press before the update started is forgotten
    prot.StartUpdate(image.path);

    EXPECT_EQ(view.Captions(), Countdown(100, 98) + QStringList({text::Updating(), text::LoadProgram()}));
    EXPECT_EQ(reader.line->FramesReceived(kBoot), 3u);
    EXPECT_EQ(view.status, text::StartFirmware());
    EXPECT_EQ(view.lamp, Lamp::Off);
    ExpectNoReport();
    ExpectIdleAfterwards();
}

TEST_F(UpdateEngineTest, StopDuringTheTransferHasNoEffect)
{
    const ImageFile image(dir, 396);
    reader.Set(For(image));
    view.onStep = [&] { prot.StopRequested = true; };
    RunAnsweredUpdate(image.path);
    ExpectSuccess();
}

TEST_F(UpdateEngineTest, UnansweredFirstQueryEndsWithoutReport)
{
    const ImageFile image(dir, 264);
    BootLoaderOptions options = For(image);
    options.silentNext = true;
    reader.Set(options);
    prot.StartUpdate(image.path);
    EXPECT_EQ(reader.boot->Record().nextQueries, 1);
    EXPECT_EQ(reader.boot->Record().dataBlocks, 0);
    EXPECT_EQ(view.status, text::StartFirmware());
    EXPECT_EQ(view.log.indexOf("blink:1"), -1);
    ExpectNoReport();
    ExpectIdleAfterwards();
}

TEST_F(UpdateEngineTest, ClosingAnsweredFirstStillSendsOneBlockFromOffsetZero)
{
    const ImageFile image(dir, 264);
    BootLoaderOptions options = For(image);
    options.plan = {};
    options.sectionSize = 0;  // nothing to ask for: the first query says "closing block"
    reader.Set(options);
    prot.RequestOffset = 500;  // left over from an earlier update
    prot.RequestCount = 99;
    prot.StartUpdate(image.path);
    const auto record = reader.boot->Record();
    EXPECT_EQ(record.headers, (std::vector<sim::BlockRequest>{{0, 0}}));
    EXPECT_TRUE(record.completed);
    EXPECT_EQ(view.status, text::Completed());
}

// Files that are certainly no image: the three a technician met, and a
// section too small for one counted block.
struct RefusedImage {
    const char *name;
    QByteArray bytes;
    QString reason;
};

std::vector<RefusedImage> RefusedImages()
{
    return {
        {"empty", QByteArray(), "The file is too short to be a firmware image (0 bytes)"},
        {"three_bytes", QByteArray("\x01\x02\x03", 3), "The file is too short to be a firmware image (3 bytes)"},
        {"zeros_declaring_a_megabyte", QByteArray(65536, 0) + test_images::Trailer(0, 1 << 20),
         "The program section declared in the file (1,048,576 bytes) is larger than the file (65,544 bytes)"},
        {"no_counted_block", test_images::Image(test_images::SectionBytes(100), "short"),
         "The program section declared in the file (113 bytes) is smaller than the smallest firmware program (132 "
         "bytes)"},
    };
}

TEST_F(UpdateEngineTest, RefusedImageEndsBeforeAnyTraffic)
{
    for (const RefusedImage &image : RefusedImages()) {
        SCOPED_TRACE(image.name);
        view = RecordingView();
        const QString path = dir.filePath(QString::fromLatin1(image.name) + QStringLiteral(".rom"));
        ASSERT_TRUE(test_images::Write(path, image.bytes));
        prot.StartUpdate(path);
        EXPECT_EQ(prot.ImageVerdict().reason, image.reason);
        EXPECT_EQ(reader.line->FramesReceived(kBoot), 0u);
        EXPECT_EQ(view.log.indexOf("clear-errors"), -1);
        ExpectNoReport();
        ExpectIdleAfterwards();
    }
}

TEST_F(UpdateEngineTest, ClosedWindowEndsTheUpdateAtItsNextStep)
{
    const ImageFile image(dir, 726);
    reader.Set(For(image));
    view.onStep = [&] {
        if (view.position == 3)
            prot.AbortRequested = true;
    };
    prot.StartUpdate(image.path);
    EXPECT_EQ(reader.boot->Record().dataBlocks, 3);
    EXPECT_FALSE(reader.boot->Record().completed);
    ExpectNoReport();
    ExpectIdleAfterwards();

    // During the countdown too: no further attempt after the close.
    view = RecordingView();
    reader.boot->Reset();
    BootLoaderOptions silent = For(image);
    silent.bootAfterAttempts = BootLoaderOptions::kNever;
    reader.Set(silent);
    const uint64_t before = reader.line->FramesReceived(kBoot);
    prot.AbortRequested = false;  // as the session does before it queues an update
    view.onStep = [&] { prot.AbortRequested = true; };
    prot.StartUpdate(image.path);
    EXPECT_EQ(reader.line->FramesReceived(kBoot) - before, 1u);
    ExpectNoReport();
    ExpectIdleAfterwards();
}

TEST_F(UpdateEngineTest, UnopenableFileEndsBeforeAnyTraffic)
{
    const QString missing = dir.filePath(QStringLiteral("missing.rom"));
    prot.StartUpdate(missing);
    EXPECT_EQ(boxes.Texts(), QStringList{text::CouldNotOpen() + "\n" + missing + "\nNo such file or directory"});
    EXPECT_EQ(reader.line->FramesReceived(kBoot), 0u);
    EXPECT_EQ(view.log.indexOf("clear-errors"), -1);
    EXPECT_EQ(view.caption, text::LoadProgram());
    EXPECT_FALSE(view.stopEnabled);
    EXPECT_EQ(prot.Updating.load(), false);
}

// ---------------------------------------------------------------------------
// Through the main window.

class UpdateWindowTest : public ::testing::Test {
protected:
    QTemporaryDir iniDir;
    QTemporaryDir fileDir;
    RecordedBoxes boxes;
    Reader reader{"upd-window"};
    std::unique_ptr<TalvorApp> app;
    std::vector<std::pair<int, int>> beeps;

    void SetUp() override
    {
        platform::SetTimeoutScaleForTests(kFastLine);
        platform::SetBeepObserverForTests([this](int hz, int ms) { beeps.emplace_back(hz, ms); });
        ASSERT_TRUE(reader.Start());
        app = std::make_unique<TalvorApp>(
            test_app::Options(iniDir.path(), reader.folder.path(), "test-update-" + std::to_string(getpid())));
        app->form1->show();
    }
    void TearDown() override
    {
        TOpenDialog::SetChooserForTests({});
        app.reset();
        reader.line->Stop();
        platform::SetBeepObserverForTests({});
        platform::SetTimeoutScaleForTests(1.0);
    }

    Ui::TForm1 &ui() { return *app->form1->ui; }
    QString ErrorList() const { return Form5->Memo1()->toPlainText(); }

    void OpenPort()
    {
        app->setup->PortName = QStringLiteral("upd-window");
        app->form1->OpenPort();
        ASSERT_EQ(app->form1->PortOpen.load(), true) << boxes.Texts().join('|').toStdString();
    }
    void ChooseFile(const QString &path) { test_app::ChooseFile(*app, path); }
    void LoadProgram(const std::function<void()> &sample = {}) { test_app::LoadProgram(*app, sample); }
    void ExpectIdleControls()
    {
        EXPECT_EQ(ui().Button22->text(), text::LoadProgram());
        EXPECT_TRUE(ui().Button22->isEnabled());
        EXPECT_TRUE(ui().Button5->isEnabled());
        EXPECT_TRUE(ui().Button21->isEnabled());
        EXPECT_FALSE(ui().Button4->isEnabled());
        EXPECT_FALSE(app->form1->Timer2.isActive());
        EXPECT_EQ(app->prot->Updating.load(), 0);
    }
    bool WaitFor(const std::function<bool()> &done, int ms) { return test_app::WaitFor(done, ms); }
};

TEST_F(UpdateWindowTest, PreconditionsAreCheckedPortFirst)
{
    app->form1->Button22Click();
    EXPECT_EQ(boxes.Texts(), QStringList{"Select the COM port!"});
    boxes.Clear();

    OpenPort();
    app->form1->Button22Click();
    ASSERT_EQ(boxes.Count(), 1u);
    const auto box = boxes.Boxes()[0];
    EXPECT_EQ(box.text, "Select the firmware file!");
    EXPECT_EQ(box.caption, "Error");
    EXPECT_EQ(box.icon, platform::BoxIcon::None);
    EXPECT_EQ(box.buttons, platform::BoxButtons::Ok);
    EXPECT_EQ(reader.line->FramesReceived(kBoot), 0u);
}

TEST_F(UpdateWindowTest, UnopenableChoiceStillEnablesLoadProgram)
{
    const QString missing = fileDir.filePath(QStringLiteral("missing.rom"));
    ChooseFile(missing);
    const QStringList couldNotOpen{text::CouldNotOpen() + "\n" + missing + "\nNo such file or directory"};
    EXPECT_EQ(boxes.Texts(), couldNotOpen);
    EXPECT_EQ(app->form1->FileChosen, 1);
    EXPECT_TRUE(ui().Button22->isEnabled());

    // "Load program" says it again and leaves the reader alone.
    OpenPort();
    boxes.Clear();
    LoadProgram();
    EXPECT_EQ(boxes.Texts(), couldNotOpen);
    EXPECT_EQ(reader.line->FramesReceived(kBoot), 0u);
}

TEST_F(UpdateWindowTest, RefusedImageIsExplainedAndNeverSent)
{
    OpenPort();
    for (const RefusedImage &image : RefusedImages()) {
        SCOPED_TRACE(image.name);
        const QString path = fileDir.filePath(QString::fromLatin1(image.name) + QStringLiteral(".rom"));
        ASSERT_TRUE(test_images::Write(path, image.bytes));
        boxes.Clear();
        ChooseFile(path);
        ASSERT_EQ(boxes.Count(), 1u);
        const auto box = boxes.Boxes()[0];
        EXPECT_EQ(box.caption, "Error");
        EXPECT_EQ(box.buttons, platform::BoxButtons::Ok);
        EXPECT_EQ(box.text, "The firmware file cannot be used!\n" + path + "\n" + image.reason + ".");
        EXPECT_TRUE(ui().Memo1->toPlainText().isEmpty());

        LoadProgram();
        EXPECT_EQ(boxes.Texts(), QStringList({box.text, box.text}));
        EXPECT_EQ(reader.line->FramesReceived(kBoot), 0u);
        EXPECT_FALSE(ui().SpeedButton2->isEnabled());
        ExpectIdleControls();
    }
    EXPECT_TRUE(beeps.empty());
}

TEST_F(UpdateWindowTest, WholeUpdateFromTheWindow)
{
    const ImageFile image(fileDir, 726, "Firmware 7.1 of 2024-02-01\nsecond line");
    BootLoaderOptions options;
    options.sectionSize = uint32_t(image.sectionSize);
    options.newFirmwareMajor = 7;
    options.newFirmwareMinor = 1;
    options.outputFile = fileDir.filePath(QStringLiteral("received.bin")).toStdString();
    reader.Set(options);

    OpenPort();
    ASSERT_TRUE(WaitFor([&] { return ui().Memo2->toPlainText() == "vesion  6.4"; }, 5000))
        << ui().Memo2->toPlainText().toStdString();
    ChooseFile(image.path);
    EXPECT_EQ(ui().Memo1->toPlainText(), "Firmware 7.1 of 2024-02-01\n");
    EXPECT_TRUE(ui().StaticText1->text().endsWith(QStringLiteral("image-726.rom")));
    EXPECT_EQ(ui().ProgressBar1->maximum(), 10);

    // What the window offers while blocks are being sent.
    bool sampled = false, portButtons = true, fileButton = true, loadButton = true, settings = true;
    bool stop = false, instructions = false, bottomClose = false, blinking = false;
    LoadProgram([&] {
        if (ui().ProgressBar1->value() < 2 || sampled)
            return;
        sampled = true;
        portButtons = ui().Button1->isEnabled() || ui().Button2->isEnabled();
        fileButton = ui().Button21->isEnabled();
        loadButton = ui().Button22->isEnabled();
        settings = ui().Button5->isEnabled();
        stop = ui().Button4->isEnabled();
        instructions = ui().SpeedButton1->isEnabled();
        bottomClose = ui().Button3->isEnabled();
        blinking = app->form1->Timer2.isActive();
    });
    ASSERT_TRUE(sampled);
    EXPECT_FALSE(portButtons);
    EXPECT_FALSE(fileButton);
    EXPECT_FALSE(loadButton);
    EXPECT_FALSE(settings);
    EXPECT_TRUE(stop);
    EXPECT_TRUE(instructions);
    EXPECT_TRUE(bottomClose);
    EXPECT_TRUE(blinking);

    EXPECT_EQ(boxes.Count(), 0u) << boxes.Texts().join('|').toStdString();
    EXPECT_EQ(ui().StaticText2->text(), text::Completed());
    EXPECT_EQ(ui().Label5->text(), "100%");
    EXPECT_EQ(app->form1->LampColour(), colours::Green);
    EXPECT_EQ(beeps, (std::vector<std::pair<int, int>>{{1000, 200}}));
    EXPECT_TRUE(ErrorList().isEmpty());
    EXPECT_FALSE(ui().SpeedButton2->isEnabled());
    ExpectIdleControls();
    // The port stays open, its buttons as before the update.
    EXPECT_EQ(app->form1->PortOpen.load(), true);
    EXPECT_TRUE(ui().Button1->isEnabled());
    EXPECT_FALSE(ui().Button2->isEnabled());

    QFile written(options.outputFile.c_str());
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    const QByteArray got = written.readAll();
    EXPECT_EQ(std::vector<uint8_t>(got.begin(), got.end()), image.Section(726));

    // The monitor is back and shows the new firmware.
    EXPECT_TRUE(WaitFor([&] { return ui().Memo2->toPlainText() == "vesion  7.1"; }, 5000))
        << ui().Memo2->toPlainText().toStdString();

    // The journal has the job, with the reader's versions before and after.
    std::vector<JournalEntry> entries;
    ASSERT_TRUE(WaitFor([&] {
        entries = app->journal->Query({});
        return !entries.empty() && entries[0].finished;
    }, 10000));
    ASSERT_EQ(entries.size(), 1u);
    const JournalEntry &entry = entries[0];
    EXPECT_EQ(entry.kind, JournalEntry::Kind::Update);
    EXPECT_TRUE(entry.succeeded);
    EXPECT_EQ(entry.outcome, "completed");
    EXPECT_EQ(entry.readerSerial, std::optional<uint16_t>(12345));
    EXPECT_EQ(entry.firmwareBefore, "6.4");
    EXPECT_EQ(entry.firmwareAfter, "7.1");
    EXPECT_EQ(entry.port, "upd-window");
    EXPECT_TRUE(entry.converterSerial.isEmpty()) << "a virtual port is no USB converter";
    EXPECT_EQ(entry.imageName, "image-726.rom");
    EXPECT_EQ(entry.imageSha256,
              QString::fromLatin1(QCryptographicHash::hash(image.bytes, QCryptographicHash::Sha256).toHex()));
    EXPECT_EQ(entry.imageDescription, "Firmware 7.1 of 2024-02-01");
    EXPECT_EQ(entry.blocksSent, 11);
}

TEST_F(UpdateWindowTest, PercentageKeepsItsLastValueWhenTheReaderFallsSilent)
{
    OpenPort();
    struct Case {
        int sectionSize;
        int silentFrom;
        const char *shown;
    };
    for (const Case c : {Case{726, 6, "50%"}, Case{264, 2, "33%"}}) {
        SCOPED_TRACE(c.shown);
        const ImageFile image(fileDir, c.sectionSize);
        BootLoaderOptions options;
        options.sectionSize = uint32_t(image.sectionSize);
        options.silentFromBlock = c.silentFrom;
        reader.Set(options);
        ChooseFile(image.path);
        LoadProgram();
        EXPECT_EQ(ui().Label5->text(), c.shown);
        EXPECT_EQ(ui().ProgressBar1->value(), c.silentFrom - 1);
        EXPECT_EQ(ErrorList(), text::NoResponse());
        // Not "Process of firmware update...": that reads as still running.
        EXPECT_EQ(ui().StaticText2->text(), text::NoResponse());
        EXPECT_TRUE(Form5->isVisible()) << "the list of errors opens by itself";
        EXPECT_EQ(app->form1->LampColour(), colours::ButtonFace);
        ExpectIdleControls();
        Form5->close();
    }
    EXPECT_TRUE(beeps.empty());
}

TEST_F(UpdateWindowTest, FileChangedDuringTheTransferIsNotSent)
{
    // At the line's pace, so the file changes with most blocks still to come.
    const ImageFile image(fileDir, 40 * 66);
    BootLoaderOptions options;
    options.sectionSize = uint32_t(image.sectionSize);
    options.outputFile = fileDir.filePath(QStringLiteral("received.bin")).toStdString();
    reader.Set(options);
    reader.line->SetBaud(19200);
    platform::SetTimeoutScaleForTests(1.0);
    OpenPort();
    ChooseFile(image.path);

    int changedAt = -1;
    LoadProgram([&] {
        if (changedAt < 0 && ui().ProgressBar1->value() >= 2 && test_images::Write(image.path, QByteArray()))
            changedAt = ui().ProgressBar1->value();
    });
    ASSERT_GE(changedAt, 2);
    EXPECT_LT(changedAt, ui().ProgressBar1->maximum());
    EXPECT_EQ(ui().StaticText2->text(), text::Completed());
    QFile written(options.outputFile.c_str());
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    const QByteArray got = written.readAll();
    EXPECT_EQ(std::vector<uint8_t>(got.begin(), got.end()), image.Section(size_t(image.bytes.size())));

    std::vector<JournalEntry> entries;
    ASSERT_TRUE(WaitFor([&] {
        entries = app->journal->Query({});
        return !entries.empty() && entries[0].finished;
    }, 10000));
    EXPECT_EQ(entries[0].imageSha256,
              QString::fromLatin1(QCryptographicHash::hash(image.bytes, QCryptographicHash::Sha256).toHex()));
    EXPECT_EQ(entries[0].imageSize, image.bytes.size());
}

TEST_F(UpdateWindowTest, ErrorsReachTheInformationWindowAndTheNextUpdateClearsThem)
{
    OpenPort();
    const ImageFile image(fileDir, 330);
    ChooseFile(image.path);
    struct Case {
        uint8_t code;
        int badCheckAt;
        QStringList lines;
    };
    const Case cases[] = {
        {1, 0, {text::WrongModel()}},
        {2, 0, {text::DeviceNumber()}},
        {3, 0, {text::ProgramSize()}},
        {10, 0, {text::BlockNumber()}},
        {11, 0, {text::ChecksumTransmission()}},
        {4, 0, {text::NoResponse()}},
        {0, 2, {text::ChecksumReceiving(), text::NoResponse()}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.lines.join('|').toStdString());
        BootLoaderOptions options;
        options.sectionSize = uint32_t(image.sectionSize);
        options.errorAtBlock = c.code ? 2 : 0;
        options.errorCode = c.code;
        options.badCheckAtBlock = c.badCheckAt;
        reader.Set(options);
        LoadProgram();
        EXPECT_EQ(ErrorList(), c.lines.join('\n'));
        EXPECT_TRUE(ui().SpeedButton2->isEnabled());
        EXPECT_EQ(app->form1->LampColour(), colours::ButtonFace);
        ExpectIdleControls();
    }

    // The next update starts with an empty list and the icon off.
    BootLoaderOptions good;
    good.sectionSize = uint32_t(image.sectionSize);
    reader.Set(good);
    bool clearedAtStart = false;
    LoadProgram([&] {
        if (app->prot->Updating && ErrorList().isEmpty() && !ui().SpeedButton2->isEnabled())
            clearedAtStart = true;
    });
    EXPECT_TRUE(clearedAtStart);
    EXPECT_TRUE(ErrorList().isEmpty());
    EXPECT_FALSE(ui().SpeedButton2->isEnabled());
    EXPECT_EQ(ui().StaticText2->text(), text::Completed());
    EXPECT_EQ(beeps.size(), 1u);
}

TEST_F(UpdateWindowTest, CountdownShowsAndStopEndsIt)
{
    OpenPort();
    // A silent attempt waits its whole read window; shortened for the test.
    platform::SetTimeoutScaleForTests(0.05);
    const ImageFile image(fileDir, 264);
    BootLoaderOptions options;
    options.sectionSize = uint32_t(image.sectionSize);
    options.bootAfterAttempts = BootLoaderOptions::kNever;
    reader.Set(options);
    ChooseFile(image.path);

    // The window samples what it shows; Stop is pressed once it shows the
    // third countdown step or a later one, and reaches the worker as a request.
    const QStringList countdown = Countdown(100, 1);
    QStringList captions;
    bool maroon = false;
    uint64_t framesAtStop = 0;
    LoadProgram([&] {
        const QString caption = ui().Button22->text();
        if (captions.isEmpty() || captions.back() != caption)
            captions << caption;
        maroon = maroon || app->form1->LampColour() == colours::Maroon;
        if (countdown.indexOf(caption) >= 2 && ui().Button4->isEnabled() && framesAtStop == 0) {
            framesAtStop = reader.line->FramesReceived(kBoot);
            ui().Button4->click();
        }
    });
    ASSERT_GE(framesAtStop, 3u);
    // The countdown as shown counts down from 100, one step at a time or more.
    const QStringList shown = captions.mid(captions.indexOf(countdown.front()));
    ASSERT_GE(shown.size(), 3);
    for (int i = 1; i < shown.size() - 1; ++i)
        EXPECT_GT(countdown.indexOf(shown[i]), countdown.indexOf(shown[i - 1])) << shown.join('|').toStdString();
    EXPECT_EQ(shown.back(), text::LoadProgram());
    EXPECT_TRUE(maroon);
    // The attempt in progress when Stop came is the last one.
    EXPECT_LE(reader.line->FramesReceived(kBoot), framesAtStop + 1);
    EXPECT_EQ(ui().StaticText2->text(), text::StartFirmware());
    EXPECT_EQ(app->form1->LampColour(), colours::ButtonFace);
    EXPECT_TRUE(ErrorList().isEmpty());
    EXPECT_FALSE(ui().SpeedButton2->isEnabled());
    ExpectIdleControls();
}

struct QuitCase {
    const char *name;
    int answer;
    bool quits;
};

void PrintTo(const QuitCase &c, std::ostream *os) { *os << c.name; }

class QuitDuringUpdate : public UpdateWindowTest, public ::testing::WithParamInterface<QuitCase> {};

TEST_P(QuitDuringUpdate, AsksFirstAndQuitEndsTheUpdateThenClosesThePort)
{
    const QuitCase c = GetParam();
    OpenPort();
    // At the line's pace the close comes long before the last of 41 blocks.
    const ImageFile image(fileDir, 41 * 66);
    BootLoaderOptions options;
    options.sectionSize = uint32_t(image.sectionSize);
    reader.Set(options);
    reader.line->SetBaud(19200);
    platform::SetTimeoutScaleForTests(1.0);  // replies at the line's pace
    ChooseFile(image.path);

    bool closed = false;
    boxes.AnswerNext(c.answer);
    LoadProgram([&] {
        if (!closed && ui().ProgressBar1->value() >= 2) {
            closed = true;
            app->form1->close();
        }
    });
    ASSERT_TRUE(closed);
    ASSERT_EQ(boxes.Count(), 1u);
    const auto box = boxes.Boxes()[0];
    EXPECT_EQ(box.caption, "Warning");
    EXPECT_TRUE(box.text.contains("boot loader")) << box.text.toStdString();
    EXPECT_EQ(box.buttons, platform::BoxButtons::OkCancel);
    EXPECT_EQ(box.okText, "Quit");
    EXPECT_EQ(box.cancelText, "Continue");
    EXPECT_TRUE(box.cancelIsDefault);

    EXPECT_EQ(app->form1->isVisible(), !c.quits);
    EXPECT_EQ(app->prot->Updating.load(), 0);
    EXPECT_EQ(reader.boot->Record().completed, !c.quits);
    if (c.quits) {
        // The block in flight when the close came is the last one.
        EXPECT_GE(reader.boot->Record().dataBlocks, 2);
        EXPECT_LT(reader.boot->Record().dataBlocks, 41);
        EXPECT_EQ(app->form1->PortOpen.load(), false);
        EXPECT_EQ(app->comPort->Handle, NullHandle);
    } else {
        EXPECT_EQ(ui().StaticText2->text(), text::Completed());
        EXPECT_EQ(app->form1->PortOpen.load(), true);
        EXPECT_NE(app->comPort->Handle, NullHandle);
    }
    EXPECT_TRUE(ErrorList().isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Answers, QuitDuringUpdate,
                         ::testing::Values(QuitCase{"quit", platform::ResultOk, true},
                                           QuitCase{"continue", platform::ResultCancel, false}),
                         [](const auto &info) { return std::string(info.param.name); });

}  // namespace

TEST_F(UpdateWindowTest, GuiThreadStaysFreeWhileTheWorkerUpdates)
{
    OpenPort();
    const ImageFile image(fileDir, 726);
    BootLoaderOptions options;
    options.sectionSize = uint32_t(image.sectionSize);
    reader.Set(options);
    reader.line->SetBaud(19200);
    platform::SetTimeoutScaleForTests(1.0);  // replies at the line's pace
    ChooseFile(image.path);

    // A timer of the GUI thread; with the update on that thread it could not
    // fire while the update runs.
    int ticksDuringUpdate = 0;
    QSet<int> positionsSeen;
    uint64_t pollsAtFirstTick = 0, pollsAtLastTick = 0;
    QTimer ticker;
    ticker.setInterval(5);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        if (app->prot->Updating != 1)
            return;
        const uint64_t polls = reader.line->FramesReceived(ConnectSaver::kStatusRequest);
        if (ticksDuringUpdate++ == 0)
            pollsAtFirstTick = polls;
        pollsAtLastTick = polls;
        positionsSeen.insert(ui().ProgressBar1->value());
    });
    ticker.start();
    ui().Button22->click();
    EXPECT_TRUE(app->form1->UpdateRunning()) << "\"Load program\" returns before the update ends";
    ASSERT_TRUE(WaitFor([&] { return !app->form1->UpdateRunning(); }, test_app::kUpdateEndMs));
    ticker.stop();

    EXPECT_EQ(ui().StaticText2->text(), text::Completed());
    EXPECT_GE(ticksDuringUpdate, 10);
    EXPECT_GE(positionsSeen.size(), 3) << "the bar moves while the window is served";
    EXPECT_EQ(pollsAtLastTick, pollsAtFirstTick) << "no poll during the update";
    const std::thread::id worker = app->form1->Session().WorkerThreadId();
    EXPECT_EQ(app->form1->Session().UpdateThreadId(), worker);
    EXPECT_NE(worker, std::this_thread::get_id());
    ExpectIdleControls();
}
