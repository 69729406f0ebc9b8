#pragma once
// Framed requests and replies on the port: a request is composed from its
// command and payload, escaped and written with 1 ms after the start and the
// end byte; a reply is read, unstuffed and checked with the codec of
// core/protocol/frame.h.

#include <array>
#include <cstddef>
#include <cstdint>

class SerialPort;

class FrameLink {
public:
    // The largest body the protocol allows: header (6), block header (3),
    // a byte count of up to 255 chosen by the reader, and the CRC.
    static constexpr size_t kMaxBody = 6 + 3 + 255 + 1;
    static constexpr size_t kMaxPayload = kMaxBody - 6 - 1;
    static constexpr size_t kReplyCapacity = 201;
    // The part of a reply read at most, and cleared before each read.
    static constexpr size_t kReplyReadLimit = 200;
    // The reply nearly every exchange of an update gets, a request for the
    // next block: start byte, six header bytes, status, offset, one byte,
    // byte count, CRC, end byte. The read sleeps through the line time of
    // what is missing of it instead of waking for each byte.
    static constexpr uint16_t kUsualReplyLength = 14;

    enum class ReplyOutcome { NoReply, ChecksumError, Valid };

    explicit FrameLink(SerialPort &port) : port_(port) {}

    // Sends command with payload; false when nothing was sent (a payload
    // too large for the protocol).
    bool Send(uint8_t command, const uint8_t *payload, size_t count);
    // Reads one reply of at most maxBytes, unstuffs and checks it. With
    // endByteEnds the read ends as soon as the end byte 0xD5 arrives.
    ReplyOutcome Receive(uint16_t maxBytes, bool endByteEnds);
    // The monitor's read: up to maxBytes as they come, unstuffed, not
    // checked; the unstuffed length, 0 when nothing came.
    uint16_t ReceiveRaw(uint16_t maxBytes);

    // The last reply, unstuffed: start byte at 0, zeros after it up to
    // kReplyReadLimit, so fixed positions can be read whatever its length.
    const uint8_t *Reply() const { return reply_.data(); }
    uint16_t ReplyLength() const { return replyLength_; }

private:
    uint16_t Unstuff(uint16_t received);

    SerialPort &port_;
    std::array<uint8_t, kReplyCapacity> reply_{};
    uint16_t replyLength_ = 0;
};
