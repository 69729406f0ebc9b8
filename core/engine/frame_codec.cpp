#include "core/engine/frame_codec.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "core/engine/com_port.h"
#include "core/engine/engine_notices.h"

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

    if (portOpen_ == nullptr || !portOpen_->load()) {
        engine::Notices().PortNotOpen();
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
    // The body goes out in one call: byte by byte, an update of 64 KiB costs
    // some 80,000 system calls and the reader gains nothing from them.
    port_.WriteBytes(TxEscaped, TxLength);
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
        return port_.ReadFrame(RxBuffer, count, frame::kEnd, kUsualReplyLength);
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
