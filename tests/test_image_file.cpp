// Firmware image files: the trailer (description, section size, block count)
// and the block reads the boot loader's requests are served from.

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstring>

#include "firmware/update_procedure.h"
#include "firmware_images.h"
#include "link/com_port.h"
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
    const QString path = Put(QByteArray(40, 'x') + Trailer(0, c.sectionSize));
    ASSERT_EQ(prot.OpenImage(path), 1);
    EXPECT_EQ(prot.SectionSize, c.sectionSize);
    EXPECT_EQ(prot.BlockCount, c.blockCount);
    EXPECT_EQ(view.progressMaximum, c.blockCount);
    EXPECT_EQ(view.position, 0);
    EXPECT_EQ(boxes.Count(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Trailer, BlockCountTest,
                         ::testing::Values(CountCase{"one_block_counts_none", 66, 0},
                                           CountCase{"ten_blocks_count_nine", 660, 9},
                                           CountCase{"eleven_blocks_count_ten", 726, 10},
                                           CountCase{"just_short_of_two", 131, 0},
                                           CountCase{"two_blocks", 132, 1},
                                           CountCase{"partial_block_dropped", 200, 2},
                                           CountCase{"empty_section_is_not_65535", 0, 0},
                                           CountCase{"tiny_section", 1, 0},
                                           CountCase{"negative_section", -1000, 0},
                                           CountCase{"huge_section_holds_the_most", 0x7FFFFFFF, 0xFFFF}),
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
    const QString path = Put(test_images::Image(QByteArray(100, 'p'), c.description));
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
    ASSERT_EQ(prot.OpenImage(Put(test_images::Image(QByteArray(70, 0), cp1251))), 1);
    ASSERT_EQ(view.descriptionLines.size(), 1);
    EXPECT_EQ(view.descriptionLines[0], QString::fromUtf8("Прошивка Ёё"));
}

TEST_F(ImageFileTest, HexTextIsReadByTheSameTrailerRules)
{
    // An Intel HEX text: its last 8 characters are taken as L and S. "000" as
    // a length reaches far before the file's start, so no description; "FF\r\n"
    // as a section size is larger than the 16-bit count holds.
    const QByteArray hex(":10000000214601360121470136007EFE09D2190140\r\n:00000001FF\r\n");
    ASSERT_EQ(prot.OpenImage(Put(hex, QStringLiteral("firmware.hex"))), 1);
    EXPECT_EQ(prot.SectionSize, int32_t(0x0A0D4646));
    EXPECT_EQ(prot.BlockCount, 0xFFFF);
    EXPECT_EQ(prot.Description(), QByteArray());
    EXPECT_EQ(boxes.Count(), 0u);

    // The same rules give a description when the text happens to fit them.
    const QByteArray fitting = QByteArray(":00000001FF\n") + Trailer(12, 300);
    ASSERT_EQ(prot.OpenImage(Put(fitting, QStringLiteral("other.hex"))), 1);
    EXPECT_EQ(prot.Description(), QByteArray(":00000001FF\n"));
    EXPECT_EQ(prot.BlockCount, (300 - 66) / 66);
}

TEST_F(ImageFileTest, ShortAndInconsistentFilesOpenWithoutComplaint)
{
    struct Case {
        const char *name;
        QByteArray bytes;
        int32_t sectionSize;
        QByteArray description;
    };
    const Case cases[] = {
        {"empty file", QByteArray(), 0, ""},
        {"shorter than the trailer", QByteArray("\x05\x00\x00\x00\x10\x01\x00", 7), 0, ""},
        {"description longer than the file", QByteArray("abcdefgh") + Trailer(5000, 66), 66, ""},
        {"length just fits", QByteArray("desc") + Trailer(4, 12), 12, "desc"},
        {"section larger than the file", QByteArray(20, 'z') + Trailer(0, 100000), 100000, ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        view.descriptionLines.clear();
        ASSERT_EQ(prot.OpenImage(Put(c.bytes)), 1);
        EXPECT_EQ(prot.SectionSize, c.sectionSize);
        EXPECT_EQ(prot.Description(), c.description);
        EXPECT_EQ(view.descriptionLines.size(), 1);
        // Reads of such files give zeros and do not reach outside Block.
        std::memset(prot.Block, 0xEE, sizeof prot.Block);
        prot.ReadImageBytes(0, 255);
        EXPECT_EQ(BlockBytes(255), test_images::Expected(c.bytes, c.sectionSize, 0, 255));
    }
    EXPECT_EQ(boxes.Count(), 0u);
}

TEST_F(ImageFileTest, CouldNotOpenFileOnlyWhenTheFileCannotBeOpened)
{
    const QString missing = dir.filePath(QStringLiteral("missing.rom"));
    for (const QString &name : {missing, QString(), dir.path()}) {
        SCOPED_TRACE(name.toStdString());
        boxes.Clear();
        EXPECT_EQ(prot.OpenImage(name), 0);
        ASSERT_EQ(boxes.Count(), 1u);
        const auto box = boxes.Boxes()[0];
        EXPECT_EQ(box.text, "Could not open file!");
        EXPECT_EQ(box.caption, "Error");
        EXPECT_EQ(box.buttons, platform::BoxButtons::Ok);
        EXPECT_FALSE(prot.ImageFile.isOpen());
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
    EXPECT_FALSE(prot.ImageFile.isOpen());
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
                      RangeCase{"section_larger_than_the_file", false, 1000, 0, 255},
                      RangeCase{"section_of_zero", false, 0, 0, 66},
                      RangeCase{"negative_section", false, -50, 0, 66},
                      RangeCase{"most_negative_section", false, INT32_MIN, 100, 66},
                      RangeCase{"largest_section", false, INT32_MAX, 65535, 255},
                      RangeCase{"nothing_asked", true, 0, 0, 0}),
    [](const auto &info) { return std::string(info.param.name); });

}  // namespace
