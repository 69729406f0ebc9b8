// The firmware update from the main window as the user drives it, against
// the simulated reader's boot loader over a real pseudo-terminal.

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
#include "core/session/monitor.h"
#include "core/session/texts.h"
#include "firmware_images.h"
#include "update_rig.h"
#include "gui/beep.h"
#include "core/line/serial_device.h"
#include "gui/system_colours.h"
#include "gui/setup.h"
#include "recorded_boxes.h"
#include "test_app.h"
#include "sim/boot_loader.h"
#include "sim/device_info.h"
#include "sim/simulated_reader.h"
#include "ui_main_window.h"
#include "gui/information_window.h"

namespace {

using sim::BootLoaderOptions;
namespace text = update_text;

constexpr uint8_t kBoot = 0x3E;
using update_rig::ImageFile;
using update_rig::kFastLine;
using update_rig::Reader;

QStringList Countdown(int from, int to)
{
    QStringList captions;
    for (int n = from; n >= to; --n)
        captions << text::Waiting(n);
    return captions;
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

// ---------------------------------------------------------------------------
// The update from the main window, against the simulated reader.

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
        ASSERT_EQ(app->form1->PortOpen(), true) << boxes.Texts().join('|').toStdString();
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
        EXPECT_FALSE(app->form1->UpdateRunning());
    }
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
    ASSERT_TRUE(WaitUntil([&] { return ui().Memo2->toPlainText() == "vesion  6.4"; }, 5000))
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
    EXPECT_EQ(app->form1->PortOpen(), true);
    EXPECT_TRUE(ui().Button1->isEnabled());
    EXPECT_FALSE(ui().Button2->isEnabled());

    QFile written(options.outputFile.c_str());
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    const QByteArray got = written.readAll();
    EXPECT_EQ(std::vector<uint8_t>(got.begin(), got.end()), image.Section(726));

    // The monitor is back and shows the new firmware.
    EXPECT_TRUE(WaitUntil([&] { return ui().Memo2->toPlainText() == "vesion  7.1"; }, 5000))
        << ui().Memo2->toPlainText().toStdString();

    // The journal has the job, with the reader's versions before and after.
    std::vector<JournalEntry> entries;
    ASSERT_TRUE(WaitUntil([&] {
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
    EXPECT_EQ(entry.blocksTotal, 11);
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
    ASSERT_TRUE(WaitUntil([&] {
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
        if (app->form1->UpdateRunning() && ErrorList().isEmpty() && !ui().SpeedButton2->isEnabled())
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
    // The countdown runs on the disabled button, in the normal text colour.
    QPushButton *button = ui().Button22;
    auto contrast = [button](QPalette::ColorGroup group) {
        return std::abs(qGray(button->palette().color(group, QPalette::ButtonText).rgb()) -
                        qGray(button->palette().color(group, QPalette::Button).rgb()));
    };
    const int greyed = contrast(QPalette::Disabled);
    ASSERT_LT(greyed, contrast(QPalette::Active));
    int countdownContrast = -1;
    LoadProgram([&] {
        const QString caption = ui().Button22->text().replace(QLatin1Char('\n'), QLatin1Char(' '));
        if (countdown.contains(caption) && !button->isEnabled())
            countdownContrast = contrast(QPalette::Disabled);
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
    EXPECT_EQ(countdownContrast, contrast(QPalette::Active));
    EXPECT_EQ(contrast(QPalette::Disabled), greyed);  // a disabled "Load program" looks disabled again
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
    EXPECT_FALSE(app->form1->UpdateRunning());
    EXPECT_EQ(reader.boot->Record().completed, !c.quits);
    if (c.quits) {
        // The block in flight when the close came is the last one.
        EXPECT_GE(reader.boot->Record().dataBlocks, 2);
        EXPECT_LT(reader.boot->Record().dataBlocks, 41);
        EXPECT_EQ(app->form1->PortOpen(), false);
        EXPECT_EQ(app->form1->CurrentSession(), nullptr);
    } else {
        EXPECT_EQ(ui().StaticText2->text(), text::Completed());
        EXPECT_EQ(app->form1->PortOpen(), true);
        EXPECT_NE(app->form1->CurrentSession(), nullptr);
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
        if (!app->form1->UpdateRunning())
            return;
        const uint64_t polls = reader.line->FramesReceived(Monitor::kStatusRequest);
        if (ticksDuringUpdate++ == 0)
            pollsAtFirstTick = polls;
        pollsAtLastTick = polls;
        positionsSeen.insert(ui().ProgressBar1->value());
    });
    ticker.start();
    ui().Button22->click();
    EXPECT_TRUE(app->form1->UpdateRunning()) << "\"Load program\" returns before the update ends";
    ASSERT_TRUE(WaitUntil([&] { return !app->form1->UpdateRunning(); }, test_app::kUpdateEndMs));
    ticker.stop();

    EXPECT_EQ(ui().StaticText2->text(), text::Completed());
    EXPECT_GE(ticksDuringUpdate, 10);
    EXPECT_GE(positionsSeen.size(), 3) << "the bar moves while the window is served";
    EXPECT_EQ(pollsAtLastTick, pollsAtFirstTick) << "no poll during the update";
    ExpectIdleControls();
}
