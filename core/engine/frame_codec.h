#pragma once
// Frames on the port: TProtFrame composes a request, sends it and reads and
// checks one reply with the codec of core/protocol/frame.h. It is the frame
// half of TProt (the update engine is the other half).

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "core/protocol/frame.h"

class TComPort1;

class TProtFrame {
public:
    // The largest body the protocol allows: header (6), block header (3),
    // a byte count of up to 255 chosen by the reader, and the CRC.
    static constexpr size_t kMaxBody = 6 + 3 + 255 + 1;
    static constexpr size_t kMaxEscaped = 2 * kMaxBody;
    static constexpr size_t kRxBufferSize = 201;
    static constexpr size_t kRxClearLength = 200;
    static constexpr size_t kRxScratchSize = 600;
    // The reply nearly every exchange of an update gets, a request for the
    // next block: start byte, six header bytes, status, offset, one byte,
    // byte count, CRC, end byte. The read sleeps through the line time of
    // what is missing of it instead of waking for each byte.
    static constexpr uint16_t kUsualReplyLength = 14;

    enum class ReplyOutcome { NoReply, ChecksumError, Valid };

    explicit TProtFrame(TComPort1 &port);
    virtual ~TProtFrame() = default;

    // The main window's port-open flag; SendCommand refuses while it is not 1.
    void SetPortOpenFlag(const std::atomic<bool> *portOpen) { portOpen_ = portOpen; }

    // Appends one body byte at TxLength. A byte that does not fit is refused
    // and marks the request as overflowing, so SendCommand drops it.
    void Put(uint8_t value);
    // Completes the header, appends the CRC, escapes and writes the frame byte
    // by byte with 1 ms after the start and the end byte. Returns false when
    // nothing was sent (port not open, or a request too large for the buffers).
    bool SendCommand(uint8_t command);
    // Unstuffs count bytes of buffer in place; returns the resulting length.
    uint16_t Unescape(uint8_t *buffer, uint16_t count);
    static uint8_t Crc8(const uint8_t *data, size_t count) { return frame::Crc8(data, count); }
    static void ClearBuffer(uint8_t *buffer, size_t count);
    // Reads one reply of at most maxBytes into RxBuffer, unstuffs and checks it.
    // ReplyLength holds the unescaped length afterwards.
    ReplyOutcome ReceiveReply(uint16_t maxBytes);

    // When set, a reply read also ends as soon as the end byte 0xD5 arrives.
    void SetEndByteEndsRead(bool on) { endByteEndsRead_ = on; }
    bool EndByteEndsRead() const { return endByteEndsRead_; }

    uint8_t TxFrame[kMaxBody] = {};
    uint8_t TxEscaped[kMaxEscaped] = {};
    uint16_t TxLength = 0;  // body bytes while composing; escaped length after SendCommand
    uint8_t RxScratch[kRxScratchSize] = {};
    uint8_t RxBuffer[kRxBufferSize] = {};
    uint32_t HeaderWord = 0;
    uint8_t ShortAddress = 0;
    uint16_t ReplyLength = 0;

protected:
    TComPort1 &port_;

private:
    uint16_t readReply(uint16_t maxBytes);

    const std::atomic<bool> *portOpen_ = nullptr;
    bool overflow_ = false;
    bool endByteEndsRead_ = false;
};
