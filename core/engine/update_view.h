#pragma once
// What the update engine shows on the main window and the information window.
// The calls come on the thread the update runs on; the window's side hands
// them on to the GUI thread (QueuedUpdateView) without waiting.

#include <QString>

// The update lamp: off, no reply to a boot request, the lit phase of the
// blinking during a transfer, the update done.
enum class Lamp { Off, NoReply, Busy, Done };

class UpdateView {
public:
    virtual ~UpdateView() = default;
    // The "Load program" button's caption: the stage text during an update.
    virtual void SetLoadCaption(const QString &text) = 0;
    virtual void SetStopEnabled(bool enabled) = 0;
    virtual void SetStatusLine(const QString &text) = 0;
    virtual void SetPercentage(const QString &text) = 0;
    virtual void SetProgressMaximum(int maximum) = 0;
    // Within 0 and the maximum: the engine counts the blocks itself.
    virtual void SetProgressPosition(int position) = 0;
    virtual void SetLamp(Lamp lamp) = 0;
    virtual void SetLampBlinking(bool on) = 0;
    virtual void SetErrorIconEnabled(bool enabled) = 0;
    virtual void ClearErrorLines() = 0;
    virtual void AddErrorLine(const QString &line) = 0;
    virtual void ClearDescription() = 0;
    virtual void AddDescriptionLine(const QString &line) = 0;
    // The full path; the view shortens it to fit its control.
    virtual void ShowFileName(const QString &path) = 0;
    // 1000 Hz for 200 ms.
    virtual void Beep() = 0;
};
