#include "core/protocol/device_info.h"

namespace device_info {

namespace {

constexpr uint8_t kFirstReliableLoader = 0x82;
constexpr uint8_t kFirstLoaderWithSerial = 0x83;

}  // namespace

uint32_t AnswerKey(const uint8_t *reply)
{
    return reply[kKeyFrom] | (reply[kKeyFrom + 1] << 8) | (reply[kKeyFrom + 2] << 16) |
           (uint32_t(reply[kKeyFrom + 3]) << 24);
}

DeviceInfo Decode(const uint8_t *reply)
{
    DeviceInfo info;
    const uint8_t loader = reply[kLoaderAt];
    info.loader = {loader >> 4, loader & 0x0F};
    if (loader < kFirstReliableLoader) {
        info.unknownBecause = FirmwareUnknown::OldLoader;
        return info;
    }
    if (loader >= kFirstLoaderWithSerial)
        info.serialNumber = uint16_t(reply[kSerialLowAt] | (reply[kSerialHighAt] << 8));
    if (reply[kFirmwareMajorAt] != 0)
        info.firmware = Version{reply[kFirmwareMajorAt], reply[kFirmwareMinorAt]};
    else
        info.unknownBecause = FirmwareUnknown::OldFirmware;
    return info;
}

}  // namespace device_info
