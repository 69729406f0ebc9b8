#pragma once
// What makes a file certainly not a firmware image, judged from its size and
// the two numbers of its trailer alone. Pure: no file, no window, so the
// window, the update engine and a fuzzer all run the same rules.

#include <QString>
#include <cstddef>
#include <cstdint>

namespace image_check {

constexpr int64_t kTrailerBytes = 8;
// Two 66-byte steps: a smaller section counts no block of progress, and a
// section of 0 or less holds nothing the reader could ask for.
constexpr int64_t kSmallestSection = 132;
// The boot loader reaches at most 65,535 + 255 bytes of a section; a file
// a thousand times that size is no image, and is not read to find out.
constexpr int64_t kLargestFile = 64 * 1024 * 1024;

enum class Fault {
    None,
    TooShort,               // fewer bytes than the trailer
    DescriptionBeyondFile,  // L + 8 larger than the file
    SectionBeyondFile,      // S larger than the file
    SectionTooSmall,        // S below kSmallestSection, 0 and negative included
    TooLarge,               // more bytes than kLargestFile
};

struct Verdict {
    Fault fault = Fault::None;
    QString reason;  // for the user; empty when accepted
    bool Accepted() const { return fault == Fault::None; }
};

// The rule on the file's size alone, before anything of it is read.
Verdict CheckFileSize(int64_t fileSize);

// fileSize in bytes; the trailer values are not looked at when the file is
// shorter than the trailer. A section that takes in the description and the
// trailer, or one larger than the boot loader can address, is accepted.
Verdict CheckImage(int64_t fileSize, uint32_t descriptionLength, int32_t sectionSize);

// The same for a whole file in memory: reads its trailer, then CheckImage.
Verdict CheckImageBytes(const uint8_t *data, size_t size);

// 1048576 -> "1,048,576", as the reasons show numbers.
QString GroupedNumber(int64_t value);

}  // namespace image_check
