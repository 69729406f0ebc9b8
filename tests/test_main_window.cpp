// The main window's port states, its start-up caption, its scaling, the texts
// of every window fitting their controls, and its hints.

#include <QApplication>
#include <QComboBox>
#include <QLocale>
#include <QElapsedTimer>
#include <QFile>
#include <QGroupBox>
#include <QHash>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolTip>
#include <gtest/gtest.h>
#include <algorithm>
#include <cmath>
#include <functional>
#include <optional>
#include <pty.h>
#include <unistd.h>

#include "gui/application.h"
#include "core/journal/journal.h"
#include "core/journal/report_preferences.h"
#include "gui/design_fonts.h"
#include "gui/history_window.h"
#include "gui/job_details_window.h"
#include "gui/job_recorder.h"
#include "gui/message_box.h"
#include "gui/main_window.h"
#include "core/line/serial_port.h"
#include "core/session/texts.h"
#include "gui/port_chooser.h"
#include "gui/setup.h"
#include "holder_process.h"
#include "recorded_boxes.h"
#include "gui/information_window.h"
#include "gui/instruction_window.h"
#include "gui/settings_window.h"
#include "test_app.h"
#include "ui_history_window.h"
#include "ui_job_details_window.h"
#include "ui_main_window.h"
#include "ui_port_chooser.h"
#include "ui_settings_window.h"

namespace {

class MainWindowTest : public ::testing::Test {
protected:
    QTemporaryDir iniDir;
    QTemporaryDir portDir;
    RecordedBoxes boxes;
    std::unique_ptr<test_app::VirtualPort> port;
    std::unique_ptr<TalvorApp> app;

    void SetUp() override
    {
        port = std::make_unique<test_app::VirtualPort>(portDir.path(), QStringLiteral("talvor-test"));
        QFile ini(iniDir.filePath(QStringLiteral("com.ini")));
        ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
        ini.write("[ComPort]\nCom=talvor-test\n");
        ini.close();
        app = std::make_unique<TalvorApp>(
            test_app::Options(iniDir.path(), portDir.path(), "test-main-window-" + std::to_string(getpid())));
    }

    void TearDown() override
    {
        TForm1::SetScreenHeightForTests(0);
        app.reset();
    }

    Ui::TForm1 &ui() { return *app->form1->ui; }

    // Presses "Open" and confirms the chooser with whatever it preselected.
    void OpenThroughChooser()
    {
        QTimer::singleShot(0, app->form2.get(), [this] { app->form2->ui->Button1->click(); });
        ui().Button1->click();
    }
};

TEST_F(MainWindowTest, StartsClosedWithTheDesignStates)
{
    app->form1->show();
    EXPECT_EQ(app->form1->windowTitle(), "Veltrane Firmware update TALVOR-IV-M V3.4");
    EXPECT_TRUE(ui().Button1->isEnabled());
    EXPECT_FALSE(ui().Button2->isEnabled());
    EXPECT_FALSE(ui().Button22->isEnabled());
    EXPECT_FALSE(ui().Button4->isEnabled());
    EXPECT_FALSE(ui().SpeedButton2->isEnabled());
    EXPECT_TRUE(ui().Button5->isEnabled());
    EXPECT_EQ(ui().StaticText3->text(), "COM-port is closed");
    EXPECT_EQ(ui().Label5->text(), "0%");
    EXPECT_EQ(app->form1->PortOpen(), false);
}

TEST_F(MainWindowTest, OpenAndCloseThePort)
{
    OpenThroughChooser();
    EXPECT_EQ(boxes.Count(), 0u) << boxes.Texts().join('|').toStdString();
    EXPECT_EQ(app->form1->PortOpen(), true);
    EXPECT_NE(app->form1->CurrentSession(), nullptr);
    EXPECT_FALSE(ui().Button1->isEnabled());
    EXPECT_TRUE(ui().Button2->isEnabled());
    EXPECT_EQ(ui().GroupBox1->title(), "talvor-test");

    ui().Button2->click();
    EXPECT_EQ(app->form1->PortOpen(), false);
    EXPECT_EQ(app->form1->CurrentSession(), nullptr);
    EXPECT_TRUE(ui().Button1->isEnabled());
    EXPECT_FALSE(ui().Button2->isEnabled());
}

TEST_F(MainWindowTest, HistoryButtonOpensEveryReadersHistoryWithoutAReader)
{
    EXPECT_EQ(ui().ButtonHistory->geometry(), QRect(8, 576, 137, 41));
    EXPECT_EQ(ui().ButtonJobDetails->geometry(), QRect(376, 576, 137, 41));
    app->form1->show();
    ui().ButtonHistory->click();
    EXPECT_EQ(boxes.Count(), 0u) << boxes.Texts().join('|').toStdString();
    const QList<THistoryForm *> histories = app->form1->findChildren<THistoryForm *>();
    ASSERT_EQ(histories.size(), 1);
    EXPECT_TRUE(histories[0]->isVisible());
    EXPECT_EQ(histories[0]->ui->ComboScope->count(), 1) << "no reader known: all readers only";
    histories[0]->close();
}

// "Job details..." with these texts, answered OK.
void GiveJobDetails(TForm1 &form, const QStringList &texts)
{
    QTimer::singleShot(0, &form, [&form, texts] {
        auto *dialog = form.findChild<TJobDetailsForm *>();
        ASSERT_TRUE(dialog && dialog->isVisible());
        const QList<QLineEdit *> edits = {dialog->ui->EditTechnician, dialog->ui->EditSite,
                                          dialog->ui->EditCustomer, dialog->ui->EditNote};
        for (int i = 0; i < edits.size(); ++i)
            edits[i]->setText(texts[i]);
        dialog->ui->ButtonOk->click();
    });
    form.ui->ButtonJobDetails->click();
}

// A settings read through the window's recorder; its entry as the journal keeps it.
JournalEntry ReadSettings(TalvorApp &app)
{
    app.recorder->BeginSettings(JournalEntry::Kind::SettingsRead, std::nullopt);
    app.recorder->EndSettings(SettingsResult{true, kDefaultSettingsRecord});
    const std::vector<JournalEntry> entries = app.journal->Query({});
    EXPECT_FALSE(entries.empty());
    return entries.empty() ? JournalEntry{} : entries.front();
}

TEST_F(MainWindowTest, JobDetailsGoWithTheNextJobsAndTheTechnicianStays)
{
    app->form1->show();
    GiveJobDetails(*app->form1, {"Olga Petrova", "Gate 4", "ACME", "yearly check"});
    EXPECT_EQ(boxes.Count(), 0u) << boxes.Texts().join('|').toStdString();
    JournalEntry entry = ReadSettings(*app);
    EXPECT_EQ(entry.technician, "Olga Petrova");
    EXPECT_EQ(entry.site, "Gate 4");
    EXPECT_EQ(entry.customer, "ACME");
    EXPECT_EQ(entry.note, "yearly check");
    EXPECT_EQ(ReadReportPreferences(iniDir.filePath("com.ini")).technician, "Olga Petrova");

    // After a restart the name comes from com.ini; site, customer and note are gone.
    app.reset();
    app = std::make_unique<TalvorApp>(
        test_app::Options(iniDir.path(), portDir.path(), "test-main-window-" + std::to_string(getpid())));
    entry = ReadSettings(*app);
    EXPECT_EQ(entry.technician, "Olga Petrova");
    EXPECT_TRUE(entry.site.isEmpty() && entry.customer.isEmpty() && entry.note.isEmpty());
}

TEST_F(MainWindowTest, BusyPortFailsAndCloseClearsTheState)
{
    SerialPort otherProgram;
    ASSERT_TRUE(otherProgram.Open(port->Link().toStdString()));

    OpenThroughChooser();
    ASSERT_EQ(boxes.Count(), 1u);
    const auto box = boxes.Boxes()[0];
    EXPECT_TRUE(box.text.startsWith("The COM port is busy!\n\nAnother program holds talvor-test."))
        << box.text.toStdString();
    EXPECT_EQ(box.caption, "Error");
    EXPECT_EQ(box.icon, platform::BoxIcon::None);
    EXPECT_EQ(box.buttons, platform::BoxButtons::Ok);
    EXPECT_EQ(app->form1->PortOpen(), false);
    EXPECT_FALSE(ui().Button1->isEnabled());
    EXPECT_TRUE(ui().Button2->isEnabled());

    ui().Button2->click();
    EXPECT_TRUE(ui().Button1->isEnabled());
    EXPECT_FALSE(ui().Button2->isEnabled());
    EXPECT_EQ(boxes.Count(), 1u);
}

TEST_F(MainWindowTest, EmptyChoiceFailsToOpen)
{
    app->setup->PortName = QStringLiteral("absent-port");  // the chooser then selects nothing
    OpenThroughChooser();
    EXPECT_EQ(app->setup->PortName, "");
    ASSERT_EQ(boxes.Count(), 1u);
    EXPECT_TRUE(boxes.Texts()[0].startsWith("The COM port is busy!\n\nNo port was chosen."))
        << boxes.Texts()[0].toStdString();
    EXPECT_EQ(app->form1->PortOpen(), false);
}

TEST_F(MainWindowTest, EachOpenFailureShowsItsCauseUnderTheKnownLine)
{
    // A converter unplugged after it was chosen: its link leads nowhere.
    ASSERT_TRUE(QFile::link(portDir.filePath(QStringLiteral("gone")), portDir.filePath(QStringLiteral("unplugged"))));
    const struct { const char *portName; const char *cause; } table[] = {
        {"unplugged", "unplugged is not there: the converter may be unplugged.\nPlug it in"},
        {"a-name-of-16-chr", "The port name a-name-of-16-chr is too long"},
    };
    for (const auto &row : table) {
        boxes.Clear();
        app->setup->PortName = QString::fromUtf8(row.portName);
        app->form1->OpenPort();
        ASSERT_EQ(boxes.Count(), 1u) << row.portName;
        const auto box = boxes.Boxes()[0];
        EXPECT_EQ(box.caption, "Error");
        EXPECT_TRUE(box.text.startsWith(QStringLiteral("The COM port is busy!\n\n") + QString::fromUtf8(row.cause)))
            << box.text.toStdString();
        EXPECT_EQ(app->form1->PortOpen(), false);
    }
}

TEST_F(MainWindowTest, PortThatAnotherProgramHoldsAsksFirstAndOpensOnlyWhenTold)
{
    HolderProcess other(port->Link().toStdString());
    ASSERT_TRUE(other.Holding());
    const QString question = QStringLiteral("talvor-test is also open in port-holder (pid %1).\n").arg(other.Pid());

    boxes.AnswerNext(platform::ResultCancel);
    OpenThroughChooser();
    ASSERT_EQ(boxes.Count(), 1u);
    auto box = boxes.Boxes()[0];
    EXPECT_EQ(box.caption, "Warning");
    EXPECT_EQ(box.buttons, platform::BoxButtons::OkCancel);
    EXPECT_EQ(box.okText, "Open anyway");
    EXPECT_TRUE(box.text.startsWith(question)) << box.text.toStdString();
    EXPECT_EQ(app->form1->PortOpen(), false);
    EXPECT_EQ(app->form1->CurrentSession(), nullptr);
    EXPECT_TRUE(ui().Button1->isEnabled()) << "cancelled: the port stays closed";

    boxes.Clear();
    boxes.AnswerNext(platform::ResultOk);
    OpenThroughChooser();
    ASSERT_EQ(boxes.Count(), 1u) << boxes.Texts().join('|').toStdString();
    EXPECT_TRUE(boxes.Texts()[0].startsWith(question));
    EXPECT_EQ(app->form1->PortOpen(), true);
    EXPECT_FALSE(ui().Button1->isEnabled());
    ui().Button2->click();

    // Once it has let go, the port opens without a question.
    other.LetGo();
    boxes.Clear();
    OpenThroughChooser();
    EXPECT_EQ(boxes.Count(), 0u) << boxes.Texts().join('|').toStdString();
    EXPECT_EQ(app->form1->PortOpen(), true);
}

TEST_F(MainWindowTest, CancelledChooserChangesNothing)
{
    app->form1->show();
    QTimer::singleShot(0, app->form2.get(), [this] { app->form2->ui->Button2->click(); });
    ui().Button1->click();
    EXPECT_TRUE(ui().Button1->isEnabled());
    EXPECT_FALSE(ui().Button2->isEnabled());
    EXPECT_EQ(app->form1->PortOpen(), false);
    EXPECT_EQ(boxes.Count(), 0u);
}

TEST_F(MainWindowTest, PreconditionMessagesWithThePortClosed)
{
    ui().Button5->click();
    ui().Button22->setEnabled(true);
    ui().Button22->click();
    EXPECT_EQ(boxes.Texts(), QStringList({"Select the COM port!", "Select the COM port!"}));
    for (const auto &box : boxes.Boxes())
        EXPECT_EQ(box.caption, "Error");
}

TEST_F(MainWindowTest, ClosingTheWindowClosesThePort)
{
    OpenThroughChooser();
    ASSERT_EQ(app->form1->PortOpen(), true);
    app->form1->close();
    EXPECT_EQ(app->form1->PortOpen(), false);
    EXPECT_EQ(app->form1->CurrentSession(), nullptr);
    EXPECT_EQ(boxes.Count(), 0u);  // no update runs: nothing to ask
}

TEST_F(MainWindowTest, GroupBoxShowsThePortNameOneSecondAfterStart)
{
    app->form1->show();
    EXPECT_EQ(ui().GroupBox1->title(), "COM-port");
    ServeEventsFor(1200);
    EXPECT_EQ(ui().GroupBox1->title(), "talvor-test");
    EXPECT_FALSE(app->form1->Timer1.isActive());
}

TEST_F(MainWindowTest, GroupBoxCaptionIsEmptyWhenNoPortIsKnown)
{
    app->setup->PortName.clear();
    app->form1->show();
    ServeEventsFor(1200);
    EXPECT_EQ(ui().GroupBox1->title(), "");
}

TEST_F(MainWindowTest, StageTextsFitTheirControlsInBothLanguages)
{
    TForm1::SetScreenHeightForTests(1080);
    app->form1->show();
    for (const bool russian : {false, true}) {
        std::optional<Translations> translations;
        if (russian)
            translations.emplace(QLocale(QLocale::Russian, QLocale::Russia));
        for (const QString &text : {update_text::Completed(), update_text::Transfer(), update_text::StartFirmware(),
                                    update_text::Connect()}) {
            app->form1->SetStatusLine(text);
            QLabel *line = ui().StaticText2;
            EXPECT_LE(line->fontMetrics().horizontalAdvance(text), line->contentsRect().width() - line->indent())
                << text.toStdString();
        }
        // Smaller, or on two lines, but never under 9 pixels.
        for (const QString &text : {update_text::Waiting(100), update_text::Updating(), update_text::LoadProgram()}) {
            app->form1->SetLoadCaption(text);
            const QString shown = ui().Button22->text();
            EXPECT_EQ(QString(shown).replace(QLatin1Char('\n'), QLatin1Char(' ')), text);
            for (const QString &line : shown.split(QLatin1Char('\n')))
                EXPECT_LE(ui().Button22->fontMetrics().horizontalAdvance(line), ui().Button22->width() - 8)
                    << text.toStdString();
            EXPECT_GE(ui().Button22->font().pixelSize(), 9) << text.toStdString();
        }
    }
    // Back to the short caption, the button's own size comes back.
    EXPECT_EQ(ui().Button22->font().pixelSize(), 19);
}

// What a control shows: a caption, a group box's title.
QString Caption(const QWidget *control)
{
    if (auto *label = qobject_cast<const QLabel *>(control))
        return label->text();
    if (auto *button = qobject_cast<const QAbstractButton *>(control))
        return button->text();
    if (auto *box = qobject_cast<const QGroupBox *>(control))
        return box->title();
    return control->windowTitle();
}

// Without a translation for the locale (C, English) the windows and boxes
// keep their texts byte for byte.
TEST_F(MainWindowTest, WithoutATranslationTheTextsAreTheEnglishOnes)
{
    EXPECT_FALSE(Translations(QLocale::c()).Installed());
    EXPECT_FALSE(Translations(QLocale(QLocale::English, QLocale::UnitedStates)).Installed());
    const std::pair<QWidget *, const char *> captions[] = {
        {app->form1.get(), "Veltrane Firmware update TALVOR-IV-M V3.4"},
        {ui().Label2, "Device:"}, {ui().Label3, "TALVOR IV METAL"}, {ui().GroupBox1, "COM-port"},
        {ui().Button1, "Open"}, {ui().Button2, "Close"}, {ui().GroupBox3, "Current firmware:"},
        {ui().Label7, "Loader:"}, {ui().Label6, "Firmware:"}, {ui().Label10, "Serial N:"},
        {ui().StaticText3, "COM-port is closed"}, {ui().GroupBox2, "Update firmware:"},
        {ui().Button21, "Specify the firmware file:"}, {ui().Label1, "Firmware file description:"},
        {ui().Button5, "Device Setting"}, {ui().Button22, "Load program"}, {ui().Button4, "Stop"},
        {ui().Label4, "Program loaded:"}, {ui().Label5, "0%"}, {ui().Label8, "Status:"}, {ui().Button3, "Close"},
        {app->form2.get(), "COM-port"}, {app->form2->ui->Button1, "OK"}, {app->form2->ui->Button2, "Cancel"},
        {app->form4.get(), "Instruction"}, {app->form5.get(), "Information"}, {app->form6.get(), "Setting"},
    };
    for (const auto &[control, text] : captions)
        EXPECT_EQ(Caption(control), text) << control->objectName().toStdString();
    EXPECT_EQ(ui().SpeedButton1->toolTip(), "Instructions for updating the program");

    const std::pair<QString, const char *> shown[] = {
        {monitor_text::NoAnswer(), "Device no answer"}, {monitor_text::Ready(), "Device is ready"},
        {monitor_text::VersionPrefix(), "vesion  "}, {monitor_text::Unknown(), "unknown"},
        {monitor_text::OldFirmware(), "Firmware versions prior to 5.3 do not contain the necessary information"},
        {update_text::CouldNotOpen(), "Could not open file!"}, {update_text::Waiting(7), "Waiting for connection (7)"},
        {update_text::Completed(), "Firmware update completed successfully!"},
        {update_text::NoResponse(), "There is no response from the device!"},
        {update_text::ChecksumTransmission(), "Checksum error transmission!"},
    };
    for (const auto &[text, expected] : shown)
        EXPECT_EQ(text, expected);

    // The boxes of the main window with the port closed and with no file.
    ui().Button5->click();
    OpenThroughChooser();
    ui().Button22->setEnabled(true);
    ui().Button22->click();
    EXPECT_EQ(boxes.Texts(), QStringList({"Select the COM port!", "Select the firmware file!"}));
    for (const auto &box : boxes.Boxes())
        EXPECT_EQ(box.caption, "Error");
}

// Texts that stay as they are in every language: names, numbers, the title.
bool KeptInEveryLanguage(const QString &text)
{
    static const QStringList kept = {"Veltrane Firmware update TALVOR-IV-M V3.4", "TALVOR IV METAL", "0%",
                                     "TalvorIV-M ETH", "TalvorIV-M ETH KEYS", "iButton", "Wiegand", "0", "1",
                                     "0x01", "0x03", "0% -:- 100%", "50% -:-100%", "talvor-test"};
    return text.isEmpty() || kept.contains(text);
}

bool HasCyrillic(const QString &text)
{
    return std::any_of(text.begin(), text.end(), [](QChar c) { return c.script() == QChar::Script_Cyrillic; });
}

class MainWindowInRussian : public MainWindowTest {
protected:
    void SetUp() override
    {
        translations.emplace(QLocale(QLocale::Russian, QLocale::Russia));
        ASSERT_TRUE(translations->Installed());
        MainWindowTest::SetUp();
    }
    void TearDown() override
    {
        MainWindowTest::TearDown();
        translations.reset();
    }
    std::optional<Translations> translations;
};

TEST_F(MainWindowInRussian, WindowsComeUpInRussian)
{
    const std::pair<QWidget *, const char *> captions[] = {
        {app->form1.get(), "Veltrane Firmware update TALVOR-IV-M V3.4"},
        {ui().Button1, "Открыть"}, {ui().StaticText3, "COM-порт закрыт"}, {ui().Button22, "Загрузить"},
        {ui().GroupBox3, "Текущая прошивка:"}, {app->form2->ui->Button2, "Отмена"}, {app->form6.get(), "Настройки"},
    };
    for (const auto &[control, text] : captions)
        EXPECT_EQ(Caption(control), QString::fromUtf8(text)) << control->objectName().toStdString();

    // Every caption, title, hint and list entry of every window: a text that
    // was added without its translation still shows in English.
    for (QWidget *window : {static_cast<QWidget *>(app->form1.get()), static_cast<QWidget *>(app->form2.get()),
                            static_cast<QWidget *>(app->form4.get()), static_cast<QWidget *>(app->form5.get()),
                            static_cast<QWidget *>(app->form6.get())}) {
        QWidgetList controls = window->findChildren<QWidget *>();
        controls.prepend(window);
        for (QWidget *control : controls) {
            QStringList texts = {Caption(control), control->toolTip()};
            if (auto *combo = qobject_cast<QComboBox *>(control)) {
                for (int i = 0; i < combo->count(); ++i)
                    texts << combo->itemText(i);
            }
            for (const QString &text : texts)
                EXPECT_TRUE(KeptInEveryLanguage(text) || HasCyrillic(text))
                    << control->objectName().toStdString() << ": " << text.toStdString();
        }
    }

    // The file dialog names the file types in Russian; the patterns stay.
    QString filter;
    TOpenDialog::SetChooserForTests([&filter](QWidget *, const QString &qtFilter) {
        filter = qtFilter;
        return QString();
    });
    ui().Button21->click();
    TOpenDialog::SetChooserForTests({});
    EXPECT_EQ(filter, QString::fromUtf8("Файл ROM (*.rom);;Intel HEX (*.hex)"));

    ui().Button5->click();
    ASSERT_EQ(boxes.Count(), 1u);
    EXPECT_EQ(boxes.Boxes()[0].caption, QString::fromUtf8("Ошибка"));
    EXPECT_EQ(boxes.Boxes()[0].text, QString::fromUtf8("Выберите COM-порт!"));
}

// Each designer-named control of window: where it is, inside its own window only.
QHash<QWidget *, QRect> OwnControls(QWidget *window)
{
    QHash<QWidget *, QRect> controls;
    for (QWidget *child : window->findChildren<QWidget *>()) {
        const QString name = child->objectName();
        if (child->window() == window && !name.isEmpty() && !name.startsWith(QLatin1String("qt_")))
            controls.insert(child, child->geometry());
    }
    return controls;
}

// Why text does not fit control, or empty when it does.
std::string TextOverflow(QWidget *control)
{
    const QString name = control->objectName();
    if (auto *label = qobject_cast<QLabel *>(control)) {
        if (label->text().isEmpty())
            return {};
        const QRect room = label->contentsRect();
        const int needed = label->wordWrap()
                               ? label->fontMetrics().boundingRect(room, Qt::TextWordWrap, label->text()).height()
                               : label->fontMetrics().horizontalAdvance(label->text()) + std::max(0, label->indent());
        const int available = label->wordWrap() ? room.height() : room.width();
        if (needed > available)
            return (name + ": " + label->text()).toStdString() + " needs " + std::to_string(needed) + " of " +
                   std::to_string(available);
        // Nothing drawn later in the same parent may cover the text.
        const QRect text(label->mapToParent(room.topLeft()), QSize(needed, room.height()));
        const QWidgetList siblings = label->parentWidget()->findChildren<QWidget *>(Qt::FindDirectChildrenOnly);
        for (qsizetype i = siblings.indexOf(label) + 1; i < siblings.size(); ++i) {
            const QRect over = siblings[i]->geometry().intersected(text);
            if (!siblings[i]->isWindow() && siblings[i]->isVisibleTo(label->window()) && over.width() > 1 &&
                over.height() > text.height() / 2)
                return (name + " is covered by " + siblings[i]->objectName()).toStdString();
        }
        return {};
    }
    // A group box title is cut at the box's edge.
    if (auto *box = qobject_cast<QGroupBox *>(control)) {
        const int needed = box->fontMetrics().horizontalAdvance(box->title()) + 8;
        if (!box->title().isEmpty() && needed > box->width())
            return (name + ": " + box->title()).toStdString() + " needs " + std::to_string(needed) + " of " +
                   std::to_string(box->width());
    }
    if (auto *button = qobject_cast<QAbstractButton *>(control)) {
        int room = button->width() - 8;
        if (qobject_cast<QRadioButton *>(button)) {
            QStyleOptionButton option;
            option.initFrom(button);
            room = button->style()->subElementRect(QStyle::SE_RadioButtonContents, &option, button).width();
        }
        // A caption on two lines needs its wider line, and the height of both.
        int needed = 0;
        const QStringList lines = button->text().split(QLatin1Char('\n'));
        for (const QString &line : lines)
            needed = std::max(needed, button->fontMetrics().horizontalAdvance(line));
        if (int(lines.size()) * button->fontMetrics().lineSpacing() > button->height())
            return (name + ": " + button->text()).toStdString() + " is taller than its button";
        if (!button->text().isEmpty() && needed > room)
            return (name + ": " + button->text()).toStdString() + " needs " + std::to_string(needed) + " of " +
                   std::to_string(room);
    }
    return {};
}

struct ScaleCase {
    int screenHeight;
    bool russian = false;
};

class MainWindowScaling : public MainWindowTest, public ::testing::WithParamInterface<ScaleCase> {
protected:
    void SetUp() override
    {
        ConfigureApplication();  // the free fonts, as the tool measures them
        // Before the windows are built, as the tool does: they come up translated.
        if (GetParam().russian)
            translations.emplace(QLocale(QLocale::Russian, QLocale::Russia));
        MainWindowTest::SetUp();
    }
    void TearDown() override
    {
        if (app && app->form6->isVisible())
            app->form6->ui->Button3->click();
        MainWindowTest::TearDown();
        translations.reset();
    }
    std::optional<Translations> translations;
    // The chooser, instructions, information and settings windows, then the main window.
    std::vector<QWidget *> Windows()
    {
        return {app->form2.get(), app->form4.get(), app->form5.get(), app->form6.get(), app->form1.get()};
    }
};

TEST_P(MainWindowScaling, ScalesControlsAndSetsTheHeightFromButton3)
{
    const int height = GetParam().screenHeight;
    const double factor = height / 1080.0;
    TForm1::SetScreenHeightForTests(height);
    app->form1->show();
    const QRect button3 = ui().Button3->geometry();
    EXPECT_NEAR(button3.x(), 206 * factor, 1);
    EXPECT_NEAR(button3.y(), 576 * factor, 1);
    EXPECT_NEAR(button3.width(), 100 * factor, 1);
    EXPECT_NEAR(button3.height(), 41 * factor, 1);
    EXPECT_NEAR(ui().Memo3->x(), 74 * factor, 1);  // inside a group box
    EXPECT_NEAR(ui().Button1->font().pixelSize(), 19 * factor, 1);
    // The pictures grow with their buttons instead of staying at design size.
    for (QToolButton *button : {ui().SpeedButton1, ui().SpeedButton2})
        EXPECT_EQ(button->icon().actualSize(button->iconSize()), button->iconSize())
            << button->objectName().toStdString();
    EXPECT_NEAR(ui().SpeedButton1->iconSize().width(), 46 * factor, 1);
    // Captions keep their size in both languages: the longer Russian ones
    // beside the version fields reach over the fields' empty start, whose
    // text then begins after them; "Настройки устройства" takes two lines.
    for (QLabel *label : {ui().Label2, ui().Label3, ui().Label6, ui().Label7, ui().Label10})
        EXPECT_NEAR(label->font().pixelSize(), 19 * factor, 2) << label->objectName().toStdString();
    EXPECT_GE(ui().Button5->font().pixelSize(), std::floor(19 * factor * 3 / 4));
    EXPECT_NEAR(ui().Memo3->x(), 74 * factor, 1);
    EXPECT_EQ(app->form1->frameGeometry().height(), button3.y() + button3.height() + 28);
    EXPECT_NEAR(app->form1->width(), 521 * factor, 1);
}

TEST_P(MainWindowScaling, OnlyTheMainWindowScalesAndEveryControlStaysInside)
{
    const int height = GetParam().screenHeight;
    TForm1::SetScreenHeightForTests(height);
    app->form6->SetScreenSizeForTests(QSize(height * 16 / 9, height));
    std::vector<std::pair<QWidget *, QHash<QWidget *, QRect>>> before;
    std::vector<QWidget *> secondary = Windows();
    secondary.pop_back();
    for (QWidget *window : secondary)
        before.emplace_back(window, OwnControls(window));

    app->form1->show();
    for (const auto &[window, controls] : before) {
        EXPECT_EQ(OwnControls(window), controls) << window->objectName().toStdString();
        // The instruction window's "Close" and the chooser's "OK" lie inside their windows.
        for (QWidget *control : controls.keys()) {
            if (control->parentWidget() == window) {
                EXPECT_TRUE(window->rect().contains(control->geometry()))
                    << window->objectName().toStdString() << ' ' << control->objectName().toStdString();
            }
        }
    }
    for (QWidget *control : OwnControls(app->form1.get()).keys())
        EXPECT_TRUE(control->parentWidget()->rect().contains(control->geometry())) << control->objectName().toStdString();
}

TEST_P(MainWindowScaling, EveryTextFitsItsControl)
{
    const int height = GetParam().screenHeight;
    TForm1::SetScreenHeightForTests(height);
    app->form6->SetScreenSizeForTests(QSize(height * 16 / 9, height));
    for (QWidget *window : Windows())
        window->show();
    for (QWidget *window : Windows()) {
        for (QWidget *control : OwnControls(window).keys()) {
            const std::string overflow = TextOverflow(control);
            EXPECT_TRUE(overflow.empty()) << height << ": " << overflow;
        }
    }
    // The settings window's notice: two lines in a memo.
    QPlainTextEdit *notice = app->form6->ui->Memo1;
    const int room = notice->contentsRect().width() - 2 * int(notice->document()->documentMargin());
    for (const QString &line : notice->toPlainText().split('\n'))
        EXPECT_LE(notice->fontMetrics().horizontalAdvance(line), room) << line.toStdString();
    for (QWidget *window : Windows()) {
        if (window != app->form6.get())
            window->hide();
    }
}

INSTANTIATE_TEST_SUITE_P(Screens, MainWindowScaling,
                         ::testing::Values(ScaleCase{768}, ScaleCase{1080}, ScaleCase{1440}, ScaleCase{2160},
                                           ScaleCase{768, true}, ScaleCase{1080, true}, ScaleCase{2160, true}),
                         [](const auto &info) {
                             return std::to_string(info.param.screenHeight) + (info.param.russian ? "_ru" : "");
                         });

// What a window shows on a screen: its size, with the frame, and its smallest text.
struct Shown {
    QSize size, frame;
    int smallestFont = 0;
};

Shown Measure(QWidget *window)
{
    Shown shown{window->size(), window->frameGeometry().size(), QFontInfo(window->font()).pixelSize()};
    for (QWidget *control : window->findChildren<QWidget *>()) {
        if (control->window() == window && control->isVisibleTo(window))
            shown.smallestFont = std::min(shown.smallestFont, QFontInfo(control->font()).pixelSize());
    }
    return shown;
}

// A modal window that open brings up, measured and closed.
Shown MeasureModal(const std::function<void()> &open)
{
    Shown shown;
    QTimer::singleShot(0, [&shown] {
        if (QWidget *modal = QApplication::activeModalWidget()) {
            shown = Measure(modal);
            modal->close();
        }
    });
    open();
    return shown;
}

struct WindowScreen {
    const char *name;
    QSize screen;
};

class EveryWindowScaling : public MainWindowTest, public ::testing::WithParamInterface<WindowScreen> {
protected:
    void SetUp() override
    {
        ConfigureApplication();
        MainWindowTest::SetUp();
    }
    void TearDown() override
    {
        platform::SetMessageBoxHandler({});
        MainWindowTest::TearDown();
    }
};

// Every window keeps its share of the main window, as drawn for 1080 lines;
// one that would not fit the screen shrinks to fit it; no text under 9 pixels.
TEST_P(EveryWindowScaling, KeepsItsShareOfTheMainWindowAndFitsTheScreen)
{
    const QSize screen = GetParam().screen;
    const double factor = screen.height() / 1080.0;
    platform::SetScreenSizeForTests(screen);
    app->form1->show();
    const double mainWidth = app->form1->width();
    EXPECT_NEAR(mainWidth, 521 * factor, 1);
    // The main window fits its captions to their controls, but not below 9 pixels.
    for (QWidget *control : app->form1->findChildren<QWidget *>()) {
        const auto *label = qobject_cast<QLabel *>(control);
        const auto *button = qobject_cast<QAbstractButton *>(control);
        const bool showsText = (label && !label->text().isEmpty()) || (button && !button->text().isEmpty());
        if (showsText && control->isVisibleTo(app->form1.get())) {
            EXPECT_GE(QFontInfo(control->font()).pixelSize(), 9) << control->objectName().toStdString();
        }
    }

    struct Row {
        const char *name;
        std::function<Shown()> show;
        QSize design;  // empty: its layout decides
        int fontPixels = 0;  // of a window laid out by its font; 0: the desktop's
    };
    THistoryForm *history = nullptr;
    const Row rows[] = {
        {"chooser", [&] { app->form2->show(); return Measure(app->form2.get()); }, {201, 73}},
        {"instruction", [&] { app->form4->show(); return Measure(app->form4.get()); }, {606, 416}},
        {"information", [&] { app->form5->show(); return Measure(app->form5.get()); }, {330, 262}},
        {"settings", [&] { app->form6->show(); return Measure(app->form6.get()); }, {778, 566}},
        {"history",
         [&] {
             history = ShowHistory(app->form1.get(), *app->journal, 4321);
             return Measure(history);
         },
         {900, 540}},
        {"job details", [&] { return MeasureModal([&] { app->form1->ui->ButtonJobDetails->click(); }); }, {}, 11},
        {"message box",
         [&] {
             platform::SetMessageBoxHandler({});
             return MeasureModal([] { platform::ShowError(QStringLiteral("Select the COM port!")); });
         },
         {}},
        {"network port", [&] { return MeasureModal([&] { TForm2::AskNetworkPortName(app->form2.get()); }); }, {}},
    };
    for (const Row &row : rows) {
        const Shown shown = row.show();
        EXPECT_LE(shown.frame.width(), screen.width()) << row.name;
        EXPECT_LE(shown.frame.height(), screen.height()) << row.name;
        EXPECT_GE(shown.smallestFont, 9) << row.name;
        if (row.design.isEmpty()) {
            // The boxes are drawn in the desktop's font for 1080 lines; nothing
            // in them shrinks to fit.
            const int designFont = row.fontPixels ? row.fontPixels : QFontInfo(QApplication::font()).pixelSize();
            EXPECT_GE(shown.smallestFont, std::max(9.0, std::round(designFont * factor) - 1)) << row.name;
            continue;
        }
        const QSizeF share(row.design.width() / 521.0, row.design.height() / 521.0);
        const bool fits = row.design.width() * factor <= screen.width() && row.design.height() * factor <= screen.height();
        if (fits) {
            EXPECT_NEAR(shown.size.width() / mainWidth, share.width(), 0.01) << row.name;
            EXPECT_NEAR(shown.size.height() / mainWidth, share.height(), 0.01) << row.name;
        } else {
            // Shrunk to the screen, and not much further.
            EXPECT_LT(shown.size.width() / mainWidth, share.width()) << row.name;
            EXPECT_TRUE(shown.frame.width() >= screen.width() * 0.95 || shown.frame.height() >= screen.height() * 0.95)
                << row.name;
        }
    }
    if (history)
        history->close();
    app->form6->ui->Button3->click();
    for (QWidget *window : {static_cast<QWidget *>(app->form2.get()), static_cast<QWidget *>(app->form4.get()),
                            static_cast<QWidget *>(app->form5.get())})
        window->hide();
}

INSTANTIATE_TEST_SUITE_P(Screens, EveryWindowScaling,
                         ::testing::Values(WindowScreen{"lines768", {1366, 768}}, WindowScreen{"lines1080", {1920, 1080}},
                                           WindowScreen{"lines1440", {2560, 1440}}, WindowScreen{"lines2160", {3840, 2160}},
                                           WindowScreen{"portrait", {1080, 1920}}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(MainWindowTest, HintsStayUntilThePointerLeaves)
{
    ConfigureApplication();
    app->form1->show();
    QWidget *button = ui().SpeedButton1;
    ASSERT_FALSE(button->toolTip().isEmpty());
    QHelpEvent hint(QEvent::ToolTip, QPoint(5, 5), button->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(button, &hint);
    EXPECT_TRUE(QToolTip::isVisible());
    EXPECT_EQ(QToolTip::text(), button->toolTip());
    // Qt's own choice would hide it after about 10 s.
    EXPECT_EQ(button->toolTipDuration(), kHintDisplayMs);
    QToolTip::hideText();
}

}  // namespace
