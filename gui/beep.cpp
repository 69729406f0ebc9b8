#include "gui/beep.h"

#include <QApplication>
#include <fcntl.h>
#include <mutex>
#include <sys/ioctl.h>
#include <unistd.h>

#ifdef __linux__
#include <linux/kd.h>
#endif

namespace platform {

namespace {

std::mutex observerLock;
std::function<void(int, int)> observer;

// The PC speaker is driven by the 8254 timer; the tone is its divisor.
constexpr int kTimerClockHz = 1193180;

bool ConsoleTone(int hz, int ms)
{
#ifdef __linux__
    if (hz <= 0 || ms <= 0)
        return false;
    const unsigned period = static_cast<unsigned>(kTimerClockHz / hz) & 0xFFFFu;
    const unsigned length = static_cast<unsigned>(ms) & 0xFFFFu;
    for (const char *device : {"/dev/console", "/dev/tty0"}) {
        const int fd = ::open(device, O_WRONLY | O_NOCTTY | O_CLOEXEC);
        if (fd < 0)
            continue;
        // KDMKTONE stops the tone by itself after the given milliseconds, so
        // the GUI thread does not wait for it.
        const int result = ::ioctl(fd, KDMKTONE, static_cast<unsigned long>((length << 16) | period));
        ::close(fd);
        if (result == 0)
            return true;
    }
#else
    (void)hz;
    (void)ms;
#endif
    return false;
}

}  // namespace

void Beep(int hz, int ms)
{
    std::function<void(int, int)> current;
    {
        std::lock_guard<std::mutex> guard(observerLock);
        current = observer;
    }
    if (current) {
        current(hz, ms);
        return;
    }
    if (!ConsoleTone(hz, ms))
        QApplication::beep();
}

void SetBeepObserverForTests(std::function<void(int hz, int ms)> newObserver)
{
    std::lock_guard<std::mutex> guard(observerLock);
    observer = std::move(newObserver);
}

}  // namespace platform
