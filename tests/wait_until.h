#pragma once
// Waits for a condition another thread (a session's worker, the simulated
// reader) or the window's own events make true; true when it came in time.
// On the GUI thread the window's events are served meanwhile, elsewhere the
// condition is looked at every 2 ms.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <chrono>
#include <thread>

template <typename Condition>
bool WaitUntil(Condition done, int timeoutMs = 10000)
{
    const QCoreApplication *app = QCoreApplication::instance();
    const bool guiThread = app != nullptr && QThread::currentThread() == app->thread();
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs)
            return done();
        if (guiThread)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

// Serves the window's events for ms.
inline void ServeEventsFor(int ms)
{
    WaitUntil([] { return false; }, ms);
}
