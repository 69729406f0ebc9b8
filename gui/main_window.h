#pragma once
// The main window: opens and closes the port, shows what the monitor finds,
// hands the port to the settings window, and fronts the firmware update.

#include <QString>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <future>
#include <memory>
#include <string>

#include "core/journal/journal_entry.h"
#include "core/session/session.h"
#include "gui/texts.h"

namespace Ui { class TForm1; }
class JobRecorder;
class SessionBridge;
class TJobDetailsForm;
class TSetup;

// The update lamp: off, no reply to a boot request, the lit phase of the
// blinking during a transfer, the update done.
enum class Lamp { Off, NoReply, Busy, Done };

// The firmware file chooser with its filter; tests replace the dialog itself.
struct TOpenDialog {
    using Chooser = std::function<QString(QWidget *parent, const QString &qtFilter)>;
    QString Filter = QStringLiteral("Rom file (*.rom)|*.rom|Intel hex (*.hex)|*.hex");
    QString FileName;
    // Shows the dialog; true and FileName set when the user picked a file.
    bool Execute(QWidget *parent);
    static void SetChooserForTests(Chooser chooser);
};

class TForm1 : public QWidget {
    Q_OBJECT
public:
    TForm1(TSetup &setup, const std::string &portLockName, QWidget *parent = nullptr);
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
    void ClosePort();
    bool PortOpen() const { return session_ != nullptr; }

    QColor LampColour() const;
    // The "Load program" caption and the status line, their fonts fitted to the text.
    void SetLoadCaption(const QString &text);
    void SetStatusLine(const QString &text);
    // The open port's session; null while the port is closed.
    Session *CurrentSession() { return session_.get(); }
    // What the monitor last heard on the open port; nothing polled while closed.
    ReaderSnapshot Reader() const;
    // From "Load program" until the window has taken the update's end.
    bool UpdateRunning() const { return updateRunning_; }

    // Where jobs are recorded; none by default. The jobs carry the technician
    // of the preferences and the details given since the start.
    void SetRecorder(JobRecorder *recorder);
    // The service history in a window of its own ("History...", Ctrl+H, or the
    // menu of the reader's information): the connected reader's entries when
    // its serial number is known, else every reader's.
    void ShowReaderHistory();
    // "Job details...": the technician and the next jobs' site, customer and note.
    void ButtonJobDetailsClick();

    // Screen height used by FormShow's scaling; 0 means the real screen.
    static void SetScreenHeightForTests(int height);

    std::unique_ptr<Ui::TForm1> ui;
    uint16_t FileChosen = 0;
    QTimer Timer1;
    QTimer Timer2;
    TOpenDialog OpenDialog1;

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void SetPortButtons(bool openEnabled);
    // When other programs hold the chosen port, asks whether to open it anyway.
    bool ConfirmOpenHeldPort();
    void SetUpdateRunning(bool running);
    // The session's values, drawn: the monitor's lines, the update's controls.
    void ShowReader(const ReaderSnapshot &reader);
    void ShowUpdate(const UpdateProgress &progress);
    void UpdateEnded(const UpdateResult &result);
    void SetLineText(MonitorLine line, const QString &text);
    void SetSerialCaptionLit(bool lit);
    void SetLamp(Lamp lamp);
    // Checks the chosen file as an image and shows its name and description;
    // a file that cannot be used gets its box here.
    bool CheckChosenImage();

    TSetup &setup_;
    // Named after the open port: "COMpBusy-ttyUSB0", "COMpBusy1-ttyUSB0".
    std::string portLockPrefix_;
    std::unique_ptr<SessionBridge> bridge_;
    std::unique_ptr<Session> session_;
    // Values queued by an earlier session are not drawn.
    int sessionGeneration_ = 0;
    bool monitorShown_ = false;
    uint32_t shownAnswerKey_ = 0;
    QString shownHolders_;
    bool shownOnce_ = false;
    JobRecorder *recorder_ = nullptr;
    // Given with "Job details..." for the jobs from then on.
    JobDetails jobDetails_;
    TJobDetailsForm *jobDetailsForm_ = nullptr;

    // --- update controls (update_controls.cpp) ---
    // "Open"/"Close" as they were when the update started, restored after it.
    struct PortButtons {
        bool open = true;
        bool close = false;
    };
    PortButtons portButtonsBeforeUpdate_;
    bool updateRunning_ = false;
    // The running update's job; its end is taken from here when the port
    // closes before the window heard of it.
    std::future<UpdateResult> updateJob_;
    // --- end of update controls ---
};
