#pragma once
// The simulated reader is a line (a pseudo-terminal with pacing and faults)
// around a set of responders, one per part of the reader: the firmware's
// device information, the boot loader, the settings store. Each responder
// answers the requests it knows and leaves the rest to the others.

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace sim {

// What the reader is, shared by its responders.
struct ReaderState {
    uint8_t loaderVersion = 0x83;  // high 4 bits major, low 4 bits minor
    uint8_t firmwareMajor = 6;
    uint8_t firmwareMinor = 4;
    uint16_t serialNumber = 12345;
};

using Bytes = std::vector<uint8_t>;
using SettingsBlock = std::array<uint8_t, 12>;

class Responder {
public:
    virtual ~Responder() = default;
    // A framed request whose check byte was right: command code and the payload
    // after the six header bytes. Returns the reply payload (the line adds the
    // header, check byte, stuffing and delimiters), an empty optional to stay
    // silent, or declines by returning std::nullopt through Handles().
    virtual bool HandlesFrame(uint8_t /*command*/, const Bytes & /*payload*/) const { return false; }
    virtual std::optional<Bytes> OnFrame(ReaderState & /*state*/, uint8_t /*command*/, const Bytes & /*payload*/)
    {
        return std::nullopt;
    }
    // A bare 12-byte settings block (first byte 0x55 or 0xAA). Returns the
    // 12-byte reply, or nothing to stay silent.
    virtual bool HandlesBlock(const SettingsBlock & /*block*/) const { return false; }
    virtual std::optional<Bytes> OnBlock(ReaderState & /*state*/, const SettingsBlock & /*block*/)
    {
        return std::nullopt;
    }
};

}  // namespace sim
