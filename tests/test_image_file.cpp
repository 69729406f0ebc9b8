// Firmware image files: the rules that refuse a file before the reader is
// touched, the trailer (description, section size, block count), the block
// bytes the boot loader's requests are served from, and the copy read once
// from disk.

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdint>

#include "core/protocol/firmware_image.h"
#include "core/protocol/image_check.h"
#include "core/session/image_copy.h"
#include "firmware_images.h"

namespace {

using test_images::Trailer;

struct CountCase {
    const char *name;
    int32_t sectionSize;
    uint16_t blockCount;
};

class BlockCountTest : public ::testing::TestWithParam<CountCase> {};

TEST_P(BlockCountTest, SectionSizeGivesTheBlockCount)
{
    const CountCase c = GetParam();
    // The file is as long as its section.
    const QByteArray image = QByteArray(c.sectionSize - 8, 0) + Trailer(0, c.sectionSize);
    const firmware_image::Layout layout = firmware_image::Read(image);
    ASSERT_TRUE(layout.verdict.Accepted()) << layout.verdict.reason.toStdString();
    EXPECT_EQ(layout.sectionSize, c.sectionSize);
    EXPECT_EQ(layout.blockCount, c.blockCount);
}

INSTANTIATE_TEST_SUITE_P(Trailer, BlockCountTest,
                         ::testing::Values(CountCase{"smallest_section", 132, 1},
                                           CountCase{"partial_block_dropped", 200, 2},
                                           CountCase{"ten_blocks_count_nine", 660, 9},
                                           CountCase{"eleven_blocks_count_ten", 726, 10},
                                           CountCase{"huge_section_holds_the_most", 66 * 65537, 0xFFFF}),
                         [](const auto &info) { return std::string(info.param.name); });

struct DescriptionCase {
    const char *name;
    QByteArray description;  // as stored in the file
    QByteArray shown;        // what is read
};

class DescriptionTest : public ::testing::TestWithParam<DescriptionCase> {};

TEST_P(DescriptionTest, DescriptionIsReadByTheRules)
{
    const DescriptionCase c = GetParam();
    EXPECT_EQ(firmware_image::Read(test_images::Image(QByteArray(200, 'p'), c.description)).description, c.shown);
}

INSTANTIATE_TEST_SUITE_P(
    Trailer, DescriptionTest,
    ::testing::Values(
        DescriptionCase{"plain", "TALVOR IV 6.5 2023-04-01 12:30", "TALVOR IV 6.5 2023-04-01 12:30"},
        DescriptionCase{"first_line_with_its_line_feed", "first line\nsecond line", "first line\n"},
        DescriptionCase{"empty", "", ""},
        DescriptionCase{"zero_byte_ends_it", QByteArray("abc\0def", 7), "abc"},
        DescriptionCase{"cut_at_99", QByteArray(150, 'd'), QByteArray(99, 'd')},
        DescriptionCase{"exactly_99", QByteArray(99, 'e'), QByteArray(99, 'e')}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(DescriptionText, CyrillicDescriptionIsShownInItsLetters)
{
    const QByteArray cp1251("\xCF\xF0\xEE\xF8\xE8\xE2\xEA\xE0 \xA8\xB8", 11);
    const firmware_image::Layout layout = firmware_image::Read(test_images::Image(QByteArray(200, 0), cp1251));
    EXPECT_EQ(firmware_image::DescriptionText(layout.description), QString::fromUtf8("Прошивка Ёё"));
}

struct VerdictCase {
    const char *name;
    QByteArray bytes;
    image_check::Fault fault;
    const char *reason;  // empty when accepted
};

QByteArray Zeros(int size) { return QByteArray(size, 0); }

// Intel HEX lines are read by the same trailer rules as any other file.
const QByteArray kHexLine(":10000000214601360121470136007EFE09D2190140\r\n");
const QByteArray kHexEnd(":00000001FF\r\n");

class ImageVerdictTest : public ::testing::TestWithParam<VerdictCase> {};

TEST_P(ImageVerdictTest, CertainlyWrongFilesAreRefusedWithTheirReason)
{
    const VerdictCase c = GetParam();
    const image_check::Verdict pure =
        image_check::CheckImageBytes(reinterpret_cast<const uint8_t *>(c.bytes.constData()), size_t(c.bytes.size()));
    EXPECT_EQ(pure.fault, c.fault);
    EXPECT_EQ(pure.reason, QString::fromLatin1(c.reason));

    // The layout agrees, and a refused file's trailer values reach neither
    // the description nor the block count.
    const firmware_image::Layout layout = firmware_image::Read(c.bytes);
    EXPECT_EQ(layout.verdict.fault, c.fault);
    EXPECT_EQ(layout.verdict.reason, pure.reason);
    if (c.fault != image_check::Fault::None) {
        EXPECT_TRUE(layout.description.isEmpty());
        EXPECT_EQ(layout.blockCount, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rules, ImageVerdictTest,
    ::testing::Values(
        VerdictCase{"empty", QByteArray(), image_check::Fault::TooShort,
                    "The file is too short to be a firmware image (0 bytes)"},
        VerdictCase{"three_bytes", "abc", image_check::Fault::TooShort,
                    "The file is too short to be a firmware image (3 bytes)"},
        VerdictCase{"one_short_of_the_trailer", Trailer(0, 7).left(7), image_check::Fault::TooShort,
                    "The file is too short to be a firmware image (7 bytes)"},
        VerdictCase{"zeros_declaring_a_megabyte", Zeros(65536) + Trailer(0, 1 << 20),
                    image_check::Fault::SectionBeyondFile,
                    "The program section declared in the file (1,048,576 bytes) is larger than the file (65,544 "
                    "bytes)"},
        VerdictCase{"section_one_beyond_the_file", Zeros(292) + Trailer(0, 301), image_check::Fault::SectionBeyondFile,
                    "The program section declared in the file (301 bytes) is larger than the file (300 bytes)"},
        VerdictCase{"description_beyond_the_file", Zeros(292) + Trailer(293, 300),
                    image_check::Fault::DescriptionBeyondFile,
                    "The description declared in the file (293 bytes) does not fit in the file (300 bytes)"},
        VerdictCase{"section_just_short", Zeros(292) + Trailer(0, 131), image_check::Fault::SectionTooSmall,
                    "The program section declared in the file (131 bytes) is smaller than the smallest firmware "
                    "program (132 bytes)"},
        VerdictCase{"section_of_zero", Zeros(292) + Trailer(0, 0), image_check::Fault::SectionTooSmall,
                    "The file declares no program section"},
        VerdictCase{"negative_section", Zeros(292) + Trailer(0, -1000), image_check::Fault::SectionTooSmall,
                    "The file declares no program section"},
        VerdictCase{"most_negative_section", Zeros(292) + Trailer(0, INT32_MIN), image_check::Fault::SectionTooSmall,
                    "The file declares no program section"},
        // "000" of the end record as a description length.
        VerdictCase{"hex_text", kHexLine + kHexEnd, image_check::Fault::DescriptionBeyondFile,
                    "The description declared in the file (3,158,064 bytes) does not fit in the file (58 bytes)"},
        VerdictCase{"smallest_section", Zeros(124) + Trailer(0, 132), image_check::Fault::None, ""},
        VerdictCase{"section_takes_in_description_and_trailer",
                    test_images::Image(Zeros(300), "TALVOR IV 6.5"), image_check::Fault::None, ""},
        VerdictCase{"description_from_the_first_byte", QByteArray(200, 'd') + Trailer(200, 208),
                    image_check::Fault::None, ""},
        VerdictCase{"section_after_a_header", Zeros(500) + Trailer(0, 300), image_check::Fault::None, ""},
        VerdictCase{"beyond_what_the_boot_loader_addresses", Zeros(69992) + Trailer(0, 70000),
                    image_check::Fault::None, ""},
        VerdictCase{"hex_text_that_fits_the_rules", kHexLine.repeated(3) + kHexEnd + Trailer(13, 156),
                    image_check::Fault::None, ""}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(GroupedNumber, ThousandsSeparated)
{
    EXPECT_EQ(image_check::GroupedNumber(0), "0");
    EXPECT_EQ(image_check::GroupedNumber(999), "999");
    EXPECT_EQ(image_check::GroupedNumber(1000), "1,000");
    EXPECT_EQ(image_check::GroupedNumber(65544), "65,544");
    EXPECT_EQ(image_check::GroupedNumber(-2147483648LL), "-2,147,483,648");
    EXPECT_EQ(image_check::GroupedNumber(INT64_MIN), "-9,223,372,036,854,775,808");
}

struct RangeCase {
    const char *name;
    bool consistent;      // the section is the whole file
    int32_t sectionSize;  // else this
    int64_t offset;
    size_t count;
};

class SectionCopyTest : public ::testing::TestWithParam<RangeCase> {};

TEST_P(SectionCopyTest, BytesOutsideTheFileAreZeros)
{
    const RangeCase c = GetParam();
    QByteArray file = test_images::Image(test_images::SectionBytes(300), "range test");
    const int32_t sectionSize = c.consistent ? int32_t(file.size()) : c.sectionSize;
    file = file.left(file.size() - 4) + Trailer(0, sectionSize).right(4);
    ASSERT_EQ(firmware_image::Read(file).sectionSize, sectionSize);

    std::vector<uint8_t> block(c.count + 8, 0xEE);
    const int taken = firmware_image::CopySection(file, sectionSize, c.offset, c.count, block.data());
    const std::vector<uint8_t> expected = test_images::Expected(file, sectionSize, c.offset, int64_t(c.count));
    EXPECT_EQ(std::vector<uint8_t>(block.begin(), block.begin() + long(c.count)), expected);
    const int64_t first = std::max<int64_t>(0, file.size() - sectionSize + c.offset);
    const int64_t end = std::min<int64_t>(file.size(), file.size() - sectionSize + c.offset + int64_t(c.count));
    EXPECT_EQ(taken, std::max<int64_t>(0, end - first));
    // Nothing past the requested count is touched.
    for (size_t i = c.count; i < block.size(); ++i)
        ASSERT_EQ(block[i], 0xEE) << i;
}

INSTANTIATE_TEST_SUITE_P(
    Ranges, SectionCopyTest,
    ::testing::Values(RangeCase{"first_block", true, 0, 0, 66},
                      RangeCase{"largest_request", true, 0, 10, 255},
                      RangeCase{"reaches_past_the_end", true, 0, 280, 66},
                      RangeCase{"wholly_past_the_end", true, 0, 5000, 66},
                      RangeCase{"highest_offset", true, 0, 65535, 255},
                      RangeCase{"section_after_a_header", false, 200, 0, 66},
                      RangeCase{"section_after_a_header_read_past_its_end", false, 200, 150, 255},
                      RangeCase{"section_larger_than_the_file", false, 1000, 0, 255},
                      RangeCase{"nothing_asked", true, 0, 0, 0}),
    [](const auto &info) { return std::string(info.param.name); });

// ---------------------------------------------------------------- the copy on disk

class ImageCopyTest : public ::testing::Test {
protected:
    QTemporaryDir dir;

    QString Put(const QByteArray &bytes, const QString &name = QStringLiteral("image.rom"))
    {
        const QString path = dir.filePath(name);
        EXPECT_TRUE(test_images::Write(path, bytes));
        return path;
    }
};

// A file far larger than an image is refused from its size: a sparse one of
// 64 MiB and a byte costs no reading.
TEST_F(ImageCopyTest, FileLargerThanAnyImageIsRefusedFromItsSize)
{
    EXPECT_TRUE(image_check::CheckFileSize(image_check::kLargestFile).Accepted());
    const QString path = Put(QByteArray());
    ASSERT_TRUE(QFile::resize(path, image_check::kLargestFile + 1));
    const image_copy::ImageCopy copy = image_copy::Load(path);
    EXPECT_EQ(copy.failure, image_copy::Failure::TooLarge);
    EXPECT_EQ(copy.verdict.fault, image_check::Fault::TooLarge);
    EXPECT_EQ(copy.reason,
              "The file is larger than any firmware image could be (67,108,865 bytes; at most 67,108,864)");
    EXPECT_TRUE(copy.bytes.isEmpty() && copy.sha256.isEmpty());
    EXPECT_EQ(copy.size, image_check::kLargestFile + 1);
}

TEST_F(ImageCopyTest, FileThatCannotBeReadSaysWhy)
{
    const QString plain = Put(test_images::Image(QByteArray(300, 0), "plain"));
    const QString fifo = dir.filePath(QStringLiteral("fifo.rom"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const QString folder = dir.filePath(QStringLiteral("folder.rom"));
    ASSERT_TRUE(QDir().mkdir(folder));
    struct Case {
        QString name;
        image_copy::Failure failure;
        QString systemText;
        QString reason;
    };
    using F = image_copy::Failure;
    const QString missing = dir.filePath(QStringLiteral("missing.rom"));
    const QString inner = plain + QStringLiteral("/inner.rom");
    std::vector<Case> cases = {
        {missing, F::CannotOpen, "No such file or directory", missing + ": No such file or directory"},
        {inner, F::CannotOpen, "Not a directory", inner + ": Not a directory"},
        {QString(), F::NoName, QString(), "No file name was given."},
        // Opening a FIFO would wait for a writer for ever: none of these is opened.
        {fifo, F::NotRegular, "Not a regular file", fifo + " is not a regular file"},
        {folder, F::NotRegular, "Not a regular file", folder + " is not a regular file"},
        {"/dev/null", F::NotRegular, "Not a regular file", "/dev/null is not a regular file"},
    };
    // The superuser reads any file: no denial to show then.
    if (geteuid() != 0) {
        const QString locked = Put(test_images::Image(QByteArray(300, 0), "locked"), QStringLiteral("locked.rom"));
        QFile::setPermissions(locked, QFileDevice::WriteOwner);
        cases.push_back({locked, F::CannotOpen, "Permission denied", locked + ": Permission denied"});
    }
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name.toStdString());
        const image_copy::ImageCopy copy = image_copy::Load(c.name);
        EXPECT_EQ(copy.failure, c.failure);
        EXPECT_FALSE(copy.Read());
        EXPECT_EQ(copy.systemText, c.systemText);
        EXPECT_EQ(copy.reason, c.reason);
        EXPECT_TRUE(copy.bytes.isEmpty());
    }
}

}  // namespace
