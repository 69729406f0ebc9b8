#include "core/line/network_line.h"

#include <algorithm>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "core/line/network_line_parts.h"

namespace platform {

namespace {

using namespace network_line;

// How long a connection may take.
constexpr int kConnectMs = 5000;
// How long a new raw connection is watched for being closed again at once.
constexpr int kRawSettleMs = 150;

}  // namespace

NetworkLine::~NetworkLine()
{
    close();
}

void NetworkLine::fail(OpenFailureCause cause, const std::string &text)
{
    openFailure_.cause = cause;
    openFailure_.systemText = text;
    error_ = text;
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

bool NetworkLine::open(const std::string &path, const LineSettings &settings)
{
    close();
    std::lock_guard<std::mutex> guard(lock_);
    path_ = path;
    error_.clear();
    openFailure_ = {};
    address_ = ParseNetworkAddress(path);
    if (address_.kind == NetworkAddress::Kind::None) {
        fail(OpenFailureCause::NoSuchDevice, path + " is no network port (rfc2217://HOST:PORT or tcp://HOST:PORT)");
        return false;
    }
    if (!connectTo(address_))
        return false;
    if (address_.kind == NetworkAddress::Kind::Rfc2217)
        return negotiate(settings);
    // A raw port in use takes the connection and closes it at once; what it
    // said then is no reply of the reader's.
    const auto settled = Clock::now() + std::chrono::milliseconds(kRawSettleMs);
    while (fd_ >= 0 && Clock::now() < settled)
        pump(MsUntil(settled));
    if (fd_ < 0) {
        closedAtOnce();
        return false;
    }
    data_.clear();
    return true;
}

bool NetworkLine::connectTo(const NetworkAddress &address)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *found = nullptr;
    const std::string service = std::to_string(address.port);
    const int looked = ::getaddrinfo(address.host.c_str(), service.c_str(), &hints, &found);
    if (looked != 0) {
        fail(looked == EAI_NONAME || looked == EAI_AGAIN || looked == EAI_FAIL ? OpenFailureCause::HostNotFound
                                                                                : OpenFailureCause::Other,
             address.host + ": " + ::gai_strerror(looked));
        return false;
    }
    int lastError = ETIMEDOUT;
    for (addrinfo *at = found; at != nullptr && fd_ < 0; at = at->ai_next) {
        const int fd = ::socket(at->ai_family, at->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, at->ai_protocol);
        if (fd < 0) {
            lastError = errno;
            continue;
        }
        int error = 0;
        if (::connect(fd, at->ai_addr, at->ai_addrlen) != 0) {
            error = errno;
            if (error == EINPROGRESS) {
                pollfd waiting{fd, POLLOUT, 0};
                const int ready = ::poll(&waiting, 1, int(kConnectMs * patience_));
                socklen_t length = sizeof error;
                if (ready <= 0)
                    error = ETIMEDOUT;
                else if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0)
                    error = errno;
            }
        }
        if (error != 0) {
            lastError = error;
            ::close(fd);
            continue;
        }
        // Each request goes out at once: the reader's pauses between its
        // pieces must reach the far line.
        const int on = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
        fd_ = fd;
    }
    ::freeaddrinfo(found);
    if (fd_ >= 0)
        return true;
    const std::string where = address.host + ":" + std::to_string(address.port);
    if (lastError == ECONNREFUSED)
        fail(OpenFailureCause::ConnectionRefused, where + ": " + std::strerror(lastError));
    else
        fail(OpenFailureCause::Other, where + ": " + std::strerror(lastError));
    return false;
}

bool NetworkLine::sendRaw(const uint8_t *bytes, size_t count)
{
    const auto deadline =
        Clock::now() + std::chrono::milliseconds(long(
                           (WriteDeadline::kPerByteMs * count + WriteDeadline::kConstantMs) * TimeoutScale() * patience_));
    size_t sent = 0;
    while (sent < count && fd_ >= 0) {
        const ssize_t n = ::send(fd_, bytes + sent, count - sent, MSG_NOSIGNAL);
        if (n > 0) {
            sent += size_t(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd waiting{fd_, POLLOUT, 0};
            if (::poll(&waiting, 1, MsUntil(deadline)) > 0)
                continue;
            error_ = "the far end took no data for too long";
            return false;
        }
        dropped(std::string("the connection dropped: ") + std::strerror(errno));
        return false;
    }
    return sent == count;
}

void NetworkLine::closedAtOnce()
{
    // A far port in use takes the connection and closes it again, perhaps
    // after a word of why ("Port already in use").
    if (fd_ >= 0)
        pump(200);
    std::string said(data_.begin(), data_.end());
    said.erase(std::remove_if(said.begin(), said.end(), [](char c) { return c == '\r' || c == '\n'; }), said.end());
    fail(OpenFailureCause::Busy, said.empty() ? "the far end closed the connection at once" : "the far end said: " + said);
}

bool NetworkLine::pump(int waitMs)
{
    if (fd_ < 0)
        return false;
    pollfd waiting{fd_, POLLIN, 0};
    const int ready = ::poll(&waiting, 1, std::max(0, waitMs));
    if (ready <= 0)
        return true;
    uint8_t bytes[4096];
    for (;;) {
        const ssize_t n = ::recv(fd_, bytes, sizeof bytes, MSG_DONTWAIT);
        if (n > 0) {
            take(bytes, size_t(n));
            if (size_t(n) < sizeof bytes)
                return true;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return true;
        dropped(n == 0 ? "the connection dropped: the far end closed it"
                       : std::string("the connection dropped: ") + std::strerror(errno));
        return false;
    }
}

void NetworkLine::dropped(const std::string &why)
{
    error_ = why;
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

void NetworkLine::close()
{
    std::lock_guard<std::mutex> guard(lock_);
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    data_.clear();
    in_ = In::Data;
    confirmedBaud_ = 0;
    confirmedDataSize_ = confirmedParity_ = confirmedStopSize_ = -1;
    comPortRefused_ = false;
}

bool NetworkLine::isOpen() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return fd_ >= 0;
}

int NetworkLine::descriptor() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return fd_;
}

std::string NetworkLine::path() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return path_;
}

void NetworkLine::setReadTimeouts(const ReadTimeouts &timeouts)
{
    std::lock_guard<std::mutex> guard(lock_);
    timeouts_ = timeouts;
}

size_t NetworkLine::read(uint8_t *buffer, size_t count, int endByte, size_t /*expectAtLeast*/)
{
    if (count == 0)
        return 0;
    std::lock_guard<std::mutex> guard(lock_);
    const double scale = TimeoutScale() * patience_;
    const auto start = Clock::now();
    const auto total = start + std::chrono::microseconds(long(
                                   (double(timeouts_.totalMultiplierMs) * double(count) + timeouts_.totalConstantMs) *
                                   scale * 1000.0));
    const auto gap = std::chrono::microseconds(long(timeouts_.intervalMs * scale * 1000.0));
    size_t n = 0;
    Clock::time_point lastByte{};
    for (;;) {
        bool ended = false;
        while (n < count && !data_.empty() && !ended) {
            buffer[n++] = data_.front();
            ended = endByte >= 0 && data_.front() == uint8_t(endByte);
            data_.pop_front();
            lastByte = Clock::now();
        }
        if (ended || n == count)
            break;
        const auto until = n > 0 ? std::min(total, lastByte + gap) : total;
        if (Clock::now() >= until)
            break;
        const size_t before = data_.size();
        if (!pump(MsUntil(until))) {
            // A dropped connection answers at once for ever; the read still
            // takes its budget so that a caller's loop does not spin.
            if (n == 0)
                std::this_thread::sleep_until(total);
            break;
        }
        if (data_.size() == before && Clock::now() >= until)
            break;
    }
    return n;
}

size_t NetworkLine::write(const uint8_t *buffer, size_t count)
{
    std::lock_guard<std::mutex> guard(lock_);
    if (fd_ < 0 || count == 0)
        return 0;
    if (address_.kind != NetworkAddress::Kind::Rfc2217)
        return sendRaw(buffer, count) ? count : 0;
    std::vector<uint8_t> escaped;
    escaped.reserve(count + 8);
    for (size_t i = 0; i < count; ++i) {
        escaped.push_back(buffer[i]);
        if (buffer[i] == kIac)
            escaped.push_back(kIac);
    }
    return sendRaw(escaped.data(), escaped.size()) ? count : 0;
}

bool NetworkLine::purgeFar(uint8_t which)
{
    if (fd_ < 0)
        return false;
    if (address_.kind == NetworkAddress::Kind::Rfc2217 && !sendComPort(kPurgeData, {which}))
        return false;
    if (which != kPurgeTransmit) {
        // What is already on its way here is dropped too.
        pump(0);
        data_.clear();
    }
    return fd_ >= 0;
}

bool NetworkLine::purgeInput()
{
    std::lock_guard<std::mutex> guard(lock_);
    return purgeFar(kPurgeReceived);
}

bool NetworkLine::purgeOutput()
{
    std::lock_guard<std::mutex> guard(lock_);
    return purgeFar(kPurgeTransmit);
}

bool NetworkLine::purgeAll()
{
    std::lock_guard<std::mutex> guard(lock_);
    return purgeFar(kPurgeBoth);
}

OpenFailure NetworkLine::openFailure() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return openFailure_;
}

std::string NetworkLine::errorText() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return error_;
}

}  // namespace platform
