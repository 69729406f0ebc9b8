#pragma once
// The reader's firmware answering the device information request 0x3D: the
// payload gives, at the reply's indexes 7 to 12, a first byte 0x00, firmware
// major and minor, the boot loader version byte and the serial number (low
// byte first).

#include <string>

#include "sim/responder.h"

namespace sim {

class DeviceInfo : public Responder {
public:
    static constexpr uint8_t kCommand = 0x3D;

    bool HandlesFrame(uint8_t command, const Bytes &payload) const override;
    std::optional<Bytes> OnFrame(ReaderState &state, uint8_t command, const Bytes &payload) override;

    // The payload for a state, also for tests that build expected replies.
    static Bytes Payload(const ReaderState &state);
};

// "8.3" gives 0x83 (each half 0 to 15); "0x9C" is taken as the byte itself.
bool ParseLoaderVersion(const std::string &text, uint8_t &loader);
// "6.4" gives major 6, minor 4 (each 0 to 255).
bool ParseFirmwareVersion(const std::string &text, uint8_t &major, uint8_t &minor);
// A whole decimal (or 0x hexadecimal) number within [low, high], nothing else in text.
bool ParseNumber(const std::string &text, long low, long high, long &value);

}  // namespace sim
