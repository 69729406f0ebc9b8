// The connection monitor's reply decoding on any bytes: the read as it lands
// in the receive buffer (at most 100 bytes), unstuffed, and what the answer
// changes on the window.

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "core/engine/com_port.h"
#include "core/engine/frame_codec.h"
#include "core/engine/connect_saver.h"

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
    const uint32_t key = MonitorAnswerKey(reply);
    Require((key >> 24) == reply[10] && (key & 0xFF) == reply[7]);

    const std::vector<MonitorChange> changes = MonitorAnswerChanges(reply);
    Require(changes.size() == 3 || changes.size() == 5);
    // The loader version first, the firmware version last, each field once.
    Require(!changes.front().serialLabel && changes.front().field == MonitorField::Memo3);
    Require(changes.front().text.startsWith(monitor_text::VersionPrefix));
    Require(!changes.back().serialLabel && changes.back().field == MonitorField::Memo2);
    int seen[5] = {};
    for (const MonitorChange &change : changes) {
        if (change.serialLabel) {
            Require(change.windowText && reply[10] >= 0x83);
            continue;
        }
        Require(++seen[int(change.field)] == 1);
        Require(change.field != MonitorField::StaticText3);
        if (change.field == MonitorField::Memo5)
            Require(reply[10] >= 0x83 && IsDecimal(change.text, 0xFFFF));
    }
    Require((seen[int(MonitorField::Memo5)] == 1) == (reply[10] >= 0x83));
    return 0;
}
