#include "core/line/network_line.h"

#include <algorithm>
#include <cctype>
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

namespace platform {

namespace {

using Clock = std::chrono::steady_clock;

// Telnet (RFC 854, 856) and its COM-PORT-OPTION (RFC 2217).
constexpr uint8_t kIac = 255, kDont = 254, kDo = 253, kWont = 252, kWill = 251, kSb = 250, kSe = 240;
constexpr uint8_t kBinary = 0, kSuppressGoAhead = 3, kComPort = 44;
constexpr uint8_t kSetBaud = 1, kSetDataSize = 2, kSetParity = 3, kSetStopSize = 4, kSetControl = 5,
                  kPurgeData = 12;
constexpr uint8_t kServerOffset = 100;  // the far end answers command N as N + 100
constexpr uint8_t kPurgeReceived = 1, kPurgeTransmit = 2, kPurgeBoth = 3;
constexpr uint8_t kNoFlowControl = 1;

// How long a connection and the far end's answers to the line settings may take.
constexpr int kConnectMs = 5000;
constexpr int kNegotiateMs = 3000;
// How long a new raw connection is watched for being closed again at once.
constexpr int kRawSettleMs = 150;
// The patience a host across the network gets by default: its round trip
// comes on top of every reply, which the reader's time-outs do not allow for.
constexpr double kRemotePatience = 3.0;

std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return text;
}

int MsUntil(Clock::time_point deadline)
{
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left <= 0 ? 0 : int(std::min<long long>(left, 1000000));
}

uint8_t ParityCode(Parity parity)
{
    switch (parity) {
    case Parity::None: return 1;
    case Parity::Odd: return 2;
    case Parity::Even: return 3;
    }
    return 1;
}

}  // namespace

NetworkAddress ParseNetworkAddress(const std::string &name)
{
    NetworkAddress address;
    const std::string lower = Lower(name);
    NetworkAddress::Kind kind = NetworkAddress::Kind::None;
    size_t start = 0;
    for (const auto &[prefix, k] : {std::pair{std::string("rfc2217://"), NetworkAddress::Kind::Rfc2217},
                                    std::pair{std::string("tcp://"), NetworkAddress::Kind::RawTcp}}) {
        if (lower.rfind(prefix, 0) == 0) {
            kind = k;
            start = prefix.size();
        }
    }
    if (kind == NetworkAddress::Kind::None)
        return address;
    std::string rest = name.substr(start);
    if (!rest.empty() && rest.back() == '/')
        rest.pop_back();
    std::string host;
    std::string port;
    if (!rest.empty() && rest.front() == '[') {  // [IPv6]:port
        const size_t close = rest.find(']');
        if (close == std::string::npos || close + 1 >= rest.size() || rest[close + 1] != ':')
            return address;
        host = rest.substr(1, close - 1);
        port = rest.substr(close + 2);
    } else {
        const size_t colon = rest.rfind(':');
        if (colon == std::string::npos)
            return address;
        host = rest.substr(0, colon);
        port = rest.substr(colon + 1);
    }
    if (host.empty() || port.empty() || port.size() > 5 ||
        !std::all_of(port.begin(), port.end(), [](unsigned char c) { return std::isdigit(c); }))
        return address;
    const unsigned long number = std::stoul(port);
    if (number == 0 || number > 65535)
        return address;
    address.kind = kind;
    address.host = host;
    address.port = uint16_t(number);
    return address;
}

double DefaultPatience(const std::string &host)
{
    const std::string lower = Lower(host);
    const bool local = lower == "localhost" || lower == "::1" || lower.rfind("127.", 0) == 0;
    return local ? 1.0 : kRemotePatience;
}

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

bool NetworkLine::sendComPort(uint8_t command, const std::vector<uint8_t> &value)
{
    std::vector<uint8_t> message = {kIac, kSb, kComPort, command};
    for (uint8_t byte : value) {
        message.push_back(byte);
        if (byte == kIac)
            message.push_back(kIac);
    }
    message.push_back(kIac);
    message.push_back(kSe);
    return sendRaw(message.data(), message.size());
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

bool NetworkLine::negotiate(const LineSettings &settings)
{
    // Binary both ways keeps every byte as it is (no CR NUL of the network
    // virtual terminal); the COM-PORT-OPTION carries the line settings.
    const uint8_t offers[] = {kIac, kWill, kBinary, kIac, kDo, kBinary, kIac, kWill, kComPort};
    const uint32_t baud = settings.baudRate;
    if (!sendRaw(offers, sizeof offers) ||
        !sendComPort(kSetBaud, {uint8_t(baud >> 24), uint8_t(baud >> 16), uint8_t(baud >> 8), uint8_t(baud)}) ||
        !sendComPort(kSetDataSize, {settings.dataBits}) || !sendComPort(kSetParity, {ParityCode(settings.parity)}) ||
        !sendComPort(kSetStopSize, {uint8_t(settings.stopBits == StopBits::Two ? 2 : 1)}) ||
        !sendComPort(kSetControl, {kNoFlowControl})) {
        closedAtOnce();
        return false;
    }
    const auto deadline = Clock::now() + std::chrono::milliseconds(long(kNegotiateMs * patience_));
    const auto answered = [this] {
        return confirmedBaud_ != 0 && confirmedDataSize_ >= 0 && confirmedParity_ >= 0 && confirmedStopSize_ >= 0;
    };
    while (!answered() && !comPortRefused_ && fd_ >= 0 && Clock::now() < deadline)
        pump(MsUntil(deadline));
    if (fd_ < 0) {
        closedAtOnce();
        return false;
    }
    if (comPortRefused_ || !answered()) {
        fail(OpenFailureCause::SettingRefused,
             "the far end does not take line settings (RFC 2217): is it a raw TCP port? Then use tcp://");
        return false;
    }
    std::string refused;
    const auto check = [&](bool ok, const std::string &what) {
        if (!ok)
            refused += (refused.empty() ? "" : ", ") + what;
    };
    check(confirmedBaud_ == baud, std::to_string(baud) + " baud (it set " + std::to_string(confirmedBaud_) + ")");
    check(confirmedDataSize_ == settings.dataBits, std::to_string(settings.dataBits) + " data bits");
    check(confirmedParity_ == ParityCode(settings.parity), "the parity");
    check(confirmedStopSize_ == (settings.stopBits == StopBits::Two ? 2 : 1), "the stop bits");
    if (!refused.empty()) {
        fail(OpenFailureCause::SettingRefused, "the far end refused " + refused);
        return false;
    }
    // Whatever the far line held before is no reply.
    data_.clear();
    return true;
}

void NetworkLine::handleCommand(uint8_t verb, uint8_t option)
{
    const bool ours = option == kBinary || option == kComPort || option == kSuppressGoAhead;
    uint8_t reply[3] = {kIac, 0, option};
    switch (verb) {
    case kDo:
        // Our own offers are acknowledged by DO; anything else we will not do.
        if (ours && option != kSuppressGoAhead)
            return;
        reply[1] = option == kSuppressGoAhead ? kWill : kWont;
        break;
    case kDont:
        if (option == kComPort)
            comPortRefused_ = true;
        return;
    case kWill:
        if (option == kBinary)
            return;  // the answer to our DO
        reply[1] = option == kSuppressGoAhead ? kDo : kDont;
        break;
    case kWont:
        return;
    default:
        return;
    }
    sendRaw(reply, sizeof reply);
}

void NetworkLine::handleSubnegotiation()
{
    if (sub_.size() < 2 || sub_[0] != kComPort)
        return;
    const uint8_t command = sub_[1];
    const std::vector<uint8_t> value(sub_.begin() + 2, sub_.end());
    if (command == kServerOffset + kSetBaud && value.size() == 4)
        confirmedBaud_ = (uint32_t(value[0]) << 24) | (uint32_t(value[1]) << 16) | (uint32_t(value[2]) << 8) | value[3];
    else if (command == kServerOffset + kSetDataSize && value.size() == 1)
        confirmedDataSize_ = value[0];
    else if (command == kServerOffset + kSetParity && value.size() == 1)
        confirmedParity_ = value[0];
    else if (command == kServerOffset + kSetStopSize && value.size() == 1)
        confirmedStopSize_ = value[0];
}

void NetworkLine::take(const uint8_t *bytes, size_t count)
{
    const bool telnet = address_.kind == NetworkAddress::Kind::Rfc2217;
    for (size_t i = 0; i < count; ++i) {
        const uint8_t byte = bytes[i];
        if (!telnet) {
            data_.push_back(byte);
            continue;
        }
        switch (in_) {
        case In::Data:
            if (byte == kIac)
                in_ = In::Iac;
            else
                data_.push_back(byte);
            break;
        case In::Iac:
            if (byte == kIac) {
                data_.push_back(kIac);  // an escaped 0xFF
                in_ = In::Data;
            } else if (byte == kSb) {
                sub_.clear();
                in_ = In::Sub;
            } else if (byte == kDo || byte == kDont || byte == kWill || byte == kWont) {
                verb_ = byte;
                in_ = In::Verb;
            } else {
                in_ = In::Data;  // a command without option (NOP, GA, ...)
            }
            break;
        case In::Verb:
            handleCommand(verb_, byte);
            in_ = In::Data;
            break;
        case In::Sub:
            if (byte == kIac)
                in_ = In::SubIac;
            else
                sub_.push_back(byte);
            break;
        case In::SubIac:
            if (byte == kSe) {
                handleSubnegotiation();
                in_ = In::Data;
            } else {
                sub_.push_back(byte);  // IAC IAC inside a subnegotiation
                in_ = In::Sub;
            }
            break;
        }
    }
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
