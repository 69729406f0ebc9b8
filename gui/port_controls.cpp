// The port controls of the main window: "Open" and "Close", the session
// each open port gets, and the monitor's lines drawn from its snapshots.

#include <QApplication>
#include <cstdlib>
#include <system_error>

#include "core/line/device_holders.h"
#include "core/line/network_line.h"
#include "core/line/port_directory.h"
#include "core/session/texts.h"
#include "gui/main_window.h"
#include "gui/message_box.h"
#include "gui/port_chooser.h"
#include "gui/port_open_text.h"
#include "gui/session_bridge.h"
#include "gui/settings_window.h"
#include "gui/setup.h"
#include "gui/system_colours.h"
#include "ui_main_window.h"

void TForm1::Button1Click()
{
    if (!Form2 || Form2->exec() != QDialog::Accepted)
        return;
    if (!ConfirmOpenHeldPort())
        return;  // cancelled: the port stays closed and "Open" stays enabled
    OpenPort();
    // Also after a failed open: the user clears that state with "Close".
    SetPortButtons(false);
}

void TForm1::OpenPort()
{
    const QString name = setup_.PortName;
    const QString path = setup_.DevicePathFor(name);
    Session::OpenResult opened;
    const bool network = platform::IsNetworkPortName(name.toStdString());
    if (!network && name.size() > platform::kMaxPortNameLength) {
        opened.failure = {platform::OpenFailureCause::NameTooLong, {}, {}};
    } else {
        auto bridge = std::make_unique<SessionBridge>();
        Session::Options options;
        options.lockPrefix = portLockPrefix_;
        options.observer = bridge.get();
        options.patience = setup_.PatienceFor(name);
        try {
            opened = Session::Open(name, path, options);
        } catch (const std::system_error &) {
            platform::MessageBoxRequest box;
            box.caption = QApplication::applicationName();
            box.text = tr("New Thread Error");
            platform::ShowMessageBox(box);
            std::exit(EXIT_FAILURE);
        }
        if (opened.session) {
            const int generation = ++sessionGeneration_;
            connect(bridge.get(), &SessionBridge::readerChanged, this, [this, generation](const ReaderSnapshot &r) {
                if (generation == sessionGeneration_)
                    ShowReader(r);
            });
            connect(bridge.get(), &SessionBridge::updateChanged, this, [this, generation](const UpdateProgress &p) {
                if (generation == sessionGeneration_)
                    ShowUpdate(p);
            });
            connect(bridge.get(), &SessionBridge::updateEnded, this, [this, generation](const UpdateResult &r) {
                if (generation == sessionGeneration_)
                    UpdateEnded(r);
            });
            bridge_ = std::move(bridge);
            session_ = std::move(opened.session);
            if (Form6)
                Form6->SetSession(session_.get(), bridge_.get());
            // Open: no answer yet.
            ShowReader(session_->Reader());
            return;
        }
    }
    if (!opened.lockFailure.isEmpty()) {
        platform::ShowError(opened.lockFailure);
        return;
    }
    std::vector<platform::DeviceHolder> holders;
    if (opened.failure.cause == platform::OpenFailureCause::Busy)
        holders = platform::OtherDeviceHolders(path.toStdString());
    platform::ShowError(PortOpenFailureText(name, path, opened.failure, holders, CurrentUserName()));
}

bool TForm1::ConfirmOpenHeldPort()
{
    // A network port's far end answers for itself when it is in use.
    if (platform::IsNetworkPortName(setup_.PortName.toStdString()))
        return true;
    const QString name = setup_.PortName;
    if (name.isEmpty() || name.size() > platform::kMaxPortNameLength)
        return true;  // the open fails and says why
    const auto holders = platform::OtherDeviceHolders(setup_.DevicePathFor(name).toStdString());
    return holders.empty() || platform::ShowMessageBox(HeldPortQuestion(name, holders)) == platform::ResultOk;
}

void TForm1::ClosePort()
{
    if (!session_)
        return;
    // The worker finishes the exchange in flight before the port closes.
    ++sessionGeneration_;
    if (Form6)
        Form6->SetSession(nullptr, nullptr);
    session_.reset();
    bridge_.reset();
    if (monitorShown_)
        SetLineText(MonitorLine::Status, monitor_text::PortClosed());
    monitorShown_ = false;
    shownAnswerKey_ = 0;
    // An update the window quit during has ended with the session; its end
    // came too late for the queue.
    if (updateRunning_ && updateJob_.valid()) {
        UpdateResult result;
        try {
            result = updateJob_.get();
        } catch (const std::future_error &) {
            result.outcome = UpdateOutcome::Stopped;  // it never began
        }
        UpdateEnded(result);
    }
}

ReaderSnapshot TForm1::Reader() const
{
    return session_ ? session_->Reader() : ReaderSnapshot{};
}

void TForm1::ShowReader(const ReaderSnapshot &reader)
{
    monitorShown_ = true;
    switch (reader.state) {
    case ReaderSnapshot::State::Waiting:
        SetLineText(MonitorLine::Status, monitor_text::NoAnswer());
        return;
    case ReaderSnapshot::State::Ready:
        SetLineText(MonitorLine::Status, monitor_text::Ready());
        // Repeated answers change nothing; an answer puts the remark line back
        // over a holder sentence.
        if (reader.info && (reader.answerKey != shownAnswerKey_ || !shownHolders_.isEmpty())) {
            shownAnswerKey_ = reader.answerKey;
            for (const MonitorChange &change : MonitorAnswerChanges(*reader.info)) {
                if (change.serialCaption)
                    SetSerialCaptionLit(true);
                else
                    SetLineText(change.line, change.text);
            }
        }
        shownHolders_.clear();
        return;
    case ReaderSnapshot::State::NoAnswer:
        shownAnswerKey_ = 0;
        SetSerialCaptionLit(false);
        SetLineText(MonitorLine::FirmwareVersion, QString());
        SetLineText(MonitorLine::LoaderVersion, QString());
        SetLineText(MonitorLine::SerialNumber, QString());
        SetLineText(MonitorLine::Status, monitor_text::NoAnswer());
        if (reader.holders != shownHolders_) {
            shownHolders_ = reader.holders;
            SetLineText(MonitorLine::Remark, reader.holders);
        }
        return;
    }
}

void TForm1::Button2Click()
{
    ClosePort();
    SetPortButtons(true);
}

void TForm1::SetLineText(MonitorLine line, const QString &text)
{
    switch (line) {
    case MonitorLine::Status: ui->StaticText3->setText(text); break;
    case MonitorLine::FirmwareVersion: ui->Memo2->setPlainText(text); break;
    case MonitorLine::LoaderVersion: ui->Memo3->setPlainText(text); break;
    case MonitorLine::Remark: ui->Memo4->setPlainText(text); break;
    case MonitorLine::SerialNumber: ui->Memo5->setPlainText(text); break;
    }
}

void TForm1::SetSerialCaptionLit(bool lit)
{
    colours::SetTextColour(ui->Label10, lit ? colours::WindowText : colours::ActiveBorder);
}
