// The settings window and its exchange thread against the simulated reader
// over a pseudo-terminal, inside the whole tool: reading, writing, failed
// writes, a reader that goes away and comes back, the close question, a
// button pressed while the thread waits for the window, the hand-back of the
// port to the monitor, the window manager's close and Esc, and a write the
// reader answers without taking every field.

#include <QCloseEvent>
#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <thread>
#include <unistd.h>

#include "core/journal/journal.h"
#include "gui/application.h"
#include "gui/main_window.h"
#include "core/line/named_mutex.h"
#include "core/session/settings_job.h"
#include "recorded_boxes.h"
#include "test_app.h"
#include "wait_until.h"
#include "gui/settings_window.h"
#include "sim/device_info.h"
#include "sim/settings_store.h"
#include "sim/simulated_reader.h"
#include "ui_main_window.h"
#include "ui_settings_window.h"

namespace {

using namespace std::chrono_literals;

using Clock = std::chrono::steady_clock;

// When requests arrived, per kind.
class ArrivalLog {
public:
    void Note()
    {
        std::lock_guard<std::mutex> guard(lock_);
        times_.push_back(Clock::now());
    }
    std::vector<Clock::time_point> Times() const
    {
        std::lock_guard<std::mutex> guard(lock_);
        return times_;
    }

private:
    mutable std::mutex lock_;
    std::vector<Clock::time_point> times_;
};

class LoggedDeviceInfo : public sim::DeviceInfo {
public:
    std::optional<sim::Bytes> OnFrame(sim::ReaderState &state, uint8_t command, const sim::Bytes &payload) override
    {
        log.Note();
        return sim::DeviceInfo::OnFrame(state, command, payload);
    }
    ArrivalLog log;
};

class LoggedSettingsStore : public sim::SettingsStore {
public:
    using sim::SettingsStore::SettingsStore;
    std::optional<sim::Bytes> OnBlock(sim::ReaderState &state, const sim::SettingsBlock &block) override
    {
        log.Note();
        return sim::SettingsStore::OnBlock(state, block);
    }
    ArrivalLog log;
};
const SettingsRecord kReaderRecord = {1, 0, 1, 0, 2, 0, 1, 1, 5};  // Wiegand, "hid-00 (4 bits)"

class SettingsLinkTest : public ::testing::Test {
protected:
    QTemporaryDir iniDir;
    QTemporaryDir portDir;
    RecordedBoxes boxes;
    std::shared_ptr<LoggedSettingsStore> store;
    std::shared_ptr<LoggedDeviceInfo> deviceInfo = std::make_shared<LoggedDeviceInfo>();
    std::unique_ptr<sim::SimulatedReader> reader;
    std::unique_ptr<TalvorApp> app;
    std::string lockName = "test-settings-link-" + std::to_string(getpid());

    void SetUp() override
    {
        sim::Options options;
        options.folder = portDir.path().toStdString();
        options.linkName = "talvor-sim";
        reader = std::make_unique<sim::SimulatedReader>(options);
        reader->AddResponder(deviceInfo);
        sim::SettingsStore::Options storeOptions;
        storeOptions.record = kReaderRecord;
        store = std::make_shared<LoggedSettingsStore>(storeOptions);
        reader->AddResponder(store);
        ASSERT_TRUE(reader->Start()) << reader->ErrorText();

        QFile ini(iniDir.filePath(QStringLiteral("com.ini")));
        ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
        ini.write("[ComPort]\nCom=talvor-sim\n");
        ini.close();
        app = std::make_unique<TalvorApp>(test_app::Options(iniDir.path(), portDir.path(), lockName));
        app->form1->OpenPort();
        ASSERT_EQ(app->form1->PortOpen(), true) << boxes.Texts().join('|').toStdString();
        // The monitor talks to the reader before the settings window takes the port.
        ASSERT_TRUE(WaitUntil([&] { return app->form1->Reader().answers > 0; }));
    }

    void TearDown() override
    {
        if (app && app->form6->isVisible() && ui().Button3->isEnabled()) {
            boxes.AnswerNext(platform::ResultOk);
            ui().Button3->click();
        }
        app.reset();
        reader->Stop();
    }

    TForm6 &form() { return *app->form6; }
    Ui::TForm6 &ui() { return *app->form6->ui; }

    // What "Device Setting" does, without the modal loop.
    void OpenSettings() { form().show(); }

    // The read asked for last is shown.
    bool Answered()
    {
        return ui().Button1->isEnabled() && ui().Button2->isEnabled() && !form().WriteAwaitingReadBack();
    }

    void OpenAndWaitForFirstRead()
    {
        OpenSettings();
        ASSERT_TRUE(WaitUntil([&] { return Answered(); }));
    }

    SettingsRecord ShownInControls()
    {
        form().CollectSettings();
        return form().Exchange.EditedSettings;
    }

    uint64_t Blocks() { return store->Reads() + store->Writes(); }

    bool WaitForBlocks(uint64_t more)
    {
        const uint64_t target = Blocks() + more;
        return WaitUntil([&] { return Blocks() >= target; });
    }

    size_t BoxesWithText(const QString &text)
    {
        size_t count = 0;
        for (const auto &box : boxes.Boxes())
            count += box.text == text;
        return count;
    }
};

TEST_F(SettingsLinkTest, ReadsWritesAndReadsBack)
{
    OpenSettings();
    EXPECT_FALSE(ui().Button1->isEnabled());
    EXPECT_FALSE(ui().Button2->isEnabled());
    ASSERT_TRUE(WaitUntil([&] { return Answered(); }));
    EXPECT_EQ(form().Exchange.DeviceSettings, kReaderRecord);
    EXPECT_TRUE(ui().RadioButton3->isChecked());
    EXPECT_EQ(ui().ComboBox10->currentText(), "hid-00 (4 bits)");
    EXPECT_EQ(ShownInControls(), kReaderRecord);
    EXPECT_TRUE(ui().Memo1->isHidden());
    // The plain model: keyboard and backlight greyed.
    EXPECT_FALSE(ui().ComboBox6->isEnabled());
    EXPECT_FALSE(ui().ComboBox12->isEnabled());

    // Idle, it keeps asking with read requests.
    const uint64_t reads = store->Reads();
    ASSERT_TRUE(WaitForBlocks(2));
    EXPECT_GE(store->Reads(), reads + 2);
    EXPECT_EQ(store->Writes(), 0u);
    EXPECT_EQ(store->LastRequest()[0], settings_protocol::kReadCommand);

    ui().ComboBox5->setCurrentIndex(0);
    ui().RadioButton1->click();
    ui().ComboBox11->setCurrentIndex(1);
    const SettingsRecord edited = {0, 0, 1, 0, 0, 0, 1, 3, 5};
    ui().Button1->click();
    EXPECT_TRUE(form().WriteAwaitingReadBack());
    EXPECT_FALSE(ui().Button1->isEnabled());
    EXPECT_FALSE(ui().Button3->isEnabled());
    ASSERT_TRUE(WaitUntil([&] { return Answered() && ui().Button3->isEnabled(); }));
    EXPECT_EQ(store->Record(), edited);
    EXPECT_EQ(form().Exchange.DeviceSettings, edited);

    // What the reader holds now comes back into the controls.
    ui().Button4->click();
    ASSERT_EQ(ShownInControls(), kDefaultSettingsRecord);
    ui().Button2->click();
    EXPECT_FALSE(ui().Button2->isEnabled());
    ASSERT_TRUE(WaitUntil([&] { return Answered(); }));
    EXPECT_EQ(ShownInControls(), edited);

    ui().Button3->click();
    EXPECT_FALSE(form().isVisible());
    EXPECT_EQ(boxes.Count(), 0u) << boxes.Texts().join('|').toStdString();

    // The journal: the opening read, the write, the read, newest first.
    const std::vector<JournalEntry> entries = app->journal->Query({});
    ASSERT_EQ(entries.size(), 3u);
    using Kind = JournalEntry::Kind;
    EXPECT_EQ(entries[0].kind, Kind::SettingsRead);
    EXPECT_EQ(entries[1].kind, Kind::SettingsWrite);
    EXPECT_EQ(entries[2].kind, Kind::SettingsRead);
    for (const JournalEntry &entry : entries) {
        EXPECT_TRUE(entry.finished && entry.succeeded) << entry.outcome.toStdString();
        EXPECT_EQ(entry.readerSerial, std::optional<uint16_t>(12345));
    }
    const auto bytes = [](const SettingsRecord &r) { return QByteArray(reinterpret_cast<const char *>(r.data()), 9); };
    EXPECT_EQ(entries[1].settingsBefore, bytes(kReaderRecord));
    EXPECT_EQ(entries[1].settingsAfter, bytes(edited));
    EXPECT_EQ(entries[1].changedFields, ChangedFieldIds(kReaderRecord, edited));
    EXPECT_FALSE(entries[1].changedFields.isEmpty());
}

TEST_F(SettingsLinkTest, SixFailedWritesFallBackToReadingTheReader)
{
    OpenAndWaitForFirstRead();
    store->SetWriteMode(sim::SettingsStore::WriteMode::IgnoreWrites);
    ui().ComboBox5->setCurrentIndex(0);
    ui().ComboBox9->setCurrentIndex(0);
    ASSERT_NE(ShownInControls(), kReaderRecord);

    ui().Button1->click();
    ASSERT_FALSE(ui().Button3->isEnabled());
    ASSERT_TRUE(WaitUntil([&] { return ui().Button3->isEnabled(); }));
    EXPECT_EQ(store->Writes(), 6u);
    EXPECT_FALSE(ui().Button1->isEnabled());

    ASSERT_TRUE(WaitUntil([&] { return Answered(); }));
    EXPECT_EQ(store->Writes(), 6u);
    EXPECT_EQ(ShownInControls(), kReaderRecord);  // the edits are gone
    EXPECT_EQ(store->Record(), kReaderRecord);
    EXPECT_EQ(boxes.Count(), 0u) << boxes.Texts().join('|').toStdString();
    EXPECT_TRUE(ui().Memo1->isHidden());
    // The write is in the journal as one the reader did not answer.
    const std::vector<JournalEntry> entries = app->journal->Query({});
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].kind, JournalEntry::Kind::SettingsWrite);
    EXPECT_FALSE(entries[0].succeeded);
    EXPECT_EQ(entries[0].outcome, "no answer");
}

struct LossCase {
    const char *name;
    std::function<void(sim::SimulatedReader &, sim::SettingsStore &)> spoil;
    std::function<void(sim::SimulatedReader &, sim::SettingsStore &)> mend;
    const char *message;  // what the box says once
};

void PrintTo(const LossCase &c, std::ostream *os) { *os << c.name; }

class ReaderLoss : public SettingsLinkTest, public ::testing::WithParamInterface<LossCase> {};

TEST_P(ReaderLoss, MessageOnceThenNoticeAndRecoveryWithoutReload)
{
    const LossCase c = GetParam();
    OpenAndWaitForFirstRead();
    // An edit not sent: a recovery must not reload the controls.
    ui().ComboBox2->setCurrentIndex(1);
    const SettingsRecord edited = ShownInControls();
    ASSERT_NE(edited, kReaderRecord);

    c.spoil(*reader, *store);
    ASSERT_TRUE(WaitUntil([&] { return !ui().Memo1->isHidden(); }));
    ASSERT_EQ(boxes.Count(), 1u) << boxes.Texts().join('|').toStdString();
    const auto box = boxes.Boxes().front();
    EXPECT_EQ(box.text, c.message);
    EXPECT_EQ(box.caption, "Error");
    EXPECT_EQ(box.buttons, platform::BoxButtons::Ok);
    EXPECT_FALSE(ui().Button1->isEnabled());
    EXPECT_FALSE(ui().Button2->isEnabled());
    EXPECT_TRUE(ui().Button3->isEnabled());

    // Three more silent cycles: the box is not shown again.
    WaitUntil([] { return false; }, 3 * (settings_job::kCyclePauseMs + settings_job::kReplyPauseMs) + 100);
    EXPECT_EQ(boxes.Count(), 1u);
    EXPECT_FALSE(ui().Memo1->isHidden());

    c.mend(*reader, *store);
    ASSERT_TRUE(WaitUntil([&] { return ui().Memo1->isHidden(); }));
    EXPECT_TRUE(Answered());
    EXPECT_TRUE(ui().Button3->isEnabled());
    EXPECT_EQ(ShownInControls(), edited);
    EXPECT_EQ(boxes.Count(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, ReaderLoss,
    ::testing::Values(
        LossCase{"silent", [](sim::SimulatedReader &, sim::SettingsStore &s) { s.SetSilent(true); },
                 [](sim::SimulatedReader &, sim::SettingsStore &s) { s.SetSilent(false); }, "Device no answer"},
        LossCase{"wrong_crc", [](sim::SimulatedReader &, sim::SettingsStore &s) { s.SetWrongCrc(true); },
                 [](sim::SimulatedReader &, sim::SettingsStore &s) { s.SetWrongCrc(false); },
                 "The device answered with a bad checksum"},
        // Eleven bytes of a reply equal to the previous one: judged with the
        // stale twelfth byte it would pass.
        LossCase{"short_reply", [](sim::SimulatedReader &, sim::SettingsStore &s) { s.SetShortReply(11); },
                 [](sim::SimulatedReader &, sim::SettingsStore &s) { s.SetShortReply(0); }, "Device no answer"},
        LossCase{"unplugged", [](sim::SimulatedReader &, sim::SettingsStore &s) { s.Unplug(1000); },
                 [](sim::SimulatedReader &, sim::SettingsStore &s) { s.Unplug(0); }, "Device no answer"},
        // The converter itself goes: its device is gone until it comes back.
        LossCase{"port_vanished", [](sim::SimulatedReader &r, sim::SettingsStore &) { r.DropLine(); },
                 [](sim::SimulatedReader &r, sim::SettingsStore &) { ASSERT_TRUE(r.RestoreLine()); },
                 "The port vanished: the converter may have been unplugged"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(SettingsLinkTest, NoAnswerBoxWaitsWithTheSettingsLockFree)
{
    OpenAndWaitForFirstRead();
    // What "From Device" of another window on this port would wait for.
    platform::NamedMutex probe(platform::PortLockName(lockName + "1", "talvor-sim"));
    ASSERT_TRUE(probe.valid()) << probe.failureText();
    std::atomic<int> shown{0};
    std::atomic<bool> freeWhileShown{false};
    platform::SetMessageBoxHandler([&](const platform::MessageBoxRequest &) {
        // Held only during an exchange, never while a box waits for the user.
        freeWhileShown = probe.wait(1000);
        if (freeWhileShown)
            probe.release();
        ++shown;
        return int(platform::ResultOk);
    });
    store->SetSilent(true);
    ASSERT_TRUE(WaitUntil([&] { return shown > 0; }));
    EXPECT_TRUE(freeWhileShown) << "the settings lock stayed taken while the box waited";
    ASSERT_TRUE(WaitUntil([&] { return !ui().Memo1->isHidden(); }));
    EXPECT_EQ(shown, 1);
    // The handler above refers to this test's locals.
    platform::SetMessageBoxHandler([](const platform::MessageBoxRequest &) { return int(platform::ResultOk); });
}

TEST_F(SettingsLinkTest, UnpluggedForSomeCyclesComesBackByItself)
{
    OpenAndWaitForFirstRead();
    store->Unplug(8);
    ASSERT_TRUE(WaitUntil([&] { return !ui().Memo1->isHidden(); }));
    ASSERT_TRUE(WaitUntil([&] { return ui().Memo1->isHidden() && Answered(); }));
    EXPECT_EQ(store->UnpluggedBlocksLeft(), 0);
    EXPECT_EQ(BoxesWithText("Device no answer"), 1u);
}

TEST_F(SettingsLinkTest, CloseLetsTheMonitorPollOnlyAfterTheLastSettingsReply)
{
    // Through the main window's button: the window runs modally.
    bool answered = false;
    // The hand-over before the window serves timers too: act once it is up.
    QTimer driver;
    driver.setInterval(10);
    QObject::connect(&driver, &QTimer::timeout, &form(), [&] {
        if (!form().isVisible())
            return;
        driver.stop();
        answered = WaitUntil([&] { return Answered(); });
        // Close right after a request went out, while its reply is still due.
        const uint64_t target = Blocks() + 1;
        WaitUntil([&] { return Blocks() >= target; });
        ui().Button3->click();
    });
    driver.start();
    app->form1->ui->Button5->click();
    ASSERT_TRUE(answered);
    EXPECT_FALSE(form().isVisible());
    const auto lastBlock = store->log.Times().back();
    const size_t blocks = store->log.Times().size();

    ASSERT_TRUE(WaitUntil([&] {
        const auto polls = deviceInfo->log.Times();
        return !polls.empty() && polls.back() > lastBlock;
    }));
    // The session reads the reply a fixed pause after the block and only then
    // polls again.
    Clock::time_point firstPoll{};
    for (const auto &poll : deviceInfo->log.Times()) {
        if (poll > lastBlock) {
            firstPoll = poll;
            break;
        }
    }
    const auto pollAfterBlockMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(firstPoll - lastBlock).count();
    EXPECT_GE(pollAfterBlockMs, settings_job::kReplyPauseMs - 20);
    EXPECT_EQ(store->log.Times().size(), blocks);
    EXPECT_TRUE(WaitUntil([&] { return app->form1->ui->StaticText3->text() == "Device is ready"; }));
    EXPECT_EQ(reader->Snapshot().badFrames, 0u);
    EXPECT_EQ(boxes.Count(), 0u) << boxes.Texts().join('|').toStdString();
}

TEST_F(SettingsLinkTest, ShowingAgainStartsWithAFreshRead)
{
    OpenAndWaitForFirstRead();
    ui().Button3->click();
    ASSERT_FALSE(form().isVisible());
    store->SetRecord(kDefaultSettingsRecord);
    OpenSettings();
    EXPECT_EQ(form().Exchange.DeviceSettings, SettingsRecord{});
    ASSERT_TRUE(WaitUntil([&] { return Answered(); }));
    EXPECT_EQ(ShownInControls(), kDefaultSettingsRecord);
    EXPECT_EQ(form().Exchange.DeviceSettings, kDefaultSettingsRecord);
}

struct QuestionCase {
    const char *name;
    SettingsRecord readerRecord;
    bool pressDefault;
    bool storeFirst;
    bool asks;
};

void PrintTo(const QuestionCase &c, std::ostream *os) { *os << c.name; }

class CloseQuestion : public SettingsLinkTest, public ::testing::WithParamInterface<QuestionCase> {};

TEST_P(CloseQuestion, AsksOnlyForUnsavedEdits)
{
    const QuestionCase c = GetParam();
    store->SetRecord(c.readerRecord);
    OpenAndWaitForFirstRead();
    if (c.pressDefault)
        ui().Button4->click();
    if (c.storeFirst) {
        ui().Button1->click();
        ASSERT_TRUE(WaitUntil([&] { return Answered() && ui().Button3->isEnabled(); }));
    }

    boxes.AnswerNext(platform::ResultCancel);
    ui().Button3->click();
    if (!c.asks) {
        EXPECT_EQ(boxes.Count(), 0u) << boxes.Texts().join('|').toStdString();
        EXPECT_FALSE(form().isVisible());
        return;
    }
    ASSERT_EQ(boxes.Count(), 1u);
    const auto box = boxes.Boxes()[0];
    EXPECT_EQ(box.text, "The settings have been changed but not saved in the device\r\n "
                        "finish editing the settings anyway?");
    EXPECT_EQ(box.caption, "");
    EXPECT_EQ(box.icon, platform::BoxIcon::Warning);
    EXPECT_EQ(box.buttons, platform::BoxButtons::OkCancel);
    EXPECT_EQ(box.okText, "YES");
    EXPECT_EQ(box.cancelText, " NO ");
    EXPECT_EQ(box.owner, &form());

    // " NO ": the window stays and its reads go on.
    EXPECT_TRUE(form().isVisible());
    EXPECT_TRUE(ui().Button3->isEnabled());
    const uint64_t reads = store->Reads();
    ASSERT_TRUE(WaitUntil([&] { return store->Reads() >= reads + 2; }));

    boxes.AnswerNext(platform::ResultOk);
    ui().Button3->click();
    EXPECT_EQ(boxes.Count(), 2u);
    EXPECT_FALSE(form().isVisible());
    EXPECT_EQ(store->Record(), c.readerRecord);
}

INSTANTIATE_TEST_SUITE_P(
    Table, CloseQuestion,
    ::testing::Values(QuestionCase{"default_over_other_record", kReaderRecord, true, false, true},
                      QuestionCase{"default_over_default_record", kDefaultSettingsRecord, true, false, false},
                      QuestionCase{"untouched", kReaderRecord, false, false, false},
                      QuestionCase{"default_stored", kReaderRecord, true, true, false},
                      // Bits 2-3 of byte 4 = 1 are no "0" rule: the window keeps them.
                      QuestionCase{"unknown_value_kept", {0, 0, 0, 0, 0x04, 1, 0, 0, 0}, false, false, false}),
    [](const auto &info) { return std::string(info.param.name); });

struct WayOutCase {
    const char *name;
    std::function<void(TForm6 &)> leave;
};

void PrintTo(const WayOutCase &c, std::ostream *os) { *os << c.name; }

class WayOut : public SettingsLinkTest, public ::testing::WithParamInterface<WayOutCase> {};

TEST_P(WayOut, GoesThroughTheCloseQuestion)
{
    OpenAndWaitForFirstRead();
    ui().Button4->click();  // unsaved edits

    boxes.AnswerNext(platform::ResultCancel);
    GetParam().leave(form());
    ASSERT_EQ(boxes.Count(), 1u);
    EXPECT_EQ(boxes.Boxes()[0].okText, "YES");
    EXPECT_TRUE(form().isVisible());

    boxes.AnswerNext(platform::ResultOk);
    GetParam().leave(form());
    EXPECT_EQ(boxes.Count(), 2u);
    EXPECT_FALSE(form().isVisible());
    // The port went back to the monitor.
    EXPECT_TRUE(WaitUntil([&] { return app->form1->ui->StaticText3->text() == "Device is ready"; }));
}

INSTANTIATE_TEST_SUITE_P(
    Ways, WayOut,
    ::testing::Values(WayOutCase{"window_manager_close", [](TForm6 &window) { window.close(); }},
                      WayOutCase{"escape",
                                 [](TForm6 &window) {
                                     QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
                                     QCoreApplication::sendEvent(&window, &escape);
                                 }}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(SettingsLinkTest, EscapeDuringAPendingWriteKeepsTheWindow)
{
    OpenAndWaitForFirstRead();
    store->SetWriteMode(sim::SettingsStore::WriteMode::IgnoreWrites);
    ui().Button1->click();
    ASSERT_FALSE(ui().Button3->isEnabled());
    form().close();
    EXPECT_TRUE(form().isVisible());
    EXPECT_EQ(boxes.Count(), 0u);
    ASSERT_TRUE(WaitUntil([&] { return ui().Button3->isEnabled(); }));
}

TEST_F(SettingsLinkTest, ReadBackNamesTheFieldsTheReaderDidNotTake)
{
    // The reader answers every write but keeps its "Temic Only" and its backlight.
    SettingsRecord refused{};
    refused[0] = 0x01;
    refused[8] = 0x06;
    store->SetRefusedBits(refused);
    OpenAndWaitForFirstRead();
    ui().ComboBox1->setCurrentIndex(1);
    form().ComboBox1Select();
    ui().ComboBox5->setCurrentIndex(0);  // "Temic Only": was ON
    ui().ComboBox6->setCurrentIndex(0);  // backlight: was 2
    ui().ComboBox2->setCurrentIndex(1);  // "Red Led": taken
    ui().Button1->click();
    ASSERT_TRUE(WaitUntil([&] { return Answered() && ui().Button3->isEnabled() && boxes.Count() > 0; }));

    ASSERT_EQ(boxes.Count(), 1u);
    const auto box = boxes.Boxes()[0];
    EXPECT_EQ(box.caption, "Warning");
    EXPECT_TRUE(box.text.contains(ui().GroupBox6->title())) << box.text.toStdString();
    EXPECT_TRUE(box.text.contains(ui().GroupBox7->title())) << box.text.toStdString();
    EXPECT_FALSE(box.text.contains(ui().GroupBox3->title())) << box.text.toStdString();
    // The window shows and remembers what the reader holds.
    SettingsRecord held = kReaderRecord;
    held[1] = 1;
    EXPECT_EQ(store->Record(), held);
    EXPECT_EQ(form().Exchange.DeviceSettings, held);
    EXPECT_EQ(ui().ComboBox5->currentIndex(), 1);
    EXPECT_EQ(ui().ComboBox2->currentIndex(), 1);

    // A write that takes every field says nothing.
    ui().ComboBox2->setCurrentIndex(0);
    ui().Button1->click();
    ASSERT_TRUE(WaitUntil([&] { return Answered() && ui().Button3->isEnabled(); }));
    EXPECT_EQ(boxes.Count(), 1u);
    EXPECT_EQ(store->Record(), kReaderRecord);
}

TEST_F(SettingsLinkTest, UnknownValuesAreKeptAndChangingOneIsToldFirst)
{
    const SettingsRecord ff = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    store->SetRecord(ff);
    OpenAndWaitForFirstRead();
    EXPECT_EQ(ui().ComboBox5->currentText(), "0xFF, not a known value");

    // Written back untouched: the reader's own record, without a question.
    ui().Button1->click();
    ASSERT_TRUE(WaitUntil([&] { return Answered() && ui().Button3->isEnabled(); }));
    EXPECT_EQ(boxes.Count(), 0u) << boxes.Texts().join('|').toStdString();
    EXPECT_EQ(store->Stores(), 1u);
    EXPECT_EQ(store->Record(), ff);

    // A choice over an unknown value: the change is told before anything is sent.
    ui().ComboBox5->setCurrentIndex(0);
    const uint64_t writes = store->Writes();
    boxes.AnswerNext(platform::ResultCancel);
    ui().Button1->click();
    ASSERT_EQ(boxes.Count(), 1u);
    const auto box = boxes.Boxes()[0];
    EXPECT_EQ(box.text, "The device holds values this window does not know, and writing these settings changes "
                        "them:\r\n\"Temic Only\": 0xFF, not a known value -> OFF\r\nWrite the settings to the device?");
    EXPECT_EQ(box.buttons, platform::BoxButtons::OkCancel);
    EXPECT_TRUE(box.cancelIsDefault);
    EXPECT_TRUE(ui().Button1->isEnabled());
    ASSERT_TRUE(WaitForBlocks(2));
    EXPECT_EQ(store->Writes(), writes);

    boxes.AnswerNext(platform::ResultOk);
    ui().Button1->click();
    ASSERT_TRUE(WaitUntil([&] { return Answered() && ui().Button3->isEnabled(); }));
    SettingsRecord written = ff;
    written[0] = 0;
    EXPECT_EQ(store->Record(), written);
    EXPECT_EQ(ui().ComboBox5->currentText(), "OFF");
    EXPECT_EQ(ui().ComboBox2->currentText(), "0xFF");

    // What the window shows is what the reader holds: no close question.
    ui().Button3->click();
    EXPECT_FALSE(form().isVisible());
    EXPECT_EQ(boxes.Count(), 2u);
}

}  // namespace
