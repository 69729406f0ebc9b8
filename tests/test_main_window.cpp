// The main window's port states, its start-up caption and its scaling.

#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QGroupBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>
#include <pty.h>
#include <unistd.h>

#include "app/application.h"
#include "app/main_window.h"
#include "link/com_port.h"
#include "ports/port_chooser.h"
#include "ports/setup.h"
#include "holder_process.h"
#include "recorded_boxes.h"
#include "test_app.h"
#include "ui_main_window.h"
#include "ui_port_chooser.h"

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

struct ScaleCase {
    int screenHeight;
};

class MainWindowScaling : public MainWindowTest, public ::testing::WithParamInterface<ScaleCase> {};

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
    EXPECT_EQ(app->form1->frameGeometry().height(), button3.y() + button3.height() + 28);
    EXPECT_NEAR(app->form1->width(), 521 * factor, 1);
}

INSTANTIATE_TEST_SUITE_P(Screens, MainWindowScaling, ::testing::Values(ScaleCase{768}, ScaleCase{1080}),
                         [](const auto &info) { return std::to_string(info.param.screenHeight); });

}  // namespace
