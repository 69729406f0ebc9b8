#pragma once
// The boot loader's answer to a data block, decoded without the port: what
// the engine does next. Kept apart so that any byte sequence can be fed to it.

#include <cstdint>

namespace boot_reply {

// Where the boot loader puts things in its unstuffed reply, and its status codes.
inline constexpr int kStatusAt = 7;
inline constexpr int kOffsetLowAt = 8;   // block request: offset, low byte first
inline constexpr int kOffsetHighAt = 9;
inline constexpr int kCountAt = 11;      // block request: byte count
inline constexpr int kErrorCodeAt = 8;
inline constexpr uint8_t kStatusRequest = 0x01;
inline constexpr uint8_t kStatusClosing = 0x02;  // next-block query: ready for the closing block
inline constexpr uint8_t kStatusEnd = 0x80;
inline constexpr uint8_t kStatusError = 0xFF;

// What a block reply means for the transfer.
enum Outcome : unsigned {
    kNoAnswer = 0,  // also an unknown status or error code
    kGoOn = 1,
    kWrongModel = 2,
    kDeviceNumber = 3,
    kProgramSize = 4,
    kBlockNumber = 5,
    kChecksumTransmission = 6,
};

enum class Step {
    NextBlock,  // a block request: offset and count are at their places
    End,        // 0x80: the end sequence follows
    Stop,       // an error code or an unknown status: the transfer ends with outcome
};

struct Decoded {
    Step step = Step::Stop;
    unsigned outcome = kNoAnswer;
    int32_t offset = 0;    // for NextBlock
    uint32_t count = 0;    // for NextBlock, at most 255
};

// reply: the unstuffed reply as received, start byte at index 0, at least
// 12 bytes readable (the receive buffer always is).
Decoded DecodeBlockReply(const uint8_t *reply);

}  // namespace boot_reply
