#include "sim/device_info.h"

#include <cerrno>
#include <cstdlib>

namespace sim {

bool DeviceInfo::HandlesFrame(uint8_t command, const Bytes &) const { return command == kCommand; }

std::optional<Bytes> DeviceInfo::OnFrame(ReaderState &state, uint8_t, const Bytes &)
{
    return Payload(state);
}

Bytes DeviceInfo::Payload(const ReaderState &state)
{
    return {0x00,
            state.firmwareMajor,
            state.firmwareMinor,
            state.loaderVersion,
            uint8_t(state.serialNumber & 0xFF),
            uint8_t(state.serialNumber >> 8)};
}

bool ParseNumber(const std::string &text, long low, long high, long &value)
{
    if (text.empty() || text[0] == '-' || text[0] == '+' || text[0] == ' ')
        return false;
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    errno = 0;
    char *end = nullptr;
    const long v = std::strtol(text.c_str(), &end, hex ? 16 : 10);
    if (errno != 0 || end == text.c_str() || *end != '\0' || v < low || v > high)
        return false;
    value = v;
    return true;
}

namespace {

bool SplitVersion(const std::string &text, long maxPart, long &major, long &minor)
{
    const auto dot = text.find('.');
    return dot != std::string::npos && ParseNumber(text.substr(0, dot), 0, maxPart, major) &&
           text.find('x') == std::string::npos && text.find('X') == std::string::npos &&
           ParseNumber(text.substr(dot + 1), 0, maxPart, minor);
}

}  // namespace

bool ParseLoaderVersion(const std::string &text, uint8_t &loader)
{
    long major, minor, whole;
    if (SplitVersion(text, 15, major, minor)) {
        loader = uint8_t(major << 4 | minor);
        return true;
    }
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X') &&
        ParseNumber(text, 0, 255, whole)) {
        loader = uint8_t(whole);
        return true;
    }
    return false;
}

bool ParseFirmwareVersion(const std::string &text, uint8_t &major, uint8_t &minor)
{
    long hi, lo;
    if (!SplitVersion(text, 255, hi, lo))
        return false;
    major = uint8_t(hi);
    minor = uint8_t(lo);
    return true;
}

}  // namespace sim
