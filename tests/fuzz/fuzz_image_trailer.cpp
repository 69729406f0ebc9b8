// The image rules and the trailer reader on any file: the whole input is the
// file. The rules must refuse exactly the files that are certainly no image,
// and the reader must agree with them. For an accepted file the first bytes
// also choose one block request, besides the edge requests that every run
// makes. Each block must hold the file's bytes where the section lies in the
// file and zeros elsewhere.

#include <QByteArray>
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "core/protocol/firmware_image.h"
#include "core/protocol/image_check.h"

namespace {

void Require(bool condition)
{
    if (!condition)
        std::abort();
}

void CheckBlock(const QByteArray &file, int32_t sectionSize, int64_t offset, size_t count)
{
    // A guard byte past the block: nothing beyond count is written.
    std::vector<uint8_t> block(count + 1, 0xA5);
    const int got = firmware_image::CopySection(file, sectionSize, offset, count, block.data());
    const int64_t start = int64_t(file.size()) - int64_t(sectionSize) + offset;
    int64_t inFile = 0;
    for (size_t i = 0; i < count; ++i) {
        const int64_t at = start + int64_t(i);
        const bool present = at >= 0 && at < file.size();
        inFile += present ? 1 : 0;
        Require(block[i] == (present ? uint8_t(file[qsizetype(at)]) : 0));
    }
    Require(block[count] == 0xA5);
    Require(got == inFile);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > 64 * 1024)
        return 0;
    const QByteArray file(reinterpret_cast<const char *>(data), qsizetype(size));
    const image_check::Verdict verdict = image_check::CheckImageBytes(data, size);
    Require(verdict.Accepted() == verdict.reason.isEmpty());
    if (size >= 8) {
        const int64_t descriptionLength = data[size - 8] | (data[size - 7] << 8) | (data[size - 6] << 16);
        const auto sectionSize = int32_t(uint32_t(data[size - 4]) | (uint32_t(data[size - 3]) << 8) |
                                         (uint32_t(data[size - 2]) << 16) | (uint32_t(data[size - 1]) << 24));
        Require(verdict.Accepted() == (descriptionLength + 8 <= int64_t(size) && sectionSize <= int64_t(size) &&
                                       sectionSize >= image_check::kSmallestSection));
    } else {
        Require(verdict.fault == image_check::Fault::TooShort);
    }

    const firmware_image::Layout layout = firmware_image::Read(file);
    Require(layout.verdict.fault == verdict.fault && layout.verdict.reason == verdict.reason);
    if (!verdict.Accepted()) {
        // Nothing of a refused file is read or shown.
        Require(layout.description.isEmpty() && layout.blockCount == 0);
        return 0;
    }
    Require(layout.blockCount >= 1);

    const QByteArray &description = layout.description;
    Require(description.size() <= firmware_image::kDescriptionLimit);
    Require(!description.contains('\0'));
    const qsizetype lineFeed = description.indexOf('\n');
    Require(lineFeed < 0 || lineFeed == description.size() - 1);
    Require(firmware_image::DescriptionText(description).size() == description.size());

    const int64_t steps =
        (int64_t(layout.sectionSize) - firmware_image::kStepBytes) / firmware_image::kStepBytes;
    Require(layout.blockCount == std::clamp<int64_t>(steps, 0, 0xFFFF));

    // What the reader may ask: offset 16 bits, count 8 bits, and beyond.
    if (size >= 3)
        CheckBlock(file, layout.sectionSize, data[0] | (data[1] << 8), data[2]);
    CheckBlock(file, layout.sectionSize, 0, 255);
    CheckBlock(file, layout.sectionSize, 0xFFFF, 255);
    CheckBlock(file, layout.sectionSize, 0, 0);
    CheckBlock(file, layout.sectionSize, 0x7FFFFFFF, 1000);
    CheckBlock(file, layout.sectionSize, -0x7FFFFFFF, 255);
    return 0;
}
