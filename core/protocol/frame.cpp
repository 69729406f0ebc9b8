#include "core/protocol/frame.h"

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
