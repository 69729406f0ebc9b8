#pragma once
// The reader's answer to the device information request 0x3D, decoded without
// the port. Positions are those of the unstuffed reply (start byte at 0): the
// firmware major and minor at 8 and 9, the boot loader version byte at 10 (one
// version digit per half), the serial number at 11 and 12, low byte first.

#include <cstdint>
#include <optional>

namespace device_info {

inline constexpr int kFirmwareMajorAt = 8;
inline constexpr int kFirmwareMinorAt = 9;
inline constexpr int kLoaderAt = 10;
inline constexpr int kSerialLowAt = 11;
inline constexpr int kSerialHighAt = 12;
// The answer's identity, bytes 7 to 10: a repeat changes nothing.
inline constexpr int kKeyFrom = 7;

struct Version {
    int major = 0;
    int minor = 0;
    bool operator==(const Version &other) const { return major == other.major && minor == other.minor; }
};

// Why the firmware version is not known.
enum class FirmwareUnknown {
    None,         // it is known
    OldLoader,    // boot loaders before 8.2 do not report it reliably
    OldFirmware,  // firmware before 5.3 reports major 0
};

struct DeviceInfo {
    Version loader;
    std::optional<Version> firmware;  // empty: unknownBecause says why
    FirmwareUnknown unknownBecause = FirmwareUnknown::None;
    // Only boot loaders from 8.3 on report one.
    std::optional<uint16_t> serialNumber;
    bool operator==(const DeviceInfo &other) const
    {
        return loader == other.loader && firmware == other.firmware && unknownBecause == other.unknownBecause &&
               serialNumber == other.serialNumber;
    }
    bool operator!=(const DeviceInfo &other) const { return !(*this == other); }
};

// reply: the unstuffed reply, at least 13 bytes readable.
uint32_t AnswerKey(const uint8_t *reply);
DeviceInfo Decode(const uint8_t *reply);

}  // namespace device_info
