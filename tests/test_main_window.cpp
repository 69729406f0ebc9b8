// The main window's port states, its start-up caption, its scaling, the texts
// of every window fitting their controls, and its hints.

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QGroupBox>
#include <QHash>
#include <QHelpEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolTip>
#include <gtest/gtest.h>
#include <pty.h>
#include <unistd.h>

#include "gui/application.h"
#include "gui/main_window.h"
#include "core/engine/com_port.h"
#include "gui/port_chooser.h"
#include "gui/setup.h"
#include "holder_process.h"
#include "recorded_boxes.h"
#include "gui/information_window.h"
#include "gui/instruction_window.h"
#include "gui/settings_window.h"
#include "test_app.h"
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

    static void ServeEventsFor(int ms)
    {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < ms)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
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
    EXPECT_EQ(app->form1->PortOpen.load(), 0);
}

TEST_F(MainWindowTest, OpenAndCloseThePort)
{
    OpenThroughChooser();
    EXPECT_EQ(boxes.Count(), 0u) << boxes.Texts().join('|').toStdString();
    EXPECT_EQ(app->form1->PortOpen.load(), 1);
    EXPECT_NE(app->comPort->Handle, NullHandle);
    EXPECT_FALSE(ui().Button1->isEnabled());
    EXPECT_TRUE(ui().Button2->isEnabled());
    EXPECT_EQ(ui().GroupBox1->title(), "talvor-test");

    ui().Button2->click();
    EXPECT_EQ(app->form1->PortOpen.load(), 0);
    EXPECT_EQ(app->comPort->Handle, NullHandle);
    EXPECT_TRUE(ui().Button1->isEnabled());
    EXPECT_FALSE(ui().Button2->isEnabled());
}

TEST_F(MainWindowTest, BusyPortFailsAndCloseClearsTheState)
{
    TComPort1 otherProgram;
    ASSERT_NE(otherProgram.Open(port->Link().toStdString(), 19200, 8, 0, 0), NullHandle);

    OpenThroughChooser();
    ASSERT_EQ(boxes.Count(), 1u);
    const auto box = boxes.Boxes()[0];
    EXPECT_TRUE(box.text.startsWith("The COM port is busy!\n\nAnother program holds talvor-test."))
        << box.text.toStdString();
    EXPECT_EQ(box.caption, "Error");
    EXPECT_EQ(box.icon, platform::BoxIcon::None);
    EXPECT_EQ(box.buttons, platform::BoxButtons::Ok);
    EXPECT_EQ(app->form1->PortOpen.load(), 0);
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
    EXPECT_EQ(app->form1->PortOpen.load(), 0);
}

TEST_F(MainWindowTest, OverlongPortNameIsRefused)
{
    EXPECT_FALSE(app->form1->OpenPortPath(QStringLiteral("a-name-of-16-chr")));
    EXPECT_EQ(app->comPort->Handle, NullHandle);
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
        EXPECT_EQ(app->form1->PortOpen.load(), 0);
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
    EXPECT_EQ(app->form1->PortOpen.load(), 0);
    EXPECT_EQ(app->comPort->Handle, NullHandle);
    EXPECT_TRUE(ui().Button1->isEnabled()) << "cancelled: the port stays closed";

    boxes.Clear();
    boxes.AnswerNext(platform::ResultOk);
    OpenThroughChooser();
    ASSERT_EQ(boxes.Count(), 1u) << boxes.Texts().join('|').toStdString();
    EXPECT_TRUE(boxes.Texts()[0].startsWith(question));
    EXPECT_EQ(app->form1->PortOpen.load(), 1);
    EXPECT_FALSE(ui().Button1->isEnabled());
    ui().Button2->click();

    // Once it has let go, the port opens without a question.
    other.LetGo();
    boxes.Clear();
    OpenThroughChooser();
    EXPECT_EQ(boxes.Count(), 0u) << boxes.Texts().join('|').toStdString();
    EXPECT_EQ(app->form1->PortOpen.load(), 1);
}

TEST_F(MainWindowTest, CancelledChooserChangesNothing)
{
    app->form1->show();
    QTimer::singleShot(0, app->form2.get(), [this] { app->form2->ui->Button2->click(); });
    ui().Button1->click();
    EXPECT_TRUE(ui().Button1->isEnabled());
    EXPECT_FALSE(ui().Button2->isEnabled());
    EXPECT_EQ(app->form1->PortOpen.load(), 0);
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
    ASSERT_EQ(app->form1->PortOpen.load(), 1);
    app->form1->close();
    EXPECT_EQ(app->form1->PortOpen.load(), 0);
    EXPECT_EQ(app->comPort->Handle, NullHandle);
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

TEST_F(MainWindowTest, StageTextsFitTheirControls)
{
    TForm1::SetScreenHeightForTests(1080);
    app->form1->show();
    for (const QString text : {"Firmware update completed successfully!", "Process of firmware update...",
                               "Start the firmware...", "Connect the device..."}) {
        app->form1->SetStatusLine(text);
        QLabel *line = ui().StaticText2;
        EXPECT_LE(line->fontMetrics().horizontalAdvance(text), line->contentsRect().width() - line->indent())
            << text.toStdString();
    }
    for (const QString text : {"Waiting for connection (100)", "Process of updating the program...",
                               "Load program"}) {
        app->form1->SetLoadCaption(text);
        EXPECT_LE(ui().Button22->fontMetrics().horizontalAdvance(text), ui().Button22->width() - 8)
            << text.toStdString();
    }
    // Back to the short caption, the button's own size comes back.
    EXPECT_EQ(ui().Button22->font().pixelSize(), 19);
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
    if (auto *button = qobject_cast<QAbstractButton *>(control)) {
        int room = button->width() - 8;
        if (qobject_cast<QRadioButton *>(button)) {
            QStyleOptionButton option;
            option.initFrom(button);
            room = button->style()->subElementRect(QStyle::SE_RadioButtonContents, &option, button).width();
        }
        const int needed = button->fontMetrics().horizontalAdvance(button->text());
        if (!button->text().isEmpty() && needed > room)
            return (name + ": " + button->text()).toStdString() + " needs " + std::to_string(needed) + " of " +
                   std::to_string(room);
    }
    return {};
}

struct ScaleCase {
    int screenHeight;
};

class MainWindowScaling : public MainWindowTest, public ::testing::WithParamInterface<ScaleCase> {
protected:
    void SetUp() override
    {
        ConfigureApplication();  // the free fonts, as the tool measures them
        MainWindowTest::SetUp();
    }
    void TearDown() override
    {
        if (app && app->form6->isVisible())
            app->form6->ui->Button3->click();
        MainWindowTest::TearDown();
    }
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
    EXPECT_NEAR(ui().SpeedButton1->iconSize().width(), 46 * factor, 1);
    // Fitting shrinks a caption only by what it lacks, never to a crumb.
    for (QLabel *label : {ui().Label2, ui().Label3, ui().Label6, ui().Label7, ui().Label10})
        EXPECT_NEAR(label->font().pixelSize(), 19 * factor, 2) << label->objectName().toStdString();
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
                         ::testing::Values(ScaleCase{768}, ScaleCase{1080}, ScaleCase{1440}, ScaleCase{2160}),
                         [](const auto &info) { return std::to_string(info.param.screenHeight); });

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
