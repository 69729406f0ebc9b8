// The connection monitor's reply decoding on any bytes: the read as it lands
// in the receive buffer (at most 100 bytes), unstuffed, and the device
// information decoder.

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>

#include "core/protocol/device_info.h"
#include "core/protocol/frame.h"

namespace {

constexpr size_t kReadBytes = 100;

void Require(bool condition)
{
    if (!condition)
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const size_t received = std::min(size, kReadBytes);
    if (received == 0)
        return 0;  // silence is not decoded
    // The receive buffer is cleared before each read: zeros after the reply.
    std::array<uint8_t, kReadBytes + 1> buffer{};
    const size_t length = frame::Unescape(data, received, buffer.data());
    Require(length <= received);

    const uint8_t *reply = buffer.data();
    const uint32_t key = device_info::AnswerKey(reply);
    Require((key >> 24) == reply[10] && (key & 0xFF) == reply[7]);

    using device_info::FirmwareUnknown;
    const device_info::DeviceInfo info = device_info::Decode(reply);
    Require(info.loader.major == reply[10] >> 4 && info.loader.minor == (reply[10] & 0x0F));
    // A version or the reason it is unknown, never both.
    Require(info.firmware.has_value() == (info.unknownBecause == FirmwareUnknown::None));
    Require((info.unknownBecause == FirmwareUnknown::OldLoader) == (reply[10] <= 0x81));
    if (info.firmware)
        Require(info.firmware->major == reply[8] && reply[8] != 0 && info.firmware->minor == reply[9]);
    Require(info.serialNumber.has_value() == (reply[10] >= 0x83));
    if (info.serialNumber)
        Require(*info.serialNumber == (reply[11] | (reply[12] << 8)));
    return 0;
}
