// The image rules and the trailer reader on any file: the whole input is the
// file. The rules must refuse exactly the files that are certainly no image,
// and the reader must agree with them. For an accepted file the first bytes
// also choose one block request, besides the edge requests that every run
// makes. Each block must hold the file's bytes where the section lies in the
// file and zeros elsewhere.

#include <QString>
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <fcntl.h>
#include <unistd.h>

#include "core/protocol/image_check.h"
#include "core/engine/update_procedure.h"
#include "core/engine/com_port.h"

namespace {

void Require(bool condition)
{
    if (!condition)
        std::abort();
}

std::string ImagePath()
{
    const char *tmp = std::getenv("TMPDIR");
    return std::string(tmp && *tmp ? tmp : "/tmp") + "/fuzz-image-" + std::to_string(getpid()) + ".rom";
}

bool WriteFile(const std::string &path, const uint8_t *data, size_t size)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0)
        return false;
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, data + done, size - done);
        if (n <= 0)
            break;
        done += size_t(n);
    }
    ::close(fd);
    return done == size;
}

void CheckBlock(TProt &prot, const uint8_t *file, int64_t size, int32_t offset, uint32_t count)
{
    const int got = prot.ReadImageBytes(offset, count);
    const int64_t n = std::min<int64_t>(count, TProt::kBlockSize);
    const int64_t start = size - int64_t(prot.SectionSize) + offset;
    int64_t inFile = 0;
    for (int64_t i = 0; i < n; ++i) {
        const int64_t at = start + i;
        const bool present = at >= 0 && at < size;
        inFile += present ? 1 : 0;
        Require(prot.Block[i] == (present ? file[at] : 0));
    }
    Require(got == inFile);
}

struct Cleanup {
    std::string path;
    ~Cleanup() { ::unlink(path.c_str()); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static TComPort1 port;
    static TProt prot(port);  // no view: the engine's own that shows nothing
    static Cleanup file{ImagePath()};

    if (size > 64 * 1024 || !WriteFile(file.path, data, size))
        return 0;
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

    Require(prot.OpenImage(QString::fromStdString(file.path)) == (verdict.Accepted() ? 1 : 0));
    Require(prot.ImageVerdict().fault == verdict.fault && prot.ImageVerdict().reason == verdict.reason);
    Require(prot.ImageSize() == int64_t(size));
    if (!verdict.Accepted()) {
        // Nothing of a refused file is read or shown.
        Require(!prot.ImageLoaded() && prot.Description().isEmpty());
        Require(prot.ReadImageBytes(0, 255) == 0);
        return 0;
    }
    Require(prot.BlockCount >= 1);

    const QByteArray description = prot.Description();
    Require(description.size() < int(TProt::kDescriptionCapacity));
    Require(!description.contains('\0'));
    const int lineFeed = description.indexOf('\n');
    Require(lineFeed < 0 || lineFeed == description.size() - 1);
    Require(DescriptionText(description).size() == description.size());

    const int64_t steps = (int64_t(prot.SectionSize) - TProt::kBlockBytes) / TProt::kBlockBytes;
    Require(prot.BlockCount == std::clamp<int64_t>(steps, 0, 0xFFFF));

    // What the reader may ask: offset 16 bits, count 8 bits, plus the engine's
    // own limits beyond that.
    if (size >= 3)
        CheckBlock(prot, data, int64_t(size), data[0] | (data[1] << 8), data[2]);
    CheckBlock(prot, data, int64_t(size), 0, 255);
    CheckBlock(prot, data, int64_t(size), 0xFFFF, 255);
    CheckBlock(prot, data, int64_t(size), 0, 0);
    CheckBlock(prot, data, int64_t(size), 0x7FFFFFFF, 1000);
    CheckBlock(prot, data, int64_t(size), -0x7FFFFFFF, 255);
    prot.CloseImage();
    Require(!prot.ImageLoaded());
    return 0;
}
