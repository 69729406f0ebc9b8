// Firmware image files: the rules that refuse a file before the reader is
// touched, the trailer (description, section size, block count) and the block
// reads the boot loader's requests are served from.

#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cstdint>
#include <cstring>

#include "core/protocol/image_check.h"
#include "core/engine/update_procedure.h"
#include "firmware_images.h"
#include "core/engine/com_port.h"
#include "recorded_boxes.h"
#include "recording_view.h"

namespace {

using test_images::Trailer;

class ImageFileTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    RecordedBoxes boxes;
    TComPort1 port;
    TProt prot{port};
    RecordingView view;

    void SetUp() override { prot.SetView(&view); }

    QString Put(const QByteArray &bytes, const QString &name = QStringLiteral("image.rom"))
    {
        const QString path = dir.filePath(name);
        EXPECT_TRUE(test_images::Write(path, bytes));
        return path;
    }

    std::vector<uint8_t> BlockBytes(size_t count) const { return {prot.Block, prot.Block + count}; }
};

struct CountCase {
    const char *name;
    int32_t sectionSize;
    uint16_t blockCount;
};

class BlockCountTest : public ImageFileTest, public ::testing::WithParamInterface<CountCase> {};

TEST_P(BlockCountTest, SectionSizeGivesTheBlockCount)
{
    const CountCase c = GetParam();
    // The file is as long as its section; large ones are sparse.
    const QString path = Put(QByteArray());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite) && file.resize(c.sectionSize - 8));
    ASSERT_TRUE(file.seek(c.sectionSize - 8) && file.write(Trailer(0, c.sectionSize)) == 8);
    file.close();
    ASSERT_EQ(prot.OpenImage(path), 1);
    EXPECT_EQ(prot.SectionSize, c.sectionSize);
    EXPECT_EQ(prot.BlockCount, c.blockCount);
    EXPECT_EQ(view.progressMaximum, c.blockCount);
    EXPECT_EQ(view.position, 0);
    EXPECT_EQ(boxes.Count(), 0u);
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

class DescriptionTest : public ImageFileTest, public ::testing::WithParamInterface<DescriptionCase> {};

TEST_P(DescriptionTest, DescriptionIsReadByTheRules)
{
    const DescriptionCase c = GetParam();
    const QString path = Put(test_images::Image(QByteArray(200, 'p'), c.description));
    ASSERT_EQ(prot.OpenImage(path), 1);
    EXPECT_EQ(prot.Description(), c.shown);
    ASSERT_EQ(view.descriptionLines.size(), 1);
    EXPECT_EQ(view.descriptionLines[0], QString::fromLatin1(c.shown));
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

TEST_F(ImageFileTest, CyrillicDescriptionIsShownInItsLetters)
{
    const QByteArray cp1251("\xCF\xF0\xEE\xF8\xE8\xE2\xEA\xE0 \xA8\xB8", 11);
    ASSERT_EQ(prot.OpenImage(Put(test_images::Image(QByteArray(200, 0), cp1251))), 1);
    ASSERT_EQ(view.descriptionLines.size(), 1);
    EXPECT_EQ(view.descriptionLines[0], QString::fromUtf8("Прошивка Ёё"));
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

class ImageVerdictTest : public ImageFileTest, public ::testing::WithParamInterface<VerdictCase> {};

TEST_P(ImageVerdictTest, CertainlyWrongFilesAreRefusedWithTheirReason)
{
    const VerdictCase c = GetParam();
    const bool accepted = c.fault == image_check::Fault::None;
    const QString path = Put(c.bytes);

    const image_check::Verdict pure =
        image_check::CheckImageBytes(reinterpret_cast<const uint8_t *>(c.bytes.constData()), size_t(c.bytes.size()));
    EXPECT_EQ(pure.fault, c.fault);
    EXPECT_EQ(pure.reason, QString::fromLatin1(c.reason));

    EXPECT_EQ(prot.OpenImage(path), accepted ? 1 : 0);
    EXPECT_EQ(prot.ImageVerdict().fault, c.fault);
    EXPECT_EQ(prot.ImageVerdict().reason, pure.reason);
    EXPECT_EQ(prot.ImageLoaded(), accepted);
    // The engine shows no box for a refused file (the window does), and a
    // refused file's trailer values reach neither the description nor the bar.
    EXPECT_EQ(boxes.Count(), 0u);
    if (!accepted) {
        EXPECT_TRUE(view.descriptionLines.isEmpty());
        EXPECT_EQ(view.progressMaximum, 100);
        EXPECT_EQ(prot.ReadImageBytes(0, 66), 0);
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

// A file far larger than an image is refused from its size: a sparse one of
// 64 MiB and a byte costs no reading.
TEST_F(ImageFileTest, FileLargerThanAnyImageIsRefusedFromItsSize)
{
    EXPECT_TRUE(image_check::CheckFileSize(image_check::kLargestFile).Accepted());
    const QString path = Put(QByteArray());
    ASSERT_TRUE(QFile::resize(path, image_check::kLargestFile + 1));
    EXPECT_EQ(prot.OpenImage(path), 0);
    EXPECT_EQ(prot.ImageVerdict().fault, image_check::Fault::TooLarge);
    EXPECT_EQ(prot.ImageVerdict().reason,
              "The file is larger than any firmware image could be (67,108,865 bytes; at most 67,108,864)");
    EXPECT_TRUE(prot.Image().bytes.isEmpty() && prot.Image().sha256.isEmpty());
    EXPECT_EQ(prot.Image().size, image_check::kLargestFile + 1);
    EXPECT_EQ(boxes.Count(), 0u);
}

TEST_F(ImageFileTest, CouldNotOpenFileSaysWhy)
{
    const QString plain = Put(test_images::Image(Zeros(300), "plain"));
    struct Case {
        QString name;
        QString reason;
    };
    std::vector<Case> cases = {
        {dir.filePath(QStringLiteral("missing.rom")), QStringLiteral("No such file or directory")},
        {plain + QStringLiteral("/inner.rom"), QStringLiteral("Not a directory")},
        {QString(), QStringLiteral("No file name was given.")},
    };
    // The superuser reads any file: no denial to show then.
    if (geteuid() != 0) {
        const QString locked = Put(test_images::Image(Zeros(300), "locked"), QStringLiteral("locked.rom"));
        QFile::setPermissions(locked, QFileDevice::WriteOwner);
        cases.push_back({locked, QStringLiteral("Permission denied")});
    }
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name.toStdString());
        boxes.Clear();
        EXPECT_EQ(prot.OpenImage(c.name), 0);
        ASSERT_EQ(boxes.Count(), 1u);
        const auto box = boxes.Boxes()[0];
        const QStringList lines = box.text.split(QLatin1Char('\n'));
        EXPECT_EQ(lines.first(), "Could not open file!");
        EXPECT_EQ(lines.last(), c.reason);
        if (!c.name.isEmpty()) {
            EXPECT_EQ(lines, QStringList({"Could not open file!", c.name, c.reason}));
        }
        EXPECT_EQ(box.caption, "Error");
        EXPECT_EQ(box.buttons, platform::BoxButtons::Ok);
        EXPECT_FALSE(prot.ImageLoaded());
        EXPECT_TRUE(prot.ImageVerdict().Accepted());  // no rule judged it
    }
}

TEST_F(ImageFileTest, ChoosingAgainResetsTheProgressAndClosesTheEarlierFile)
{
    const QString path = Put(test_images::Image(QByteArray(700, 1), "v1"));
    ASSERT_EQ(prot.OpenImage(path), 1);
    view.SetProgressPosition(5);
    ASSERT_EQ(view.position, 5);
    ASSERT_EQ(prot.OpenImage(path), 1);
    EXPECT_EQ(view.position, 0);
    EXPECT_EQ(view.fileName, path);
    EXPECT_EQ(view.descriptionLines, QStringList{QStringLiteral("v1")});

    EXPECT_EQ(prot.OpenImage(dir.filePath(QStringLiteral("gone.rom"))), 0);
    EXPECT_FALSE(prot.ImageLoaded());
}

struct RangeCase {
    const char *name;
    bool consistent;      // the section is the whole file
    int32_t sectionSize;  // else this
    int32_t offset;
    uint32_t count;
};

class BlockReadTest : public ImageFileTest, public ::testing::WithParamInterface<RangeCase> {};

TEST_P(BlockReadTest, BytesOutsideTheFileAreZeros)
{
    const RangeCase c = GetParam();
    const QByteArray body = test_images::SectionBytes(300);
    QByteArray file = test_images::Image(body, "range test");
    const int32_t sectionSize = c.consistent ? int32_t(file.size()) : c.sectionSize;
    file = file.left(file.size() - 4) + Trailer(0, sectionSize).right(4);
    ASSERT_EQ(prot.OpenImage(Put(file)), 1);
    ASSERT_EQ(prot.SectionSize, sectionSize);

    std::memset(prot.Block, 0xEE, sizeof prot.Block);
    prot.ReadImageBytes(c.offset, c.count);
    const size_t n = std::min<size_t>(c.count, TProt::kBlockSize);
    EXPECT_EQ(BlockBytes(n), test_images::Expected(file, sectionSize, c.offset, int64_t(n)));
    // Nothing past the requested count is touched.
    for (size_t i = n; i < TProt::kBlockSize; ++i)
        ASSERT_EQ(prot.Block[i], 0xEE) << i;
}

INSTANTIATE_TEST_SUITE_P(
    Ranges, BlockReadTest,
    ::testing::Values(RangeCase{"first_block", true, 0, 0, 66},
                      RangeCase{"largest_request", true, 0, 10, 255},
                      RangeCase{"reaches_past_the_end", true, 0, 280, 66},
                      RangeCase{"wholly_past_the_end", true, 0, 5000, 66},
                      RangeCase{"highest_offset", true, 0, 65535, 255},
                      RangeCase{"section_after_a_header", false, 200, 0, 66},
                      RangeCase{"section_after_a_header_read_past_its_end", false, 200, 150, 255},
                      RangeCase{"nothing_asked", true, 0, 0, 0}),
    [](const auto &info) { return std::string(info.param.name); });

}  // namespace
