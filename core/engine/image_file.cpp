// Firmware image files, read from their end: the description length L (24
// bits at size - 8), the description before it, the program section size S
// (32 bits at size - 4), and the program section, the last S bytes of the file.
// The file is read once into memory; the trailer and the ranges the boot
// loader asks for are taken from that copy.

#include <algorithm>
#include <cstring>

#include "core/protocol/image_check.h"
#include "core/engine/engine_notices.h"
#include "core/engine/update_procedure.h"

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

int TProt::OpenImage(const QString &fileName)
{
    // The copy of an earlier choice is not needed any more.
    CloseImage();
    imageVerdict_ = {};
    image_ = image_copy::Load(fileName);
    imageSize_ = image_.size;
    switch (image_.failure) {
    case image_copy::Failure::NoName:
    case image_copy::Failure::CannotOpen:
    case image_copy::Failure::NotRegular:
        engine::Notices().ImageNotOpened(fileName, image_.systemText);
        return 0;
    case image_copy::Failure::TooLarge:
    case image_copy::Failure::None:
        break;
    }
    ReadImageTrailer();
    View().ShowFileName(fileName);
    if (!imageVerdict_.Accepted()) {
        // Nothing of it may reach the reader; the window says why.
        CloseImage();
        return 0;
    }
    return 1;
}

void TProt::CloseImage()
{
    image_.bytes = QByteArray();
}

void TProt::ReadImageTrailer()
{
    View().ClearDescription();

    // A file too short for the trailer reads as L = 0 and S = 0.
    uint32_t descriptionLength = 0;
    SectionSize = 0;
    if (imageSize_ >= kTrailerBytes) {
        uint8_t trailer[kTrailerBytes] = {};
        ReadFileRange(imageSize_ - kTrailerBytes, sizeof trailer, trailer);
        descriptionLength = LittleEndian(trailer, 3);
        SectionSize = static_cast<int32_t>(LittleEndian(trailer + (kTrailerBytes - kSectionAt), 4));
    }

    // A refused file shows no description and leaves the progress bar alone.
    descriptionLength_ = 0;
    description_[0] = 0;
    imageVerdict_ = image_check::CheckImage(imageSize_, descriptionLength, SectionSize);
    if (!imageVerdict_.Accepted()) {
        BlockCount = 0;
        return;
    }

    // The description ends early after its first line feed (kept) or at a
    // zero byte; it is cut at 99 bytes.
    const int64_t descriptionStart = imageSize_ - kLengthAt - int64_t(descriptionLength);
    if (descriptionStart >= 0) {
        const size_t wanted = std::min<size_t>(descriptionLength, kDescriptionCapacity - 1);
        uint8_t raw[kDescriptionCapacity] = {};
        ReadFileRange(descriptionStart, wanted, raw);
        while (descriptionLength_ < wanted) {
            const uint8_t byte = raw[descriptionLength_];
            if (byte == 0)
                break;
            description_[descriptionLength_++] = char(byte);
            if (byte == 0x0A)
                break;
        }
    }
    description_[descriptionLength_] = 0;
    View().AddDescriptionLine(DescriptionText(Description()));

    // (S - 66) / 66 in 66-byte steps; a section too small for one step counts
    // 0 (not 65535, which would hold the bar near empty and the percentage at
    // 0% for no reason), a huge one the most the 16-bit count can hold.
    const int64_t steps = (int64_t(SectionSize) - kBlockBytes) / kBlockBytes;
    BlockCount = static_cast<uint16_t>(std::clamp<int64_t>(steps, 0, kMaxBlockCount));
    View().SetProgressMaximum(BlockCount);
    progressPosition_ = 0;
    View().SetProgressPosition(0);
}

int TProt::ReadImageBytes(int32_t offset, uint32_t count)
{
    const size_t n = std::min<size_t>(count, kBlockSize);
    // 64 bits: S and the offset come from the file and the reader.
    const int64_t position = imageSize_ - int64_t(SectionSize) + int64_t(offset);
    return ReadFileRange(position, n, Block);
}

int TProt::ReadFileRange(int64_t position, size_t count, uint8_t *out)
{
    std::memset(out, 0, count);
    const int64_t first = std::max<int64_t>(position, 0);
    const int64_t end = std::min<int64_t>(position + int64_t(count), image_.bytes.size());
    if (first >= end)
        return 0;
    std::memcpy(out + (first - position), image_.bytes.constData() + first, size_t(end - first));
    return int(end - first);
}
