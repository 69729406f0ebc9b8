#pragma once
// One open port's session: one worker thread that polls the reader between
// jobs (the connection monitor) and runs the firmware update as a job between
// two polls, so no poll can touch the line during an update. The window gets
// what the worker shows through queued calls and never waits for it.

#include <QString>
#include <atomic>
#include <functional>
#include <memory>
#include <thread>

#include "core/engine/connect_saver.h"
#include "core/engine/port_handover.h"
#include "core/engine/queued_views.h"
#include "core/engine/reader_watch.h"

class TComPort1;
class TProt;
namespace platform { class NamedMutex; }

class ReaderSession {
public:
    // Created on the GUI thread. The views are the window's; the worker reaches
    // them only through the queue. The worker starts at once.
    ReaderSession(TProt &prot, TComPort1 &port, platform::NamedMutex &portBusy, const std::atomic<bool> &portOpen,
                  MonitorView &monitorWindow, UpdateView &updateWindow);
    // Ends a running update at its next step and stops the worker.
    ~ReaderSession();
    ReaderSession(const ReaderSession &) = delete;
    ReaderSession &operator=(const ReaderSession &) = delete;

    // Queues a firmware update of fileName and returns at once. The worker
    // takes the port as the update always did (purge retried for at most a
    // second, at most 200 ms for "COMpBusy", going on without it), runs the
    // update, purges the port and lets go of the lock before it polls again;
    // then finished runs on the GUI thread, after every window call of the update.
    void QueueUpdate(const QString &fileName, std::function<void()> finished);
    // From the queue to the end of the purges after it.
    bool UpdateBusy() const { return updateBusy_.load(); }
    // "Stop": ends the boot loader countdown after the attempt in progress.
    void RequestStop();
    // The window closes: the update ends after its current step.
    void RequestAbort();
    // Stops the worker: a running update ends after its current step, a queued
    // one never starts. On the GUI thread the queued window calls go on meanwhile.
    void Stop();

    ConnectSaver &Monitor() { return *monitor_; }
    // What the monitor last heard from the reader, for any thread.
    const ReaderWatch &Watch() const { return watch_; }
    PortHandover &Handover() { return *handover_; }
    std::thread::id WorkerThreadId() const { return monitor_->ThreadId(); }
    // The thread the last update ran on, for tests.
    std::thread::id UpdateThreadId() const { return updateThread_.load(); }

private:
    void RunUpdate(const QString &fileName);

    TProt &prot_;
    TComPort1 &port_;
    platform::NamedMutex &portBusy_;
    platform::QueuedGuiCalls calls_;
    QueuedMonitorView monitorView_;
    QueuedUpdateView updateView_;
    std::atomic<bool> updateBusy_{false};
    std::atomic<std::thread::id> updateThread_{};
    ReaderWatch watch_;
    std::unique_ptr<ConnectSaver> monitor_;
    std::unique_ptr<PortHandover> handover_;
};
