#include "core/engine/gui_call.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QThread>
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "core/line/named_mutex.h"

namespace platform {

bool OnGuiThread()
{
    auto *app = QCoreApplication::instance();
    return app == nullptr || QThread::currentThread() == app->thread();
}

namespace {

// Calls waiting for the GUI thread. They change hands under a std::mutex and
// a condition variable rather than Qt's blocking connection, whose locks the
// thread sanitizer cannot see; only a wake-up without data goes through Qt.
struct PendingCall {
    const std::function<void()> *fn;
    bool done = false;
};

std::mutex &CallLock()
{
    static std::mutex lock;
    return lock;
}

std::condition_variable &CallDone()
{
    static std::condition_variable done;
    return done;
}

std::deque<PendingCall *> &PendingCalls()
{
    static std::deque<PendingCall *> calls;
    return calls;
}

void RunPendingCalls()
{
    std::unique_lock<std::mutex> guard(CallLock());
    while (!PendingCalls().empty()) {
        PendingCall *call = PendingCalls().front();
        PendingCalls().pop_front();
        guard.unlock();
        (*call->fn)();
        guard.lock();
        call->done = true;
        CallDone().notify_all();
    }
}

}  // namespace

void RunOnGuiThread(const std::function<void()> &fn)
{
    if (OnGuiThread()) {
        fn();
        return;
    }
    PendingCall call{&fn};
    std::unique_lock<std::mutex> guard(CallLock());
    PendingCalls().push_back(&call);
    // Posted under the lock: the GUI thread takes the call only after this
    // thread has let go of it in the wait below.
    QMetaObject::invokeMethod(QCoreApplication::instance(), [] { RunPendingCalls(); }, Qt::QueuedConnection);
    CallDone().wait(guard, [&call] { return call.done; });
}

bool WaitServingGui(const std::function<bool()> &done, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    const bool gui = OnGuiThread() && QCoreApplication::instance() != nullptr;
    while (!done()) {
        if (timeoutMs >= 0 && clock.elapsed() >= timeoutMs)
            return done();
        if (gui)
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 5);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

bool WaitForLockServingGui(NamedMutex &lock, int timeoutMs)
{
    if (!lock.valid())
        return false;
    bool got = false;
    return WaitServingGui([&] { return got || (got = lock.wait(0)); }, std::max(0, timeoutMs));
}

}  // namespace platform
