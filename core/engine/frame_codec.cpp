#include "core/engine/frame_codec.h"

#include <QString>
#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "core/engine/com_port.h"
#include "gui/message_box.h"

namespace frame {

uint8_t Crc8(const uint8_t *data, size_t count)
{
    uint8_t crc = 0;
    for (size_t i = 0; i < count; ++i) {
        uint8_t byte = data[i];
        for (int bit = 0; bit < 8; ++bit) {
            const bool mix = ((crc ^ byte) & 0x01) != 0;
            crc >>= 1;
            if (mix)
                crc ^= 0x8C;
            byte >>= 1;
        }
    }
    return crc;
}

size_t Escape(const uint8_t *body, size_t count, uint8_t *out, size_t outCapacity)
{
    size_t n = 0;
    for (size_t i = 0; i < count; ++i) {
        const uint8_t b = body[i];
        const bool stuffed = b == kEscape || b == kStart || b == kEnd;
        if (n + (stuffed ? 2 : 1) > outCapacity)
            return 0;
        if (!stuffed) {
            out[n++] = b;
            continue;
        }
        out[n++] = kEscape;
        out[n++] = b == kEscape ? 0xFF : b == kStart ? 0xAA : 0x55;
    }
    return n;
}

size_t Unescape(const uint8_t *in, size_t count, uint8_t *out)
{
    size_t n = 0;
    for (size_t i = 0; i < count; ++i) {
        if (in[i] != kEscape || i + 1 == count) {
            out[n++] = in[i];
            continue;
        }
        const uint8_t code = in[++i];
        // An unknown code still stands for the escape byte; the code itself is lost.
        out[n++] = code == 0xAA ? kStart : code == 0x55 ? kEnd : kEscape;
    }
    return n;
}

std::vector<uint8_t> Encode(const std::vector<uint8_t> &body)
{
    std::vector<uint8_t> withCrc(body);
    withCrc.push_back(Crc8(body.data(), body.size()));
    std::vector<uint8_t> line(2 * withCrc.size() + 2);
    line[0] = kStart;
    const size_t n = Escape(withCrc.data(), withCrc.size(), line.data() + 1, line.size() - 2);
    line[n + 1] = kEnd;
    line.resize(n + 2);
    return line;
}

}  // namespace frame

TProtFrame::TProtFrame(TComPort1 &port) : port_(port) {}

void TProtFrame::Put(uint8_t value)
{
    if (TxLength >= kMaxBody) {
        overflow_ = true;
        return;
    }
    TxFrame[TxLength++] = value;
}

bool TProtFrame::SendCommand(uint8_t command)
{
    // The overflow mark belongs to the request being sent; the next one starts clean.
    const bool overflowed = overflow_;
    overflow_ = false;

    if (portOpen_ == nullptr || portOpen_->load() != 1) {
        platform::ShowError(QStringLiteral("You have not opened the port!"));
        return false;
    }
    if (overflowed || TxLength > kMaxBody)
        return false;

    TxFrame[0] = frame::kHeaderByte;
    TxFrame[1] = command;
    HeaderWord = 1;
    if (command >= frame::kLongHeaderFrom) {
        for (int i = 0; i < 4; ++i)
            TxFrame[2 + i] = uint8_t(HeaderWord >> (8 * i));
    } else {
        TxFrame[2] = ShortAddress;
    }

    Put(Crc8(TxFrame, TxLength));
    if (overflow_) {
        overflow_ = false;
        return false;
    }
    const size_t escaped = frame::Escape(TxFrame, TxLength, TxEscaped, kMaxEscaped);
    if (escaped == 0)
        return false;
    TxLength = uint16_t(escaped);

    port_.WriteByte(frame::kStart);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    for (size_t i = 0; i < TxLength; ++i)
        port_.WriteByte(TxEscaped[i]);
    port_.WriteByte(frame::kEnd);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return true;
}

uint16_t TProtFrame::Unescape(uint8_t *buffer, uint16_t count)
{
    size_t n = std::min<size_t>(count, kRxScratchSize);
    if (buffer == RxBuffer)
        n = std::min(n, kRxBufferSize);
    std::memcpy(RxScratch, buffer, n);
    // Unstuffing never lengthens, so writing back over buffer stays within n bytes.
    return uint16_t(frame::Unescape(RxScratch, n, buffer));
}

void TProtFrame::ClearBuffer(uint8_t *buffer, size_t count)
{
    std::memset(buffer, 0, count);
}

uint16_t TProtFrame::readReply(uint16_t maxBytes)
{
    const uint16_t count = uint16_t(std::min<size_t>(maxBytes, kRxClearLength));
    // Stuffing keeps 0xD5 out of the body, so it can only close the frame:
    // no need to wait out the quiet gap after it.
    if (endByteEndsRead_)
        return port_.ReadFrame(RxBuffer, count, frame::kEnd);
    return port_.Read(RxBuffer, count);
}

TProtFrame::ReplyOutcome TProtFrame::ReceiveReply(uint16_t maxBytes)
{
    ClearBuffer(RxBuffer, kRxClearLength);
    if (readReply(maxBytes) == 0) {
        ReplyLength = 0;
        return ReplyOutcome::NoReply;
    }
    const uint16_t m = Unescape(RxBuffer, uint16_t(port_.LastReadCount & 0xFF));
    ReplyLength = m;
    // Index 0 and m-1 are the start and end bytes; the CRC covers what lies between.
    if (m >= 2 && Crc8(RxBuffer + 1, size_t(m) - 2) == 0)
        return ReplyOutcome::Valid;
    return ReplyOutcome::ChecksumError;
}
