#pragma once
// The framed command protocol spoken with the reader: the body 0x11, command,
// header word, payload and CRC-8/MAXIM, byte-stuffed between 0xDA and 0xD5.
// TProtFrame is the frame half of TProt (the update engine is the other half).

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

class TComPort1;

namespace frame {

inline constexpr uint8_t kStart = 0xDA;
inline constexpr uint8_t kEnd = 0xD5;
inline constexpr uint8_t kEscape = 0xDF;
inline constexpr uint8_t kHeaderByte = 0x11;
inline constexpr uint8_t kLongHeaderFrom = 31;  // command codes from here on take the long header
inline constexpr size_t kLongHeaderLength = 6;

// CRC-8/MAXIM (reflected 0x8C, initial 0, no final XOR); 0 for no bytes.
uint8_t Crc8(const uint8_t *data, size_t count);
// Stuffs count body bytes into out (capacity outCapacity). Returns the escaped
// length, or 0 when it would not fit.
size_t Escape(const uint8_t *body, size_t count, uint8_t *out, size_t outCapacity);
// Undoes the stuffing of count bytes from in into out (out may equal in only
// through a copy; the caller owns that). Returns the number of bytes written.
size_t Unescape(const uint8_t *in, size_t count, uint8_t *out);
// A whole frame as it travels on the line: start byte, stuffed body with its
// CRC appended, end byte. body is the unescaped body without the CRC.
std::vector<uint8_t> Encode(const std::vector<uint8_t> &body);

}  // namespace frame

class TProtFrame {
public:
    // The largest body the protocol allows: header (6), block header (3),
    // a byte count of up to 255 chosen by the reader, and the CRC.
    static constexpr size_t kMaxBody = 6 + 3 + 255 + 1;
    static constexpr size_t kMaxEscaped = 2 * kMaxBody;
    static constexpr size_t kRxBufferSize = 201;
    static constexpr size_t kRxClearLength = 200;
    static constexpr size_t kRxScratchSize = 600;

    enum class ReplyOutcome { NoReply, ChecksumError, Valid };

    explicit TProtFrame(TComPort1 &port);
    virtual ~TProtFrame() = default;

    // The main window's port-open flag; SendCommand refuses while it is not 1.
    void SetPortOpenFlag(const std::atomic<uint8_t> *portOpen) { portOpen_ = portOpen; }

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

    const std::atomic<uint8_t> *portOpen_ = nullptr;
    bool overflow_ = false;
    bool endByteEndsRead_ = false;
};
