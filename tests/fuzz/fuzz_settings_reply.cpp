// A settings reply on any bytes, through the settings fields and back: the
// block check, the record it carries, the fields decoded from it and the
// record encoded from them, and the write block built from that.

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>

#include "core/protocol/settings_fields.h"
#include "core/protocol/settings_record.h"

namespace {

using namespace settings_protocol;

void Require(bool condition)
{
    if (!condition)
        std::abort();
}

// As the settings window shows a record and collects it again: its controls
// keep the fields of the last showing, its edited record the last collected.
struct Controls {
    settings_fields::SettingsFields fields = settings_fields::ShownFields();
    SettingsRecord edited{};

    SettingsRecord ShowAndCollect(const SettingsRecord &record)
    {
        fields = settings_fields::Decode(record, fields);
        edited = settings_fields::Encode(fields, edited);
        return edited;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // The reply as it is read: up to 12 bytes, zeros where none came.
    std::array<uint8_t, kBlockSize> reply{};
    const size_t delivered = std::min(size, kBlockSize);
    std::copy(data, data + delivered, reply.begin());
    const bool intact = SettingsBlockIntact(reply.data(), delivered);
    Require(!intact || (delivered == kBlockSize && Crc16Modbus(reply.data(), kBlockSize) == 0));

    // The same record bytes in a block of our own: intact, and no longer so
    // after any single changed bit.
    const SettingsRecord record = RecordOfBlock(reply.data());
    const uint8_t command = delivered > 0 && reply[0] == kWriteCommand ? kWriteCommand : kReadCommand;
    SettingsBlockBytes block = BuildSettingsBlock(command, record);
    Require(SettingsBlockIntact(block.data(), block.size()));
    Require(!SettingsBlockIntact(block.data(), block.size() - 1));
    Require(RecordOfBlock(block.data()) == record && block[0] == command);
    if (size > kBlockSize) {
        const size_t bit = data[kBlockSize] % (kBlockSize * 8);
        block[bit / 8] ^= uint8_t(1u << (bit % 8));
        Require(!SettingsBlockIntact(block.data(), block.size()));
    }

    // Shown and collected: what comes out is a record shown and collected
    // unchanged, and it travels in a block that checks.
    Controls controls;
    const SettingsRecord collected = controls.ShowAndCollect(record);
    Require(controls.ShowAndCollect(collected) == collected);
    const SettingsBlockBytes write = BuildSettingsBlock(kWriteCommand, collected);
    Require(SettingsBlockIntact(write.data(), write.size()));
    Require(RecordOfBlock(write.data()) == collected);
    return 0;
}
