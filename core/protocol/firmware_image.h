#pragma once
// A firmware image, read from its end: the description length L (24 bits at
// size - 8), the description before it, the program section size S (32 bits
// at size - 4), and the program section, the last S bytes of the file. Pure:
// works on the bytes of a file already in memory.

#include <QByteArray>
#include <QString>
#include <cstdint>

#include "core/protocol/image_check.h"

namespace firmware_image {

// One progress step of the section, in bytes.
inline constexpr int kStepBytes = 66;
// The description shown is cut at this many bytes.
inline constexpr int kDescriptionLimit = 99;

struct Layout {
    image_check::Verdict verdict;
    int32_t sectionSize = 0;
    // The description's bytes: up to its first line feed (kept) or zero
    // byte, at most kDescriptionLimit; empty for a refused file.
    QByteArray description;
    // (S - 66) / 66 progress steps, 0 for a refused file or a section too
    // small for one step, at most 65535.
    uint16_t blockCount = 0;
};

Layout Read(const QByteArray &image);

// Fills count bytes of out from the program section at offset; bytes that
// do not lie in the file are zeros. Returns the bytes taken from the file.
int CopySection(const QByteArray &image, int32_t sectionSize, int64_t offset, size_t count, uint8_t *out);

// The description bytes as text: single-byte characters of the Windows
// Cyrillic code page (ASCII below 0x80).
QString DescriptionText(const QByteArray &bytes);

}  // namespace firmware_image
