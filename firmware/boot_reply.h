#pragma once
// The boot loader's answer to a data block, decoded without the port: what
// the engine does next. Kept apart so that any byte sequence can be fed to it.

#include <cstdint>

namespace boot_reply {

enum class Step {
    NextBlock,  // a block request: offset and count are at their places
    End,        // 0x80: the end sequence follows
    Stop,       // an error code or an unknown status: the transfer ends with outcome
};

struct Decoded {
    Step step = Step::Stop;
    unsigned outcome = 0;  // a TProt outcome (kGoOn, kWrongModel, ..., kNoAnswer)
    int32_t offset = 0;    // for NextBlock
    uint32_t count = 0;    // for NextBlock, at most 255
};

// reply: the unstuffed reply as received, start byte at index 0, at least
// 12 bytes readable (the receive buffer always is).
Decoded DecodeBlockReply(const uint8_t *reply);

}  // namespace boot_reply
