// The update's reply path on any bytes: what a read leaves in the receive
// buffer, unstuffed, the check, and the decoding of a block reply. The same
// bytes also go through as a frame body, stuffed and back.

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "core/protocol/boot_reply.h"
#include "core/protocol/frame.h"

namespace {

// The receive buffer: at most this many bytes are read into it, and it is
// cleared before each read.
constexpr size_t kReadLimit = 200;
constexpr uint32_t kLargestBlock = 255;

using Buffer = std::array<uint8_t, kReadLimit + 1>;

void Require(bool condition)
{
    if (!condition)
        std::abort();
}

bool KnownOutcome(unsigned outcome)
{
    switch (outcome) {
    case boot_reply::kNoAnswer:
    case boot_reply::kGoOn:
    case boot_reply::kWrongModel:
    case boot_reply::kDeviceNumber:
    case boot_reply::kProgramSize:
    case boot_reply::kBlockNumber:
    case boot_reply::kChecksumTransmission:
        return true;
    default:
        return false;
    }
}

// As a reply is received: the buffer cleared, at most 200 bytes read into
// it, unstuffed, zeros after the result. Returns the unstuffed length.
size_t Receive(Buffer &buffer, const uint8_t *data, size_t size)
{
    buffer.fill(0);
    const size_t n = std::min(size, kReadLimit);
    const size_t length = frame::Unescape(data, n, buffer.data());
    Require(length <= n);
    return length;
}

bool Valid(const Buffer &buffer, size_t m)
{
    return m >= 2 && frame::Crc8(buffer.data() + 1, m - 2) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // Raw bytes as a reply.
    Buffer buffer;
    const size_t m = Receive(buffer, data, size);
    for (size_t i = m; i < buffer.size(); ++i)
        Require(buffer[i] == 0);
    (void)Valid(buffer, m);

    const boot_reply::Decoded reply = boot_reply::DecodeBlockReply(buffer.data());
    Require(KnownOutcome(reply.outcome));
    Require(reply.count <= kLargestBlock);
    Require(reply.offset >= 0 && reply.offset <= 0xFFFF);
    Require((reply.step == boot_reply::Step::Stop) == (reply.outcome != boot_reply::kGoOn));
    if (reply.step == boot_reply::Step::NextBlock) {
        Require(reply.offset == buffer[boot_reply::kOffsetLowAt] + 256 * buffer[boot_reply::kOffsetHighAt]);
        Require(reply.count == buffer[boot_reply::kCountAt]);
    }

    // The same bytes as a body: stuffed as the reader would send them, they
    // must come back whole and pass the check.
    const std::vector<uint8_t> body(data, data + std::min<size_t>(size, 97));
    const std::vector<uint8_t> line = frame::Encode(body);
    Require(line.size() <= kReadLimit);
    Require(line.front() == frame::kStart && line.back() == frame::kEnd);
    for (size_t i = 1; i + 1 < line.size(); ++i)
        Require(line[i] != frame::kStart && line[i] != frame::kEnd);
    const size_t back = Receive(buffer, line.data(), line.size());
    Require(back == body.size() + 3);
    Require(Valid(buffer, back));
    Require(std::equal(body.begin(), body.end(), buffer.begin() + 1));
    return 0;
}
