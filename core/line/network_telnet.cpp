// The Telnet side of a network port: the COM-PORT-OPTION of RFC 2217 that
// sets the far line and confirms it, and the stream with its commands taken out.
#include "core/line/network_line.h"

#include <algorithm>

#include "core/line/network_line_parts.h"

namespace platform {

namespace {

using namespace network_line;

// How long the far end's answers to the line settings may take.
constexpr int kNegotiateMs = 3000;

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

}  // namespace platform
