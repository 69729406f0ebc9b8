#pragma once
// The reader's 9-byte settings record and the bare 12-byte blocks that carry
// it: command byte, record, CRC-16/MODBUS low byte first. No Qt here, so the
// simulated reader can share it.

#include <array>
#include <cstddef>
#include <cstdint>

using SettingsRecord = std::array<uint8_t, 9>;
using SettingsBlockBytes = std::array<uint8_t, 12>;

namespace settings_protocol {

inline constexpr uint8_t kNoCommand = 0x00;
inline constexpr uint8_t kReadCommand = 0x55;
inline constexpr uint8_t kWriteCommand = 0xAA;
inline constexpr size_t kBlockSize = 12;
inline constexpr size_t kRecordOffset = 1;
inline constexpr size_t kCrcOffset = 10;

}  // namespace settings_protocol

// What "Default Settings" fills in: everything 0 but the 5-byte iButton length.
inline constexpr SettingsRecord kDefaultSettingsRecord = {0, 0, 0, 0, 0, 1, 0, 0, 0};

// CRC-16/MODBUS (reflected 0xA001, start 0xFFFF, no final XOR). Over a block
// including its own CRC bytes it is 0 exactly when the block is intact.
uint16_t Crc16Modbus(const uint8_t *data, size_t length, uint16_t crc = 0xFFFF);

SettingsBlockBytes BuildSettingsBlock(uint8_t command, const SettingsRecord &record);
// A reply counts only when all 12 bytes came and the CRC over them is 0.
bool SettingsBlockIntact(const uint8_t *block, size_t delivered);
SettingsRecord RecordOfBlock(const uint8_t *block);
