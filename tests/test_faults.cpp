// Faults on the line, through the whole tool against the simulated reader over
// a pseudo-terminal: the line going away in the middle of a block, during the
// countdown, during a poll and during a settings write; garbage ahead of a
// reply; replies split by gaps; a boot loader asking past the end of the
// section, or for ever. Every case must end within its stated
// bound with the right report lines and journal entry, the window's controls
// and the monitor back, and the port still usable or cleanly closed.

#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QToolButton>
#include <gtest/gtest.h>
#include <unistd.h>

#include <functional>
#include <memory>

#include "core/journal/journal.h"
#include "core/line/serial_device.h"
#include "core/session/texts.h"
#include "firmware_images.h"
#include "gui/application.h"
#include "gui/information_window.h"
#include "gui/job_recorder.h"
#include "gui/main_window.h"
#include "gui/settings_window.h"
#include "gui/setup.h"
#include "recorded_boxes.h"
#include "sim/boot_loader.h"
#include "sim/device_info.h"
#include "sim/settings_store.h"
#include "sim/simulated_reader.h"
#include "test_app.h"
#include "ui_main_window.h"
#include "ui_settings_window.h"

namespace {

using sim::BlockRequest;
using sim::BootLoaderOptions;
namespace text = update_text;

constexpr char kLinkName[] = "talvor-faults";
// Replies come at once from the simulator; a quarter of the real read
// windows keeps the runs short and still far above its answer time.
constexpr double kFastLine = 0.25;
// Cases that expect no silence get generous time-outs: on a slow or busy
// machine (sanitizers, parallel builds) a late reply must not pass for a
// silent reader. Replies that come at once cost no more time for it.
constexpr double kPatientLine = 5.0;
constexpr int kMonitorDeadlineMs = 10000;
const QString kReady = QStringLiteral("Device is ready");
const QString kNoAnswer = QStringLiteral("Device no answer");
const QString kShownFirmware = QStringLiteral("vesion  6.4");
const SettingsRecord kReaderRecord = {1, 0, 1, 0, 2, 0, 1, 1, 5};

// An image whose section holds sectionSize bytes (body, description, trailer).
struct ImageFile {
    QString path;
    QByteArray bytes;

    ImageFile(const QTemporaryDir &dir, int sectionSize)
    {
        const QByteArray description = "TALVOR 7.1 faults";
        bytes = test_images::Image(test_images::SectionBytes(sectionSize - int(description.size()) - 8),
                                   description);
        path = dir.filePath(QStringLiteral("faults-%1.rom").arg(sectionSize));
        EXPECT_TRUE(test_images::Write(path, bytes));
    }
    // The section bytes a boot loader gets for [offset, offset + count).
    std::vector<uint8_t> Section(int64_t offset, int64_t count) const
    {
        return test_images::Expected(bytes, bytes.size(), offset, count);
    }
};

std::vector<BlockRequest> Repeat(const std::vector<BlockRequest> &cycle, size_t total)
{
    std::vector<BlockRequest> plan;
    while (plan.size() < total)
        plan.push_back(cycle[plan.size() % cycle.size()]);
    return plan;
}

// A boot loader that leads the transfer as it should.
BootLoaderOptions Plain(int sectionSize)
{
    BootLoaderOptions options;
    options.sectionSize = uint32_t(sectionSize);
    return options;
}

QString Waiting(int n) { return text::Waiting(n); }

class FaultTest : public ::testing::Test {
protected:
    QTemporaryDir iniDir;
    QTemporaryDir portDir;
    QTemporaryDir fileDir;
    RecordedBoxes boxes;
    std::unique_ptr<sim::SimulatedReader> reader;
    std::shared_ptr<sim::BootLoader> boot = std::make_shared<sim::BootLoader>();
    std::shared_ptr<sim::SettingsStore> store;
    std::unique_ptr<TalvorApp> app;

    void SetUp() override
    {
        platform::SetTimeoutScaleForTests(kFastLine);
        sim::Options options;
        options.folder = portDir.path().toStdString();
        options.linkName = kLinkName;
        reader = std::make_unique<sim::SimulatedReader>(options);
        reader->AddResponder(std::make_shared<sim::DeviceInfo>());
        reader->AddResponder(boot);
        sim::SettingsStore::Options storeOptions;
        storeOptions.record = kReaderRecord;
        store = std::make_shared<sim::SettingsStore>(storeOptions);
        reader->AddResponder(store);
        boot->AttachLine(reader.get());
        ASSERT_TRUE(reader->Start()) << reader->ErrorText();

        app = std::make_unique<TalvorApp>(
            test_app::Options(iniDir.path(), portDir.path(), "test-faults-" + std::to_string(getpid())));
        app->form1->show();
        app->setup->PortName = QString::fromLatin1(kLinkName);
        app->form1->OpenPort();
        ASSERT_TRUE(app->form1->PortOpen()) << boxes.Texts().join('|').toStdString();
        ASSERT_TRUE(WaitUntil([&] { return MonitorShowsTheReader(); }, kMonitorDeadlineMs)) << MonitorText();
    }
    void TearDown() override
    {
        TOpenDialog::SetChooserForTests({});
        if (app && app->form6->isVisible() && settingsUi().Button3->isEnabled()) {
            boxes.AnswerNext(platform::ResultOk);
            settingsUi().Button3->click();
        }
        app.reset();
        reader->Stop();
        platform::SetTimeoutScaleForTests(1.0);
    }

    Ui::TForm1 &ui() { return *app->form1->ui; }
    Ui::TForm6 &settingsUi() { return *app->form6->ui; }
    QString ErrorList() const { return Form5->Memo1()->toPlainText(); }

    bool MonitorShowsTheReader()
    {
        return ui().StaticText3->text() == kReady && ui().Memo2->toPlainText() == kShownFirmware;
    }
    bool MonitorShowsNoAnswer()
    {
        return ui().StaticText3->text() == kNoAnswer && ui().Memo2->toPlainText().isEmpty();
    }
    std::string MonitorText()
    {
        return (ui().StaticText3->text() + " | " + ui().Memo2->toPlainText()).toStdString();
    }
    // The monitor is polling again: more polls than now within the deadline.
    bool MonitorPolls()
    {
        const uint64_t polls = app->form1->Reader().polls;
        return WaitUntil([&] { return app->form1->Reader().polls > polls; }, kMonitorDeadlineMs);
    }
    // The journal's entries of kind, newest first, once the newest is written whole.
    std::vector<JournalEntry> Entries(JournalEntry::Kind kind)
    {
        std::vector<JournalEntry> found;
        WaitUntil([&] {
            found.clear();
            for (const JournalEntry &entry : app->journal->Query({}))
                if (entry.kind == kind)
                    found.push_back(entry);
            return !found.empty() && found.front().finished;
        }, kMonitorDeadlineMs);
        return found;
    }

    void ChooseFile(const QString &path) { test_app::ChooseFile(*app, path); }
    qint64 LoadProgram(const std::function<void()> &step = {}) { return test_app::LoadProgram(*app, step); }
    // The window as it was before the update: update controls idle, the port
    // buttons unchanged.
    void ExpectControlsBack(bool openBefore, bool closeBefore)
    {
        EXPECT_EQ(ui().Button22->text(), text::LoadProgram());
        EXPECT_TRUE(ui().Button22->isEnabled());
        EXPECT_TRUE(ui().Button5->isEnabled());
        EXPECT_TRUE(ui().Button21->isEnabled());
        EXPECT_FALSE(ui().Button4->isEnabled());
        EXPECT_FALSE(app->form1->Timer2.isActive());
        EXPECT_EQ(ui().Button1->isEnabled(), openBefore);
        EXPECT_EQ(ui().Button2->isEnabled(), closeBefore);
    }
    // "Close" (its handler: the window was opened without the chooser, which
    // is what enables the button): the port goes, whatever state the line is in.
    void ExpectCleanClose()
    {
        app->form1->Button2Click();
        EXPECT_FALSE(app->form1->PortOpen());
        EXPECT_TRUE(WaitUntil([&] { return ui().StaticText3->text() == "COM-port is closed"; }, kMonitorDeadlineMs));
    }
};

// ---------------------------------------------------------------------------
// Updates.

enum class Outcome { Completed, Reported, EndedWithoutReport };
enum class LineAfter { Up, Gone };

struct UpdateFault {
    const char *name;
    int sectionSize;
    double scale;
    std::function<void(BootLoaderOptions &, sim::Faults &)> arrange;  // before the update
    // The fault that strikes during the update, once, at the first look of
    // the test at the window where `when` holds.
    std::function<bool(Ui::TForm1 &)> when;
    std::function<void(sim::SimulatedReader &)> strike;
    Outcome outcome;
    const char *journalOutcome;  // the update's entry
    // The report lines; with lastLineOnly, the last one only (the rest may vary).
    QStringList lines;
    bool lastLineOnly;
    LineAfter after;
    // The update must have ended by then: a hang check, not a speed claim.
    int boundMs;
    std::function<void(const sim::BootLoader &, const ImageFile &)> verify;
};

void PrintTo(const UpdateFault &c, std::ostream *os) { *os << c.name; }

std::function<bool(Ui::TForm1 &)> AtStep(int step)
{
    return [step](Ui::TForm1 &ui) { return ui.ProgressBar1->value() >= step; };
}

std::function<bool(Ui::TForm1 &)> AtCaption(const QString &caption)
{
    // A caption too long for one line is shown on two.
    return [caption](Ui::TForm1 &ui) { return ui.Button22->text().replace(QLatin1Char('\n'), QLatin1Char(' ')) == caption; };
}

void ExpectSpinningStoppedAtTheLimit(const sim::BootLoader &boot, const ImageFile &image)
{
    // One block per byte of the section and 256 repeats, then it gives up.
    EXPECT_EQ(boot.Record().dataBlocks, image.bytes.size() + 256);
    EXPECT_EQ(boot.Record().closingBlocks, 0);
}

const UpdateFault kUpdateFaults[] = {
    {"asks_past_the_end", 330, kPatientLine,
     [](BootLoaderOptions &o, sim::Faults &) { o.plan = {{0, 66}, {0xFFC0, 66}, {264, 66}}; },
     {}, {}, Outcome::Completed, "completed", {}, false, LineAfter::Up, 20000,
     [](const sim::BootLoader &boot, const ImageFile &image) {
         // Zeros where the section has no bytes.
         std::vector<uint8_t> expected(0xFFC0 + 66, 0);
         const auto first = image.Section(0, 66), last = image.Section(264, 66);
         std::copy(first.begin(), first.end(), expected.begin());
         std::copy(last.begin(), last.end(), expected.begin() + 264);
         EXPECT_EQ(boot.Received(), expected);
     }},
    {"same_block_for_ever", 300, kPatientLine,
     [](BootLoaderOptions &o, sim::Faults &) { o.plan = Repeat({{0, 66}}, 5000); },
     {}, {}, Outcome::Reported, "no answer", {text::NoResponse()}, false, LineAfter::Up, 60000,
     ExpectSpinningStoppedAtTheLimit},
    {"never_sends_the_end", 300, kPatientLine,
     [](BootLoaderOptions &o, sim::Faults &) {
         o.plan = Repeat({{0, 66}, {66, 66}, {132, 66}, {198, 66}, {264, 36}}, 5000);
     },
     {}, {}, Outcome::Reported, "no answer", {text::NoResponse()}, false, LineAfter::Up, 60000,
     ExpectSpinningStoppedAtTheLimit},
    {"line_goes_away_mid_block", 726, kFastLine,
     [](BootLoaderOptions &o, sim::Faults &) { o.unplugAtBlock = 3; },
     {}, {}, Outcome::Reported, "port vanished", {text::PortVanished()}, false, LineAfter::Gone, 20000,
     [](const sim::BootLoader &boot, const ImageFile &) {
         EXPECT_EQ(boot.Record().dataBlocks, 3);
     }},
    {"line_goes_away_mid_block_and_comes_back", 726, kFastLine,
     [](BootLoaderOptions &o, sim::Faults &f) {
         o.unplugAtBlock = 3;
         f.comeBackAfterMs = 300;
     },
     {}, {}, Outcome::Reported, "port vanished", {text::PortVanished()}, false, LineAfter::Up, 20000, {}},
    // The burst is random: it may happen to hold an end byte, so only the
    // last line is certain.
    {"garbage_ahead_of_a_reply", 726, kFastLine, {}, AtStep(2),
     [](sim::SimulatedReader &r) {
         sim::Faults f = r.GetFaults();
         f.garbage = 1;
         r.SetFaults(f);
     },
     Outcome::Reported, "no answer", {text::NoResponse()}, true, LineAfter::Up, 20000, {}},
    // Every reply pauses after four bytes, for less than the quiet time that
    // ends a read (20 ms at full scale): the replies still arrive whole.
    {"replies_split_by_short_gaps", 726, 1.0,
     [](BootLoaderOptions &, sim::Faults &f) {
         f.gap = sim::kAlways;
         f.gapMs = 5;
     },
     {}, {}, Outcome::Completed, "completed", {}, false, LineAfter::Up, 20000,
     [](const sim::BootLoader &boot, const ImageFile &image) {
         EXPECT_EQ(boot.Received(), image.Section(0, 726));
     }},
    {"reply_split_by_a_long_gap", 726, kFastLine, {}, AtStep(2),
     [](sim::SimulatedReader &r) {
         sim::Faults f = r.GetFaults();
         f.gap = 1;
         f.gapMs = 80;
         r.SetFaults(f);
     },
     Outcome::Reported, "no answer", {text::ChecksumReceiving(), text::NoResponse()}, false, LineAfter::Up, 20000, {}},
    {"line_goes_away_during_the_countdown_and_comes_back", 264, kFastLine,
     [](BootLoaderOptions &o, sim::Faults &) { o.bootAfterAttempts = 4; }, AtCaption(Waiting(99)),
     [](sim::SimulatedReader &r) { r.DropLine(300); },
     Outcome::Completed, "completed", {}, false, LineAfter::Up, 30000,
     [](const sim::BootLoader &boot, const ImageFile &image) {
         EXPECT_EQ(boot.Received(), image.Section(0, 264));
     }},
    // Gone for good, the countdown runs out: 100 silent attempts, each as
    // long as a read of 100 bytes (shortened twenty times here).
    {"line_goes_away_during_the_countdown", 264, 0.05,
     [](BootLoaderOptions &o, sim::Faults &) { o.bootAfterAttempts = BootLoaderOptions::kNever; },
     AtCaption(Waiting(99)), [](sim::SimulatedReader &r) { r.DropLine(-1); },
     Outcome::EndedWithoutReport, "port vanished", {}, false, LineAfter::Gone, 60000,
     [](const sim::BootLoader &boot, const ImageFile &) {
         EXPECT_GE(boot.Record().bootRequests, 2);
         EXPECT_EQ(boot.Record().dataBlocks, 0);
     }},
};

class UpdateFaults : public FaultTest, public ::testing::WithParamInterface<UpdateFault> {};

TEST_P(UpdateFaults, EndInTimeWithTheReportAndTheWindowBack)
{
    const UpdateFault &c = GetParam();
    platform::SetTimeoutScaleForTests(c.scale);
    const ImageFile image(fileDir, c.sectionSize);
    BootLoaderOptions options;
    options.sectionSize = uint32_t(c.sectionSize);
    sim::Faults faults;
    if (c.arrange)
        c.arrange(options, faults);
    boot->SetOptions(options);
    reader->SetFaults(faults);
    ChooseFile(image.path);
    const bool openBefore = ui().Button1->isEnabled(), closeBefore = ui().Button2->isEnabled();

    bool struck = false;
    const qint64 took = LoadProgram([&] {
        if (struck || !c.when || !c.when(ui()))
            return;
        struck = true;
        c.strike(*reader);
    });
    EXPECT_LT(took, c.boundMs);
    EXPECT_EQ(struck, bool(c.when));

    const QStringList lines = ErrorList().isEmpty() ? QStringList() : ErrorList().split('\n');
    switch (c.outcome) {
    case Outcome::Completed:
        EXPECT_EQ(ui().StaticText2->text(), text::Completed());
        EXPECT_TRUE(boot->Record().completed);
        EXPECT_TRUE(lines.isEmpty()) << ErrorList().toStdString();
        break;
    case Outcome::Reported:
        EXPECT_FALSE(boot->Record().completed);
        if (c.lastLineOnly) {
            ASSERT_FALSE(lines.isEmpty());
            EXPECT_EQ(lines.back(), c.lines.back());
            for (const QString &line : lines)
                EXPECT_TRUE(line == text::ChecksumReceiving() || line == text::NoResponse()) << line.toStdString();
        } else {
            EXPECT_EQ(lines, c.lines);
        }
        EXPECT_TRUE(ui().SpeedButton2->isEnabled());
        break;
    case Outcome::EndedWithoutReport:
        EXPECT_FALSE(boot->Record().completed);
        EXPECT_TRUE(lines.isEmpty()) << ErrorList().toStdString();
        EXPECT_EQ(ui().StaticText2->text(), text::StartFirmware());
        break;
    }
    EXPECT_EQ(boxes.Count(), 0u) << boxes.Texts().join('|').toStdString();
    ExpectControlsBack(openBefore, closeBefore);
    if (c.verify)
        c.verify(*boot, image);

    // The monitor has the port again.
    platform::SetTimeoutScaleForTests(kFastLine);
    EXPECT_TRUE(MonitorPolls());
    if (c.after == LineAfter::Up) {
        EXPECT_TRUE(WaitUntil([&] { return MonitorShowsTheReader(); }, kMonitorDeadlineMs)) << MonitorText();
        // And the port is still good for another update.
        boot->SetOptions(Plain(c.sectionSize));
        reader->ClearFaults();
        LoadProgram();
        EXPECT_EQ(ui().StaticText2->text(), text::Completed());
        EXPECT_TRUE(ErrorList().isEmpty()) << ErrorList().toStdString();
        EXPECT_TRUE(WaitUntil([&] { return MonitorShowsTheReader(); }, kMonitorDeadlineMs)) << MonitorText();
    } else {
        EXPECT_TRUE(WaitUntil([&] { return MonitorShowsNoAnswer(); }, kMonitorDeadlineMs)) << MonitorText();
        ExpectCleanClose();
    }
    // The faulty update as the journal keeps it: the first of the entries.
    const std::vector<JournalEntry> updates = Entries(JournalEntry::Kind::Update);
    ASSERT_EQ(updates.size(), c.after == LineAfter::Up ? 2u : 1u);
    EXPECT_TRUE(updates.back().finished);
    EXPECT_EQ(updates.back().outcome.toStdString(), c.journalOutcome);
    EXPECT_EQ(updates.back().errorLines.join('|').toStdString(), lines.join('|').toStdString());
}

INSTANTIATE_TEST_SUITE_P(Line, UpdateFaults, ::testing::ValuesIn(kUpdateFaults),
                         [](const auto &info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// The monitor's polls.

struct PollFault {
    const char *name;
    int comeBackAfterMs;  // -1: stays away
};

void PrintTo(const PollFault &c, std::ostream *os) { *os << c.name; }

class PollFaults : public FaultTest, public ::testing::WithParamInterface<PollFault> {};

TEST_P(PollFaults, LineGoingAwayDuringAPollShowsNoAnswerAndTheReaderAgainWhenBack)
{
    const PollFault &c = GetParam();
    sim::Faults faults;
    faults.vanish = 1;  // instead of the next poll's reply
    faults.comeBackAfterMs = c.comeBackAfterMs;
    reader->SetFaults(faults);

    ASSERT_TRUE(WaitUntil([&] { return MonitorShowsNoAnswer(); }, kMonitorDeadlineMs)) << MonitorText();
    EXPECT_TRUE(ui().Memo3->toPlainText().isEmpty());
    EXPECT_TRUE(ui().Memo5->toPlainText().isEmpty());
    EXPECT_EQ(reader->Snapshot().lineDrops, 1u);
    EXPECT_TRUE(app->form1->PortOpen());

    if (c.comeBackAfterMs < 0) {
        EXPECT_TRUE(MonitorPolls());
        EXPECT_TRUE(MonitorShowsNoAnswer()) << MonitorText();
        ExpectCleanClose();
    } else {
        EXPECT_TRUE(WaitUntil([&] { return MonitorShowsTheReader(); }, kMonitorDeadlineMs)) << MonitorText();
        // The session's port, opened again underneath, carries an update.
        const ImageFile image(fileDir, 330);
        boot->SetOptions(Plain(330));
        ChooseFile(image.path);
        LoadProgram();
        EXPECT_EQ(ui().StaticText2->text(), text::Completed());
    }
    EXPECT_EQ(boxes.Count(), 0u) << boxes.Texts().join('|').toStdString();
}

INSTANTIATE_TEST_SUITE_P(Line, PollFaults,
                         ::testing::Values(PollFault{"comes_back", 300}, PollFault{"stays_away", -1}),
                         [](const auto &info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// A settings write.

struct SettingsFault {
    const char *name;
    int comeBackAfterMs;  // -1: stays away
};

void PrintTo(const SettingsFault &c, std::ostream *os) { *os << c.name; }

class SettingsWriteFaults : public FaultTest, public ::testing::WithParamInterface<SettingsFault> {
protected:
    bool Answered()
    {
        return settingsUi().Button1->isEnabled() && settingsUi().Button2->isEnabled() &&
               !app->recorder->SettingsPending();
    }
    // The boxes of a reader lost: silent, or gone with its port.
    size_t NoAnswerBoxes(const QString &text = kNoAnswer)
    {
        size_t n = 0;
        for (const auto &box : boxes.Boxes())
            n += box.text == text;
        return n;
    }
};

TEST_P(SettingsWriteFaults, LineGoingAwayDuringAWriteEndsCleanly)
{
    const SettingsFault &c = GetParam();
    // What "Device Setting" does, without the modal loop.
    app->form6->show();
    ASSERT_TRUE(WaitUntil([&] { return Answered(); }, kMonitorDeadlineMs));
    settingsUi().ComboBox5->setCurrentIndex(0);
    app->form6->CollectSettings();
    const SettingsRecord edited = app->form6->Exchange.EditedSettings;
    ASSERT_NE(edited, kReaderRecord);

    sim::Faults faults;
    faults.vanish = 1;  // instead of the write's reply
    faults.comeBackAfterMs = c.comeBackAfterMs;
    reader->SetFaults(faults);
    QElapsedTimer clock;
    clock.start();
    settingsUi().Button1->click();

    if (c.comeBackAfterMs >= 0) {
        // A short loss: the write is sent again and lands.
        ASSERT_TRUE(WaitUntil(
            [&] { return store->Record() == edited && Answered() && settingsUi().Button3->isEnabled(); },
            kMonitorDeadlineMs));
        EXPECT_EQ(app->form6->Exchange.DeviceSettings, edited);
        EXPECT_EQ(NoAnswerBoxes(), 0u);
    } else {
        // Gone: one message that says so, the notice, and only "Close" left.
        ASSERT_TRUE(WaitUntil([&] { return !settingsUi().Memo1->isHidden(); }, kMonitorDeadlineMs));
        EXPECT_EQ(NoAnswerBoxes(QStringLiteral("The port vanished: the converter may have been unplugged")), 1u)
            << boxes.Texts().join('|').toStdString();
        EXPECT_EQ(NoAnswerBoxes(), 0u);
        EXPECT_FALSE(settingsUi().Button1->isEnabled());
        EXPECT_FALSE(settingsUi().Button2->isEnabled());
        EXPECT_TRUE(settingsUi().Button3->isEnabled());
        // The reader may have stored the block; its answer went with the
        // line, so the window does not count the write as done.
        EXPECT_EQ(app->form6->Exchange.DeviceSettings, kReaderRecord);
    }
    // A hang check on the whole fault, recovery or give-up included.
    EXPECT_LT(clock.elapsed(), kMonitorDeadlineMs);
    EXPECT_EQ(reader->Snapshot().lineDrops, 1u);

    // Closing the window gives the port back to the monitor.
    boxes.AnswerNext(platform::ResultOk);  // the unsaved-edits question, if it comes
    settingsUi().Button3->click();
    EXPECT_FALSE(app->form6->isVisible());
    EXPECT_TRUE(MonitorPolls());
    if (c.comeBackAfterMs >= 0) {
        EXPECT_TRUE(WaitUntil([&] { return MonitorShowsTheReader(); }, kMonitorDeadlineMs)) << MonitorText();
    } else {
        EXPECT_TRUE(WaitUntil([&] { return MonitorShowsNoAnswer(); }, kMonitorDeadlineMs)) << MonitorText();
        ExpectCleanClose();
    }
    // The journal has the write as it went: taken, or not.
    const std::vector<JournalEntry> writes = Entries(JournalEntry::Kind::SettingsWrite);
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].succeeded, c.comeBackAfterMs >= 0) << writes[0].outcome.toStdString();
    if (c.comeBackAfterMs >= 0) {
        const QByteArray taken(reinterpret_cast<const char *>(edited.data()), int(edited.size()));
        EXPECT_EQ(writes[0].settingsAfter, taken);
    }
}

INSTANTIATE_TEST_SUITE_P(Line, SettingsWriteFaults,
                         ::testing::Values(SettingsFault{"comes_back", 300}, SettingsFault{"stays_away", -1}),
                         [](const auto &info) { return std::string(info.param.name); });

}  // namespace
