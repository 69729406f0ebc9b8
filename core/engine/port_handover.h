#pragma once
// How the GUI thread takes the port from the connection monitor for exclusive
// use (a firmware update, the settings window) and gives it back.

#include <functional>

class ConnectSaver;
class TComPort1;
namespace platform { class NamedMutex; }

class PortHandover {
public:
    // How long a failing purge is retried: an unplugged converter must not
    // freeze the window.
    static constexpr int kPurgeRetryMs = 1000;
    static constexpr int kPortLockWaitMs = 200;

    // Purges with all four actions, retried every 1 ms for at most
    // kPurgeRetryMs; false when the port never took it.
    static bool PurgeRetrying(TComPort1 &port);
    // For a job on the monitor's own thread, between two polls: purges as
    // above, waits up to 200 ms for the port lock (another copy of the tool may
    // be in a poll; its longest exchange is not waited out, the job goes on
    // without the lock), runs job, purges both queues and lets the lock go.
    static void RunWithPortTaken(TComPort1 &port, platform::NamedMutex &portBusy, const std::function<void()> &job);

    PortHandover(TComPort1 &port, platform::NamedMutex &portBusy, ConnectSaver &monitor);

    // Purges the port, waits up to 200 ms for the port lock (going on without
    // it), then parks the monitor between two polls and waits until it has.
    // On the GUI thread; the monitor's window calls are served while waiting.
    void TakeFromMonitor();
    // Releases the port lock; no effect when this thread does not hold it.
    void ReleasePortLock();
    void ResumeMonitor();
    void GiveBackToMonitor()
    {
        ReleasePortLock();
        ResumeMonitor();
    }
    bool GotPortLock() const { return gotLock_; }
    bool PurgeSucceeded() const { return purged_; }

private:
    TComPort1 &port_;
    platform::NamedMutex &portBusy_;
    ConnectSaver &monitor_;
    bool gotLock_ = false;
    bool purged_ = false;
};
