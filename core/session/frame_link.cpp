#include "core/session/frame_link.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "core/line/serial_port.h"
#include "core/protocol/frame.h"

namespace {
constexpr size_t kHeaderLength = frame::kLongHeaderLength;
constexpr uint32_t kHeaderWord = 1;
}  // namespace

bool FrameLink::Send(uint8_t command, const uint8_t *payload, size_t count)
{
    if (count > kMaxPayload)
        return false;
    uint8_t body[kMaxBody] = {};
    body[0] = frame::kHeaderByte;
    body[1] = command;
    // Commands below the long-header range carry the short address 0 instead.
    if (command >= frame::kLongHeaderFrom) {
        for (int i = 0; i < 4; ++i)
            body[2 + i] = uint8_t(kHeaderWord >> (8 * i));
    }
    if (count > 0)
        std::memcpy(body + kHeaderLength, payload, count);
    const size_t length = kHeaderLength + count;
    body[length] = frame::Crc8(body, length);

    uint8_t escaped[2 * kMaxBody] = {};
    const size_t escapedLength = frame::Escape(body, length + 1, escaped, sizeof escaped);
    if (escapedLength == 0)
        return false;
    const uint8_t start = frame::kStart;
    const uint8_t end = frame::kEnd;
    port_.Write(&start, 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    // The body goes out in one call: byte by byte, an update of 64 KiB costs
    // some 80,000 system calls and the reader gains nothing from them.
    port_.Write(escaped, uint16_t(escapedLength));
    port_.Write(&end, 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return true;
}

uint16_t FrameLink::Unstuff(uint16_t received)
{
    const size_t n = std::min<size_t>(received, kReplyCapacity);
    uint8_t raw[kReplyCapacity];
    std::memcpy(raw, reply_.data(), n);
    // Unstuffing never lengthens, so the result fits where the raw bytes were.
    const size_t length = frame::Unescape(raw, n, reply_.data());
    std::fill(reply_.begin() + length, reply_.begin() + n, 0);
    return uint16_t(length);
}

FrameLink::ReplyOutcome FrameLink::Receive(uint16_t maxBytes, bool endByteEnds)
{
    std::fill(reply_.begin(), reply_.begin() + kReplyReadLimit, 0);
    const uint16_t count = uint16_t(std::min<size_t>(maxBytes, kReplyReadLimit));
    // Stuffing keeps 0xD5 out of the body, so it can only close the frame:
    // no need to wait out the quiet gap after it.
    const uint16_t received = endByteEnds ? port_.ReadFrame(reply_.data(), count, frame::kEnd, kUsualReplyLength)
                                          : port_.Read(reply_.data(), count);
    if (received == 0) {
        replyLength_ = 0;
        return ReplyOutcome::NoReply;
    }
    replyLength_ = Unstuff(received);
    // Index 0 and m-1 are the start and end bytes; the CRC covers what lies between.
    if (replyLength_ >= 2 && frame::Crc8(reply_.data() + 1, size_t(replyLength_) - 2) == 0)
        return ReplyOutcome::Valid;
    return ReplyOutcome::ChecksumError;
}

uint16_t FrameLink::ReceiveRaw(uint16_t maxBytes)
{
    std::fill(reply_.begin(), reply_.begin() + kReplyReadLimit, 0);
    const uint16_t received = port_.Read(reply_.data(), uint16_t(std::min<size_t>(maxBytes, kReplyReadLimit)));
    replyLength_ = received == 0 ? 0 : Unstuff(received);
    return replyLength_;
}
