#include "core/protocol/settings_record.h"

#include <algorithm>

namespace {

// What each set bit of (low byte XOR data) contributes after the shift by 8.
constexpr uint16_t kBitTerms[8] = {0xC0C1, 0xC181, 0xC301, 0xC601, 0xCC01, 0xD801, 0xF001, 0xA001};

}  // namespace

uint16_t Crc16Modbus(const uint8_t *data, size_t length, uint16_t crc)
{
    for (size_t i = 0; i < length; ++i) {
        const uint8_t index = uint8_t(crc ^ data[i]);
        crc >>= 8;
        for (int bit = 0; bit < 8; ++bit) {
            if (index & (1u << bit))
                crc ^= kBitTerms[bit];
        }
    }
    return crc;
}

SettingsBlockBytes BuildSettingsBlock(uint8_t command, const SettingsRecord &record)
{
    using namespace settings_protocol;
    SettingsBlockBytes block{};
    block[0] = command;
    std::copy(record.begin(), record.end(), block.begin() + kRecordOffset);
    const uint16_t crc = Crc16Modbus(block.data(), kCrcOffset);
    block[kCrcOffset] = uint8_t(crc & 0xFF);
    block[kCrcOffset + 1] = uint8_t(crc >> 8);
    return block;
}

bool SettingsBlockIntact(const uint8_t *block, size_t delivered)
{
    return delivered == settings_protocol::kBlockSize &&
           Crc16Modbus(block, settings_protocol::kBlockSize) == 0;
}

SettingsRecord RecordOfBlock(const uint8_t *block)
{
    SettingsRecord record{};
    std::copy(block + settings_protocol::kRecordOffset,
              block + settings_protocol::kRecordOffset + record.size(), record.begin());
    return record;
}
