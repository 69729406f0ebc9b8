#include "gui/main_window.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPlainTextEdit>
#include <QScreen>

#include "core/journal/report_preferences.h"
#include "gui/design_fonts.h"
#include "gui/history_window.h"
#include "gui/information_window.h"
#include "gui/job_details_window.h"
#include "gui/instruction_window.h"
#include "gui/job_recorder.h"
#include "gui/message_box.h"
#include "gui/session_bridge.h"
#include "gui/settings_window.h"
#include "gui/setup.h"
#include "gui/system_colours.h"
#include "ui_main_window.h"

namespace {

void SetBackground(QWidget *widget, const QColor &colour)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, colour);
    palette.setColor(QPalette::Base, colour);
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

// The pictures are drawn this many times their design size: a button shrinks
// a picture smoothly but never enlarges one, and the main window grows its
// buttons on tall screens.
constexpr int kPictureDetail = 4;

QPixmap BlankPicture(int designSize)
{
    QPixmap picture(designSize * kPictureDetail, designSize * kPictureDetail);
    picture.fill(Qt::transparent);
    return picture;
}

QPixmap QuestionMarkPicture()
{
    QPixmap picture = BlankPicture(46);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(kPictureDetail, kPictureDetail);
    painter.setBrush(QColor(30, 90, 200));
    painter.setPen(Qt::NoPen);
    painter.drawEllipse(1, 1, 44, 44);
    QFont font(QStringLiteral("Liberation Sans"));
    font.setPixelSize(34);
    font.setBold(true);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(QRect(0, 0, 46, 46), Qt::AlignCenter, QStringLiteral("?"));
    return picture;
}

QPixmap WarningPicture()
{
    QPixmap picture = BlankPicture(20);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(kPictureDetail, kPictureDetail);
    QPainterPath triangle;
    triangle.moveTo(10, 1);
    triangle.lineTo(19, 18);
    triangle.lineTo(1, 18);
    triangle.closeSubpath();
    painter.setPen(QPen(QColor(120, 90, 0), 1));
    painter.setBrush(QColor(255, 210, 0));
    painter.drawPath(triangle);
    painter.setPen(QPen(Qt::black, 2));
    painter.drawLine(10, 6, 10, 12);
    painter.drawPoint(10, 15);
    return picture;
}

// A caption longer than the room before its version field ("Загрузчик:")
// reaches over the field's empty start, at its full size; the field stays where
// it is and its text begins after the caption.
void ReachOverField(QLabel *label, QPlainTextEdit *field)
{
    const int needed = label->fontMetrics().horizontalAdvance(label->text()) + 2;
    const int overlap = label->x() + needed - field->x();
    if (overlap <= 0)
        return;
    label->resize(needed, label->height());
    label->raise();
    field->setStyleSheet(QStringLiteral("QPlainTextEdit { padding-left: %1px; }")
                             .arg(overlap + label->fontMetrics().horizontalAdvance(QLatin1Char(' '))));
}

}  // namespace

TForm1::TForm1(TSetup &setup, const std::string &portLockName, QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      ui(std::make_unique<Ui::TForm1>()), setup_(setup), portLockPrefix_(portLockName)
{
    ui->setupUi(this);
    platform::ApplyDesignFonts(this);
    colours::SetTextColour(this, colours::WindowFrame);
    colours::SetTextColour(ui->Label2, colours::Blue);
    colours::SetTextColour(ui->Label3, colours::Red);
    colours::SetTextColour(ui->Label10, colours::ActiveBorder);
    colours::SetTextColour(ui->StaticText3, colours::Blue);
    colours::SetTextColour(ui->Memo4, colours::Green);
    SetBackground(ui->Memo4, colours::ButtonFace);
    for (QWidget *memo : {static_cast<QWidget *>(ui->Memo2), static_cast<QWidget *>(ui->Memo3),
                          static_cast<QWidget *>(ui->Memo5)})
        SetBackground(memo, palette().color(QPalette::Window));
    colours::SetTextColour(ui->Label4, colours::Green);
    colours::SetTextColour(ui->Label5, colours::Blue);
    colours::SetTextColour(ui->StaticText2, colours::Blue);
    // Static texts draw their caption right inside the bevel, with no indent.
    for (QLabel *text : {ui->StaticText1, ui->StaticText2, ui->StaticText3})
        text->setIndent(1);
    for (QLabel *label : {ui->Label2, ui->Label3, ui->Label7, ui->Label6, ui->Label10, ui->Label1})
        label->adjustSize();
    ui->SpeedButton1->setIcon(QuestionMarkPicture());
    ui->SpeedButton2->setIcon(WarningPicture());
    SetLamp(Lamp::Off);
    setFixedWidth(width());

    Timer1.setObjectName(QStringLiteral("Timer1"));
    Timer1.setInterval(1000);
    Timer2.setObjectName(QStringLiteral("Timer2"));
    Timer2.setInterval(800);
    connect(&Timer1, &QTimer::timeout, this, &TForm1::Timer1Timer);
    connect(&Timer2, &QTimer::timeout, this, &TForm1::Timer2Timer);
    connect(ui->Button1, &QPushButton::clicked, this, &TForm1::Button1Click);
    connect(ui->Button2, &QPushButton::clicked, this, &TForm1::Button2Click);
    connect(ui->Button3, &QPushButton::clicked, this, &TForm1::Button3Click);
    connect(ui->Button5, &QPushButton::clicked, this, &TForm1::Button5Click);
    connect(ui->Button21, &QPushButton::clicked, this, &TForm1::Button21Click);
    connect(ui->Button22, &QPushButton::clicked, this, &TForm1::Button22Click);
    connect(ui->Button4, &QPushButton::clicked, this, &TForm1::Button4Click);
    connect(ui->SpeedButton1, &QToolButton::clicked, this, &TForm1::SpeedButton1Click);

    // The reader's history: Ctrl+H anywhere in the window, or the menu of
    // its information area.
    auto *history = new QAction(tr("Reader history..."), this);
    history->setObjectName(QStringLiteral("ReaderHistory1"));
    history->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_H));
    history->setShortcutContext(Qt::WindowShortcut);
    addAction(history);
    connect(history, &QAction::triggered, this, &TForm1::ShowReaderHistory);
    for (QWidget *area : {static_cast<QWidget *>(ui->GroupBox3), static_cast<QWidget *>(ui->Memo2),
                          static_cast<QWidget *>(ui->Memo3), static_cast<QWidget *>(ui->Memo4),
                          static_cast<QWidget *>(ui->Memo5)}) {
        area->setContextMenuPolicy(Qt::ActionsContextMenu);
        area->addAction(history);
    }
    connect(ui->SpeedButton2, &QToolButton::clicked, this, &TForm1::SpeedButton2Click);
    connect(ui->ButtonHistory, &QPushButton::clicked, this, &TForm1::ShowReaderHistory);
    connect(ui->ButtonJobDetails, &QPushButton::clicked, this, &TForm1::ButtonJobDetailsClick);
}

TForm1::~TForm1()
{
    // The worker ends before the window it reports to.
    session_.reset();
}

void TForm1::SetScreenHeightForTests(int height)
{
    platform::SetScreenSizeForTests(height > 0 ? QSize(height * 16 / 9, height) : QSize());
}

void TForm1::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!shownOnce_) {
        shownOnce_ = true;
        FormShow();
    }
}

void TForm1::closeEvent(QCloseEvent *event)
{
    // Quitting in the middle of an update leaves the reader in its boot loader
    // with half a program: the user decides, "Continue" being the safe answer.
    if (updateRunning_) {
        platform::MessageBoxRequest box;
        box.caption = tr("Warning");
        box.text = tr("The firmware update is running.\nIf you quit now, the reader stays in its "
                      "boot loader until it is updated again.");
        box.icon = platform::BoxIcon::Warning;
        box.buttons = platform::BoxButtons::OkCancel;
        box.okText = tr("Quit");
        box.cancelText = tr("Continue");
        box.cancelIsDefault = true;
        box.owner = this;
        if (platform::ShowMessageBox(box) != platform::ResultOk) {
            event->ignore();
            return;
        }
    }
    FormClose();
    event->accept();
    // The main window's close ends the application, whatever else is open.
    QCoreApplication::quit();
}

void TForm1::FormShow()
{
    SetPortButtons(true);
    Timer1.start();

    const double factor = platform::ScreenFactor(this);
    platform::ScaleWidgetTree(this, factor);

    const int outerHeight = ui->Button3->y() + ui->Button3->height() + 28;
    const int frameExtra = frameGeometry().height() - geometry().height();
    const int clientWidth = static_cast<int>(std::lround(521 * factor));
    setFixedSize(clientWidth, outerHeight - std::max(0, frameExtra));
    ReachOverField(ui->Label7, ui->Memo3);
    ReachOverField(ui->Label6, ui->Memo2);
    ReachOverField(ui->Label10, ui->Memo5);
    // Rounded font sizes and the free fonts' widths do not scale with the
    // boxes; captions may use the room of the window's final width.
    platform::FitTextsToControls(this);
    if (QScreen *s = screen())
        move(s->availableGeometry().center() - QPoint(clientWidth / 2, outerHeight / 2));
}

void TForm1::FormClose()
{
    // A running update ends after its current step: the session lets go of
    // the port once the worker has ended, which waits for that step.
    if (session_)
        session_->RequestStop(StopScope::Everything);
    ClosePort();
}

void TForm1::Timer1Timer()
{
    Timer1.stop();
    ui->GroupBox1->setTitle(setup_.PortName);
}

void TForm1::SetPortButtons(bool openEnabled)
{
    ui->Button1->setEnabled(openEnabled);
    ui->Button2->setEnabled(!openEnabled);
}

void TForm1::Button3Click()
{
    close();
}

void TForm1::Button5Click()
{
    if (!session_) {
        platform::ShowError(tr("Select the COM port!"));
        return;
    }
    // The session exchanges settings blocks instead of polling while it is open.
    if (Form6)
        Form6->exec();
}

void TForm1::SpeedButton1Click()
{
    if (!Form4)
        return;
    Form4->show();
    Form4->raise();
    Form4->activateWindow();
}

void TForm1::SpeedButton2Click()
{
    if (Form5)
        Form5->exec();
}

void TForm1::SetRecorder(JobRecorder *recorder)
{
    recorder_ = recorder;
    if (!recorder_)
        return;
    jobDetails_.technician = ReadReportPreferences(setup_.IniPath).technician;
    recorder_->SetDetails(jobDetails_);
}

void TForm1::ShowReaderHistory()
{
    if (!recorder_)
        return;
    const ReaderSnapshot reader = Reader();
    std::optional<uint16_t> serial;
    if (session_ && reader.info)
        serial = reader.info->serialNumber;
    // The report speaks the windows' language and carries the technician's logo.
    ReportOptions report;
    report.language = QLocale::system();
    report.logoPath = ReadReportPreferences(setup_.IniPath).logoPath;
    ::ShowHistory(this, recorder_->Log(), serial, report);
}

void TForm1::ButtonJobDetailsClick()
{
    if (!jobDetailsForm_) {
        jobDetailsForm_ = new TJobDetailsForm(this);
        jobDetailsForm_->setObjectName(QStringLiteral("JobDetailsForm"));
    }
    jobDetailsForm_->Load(ReadReportPreferences(setup_.IniPath), jobDetails_);
    platform::ScaleWindowToScreen(jobDetailsForm_);
    if (jobDetailsForm_->exec() != QDialog::Accepted)
        return;
    const ReportPreferences preferences = jobDetailsForm_->Preferences();
    if (!WriteReportPreferences(setup_.IniPath, preferences))
        platform::ShowError(tr("The technician's name cannot be saved in %1.").arg(setup_.IniPath));
    jobDetails_ = jobDetailsForm_->Details();
    jobDetails_.technician = preferences.technician;
    if (recorder_)
        recorder_->SetDetails(jobDetails_);
}
