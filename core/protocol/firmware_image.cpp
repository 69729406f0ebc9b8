#include "core/protocol/firmware_image.h"

#include <algorithm>
#include <cstring>

namespace firmware_image {

namespace {

constexpr int64_t kTrailerBytes = 8;
constexpr int64_t kLengthAt = 8;   // back from the end
constexpr int64_t kSectionAt = 4;  // back from the end
constexpr int64_t kMaxBlockCount = 0xFFFF;

// Windows-1251, 0x80 to 0xFF; 0x98 is unassigned there.
constexpr char16_t kCyrillicHigh[128] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0xFFFD, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,
    0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417,
    0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E, 0x041F,
    0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427,
    0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F,
    0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437,
    0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F,
    0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447,
    0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F,
};

uint32_t LittleEndian(const uint8_t *bytes, int count)
{
    uint32_t value = 0;
    for (int i = count - 1; i >= 0; --i)
        value = (value << 8) | bytes[i];
    return value;
}

// Bytes [position, position + count) of image into out, zeros outside it.
int CopyRange(const QByteArray &image, int64_t position, size_t count, uint8_t *out)
{
    std::memset(out, 0, count);
    const int64_t first = std::max<int64_t>(position, 0);
    const int64_t end = std::min<int64_t>(position + int64_t(count), image.size());
    if (first >= end)
        return 0;
    std::memcpy(out + (first - position), image.constData() + first, size_t(end - first));
    return int(end - first);
}

}  // namespace

QString DescriptionText(const QByteArray &bytes)
{
    QString text;
    text.reserve(bytes.size());
    for (char c : bytes) {
        const auto byte = static_cast<uint8_t>(c);
        text.append(byte < 0x80 ? QChar(byte) : QChar(kCyrillicHigh[byte - 0x80]));
    }
    return text;
}

int CopySection(const QByteArray &image, int32_t sectionSize, int64_t offset, size_t count, uint8_t *out)
{
    // 64 bits: S and the offset come from the file and the reader.
    return CopyRange(image, image.size() - int64_t(sectionSize) + offset, count, out);
}

Layout Read(const QByteArray &image)
{
    Layout layout;
    const int64_t size = image.size();
    // A file too short for the trailer reads as L = 0 and S = 0.
    uint32_t descriptionLength = 0;
    if (size >= kTrailerBytes) {
        uint8_t trailer[kTrailerBytes] = {};
        CopyRange(image, size - kTrailerBytes, sizeof trailer, trailer);
        descriptionLength = LittleEndian(trailer, 3);
        layout.sectionSize = static_cast<int32_t>(LittleEndian(trailer + (kTrailerBytes - kSectionAt), 4));
    }
    layout.verdict = image_check::CheckImage(size, descriptionLength, layout.sectionSize);
    if (!layout.verdict.Accepted())
        return layout;

    // The description ends early after its first line feed (kept) or at a
    // zero byte; it is cut at 99 bytes.
    const int64_t descriptionStart = size - kLengthAt - int64_t(descriptionLength);
    if (descriptionStart >= 0) {
        const size_t wanted = std::min<size_t>(descriptionLength, kDescriptionLimit);
        uint8_t raw[kDescriptionLimit] = {};
        CopyRange(image, descriptionStart, wanted, raw);
        for (size_t i = 0; i < wanted && raw[i] != 0; ++i) {
            layout.description.append(char(raw[i]));
            if (raw[i] == 0x0A)
                break;
        }
    }

    // A section too small for one step counts 0 (not 65535, which would hold
    // the bar near empty and the percentage at 0% for no reason), a huge one
    // the most the 16-bit count can hold.
    const int64_t steps = (int64_t(layout.sectionSize) - kStepBytes) / kStepBytes;
    layout.blockCount = static_cast<uint16_t>(std::clamp<int64_t>(steps, 0, kMaxBlockCount));
    return layout;
}

}  // namespace firmware_image
