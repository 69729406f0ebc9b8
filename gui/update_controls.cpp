// The firmware update front end of the main window: file choice, "Load
// program", "Stop", progress, status line, lamp and error icon.

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFontMetrics>

#include "core/protocol/firmware_image.h"
#include "core/session/image_copy.h"
#include "core/session/texts.h"
#include "gui/beep.h"
#include "gui/design_fonts.h"
#include "gui/information_window.h"
#include "gui/job_recorder.h"
#include "gui/main_window.h"
#include "gui/message_box.h"
#include "gui/path_shortening.h"
#include "gui/system_colours.h"
#include "ui_main_window.h"

namespace {

// The names of the file types, as the user reads them; the patterns stay.
[[maybe_unused]] const char *const kFilterNames[] = {
    QT_TRANSLATE_NOOP("TOpenDialog", "Rom file (*.rom)"),
    QT_TRANSLATE_NOOP("TOpenDialog", "Intel hex (*.hex)"),
};

TOpenDialog::Chooser &ChooserOverride()
{
    static TOpenDialog::Chooser chooser;
    return chooser;
}

}  // namespace

void TOpenDialog::SetChooserForTests(Chooser chooser)
{
    ChooserOverride() = std::move(chooser);
}

bool TOpenDialog::Execute(QWidget *parent)
{
    // "Name (*.x)|*.x|..." pairs become Qt's "Name (*.x);;..." list.
    const QStringList parts = Filter.split(QLatin1Char('|'));
    QStringList qtFilters;
    for (int i = 0; i + 1 < parts.size(); i += 2)
        qtFilters << QCoreApplication::translate("TOpenDialog", parts[i].toUtf8().constData());
    const QString qtFilter = qtFilters.join(QStringLiteral(";;"));
    const QString chosen = ChooserOverride() ? ChooserOverride()(parent, qtFilter)
                                             : QFileDialog::getOpenFileName(parent, QString(), QString(), qtFilter);
    if (chosen.isEmpty())
        return false;
    FileName = chosen;
    return true;
}

void TForm1::Button21Click()
{
    if (!OpenDialog1.Execute(this))
        return;
    CheckChosenImage();
    // Set for a refused file too: "Load program" then says again why.
    FileChosen = 1;
    ui->Button22->setEnabled(true);
}

bool TForm1::CheckChosenImage()
{
    const QString &path = OpenDialog1.FileName;
    const image_copy::ImageCopy image = image_copy::Load(path, image_copy::Hash::No);
    if (image.failure != image_copy::Failure::None && image.failure != image_copy::Failure::TooLarge) {
        // The file named, and the system's reason beneath.
        const QString detail = path.isEmpty() ? update_text::NoFileName()
                                              : QDir::toNativeSeparators(path) + QLatin1Char('\n') + image.systemText;
        platform::ShowError(update_text::CouldNotOpen() + QLatin1Char('\n') + detail);
        return false;
    }
    // Half the control's width, as the file name was always shown.
    ui->StaticText1->setText(
        platform::ShortenPath(path, ui->StaticText1->fontMetrics(), ui->StaticText1->width() / 2));
    ui->Memo1->clear();
    const firmware_image::Layout layout = firmware_image::Read(image.bytes);
    const image_check::Verdict verdict =
        image.failure == image_copy::Failure::TooLarge ? image.verdict : layout.verdict;
    if (!verdict.Accepted()) {
        // A refused file shows no description and leaves the progress bar alone.
        platform::ShowError(tr("The firmware file cannot be used!\n%1\n%2.")
                                .arg(QDir::toNativeSeparators(path), verdict.reason));
        return false;
    }
    ui->Memo1->appendPlainText(firmware_image::DescriptionText(layout.description));
    ui->ProgressBar1->setMaximum(layout.blockCount);
    ui->ProgressBar1->setValue(0);
    return true;
}

void TForm1::Button22Click()
{
    if (!session_) {
        platform::ShowError(tr("Select the COM port!"));
        return;
    }
    if (FileChosen == 0) {
        platform::ShowError(tr("Select the firmware file!"));
        return;
    }
    // Checked before the job: for a file that is gone or is no image the
    // reader is not touched at all.
    if (!CheckChosenImage())
        return;
    SetUpdateRunning(true);
    updateRunning_ = true;
    if (recorder_)
        recorder_->BeginUpdate(OpenDialog1.FileName);
    // The session's worker takes the port between two polls and gives it back
    // after the update; the window goes on at once.
    updateJob_ = session_->Update(OpenDialog1.FileName);
}

void TForm1::ShowUpdate(const UpdateProgress &progress)
{
    SetLoadCaption(update_view::Caption(progress));
    const bool running = progress.stage == UpdateStage::WaitingForBootLoader ||
                         progress.stage == UpdateStage::StartingFirmware || progress.stage == UpdateStage::Transfer;
    ui->Button4->setEnabled(running);
    if (const auto status = update_view::StatusLine(progress))
        SetStatusLine(*status);
    if (progress.imageAccepted) {
        ui->ProgressBar1->setMaximum(progress.stepsTotal);
        ui->ProgressBar1->setValue(progress.stepsDone);
        ui->Label5->setText(update_view::Percentage(progress).value_or(QString()));
        if (Form5)
            Form5->Memo1()->setPlainText(progress.errorLines.join(QLatin1Char('\n')));
    }
    if (!progress.errorLines.isEmpty())
        ui->SpeedButton2->setEnabled(true);

    switch (progress.stage) {
    case UpdateStage::WaitingForBootLoader:
        if (progress.silenceHeard)
            SetLamp(Lamp::NoReply);
        break;
    case UpdateStage::Transfer:
        if (!Timer2.isActive())
            Timer2.start();
        break;
    case UpdateStage::Completed:
        Timer2.stop();
        SetLamp(Lamp::Done);
        break;
    case UpdateStage::Failed:
        if (progress.imageAccepted) {
            Timer2.stop();
            SetLamp(Lamp::Off);
        }
        break;
    case UpdateStage::Queued:
    case UpdateStage::StartingFirmware:
        break;
    }
}

void TForm1::UpdateEnded(const UpdateResult &result)
{
    if (!updateRunning_)
        return;
    updateJob_ = {};
    SetUpdateRunning(false);
    updateRunning_ = false;
    if (recorder_)
        recorder_->EndUpdate(result);
    switch (result.outcome) {
    case UpdateOutcome::Completed:
        platform::Beep(1000, 200);
        break;
    case UpdateOutcome::ImageRefused:
        // The file was changed since the window checked it; the update sent nothing.
        platform::ShowError(tr("The firmware file cannot be used!\n%1\n%2.")
                                .arg(QDir::toNativeSeparators(OpenDialog1.FileName), result.refusalReason));
        break;
    case UpdateOutcome::ImageUnreadable:
        platform::ShowError(update_text::CouldNotOpen() + QLatin1Char('\n') +
                            QDir::toNativeSeparators(OpenDialog1.FileName) + QLatin1Char('\n') + result.systemText);
        break;
    default:
        break;
    }
    // A failed transfer must not read as one still running: the bar and the
    // percentage stay where it stopped, the status line says why, and the
    // list of errors opens.
    if (!result.errorLines.isEmpty() && Form5)
        Form5->open();
}

// The enabled states around an update, in one place. While the update runs,
// the port must stay open and the image file must stay the one being sent, so
// "Open", "Close" and the file button are off too; the instructions and the
// bottom "Close" stay usable.
void TForm1::SetUpdateRunning(bool running)
{
    if (running) {
        portButtonsBeforeUpdate_ = {ui->Button1->isEnabled(), ui->Button2->isEnabled()};
        ui->SpeedButton2->setEnabled(false);
    }
    ui->Button22->setEnabled(!running);
    // The disabled button carries the countdown and the stage: its caption
    // keeps the normal text colour while the update runs, grey otherwise.
    QPalette stage = ui->Button22->palette();
    stage.setColor(QPalette::Disabled, QPalette::ButtonText,
                   running ? stage.color(QPalette::Active, QPalette::ButtonText)
                           : QApplication::palette(ui->Button22).color(QPalette::Disabled, QPalette::ButtonText));
    ui->Button22->setPalette(stage);
    ui->Button5->setEnabled(!running);
    ui->Button21->setEnabled(!running);
    ui->Button1->setEnabled(running ? false : portButtonsBeforeUpdate_.open);
    ui->Button2->setEnabled(running ? false : portButtonsBeforeUpdate_.close);
}

void TForm1::Button4Click()
{
    // "Stop" ends the boot loader countdown; a transfer goes on.
    if (session_)
        session_->RequestStop(StopScope::Countdown);
}

void TForm1::Timer2Timer()
{
    SetLamp(LampColour() == colours::ButtonFace ? Lamp::Busy : Lamp::Off);
}

QColor TForm1::LampColour() const
{
    return ui->Shape1->palette().color(QPalette::Window);
}

void TForm1::SetLoadCaption(const QString &text)
{
    // The stage texts are longer than the button was drawn for.
    constexpr int kButtonTextMargin = 12;
    ui->Button22->setText(platform::FitCaption(ui->Button22, text, kButtonTextMargin));
}

void TForm1::SetStatusLine(const QString &text)
{
    // "Firmware update completed successfully!" is a pixel or two wider in the
    // free fonts than the line was drawn for.
    const int margin = 2 * ui->StaticText2->frameWidth() + ui->StaticText2->indent() + 1;
    platform::FitFontToText(ui->StaticText2, text, margin);
    ui->StaticText2->setText(text);
}

void TForm1::SetLamp(Lamp lamp)
{
    QColor colour = colours::ButtonFace;
    switch (lamp) {
    case Lamp::Off: break;
    case Lamp::NoReply: colour = colours::Maroon; break;
    case Lamp::Busy: colour = colours::Blue; break;
    case Lamp::Done: colour = colours::Green; break;
    }
    QPalette palette = ui->Shape1->palette();
    palette.setColor(QPalette::Window, colour);
    ui->Shape1->setPalette(palette);
}
