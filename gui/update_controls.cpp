// The firmware update front end of the main window: file choice, "Load
// program", "Stop", progress, status line, lamp and error icon.

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFontMetrics>
#include <mutex>

#include "gui/main_window.h"
#include "core/engine/update_procedure.h"
#include "core/engine/com_port.h"
#include "core/engine/reader_session.h"
#include "gui/beep.h"
#include "gui/design_fonts.h"
#include "gui/job_recorder.h"
#include "gui/message_box.h"
#include "gui/path_shortening.h"
#include "gui/system_colours.h"
#include "ui_main_window.h"
#include "gui/information_window.h"

namespace {

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
        qtFilters << parts[i];
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
    OpenChosenImage();
    // Set for a refused file too: "Load program" then says again why.
    FileChosen = 1;
    ui->Button22->setEnabled(true);
}

bool TForm1::OpenChosenImage()
{
    if (prot_.OpenImage(OpenDialog1.FileName))
        return true;
    if (!prot_.ImageVerdict().Accepted())
        ShowImageRefused();
    return false;
}

void TForm1::ShowImageRefused()
{
    platform::ShowError(tr("The firmware file cannot be used!\n%1\n%2.")
                            .arg(QDir::toNativeSeparators(OpenDialog1.FileName), prot_.ImageVerdict().reason));
}

void TForm1::Button22Click()
{
    if (!PortOpen) {
        platform::ShowError(tr("Select the COM port!"));
        return;
    }
    if (FileChosen == 0) {
        platform::ShowError(tr("Select the firmware file!"));
        return;
    }
    // Checked before the hand-over: for a file that is gone or is no image
    // the reader is not touched at all.
    if (!OpenChosenImage())
        return;
    SetUpdateRunning(true);
    updateRunning_ = true;
    if (recorder_)
        recorder_->BeginUpdate(OpenDialog1.FileName);
    // The session's worker takes the port between two polls and gives it back
    // after the update; the window goes on at once.
    Session_->QueueUpdate(OpenDialog1.FileName, [this] { UpdateFinished(); });
}

void TForm1::UpdateFinished()
{
    SetUpdateRunning(false);
    updateRunning_ = false;
    const UpdateResult &result = prot_.LastResult();
    if (recorder_)
        recorder_->EndUpdate(result);
    // The file was changed since the check above; the update sent nothing.
    if (!prot_.ImageVerdict().Accepted())
        ShowImageRefused();
    // A failed transfer must not read as one still running: the bar and the
    // percentage stay where it stopped, the status line says why, and the
    // list of errors opens.
    if (!result.errorLines.isEmpty()) {
        SetStatusLine(result.errorLines.first());
        if (Form5)
            Form5->open();
    }
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
    ui->Button5->setEnabled(!running);
    ui->Button21->setEnabled(!running);
    ui->Button1->setEnabled(running ? false : portButtonsBeforeUpdate_.open);
    ui->Button2->setEnabled(running ? false : portButtonsBeforeUpdate_.close);
}

void TForm1::Button4Click()
{
    Session_->RequestStop();
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
    platform::FitFontToText(ui->Button22, text, kButtonTextMargin);
    ui->Button22->setText(text);
}
void TForm1::SetStopEnabled(bool enabled) { ui->Button4->setEnabled(enabled); }
void TForm1::SetStatusLine(const QString &text)
{
    // "Firmware update completed successfully!" is a pixel or two wider in the
    // free fonts than the line was drawn for.
    const int margin = 2 * ui->StaticText2->frameWidth() + ui->StaticText2->indent() + 1;
    platform::FitFontToText(ui->StaticText2, text, margin);
    ui->StaticText2->setText(text);
}
void TForm1::SetPercentage(const QString &text) { ui->Label5->setText(text); }
void TForm1::SetProgressMaximum(int maximum) { ui->ProgressBar1->setMaximum(maximum); }
void TForm1::SetProgressPosition(int position) { ui->ProgressBar1->setValue(position); }

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

void TForm1::SetLampBlinking(bool on)
{
    if (on)
        Timer2.start();
    else
        Timer2.stop();
}

void TForm1::SetErrorIconEnabled(bool enabled) { ui->SpeedButton2->setEnabled(enabled); }

void TForm1::ClearErrorLines()
{
    if (Form5)
        Form5->Memo1()->clear();
}

void TForm1::AddErrorLine(const QString &line)
{
    if (Form5)
        Form5->Memo1()->appendPlainText(line);
}

void TForm1::ClearDescription() { ui->Memo1->clear(); }
void TForm1::AddDescriptionLine(const QString &line) { ui->Memo1->appendPlainText(line); }

void TForm1::ShowFileName(const QString &path)
{
    // Half the control's width, as the file name was always shown.
    ui->StaticText1->setText(
        platform::ShortenPath(path, ui->StaticText1->fontMetrics(), ui->StaticText1->width() / 2));
}

void TForm1::Beep()
{
    platform::Beep(1000, 200);
}
