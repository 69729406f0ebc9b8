#pragma once
// The main window: opens and closes the port, shows what the monitor finds,
// hands the port to the settings window, and fronts the firmware update.

#include <QString>
#include <QTimer>
#include <QWidget>
#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include "core/engine/update_view.h"
#include "core/engine/connect_saver.h"
#include "core/engine/reader_session.h"

namespace Ui { class TForm1; }
class JobRecorder;
namespace platform { class NamedMutex; }
class PortHandover;
class TComPort1;
class TProt;
class TSetup;

// The firmware file chooser with its filter; tests replace the dialog itself.
struct TOpenDialog {
    using Chooser = std::function<QString(QWidget *parent, const QString &qtFilter)>;
    QString Filter = QStringLiteral("Rom file (*.rom)|*.rom|Intel hex (*.hex)|*.hex");
    QString FileName;
    // Shows the dialog; true and FileName set when the user picked a file.
    bool Execute(QWidget *parent);
    static void SetChooserForTests(Chooser chooser);
};

class TForm1 : public QWidget, public MonitorView, public UpdateView {
    Q_OBJECT
public:
    TForm1(TSetup &setup, TComPort1 &port, TProt &prot, const std::string &portLockName,
           QWidget *parent = nullptr);
    ~TForm1() override;

    // Handlers, named after their control and event.
    void FormShow();
    void FormClose();
    void Timer1Timer();
    void Button1Click();
    void Button2Click();
    void Button3Click();
    void Button5Click();
    void SpeedButton1Click();
    void SpeedButton2Click();
    void Timer2Timer();
    void Button21Click();
    void Button22Click();
    void Button4Click();

    void OpenPort();
    bool OpenPortPath(const QString &name);
    void ClosePort();

    // MonitorView
    void SetLineText(MonitorLine line, const QString &text) override;
    void SetSerialCaptionLit(bool lit) override;

    // UpdateView
    void SetLoadCaption(const QString &text) override;
    void SetStopEnabled(bool enabled) override;
    void SetStatusLine(const QString &text) override;
    void SetPercentage(const QString &text) override;
    void SetProgressMaximum(int maximum) override;
    void SetProgressPosition(int position) override;
    void SetLamp(Lamp lamp) override;
    void SetLampBlinking(bool on) override;
    void SetErrorIconEnabled(bool enabled) override;
    void ClearErrorLines() override;
    void AddErrorLine(const QString &line) override;
    void ClearDescription() override;
    void AddDescriptionLine(const QString &line) override;
    void ShowFileName(const QString &path) override;
    void Beep() override;

    QColor LampColour() const;
    ReaderSession &Session() { return *Session_; }
    ConnectSaver &Monitor() { return Session_->Monitor(); }
    PortHandover &Handover() { return Session_->Handover(); }
    // From "Load program" until the window has taken the update's end.
    bool UpdateRunning() const { return updateRunning_; }
    // "COMpBusy1" of the open port, between the settings window and its thread.
    platform::NamedMutex &SettingsLock() { return *COMpBusy1_; }

    // Where updates are recorded; none by default.
    void SetRecorder(JobRecorder *recorder) { recorder_ = recorder; }
    // The history of the reader on the open port, in a window of its own
    // (Ctrl+H, or the menu of the reader's information).
    void ShowReaderHistory();

    // Screen height used by FormShow's scaling; 0 means the real screen.
    static void SetScreenHeightForTests(int height);

    std::unique_ptr<Ui::TForm1> ui;
    std::atomic<bool> PortOpen{false};
    uint16_t FileChosen = 0;
    QTimer Timer1;
    QTimer Timer2;
    TOpenDialog OpenDialog1;

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void SetPortButtons(bool openEnabled);
    bool OpenPortLocks(const QString &portName);
    void ClosePortLocks();
    // When other programs hold the chosen port, asks whether to open it anyway.
    bool ConfirmOpenHeldPort();
    void SetUpdateRunning(bool running);
    // The update job has ended and the port is polled again.
    void UpdateFinished();
    // Opens the chosen file as an image; a refused one gets its box here.
    bool OpenChosenImage();
    void ShowImageRefused();

    TSetup &setup_;
    TComPort1 &port_;
    TProt &prot_;
    // Named after the open port: "COMpBusy-ttyUSB0", "COMpBusy1-ttyUSB0".
    std::string portLockPrefix_;
    std::unique_ptr<platform::NamedMutex> COMpBusy_;
    std::unique_ptr<platform::NamedMutex> COMpBusy1_;
    std::unique_ptr<ReaderSession> Session_;
    bool shownOnce_ = false;
    JobRecorder *recorder_ = nullptr;

    // --- update controls (app/update_controls.cpp) ---
    // "Open"/"Close" as they were when the update started, restored after it.
    struct PortButtons {
        bool open = true;
        bool close = false;
    };
    PortButtons portButtonsBeforeUpdate_;
    bool updateRunning_ = false;
    // --- end of update controls ---
};
