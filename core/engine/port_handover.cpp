#include "core/engine/port_handover.h"

#include <QElapsedTimer>
#include <chrono>
#include <thread>

#include "core/engine/com_port.h"
#include "core/engine/connect_saver.h"
#include "core/engine/gui_call.h"
#include "core/line/named_mutex.h"

PortHandover::PortHandover(TComPort1 &port, platform::NamedMutex &portBusy, ConnectSaver &monitor)
    : port_(port), portBusy_(portBusy), monitor_(monitor)
{
}

bool PortHandover::PurgeRetrying(TComPort1 &port)
{
    QElapsedTimer clock;
    clock.start();
    bool purged = false;
    while (!(purged = port.PurgeAll()) && clock.elapsed() < kPurgeRetryMs)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return purged;
}

void PortHandover::TakeFromMonitor()
{
    purged_ = PurgeRetrying(port_);

    // The monitor may hold the lock while it waits for a window update of
    // ours, so the wait is bounded and keeps serving those updates.
    gotLock_ = platform::WaitForLockServingGui(portBusy_, kPortLockWaitMs);

    monitor_.Park();
}

void PortHandover::ReleasePortLock()
{
    portBusy_.release();
    gotLock_ = false;
}

void PortHandover::ResumeMonitor()
{
    monitor_.Resume();
}

void PortHandover::RunWithPortTaken(TComPort1 &port, platform::NamedMutex &portBusy,
                                    const std::function<void()> &job)
{
    // An unplugged converter fails every purge: it must not hold the worker.
    PurgeRetrying(port);
    const bool gotLock = portBusy.valid() && portBusy.wait(kPortLockWaitMs);
    job();
    port.PurgeInput();
    port.PurgeOutput();
    if (gotLock)
        portBusy.release();
}
