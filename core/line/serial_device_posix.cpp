// The serial line on POSIX systems: termios for the line settings, poll() for
// the read time-outs. The descriptor stays non-blocking; every wait is a poll.
#include "core/line/serial_device.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#ifdef __linux__
#include <linux/serial.h>
#endif

namespace platform {

namespace {

using Clock = std::chrono::steady_clock;

std::atomic<double> g_timeoutScale{1.0};

static_assert(sizeof(termios) <= 128, "saved terminal settings do not fit");

std::string errnoText(const std::string &what, int error)
{
    return what + ": " + std::strerror(error);
}

Clock::duration scaledMs(double ms)
{
    return std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double, std::milli>(ms * TimeoutScale()));
}

// Who may open the device: its permission bits, group id and group name
// (dialout on most systems); left empty when it cannot be looked at.
void describeDeviceAccess(const std::string &path, OpenFailure &failure)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return;
    failure.deviceMode = unsigned(st.st_mode);
    failure.deviceGid = unsigned(st.st_gid);
    if (const group *g = ::getgrgid(st.st_gid))
        failure.deviceGroup = g->gr_name;
    else
        failure.deviceGroup = std::to_string(st.st_gid);
}

bool baudConstant(uint32_t baud, speed_t &out)
{
    static const struct { uint32_t rate; speed_t code; } table[] = {
        {50, B50},         {75, B75},         {110, B110},       {134, B134},
        {150, B150},       {200, B200},       {300, B300},       {600, B600},
        {1200, B1200},     {1800, B1800},     {2400, B2400},     {4800, B4800},
        {9600, B9600},     {19200, B19200},   {38400, B38400},   {57600, B57600},
        {115200, B115200}, {230400, B230400},
#ifdef B460800
        {460800, B460800}, {500000, B500000}, {576000, B576000}, {921600, B921600},
        {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000},
        {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
        {3500000, B3500000}, {4000000, B4000000},
#endif
    };
    for (const auto &e : table) {
        if (e.rate == baud) {
            out = e.code;
            return true;
        }
    }
    return false;
}

// Milliseconds to hand to poll() so that it wakes no earlier than the deadline.
int pollMs(Clock::time_point deadline)
{
    const auto left = deadline - Clock::now();
    if (left <= Clock::duration::zero())
        return 0;
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    return ms > 1000000 ? 1000000 : static_cast<int>(ms);
}

// A vanished line answers at once forever; a read on it waits out its budget
// so that looping callers do not spin.
void sleepOutBudget(const ReadTimeouts &timeouts, Clock::time_point start, size_t count)
{
    const bool haveTotal = timeouts.totalMultiplierMs != 0 || timeouts.totalConstantMs != 0;
    const double totalMs =
        (double(timeouts.totalMultiplierMs) * double(count) + timeouts.totalConstantMs) * TimeoutScale();
    const auto until = haveTotal ? start + std::chrono::duration_cast<Clock::duration>(
                                               std::chrono::duration<double, std::milli>(totalMs))
                                 : start + std::chrono::milliseconds(100);
    std::this_thread::sleep_until(until);
}

// The driver's line error counters; false with errno when it has none.
#ifdef __linux__
bool readErrorCounts(int fd, int out[5])
{
    serial_icounter_struct ic{};
    if (::ioctl(fd, TIOCGICOUNT, &ic) != 0)
        return false;
    out[0] = ic.frame;
    out[1] = ic.overrun;
    out[2] = ic.parity;
    out[3] = ic.brk;
    out[4] = ic.buf_overrun;
    return true;
}

// A USB converter otherwise holds received bytes back until its latency timer
// runs out. changed: the flag was off and this call set it.
LowLatency requestLowLatency(int fd, bool &changed)
{
    changed = false;
    serial_struct serial{};
    if (::ioctl(fd, TIOCGSERIAL, &serial) != 0)
        return LowLatency::Refused;
    if (serial.flags & ASYNC_LOW_LATENCY)
        return LowLatency::Granted;
    serial.flags |= ASYNC_LOW_LATENCY;
    if (::ioctl(fd, TIOCSSERIAL, &serial) != 0)
        return LowLatency::Refused;
    changed = true;
    return LowLatency::Granted;
}

void dropLowLatency(int fd)
{
    serial_struct serial{};
    if (::ioctl(fd, TIOCGSERIAL, &serial) != 0)
        return;
    serial.flags &= ~ASYNC_LOW_LATENCY;
    ::ioctl(fd, TIOCSSERIAL, &serial);
}
#else
bool readErrorCounts(int, int[5])
{
    errno = ENOTTY;
    return false;
}
LowLatency requestLowLatency(int, bool &changed)
{
    changed = false;
    return LowLatency::Refused;
}
void dropLowLatency(int) {}
#endif

// Ten bit times at 8N1, eleven with parity, and so on.
std::chrono::nanoseconds byteTimeOf(const LineSettings &settings)
{
    const unsigned bits = 1u + settings.dataBits + (settings.parity != Parity::None ? 1u : 0u) +
                          (settings.stopBits == StopBits::Two ? 2u : 1u);
    return std::chrono::nanoseconds(uint64_t(bits) * 1000000000u / settings.baudRate);
}

}  // namespace

OpenFailureCause OpenFailureCauseFor(int error)
{
    switch (error) {
    case 0: return OpenFailureCause::None;
    case EACCES:
    case EPERM: return OpenFailureCause::PermissionDenied;
    case ENOENT:
    case ENODEV:
    case ENXIO:
    case ENOTDIR: return OpenFailureCause::NoSuchDevice;
    case ENAMETOOLONG: return OpenFailureCause::NameTooLong;
    case EBUSY:
    case EWOULDBLOCK: return OpenFailureCause::Busy;
    // A character device that is no terminal (/dev/null) refuses the line's ioctls.
    case ENOTTY: return OpenFailureCause::NotADevice;
    default: return OpenFailureCause::Other;
    }
}

void SetTimeoutScaleForTests(double scale)
{
    g_timeoutScale.store(scale > 0.0 ? scale : 1.0);
}

double TimeoutScale() { return g_timeoutScale.load(); }

SerialDevice::~SerialDevice() { close(); }

bool SerialDevice::open(const std::string &path, const LineSettings &settings)
{
    close();
    std::lock_guard<std::mutex> guard(lineLock_);
    error_.clear();
    openFailure_ = {};
    reopens_ = 0;
    lowLatency_ = LowLatency::NotAsked;
    received_ = 0;
    sent_ = 0;
    if (!openDescriptor(path, settings))
        return false;
    path_ = path;
    settings_ = settings;
    reopenArmed_ = true;
    return true;
}

bool SerialDevice::openDescriptor(const std::string &path, const LineSettings &settings)
{
    if (path.empty()) {
        failOpen("no device path", ENOENT);
        return false;
    }

    speed_t speed;
    if (!baudConstant(settings.baudRate, speed)) {
        failOpen("unsupported baud rate " + std::to_string(settings.baudRate), EINVAL);
        return false;
    }
    tcflag_t size;
    switch (settings.dataBits) {
    case 5: size = CS5; break;
    case 6: size = CS6; break;
    case 7: size = CS7; break;
    case 8: size = CS8; break;
    default:
        failOpen("unsupported byte size " + std::to_string(settings.dataBits), EINVAL);
        return false;
    }

    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        failOpen(errnoText("cannot open " + path, error), error);
        if (openFailure_.cause == OpenFailureCause::PermissionDenied)
            describeDeviceAccess(path, openFailure_);
        return false;
    }
    termios saved{};
    bool exclusive = false;
    bool changed = false;
    // No half-open handle: undo only what this call did (the exclusive flag
    // belongs to the device, so a refused opener must not clear the holder's).
    auto fail = [&](const char *what) {
        const int error = errno;
        failOpen(errnoText(what, error), error);
        if (changed)
            ::tcsetattr(fd, TCSANOW, &saved);
        if (exclusive)
            ::ioctl(fd, TIOCNXCL);
        ::close(fd);
        return false;
    };

    // A link in the virtual port folder may lead anywhere: only a terminal is a line.
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) {
        errno = ENOTTY;
        fail("not a character device");
        openFailure_.cause = OpenFailureCause::NotADevice;
        return false;
    }
    // TIOCEXCL does not stop root; the lock on the device node does.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0)
        return fail("device is in use");
    if (::ioctl(fd, TIOCEXCL) != 0)
        return fail("cannot take the device for exclusive use");
    exclusive = true;

    if (::tcgetattr(fd, &saved) != 0)
        return fail("cannot read the line settings");

    termios t = saved;
    ::cfmakeraw(&t);
    t.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
    t.c_cflag |= size | CLOCAL | CREAD;
    if (settings.parity == Parity::Odd)
        t.c_cflag |= PARENB | PARODD;
    else if (settings.parity == Parity::Even)
        t.c_cflag |= PARENB;
    if (settings.stopBits == StopBits::Two)
        t.c_cflag |= CSTOPB;
    t.c_iflag &= ~(IXON | IXOFF | IXANY);
    // VMIN 1 makes an empty line answer EAGAIN; 0 would look like a hang-up.
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    if (::cfsetispeed(&t, speed) != 0 || ::cfsetospeed(&t, speed) != 0)
        return fail("cannot set the baud rate");
    changed = true;
    if (::tcsetattr(fd, TCSANOW, &t) != 0)
        return fail("cannot apply the line settings");

    // Pseudo-terminals have no modem lines; they refuse this and that is fine.
    int lines = TIOCM_DTR | TIOCM_RTS;
    if (::ioctl(fd, TIOCMBIC, &lines) != 0 && errno != ENOTTY && errno != EINVAL)
        return fail("cannot drop DTR and RTS");
    if (::tcflush(fd, TCIOFLUSH) != 0)
        return fail("cannot purge the line");
    lowLatency_ = requestLowLatency(fd, lowLatencySetHere_);

    fd_ = fd;
    ++lineGeneration_;
    writeFailing_ = false;
    std::memcpy(savedTermios_, &saved, sizeof saved);
    haveSavedTermios_ = true;
    byteTime_ = byteTimeOf(settings);
    haveErrorCounts_ = readErrorCounts(fd_, lastErrorCounts_);
    errorCountsUnsupported_ = !haveErrorCounts_ && (errno == ENOTTY || errno == EINVAL);
    return true;
}

void SerialDevice::close()
{
    std::lock_guard<std::mutex> guard(lineLock_);
    reopenArmed_ = false;
    closeDescriptor(true);
}

void SerialDevice::failOpen(const std::string &text, int error)
{
    error_ = text;
    openFailure_ = {OpenFailureCauseFor(error), std::string(), text};
}

bool SerialDevice::isOpen() const
{
    std::lock_guard<std::mutex> guard(lineLock_);
    return fd_ >= 0;
}

int SerialDevice::descriptor() const
{
    std::lock_guard<std::mutex> guard(lineLock_);
    return fd_;
}

std::string SerialDevice::path() const
{
    std::lock_guard<std::mutex> guard(lineLock_);
    return path_;
}

void SerialDevice::setReadTimeouts(const ReadTimeouts &timeouts)
{
    std::lock_guard<std::mutex> guard(lineLock_);
    timeouts_ = timeouts;
}

ReadTimeouts SerialDevice::readTimeouts() const
{
    std::lock_guard<std::mutex> guard(lineLock_);
    return timeouts_;
}

std::string SerialDevice::errorText() const
{
    std::lock_guard<std::mutex> guard(lineLock_);
    return error_;
}

OpenFailure SerialDevice::openFailure() const
{
    std::lock_guard<std::mutex> guard(lineLock_);
    return openFailure_;
}

unsigned SerialDevice::reopenCount() const
{
    std::lock_guard<std::mutex> guard(lineLock_);
    return reopens_;
}

LowLatency SerialDevice::lowLatency() const
{
    std::lock_guard<std::mutex> guard(lineLock_);
    return lowLatency_;
}

void SerialDevice::closeDescriptor(bool restoreSettings)
{
    keptLength_ = 0;
    if (fd_ < 0)
        return;
    if (haveSavedTermios_ && restoreSettings) {
        termios saved;
        std::memcpy(&saved, savedTermios_, sizeof saved);
        ::tcsetattr(fd_, TCSANOW, &saved);
    }
    if (lowLatencySetHere_ && restoreSettings)
        dropLowLatency(fd_);
    lowLatencySetHere_ = false;
    ::ioctl(fd_, TIOCNXCL);
    ::flock(fd_, LOCK_UN);
    ::close(fd_);
    fd_ = -1;
    haveSavedTermios_ = false;
    haveErrorCounts_ = false;
    errorCountsUnsupported_ = false;
}

bool SerialDevice::reopenLine(unsigned generation)
{
    if (!reopenArmed_)
        return false;
    // Someone else closed or replaced the line meanwhile: theirs stands.
    if (lineGeneration_ != generation)
        return fd_ >= 0;
    // The old line is gone with whatever settings it had: nothing to restore.
    closeDescriptor(false);
    if (!openDescriptor(path_, settings_))
        return false;
    ++reopens_;
    return true;
}

bool SerialDevice::takeLineError()
{
    std::lock_guard<std::mutex> guard(lineLock_);
    return takeLineErrorLocked();
}

bool SerialDevice::takeLineErrorLocked()
{
    if (fd_ < 0 || errorCountsUnsupported_)
        return false;
    int now[5];
    if (!readErrorCounts(fd_, now))
        return false;
    bool changed = false;
    if (haveErrorCounts_) {
        for (int i = 0; i < 5; ++i)
            changed = changed || now[i] != lastErrorCounts_[i];
    }
    std::memcpy(lastErrorCounts_, now, sizeof now);
    haveErrorCounts_ = true;
    return changed;
}

size_t SerialDevice::takeKept(uint8_t *buffer, size_t count, int endByte, bool &ended)
{
    std::lock_guard<std::mutex> guard(lineLock_);
    size_t n = std::min(count, keptLength_);
    if (endByte >= 0) {
        if (const void *end = std::memchr(kept_, endByte, n)) {
            n = size_t(static_cast<const uint8_t *>(end) - kept_) + 1;
            ended = true;
        }
    }
    std::memcpy(buffer, kept_, n);
    std::memmove(kept_, kept_ + n, keptLength_ - n);
    keptLength_ -= n;
    return n;
}

ssize_t SerialDevice::fetch(uint8_t *buffer, size_t count, int endByte, bool &ended, int &error)
{
    error = 0;
    if (endByte < 0) {
        const ssize_t n = ::read(fd_, buffer, count);
        if (n > 0)
            received_ += uint64_t(n);
        else if (n < 0)
            error = errno;
        return n;
    }
    uint8_t chunk[kKeptCapacity];
    const ssize_t n = ::read(fd_, chunk, std::min(count, kKeptCapacity));
    if (n < 0)
        error = errno;
    if (n <= 0)
        return n;
    received_ += uint64_t(n);
    size_t take = size_t(n);
    if (const void *end = std::memchr(chunk, endByte, take)) {
        take = size_t(static_cast<const uint8_t *>(end) - chunk) + 1;
        ended = true;
        // The kept bytes were all taken before the line was read, so the
        // rest of one chunk always fits.
        const size_t rest = std::min(size_t(n) - take, kKeptCapacity - keptLength_);
        std::memcpy(kept_ + keptLength_, chunk + take, rest);
        keptLength_ += rest;
    }
    std::memcpy(buffer, chunk, take);
    return ssize_t(take);
}

size_t SerialDevice::read(uint8_t *buffer, size_t count, int endByte, size_t expectAtLeast)
{
    if (count == 0)
        return 0;
    // One reopen per read at most: a line that keeps hanging up must not spin.
    bool reopenTried = false;
    ReadTimeouts timeouts;
    Clock::duration byteTime;
    {
        std::unique_lock<std::mutex> guard(lineLock_);
        timeouts = timeouts_;
        byteTime = byteTime_;
        writeFailing_ = false;
        if (fd_ < 0) {
            if (!reopenArmed_)
                return 0;
            reopenTried = true;
            if (!reopenLine(lineGeneration_)) {
                guard.unlock();
                sleepOutBudget(timeouts, Clock::now(), count);
                return 0;
            }
        }
        if (takeLineErrorLocked())
            return 0;
    }

    const double scale = TimeoutScale();
    const auto start = Clock::now();
    // A zero setting switches that time-out off.
    const double totalMs =
        (double(timeouts.totalMultiplierMs) * double(count) + timeouts.totalConstantMs) * scale;
    const bool haveTotal = timeouts.totalMultiplierMs != 0 || timeouts.totalConstantMs != 0;
    const auto totalDeadline =
        start + std::chrono::duration_cast<Clock::duration>(
                    std::chrono::duration<double, std::milli>(totalMs));
    const bool haveInterval = timeouts.intervalMs != 0;
    const auto interval = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double, std::milli>(timeouts.intervalMs * scale));

    const size_t expected = std::min(expectAtLeast, count);
    bool ended = false;
    size_t got = takeKept(buffer, count, endByte, ended);
    // Kept bytes count as just arrived, as bytes waiting in the driver do.
    Clock::time_point lastByte = got > 0 ? Clock::now() : Clock::time_point{};
    bool hungUp = false;
    while (got < count && !ended) {
        std::unique_lock<std::mutex> guard(lineLock_);
        const int fd = fd_;
        const unsigned generation = lineGeneration_;
        if (fd < 0)
            break;  // closed on another thread: nothing more will come
        int error = 0;
        const ssize_t n = fetch(buffer + got, count - got, endByte, ended, error);
        if (n > 0) {
            got += size_t(n);
            lastByte = Clock::now();
            if (got >= count || ended)
                break;
            // The line gave what it had: reading again at once would find it
            // empty, so the next step is a wait.
        } else if (n < 0 && error == EINTR) {
            continue;
        } else if (n == 0 || (error != EAGAIN && error != EWOULDBLOCK)) {
            if (got == 0 && !reopenTried) {
                reopenTried = true;
                if (reopenLine(generation))
                    continue;
            }
            hungUp = true;
            break;
        }
        guard.unlock();

        bool bounded = haveTotal;
        Clock::time_point deadline = totalDeadline;
        if (got > 0 && haveInterval) {
            const auto quietEnd = lastByte + interval;
            if (!bounded || quietEnd < deadline)
                deadline = quietEnd;
            bounded = true;
        }
        if (bounded && Clock::now() >= deadline)
            break;

        if (n > 0 && got < expected) {
            // The rest of the reply is still crossing the line: sleep through
            // its line time rather than wake for every byte of it.
            const auto due = lastByte + byteTime * long(expected - got);
            std::this_thread::sleep_until(bounded ? std::min(due, deadline) : due);
            continue;
        }

        // The wait runs without the lock; a descriptor closed meanwhile shows
        // up as POLLNVAL or at the next fetch, which looks at fd_ again.
        pollfd p{fd, POLLIN, 0};
        const int r = ::poll(&p, 1, bounded ? pollMs(deadline) : -1);
        if (r < 0) {
            if (errno == EINTR)
                continue;
            hungUp = true;
            break;
        }
        if (r > 0 && !(p.revents & POLLIN) && (p.revents & (POLLHUP | POLLERR | POLLNVAL))) {
            guard.lock();
            if (lineGeneration_ != generation)
                continue;  // closed or replaced meanwhile: the next round tells
            if (got == 0 && !reopenTried) {
                reopenTried = true;
                if (reopenLine(generation))
                    continue;
            }
            hungUp = true;
            break;
        }
        // Otherwise data is there or the deadline passed: the next read() tells.
    }

    if (hungUp && got == 0)
        sleepOutBudget(timeouts, start, count);
    return got;
}

size_t SerialDevice::write(const uint8_t *buffer, size_t count)
{
    if (count == 0)
        return 0;
    const auto deadline =
        Clock::now() + scaledMs(double(WriteDeadline::kPerByteMs) * double(count) + WriteDeadline::kConstantMs);
    size_t done = 0;
    while (done < count) {
        std::unique_lock<std::mutex> guard(lineLock_);
        const int fd = fd_;
        const unsigned generation = lineGeneration_;
        if (fd < 0 || writeFailing_)
            return 0;
        const ssize_t n = ::write(fd, buffer + done, count - done);
        const int error = errno;
        if (n > 0) {
            done += size_t(n);
            sent_ += uint64_t(n);
            continue;
        }
        if (n < 0 && error == EINTR)
            continue;
        if (n < 0 && (error == EAGAIN || error == EWOULDBLOCK)) {
            guard.unlock();
            const int waitMs = pollMs(deadline);
            pollfd p{fd, POLLOUT, 0};
            const int r = waitMs > 0 ? ::poll(&p, 1, waitMs) : 0;
            if (r < 0 && errno == EINTR)
                continue;
            if (r == 0) {
                // The output did not move within the deadline: the line is failing.
                guard.lock();
                if (lineGeneration_ == generation)
                    writeFailing_ = true;
                return 0;
            }
            if (r < 0 || (!(p.revents & POLLOUT) && (p.revents & (POLLHUP | POLLERR | POLLNVAL))))
                return 0;
            continue;
        }
        return 0;
    }
    return done;
}

bool SerialDevice::purgeInput()
{
    std::lock_guard<std::mutex> guard(lineLock_);
    keptLength_ = 0;
    writeFailing_ = false;
    return fd_ >= 0 && ::tcflush(fd_, TCIFLUSH) == 0;
}

bool SerialDevice::purgeOutput()
{
    std::lock_guard<std::mutex> guard(lineLock_);
    writeFailing_ = false;
    return fd_ >= 0 && ::tcflush(fd_, TCOFLUSH) == 0;
}

bool SerialDevice::purgeAll()
{
    std::lock_guard<std::mutex> guard(lineLock_);
    keptLength_ = 0;
    writeFailing_ = false;
    return fd_ >= 0 && ::tcflush(fd_, TCIOFLUSH) == 0;
}

size_t SerialDevice::outputQueueLevel() const
{
    std::lock_guard<std::mutex> guard(lineLock_);
    if (fd_ < 0)
        return 0;
    int queued = 0;
    if (::ioctl(fd_, TIOCOUTQ, &queued) != 0 || queued < 0)
        return 0;
    return size_t(queued);
}

}  // namespace platform
