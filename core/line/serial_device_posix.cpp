// The serial line on POSIX systems: termios for the line settings, poll() for
// the read time-outs. The descriptor stays non-blocking; every wait is a poll.
#include "core/line/serial_device.h"
#include "core/line/serial_line_posix.h"

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

using posix_line::Clock;

std::atomic<double> g_timeoutScale{1.0};

static_assert(sizeof(termios) <= 128, "saved terminal settings do not fit");

std::string errnoText(const std::string &what, int error)
{
    return what + ": " + std::strerror(error);
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

// The driver's line error counters; false with errno when it has none.
#ifdef __linux__
bool errorCountsOf(int fd, int out[5])
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
bool errorCountsOf(int, int[5])
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

bool posix_line::readErrorCounts(int fd, int out[5])
{
    return errorCountsOf(fd, out);
}

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
    haveErrorCounts_ = posix_line::readErrorCounts(fd_, lastErrorCounts_);
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

}  // namespace platform
