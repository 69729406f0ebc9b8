#pragma once
// Window calls from the session's worker that do not wait for the window: each
// call is queued for the GUI thread and the worker goes on at once. One queue
// carries the monitor's and the update's calls, so the window sees them in the
// order the worker made them.

#include <QString>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

#include "core/engine/connect_saver.h"
#include "core/engine/update_view.h"

class QObject;

namespace platform {

class QueuedGuiCalls {
public:
    // Created on the GUI thread. Calls still queued when it goes are dropped.
    QueuedGuiCalls();
    ~QueuedGuiCalls();
    QueuedGuiCalls(const QueuedGuiCalls &) = delete;
    QueuedGuiCalls &operator=(const QueuedGuiCalls &) = delete;

    // From any thread; returns at once. On the GUI thread the calls queued
    // before it run first, then call itself.
    void Post(std::function<void()> call);
    // On the GUI thread: runs what is queued.
    void RunPending();

private:
    // The calls change hands under a std::mutex, which the thread sanitizer
    // sees; only a wake-up without data goes through Qt's event queue.
    std::mutex lock_;
    std::deque<std::function<void()>> calls_;
    bool wakeUpPosted_ = false;
    std::unique_ptr<QObject> receiver_;
};

}  // namespace platform

class QueuedMonitorView : public MonitorView {
public:
    QueuedMonitorView(platform::QueuedGuiCalls &calls, MonitorView &window) : calls_(calls), window_(window) {}
    void SetLineText(MonitorLine line, const QString &text) override;
    void SetSerialCaptionLit(bool lit) override;

private:
    platform::QueuedGuiCalls &calls_;
    MonitorView &window_;
};

class QueuedUpdateView : public UpdateView {
public:
    QueuedUpdateView(platform::QueuedGuiCalls &calls, UpdateView &window) : calls_(calls), window_(window) {}
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

private:
    platform::QueuedGuiCalls &calls_;
    UpdateView &window_;
};
