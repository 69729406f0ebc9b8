#pragma once
// Firmware image files for tests: a program section whose bytes run through
// every value (the frame's escape values included), then a description, its
// 24-bit length, one unused byte and the 32-bit section size.

#include <QByteArray>
#include <QFile>
#include <QString>
#include <cstdint>
#include <vector>

namespace test_images {

// Section bytes that differ from block to block and hit 0xDA, 0xD5 and 0xDF.
inline QByteArray SectionBytes(int size)
{
    QByteArray bytes(size, 0);
    for (int i = 0; i < size; ++i)
        bytes[i] = char((i * 7 + i / 66) & 0xFF);
    return bytes;
}

inline QByteArray Trailer(uint32_t descriptionLength, int32_t sectionSize)
{
    QByteArray trailer(8, 0);
    trailer[0] = char(descriptionLength & 0xFF);
    trailer[1] = char((descriptionLength >> 8) & 0xFF);
    trailer[2] = char((descriptionLength >> 16) & 0xFF);
    trailer[3] = char(0x5A);  // never read
    const auto s = uint32_t(sectionSize);
    for (int i = 0; i < 4; ++i)
        trailer[4 + i] = char((s >> (8 * i)) & 0xFF);
    return trailer;
}

// A consistent image: the program section is the last S bytes of the file,
// so it takes in the description and the trailer too. body is what comes first.
inline QByteArray Image(const QByteArray &body, const QByteArray &description)
{
    const int sectionSize = body.size() + description.size() + 8;
    return body + description + Trailer(uint32_t(description.size()), sectionSize);
}

inline bool Write(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

// The bytes of the program section a boot loader gets for [offset, offset + count):
// the file's bytes where they exist, zeros elsewhere.
inline std::vector<uint8_t> Expected(const QByteArray &file, int64_t sectionSize, int64_t offset, int64_t count)
{
    std::vector<uint8_t> out(size_t(count), 0);
    const int64_t start = file.size() - sectionSize + offset;
    for (int64_t i = 0; i < count; ++i) {
        const int64_t at = start + i;
        if (at >= 0 && at < file.size())
            out[size_t(i)] = uint8_t(file[int(at)]);
    }
    return out;
}

}  // namespace test_images
