// Reading and writing the serial line on POSIX systems: every wait is a
// poll() on the non-blocking descriptor, bounded by the read time-outs.
#include "core/line/serial_device.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>

#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include "core/line/serial_line_posix.h"

namespace platform {

namespace posix_line {

Clock::duration scaledMs(double ms)
{
    return std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double, std::milli>(ms * TimeoutScale()));
}

int pollMs(Clock::time_point deadline)
{
    const auto left = deadline - Clock::now();
    if (left <= Clock::duration::zero())
        return 0;
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    return ms > 1000000 ? 1000000 : static_cast<int>(ms);
}

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

}  // namespace posix_line

using namespace posix_line;

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

}  // namespace platform
