// The update engine's reply path on any bytes: what a read leaves in the
// receive buffer, unstuffing in place, the check, and the decoding of a block
// reply. The same bytes also go through as a frame body, stuffed and back.

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/protocol/boot_reply.h"
#include "core/engine/update_procedure.h"
#include "core/engine/com_port.h"

namespace {

void Require(bool condition)
{
    if (!condition)
        std::abort();
}

bool KnownOutcome(unsigned outcome)
{
    switch (outcome) {
    case TProt::kNoAnswer:
    case TProt::kGoOn:
    case TProt::kWrongModel:
    case TProt::kDeviceNumber:
    case TProt::kProgramSize:
    case TProt::kBlockNumber:
    case TProt::kChecksumTransmission:
        return true;
    default:
        return false;
    }
}

// As the engine receives a reply: the buffer cleared, at most 200 bytes read
// into it, unstuffed in place. Returns the unstuffed length.
uint16_t Receive(TProt &prot, const uint8_t *data, size_t size)
{
    TProtFrame::ClearBuffer(prot.RxBuffer, TProtFrame::kRxClearLength);
    const size_t n = std::min(size, TProtFrame::kRxClearLength);
    std::memcpy(prot.RxBuffer, data, n);
    return prot.Unescape(prot.RxBuffer, uint16_t(n & 0xFF));
}

bool Valid(const TProt &prot, uint16_t m)
{
    return m >= 2 && TProtFrame::Crc8(prot.RxBuffer + 1, size_t(m) - 2) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static TComPort1 port;  // never opened: nothing here touches the line
    static TProt prot(port);

    // Raw bytes as a reply.
    const size_t n = std::min(size, TProtFrame::kRxClearLength);
    std::vector<uint8_t> expected(n + 1);
    const size_t expectedLength = frame::Unescape(data, n, expected.data());
    const uint16_t m = Receive(prot, data, size);
    Require(m <= n && m == expectedLength);
    Require(std::equal(expected.begin(), expected.begin() + m, prot.RxBuffer));
    for (size_t i = m; i < n; ++i)
        Require(prot.RxBuffer[i] == data[i]);  // the tail past m is not touched by unstuffing
    const bool valid = Valid(prot, m);

    const boot_reply::Decoded reply = boot_reply::DecodeBlockReply(prot.RxBuffer);
    Require(KnownOutcome(reply.outcome));
    Require(reply.count <= TProt::kBlockSize);
    Require(reply.offset >= 0 && reply.offset <= 0xFFFF);
    Require((reply.step == boot_reply::Step::Stop) == (reply.outcome != TProt::kGoOn));
    (void)TProt::MatchAt(prot.RxBuffer, "BOOT", 7);
    (void)valid;

    // The same bytes as a body: stuffed as the reader would send them, they
    // must come back whole and pass the check.
    const std::vector<uint8_t> body(data, data + std::min<size_t>(size, 97));
    const std::vector<uint8_t> line = frame::Encode(body);
    Require(line.size() <= TProtFrame::kRxClearLength);
    Require(line.front() == frame::kStart && line.back() == frame::kEnd);
    for (size_t i = 1; i + 1 < line.size(); ++i)
        Require(line[i] != frame::kStart && line[i] != frame::kEnd);
    const uint16_t back = Receive(prot, line.data(), line.size());
    Require(back == body.size() + 3);
    Require(Valid(prot, back));
    Require(std::equal(body.begin(), body.end(), prot.RxBuffer + 1));
    return 0;
}
