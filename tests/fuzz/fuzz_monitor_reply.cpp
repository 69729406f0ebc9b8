// The connection monitor's reply decoding on any bytes: the read as it lands
// in the receive buffer (at most 100 bytes), unstuffed, the device information
// decoder, and what the answer changes on the window.

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "core/engine/com_port.h"
#include "core/engine/frame_codec.h"
#include "core/engine/connect_saver.h"
#include "core/protocol/device_info.h"

namespace {

constexpr size_t kReadBytes = 100;

void Require(bool condition)
{
    if (!condition)
        std::abort();
}

bool IsDecimal(const QString &text, unsigned most)
{
    bool ok = false;
    const unsigned value = text.toUInt(&ok);
    return ok && value <= most && QString::number(value) == text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static TComPort1 port;  // never opened
    static TProtFrame prot(port);

    TProtFrame::ClearBuffer(prot.RxBuffer, TProtFrame::kRxClearLength);
    const uint16_t received = uint16_t(std::min(size, kReadBytes));
    std::memcpy(prot.RxBuffer, data, received);
    if (received == 0)
        return 0;  // the monitor shows silence without decoding anything
    const uint16_t length = prot.Unescape(prot.RxBuffer, received);
    Require(length <= received);
    TProtFrame::ClearBuffer(prot.RxBuffer + length, received - length);

    const uint8_t *reply = prot.RxBuffer;
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

    const std::vector<MonitorChange> changes = MonitorAnswerChanges(info);
    Require(changes.size() == 3 || changes.size() == 5);
    // The loader version first, the firmware version last, each line once.
    Require(!changes.front().serialCaption && changes.front().line == MonitorLine::LoaderVersion);
    Require(changes.front().text.startsWith(monitor_text::VersionPrefix()));
    Require(!changes.back().serialCaption && changes.back().line == MonitorLine::FirmwareVersion);
    int seen[5] = {};
    for (const MonitorChange &change : changes) {
        if (change.serialCaption) {
            Require(info.serialNumber.has_value());
            continue;
        }
        Require(++seen[int(change.line)] == 1);
        Require(change.line != MonitorLine::Status);
        if (change.line == MonitorLine::SerialNumber)
            Require(info.serialNumber && IsDecimal(change.text, 0xFFFF));
    }
    Require((seen[int(MonitorLine::SerialNumber)] == 1) == info.serialNumber.has_value());
    return 0;
}
