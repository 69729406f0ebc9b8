// Shortening of file paths for display: leading folders give way to "...".

#include <QFont>
#include <QFontMetrics>
#include <QStringList>
#include <gtest/gtest.h>

#include "gui/path_shortening.h"

namespace {

QFontMetrics Metrics()
{
    QFont font(QStringLiteral("Liberation Sans"));
    font.setPixelSize(11);
    return QFontMetrics(font);
}

int Width(const QString &text)
{
    return Metrics().horizontalAdvance(text);
}

const QString kPath = QStringLiteral("/home/user/a/b/images/reader.rom");

struct Row {
    const char *name;
    QString path;
    QString widthOf;  // the width allowed is the drawn width of this text ...
    int extra;        // ... plus this many pixels
    QString expected;
};

class ShortenPathTable : public ::testing::TestWithParam<Row> {};

TEST_P(ShortenPathTable, GivesTheExpectedForm)
{
    const Row &row = GetParam();
    const int maxWidth = Width(row.widthOf) + row.extra;
    EXPECT_EQ(platform::ShortenPath(row.path, Metrics(), maxWidth), row.expected)
        << row.name << ", width " << maxWidth;
}

// Each form is given exactly its own width (it fits) or one pixel less (the
// next shorter form must be taken).
const Row kRows[] = {
    {"fits exactly", kPath, kPath, 0, kPath},
    {"fits with room", kPath, kPath, 50, kPath},
    {"second folder gives way", kPath, "/home/.../a/b/images/reader.rom", 0,
     "/home/.../a/b/images/reader.rom"},
    {"third folder", kPath, "/home/.../b/images/reader.rom", 0, "/home/.../b/images/reader.rom"},
    {"last folder before the name", kPath, "/home/.../images/reader.rom", 0,
     "/home/.../images/reader.rom"},
    {"only the volume part and the name", kPath, "/home/.../reader.rom", 0, "/home/.../reader.rom"},
    {"volume part dropped", kPath, "/home/.../reader.rom", -1, ".../reader.rom"},
    {"bare name", kPath, ".../reader.rom", -1, "reader.rom"},
    {"name does not fit either", kPath, "reader.rom", -1, "reader.rom"},
    {"no room at all", kPath, "", 0, "reader.rom"},
    {"one folder under the root", "/media/reader.rom", "/media/reader.rom", -1, ".../reader.rom"},
    {"file in the root", "/reader.rom", "/reader.rom", -1, "reader.rom"},
    {"relative path", "firmware/v3/reader.rom", "firmware/v3/reader.rom", -1, ".../v3/reader.rom"},
    {"relative path, last folder goes", "firmware/v3/reader.rom", ".../v3/reader.rom", -1,
     ".../reader.rom"},
    {"name without folders", "reader.rom", "", 0, "reader.rom"},
    {"folder starting with a dot is a folder", "/home/.config/x/reader.rom",
     "/home/.config/x/reader.rom", -1, "/home/.../x/reader.rom"},
    {"root only", "/", "", 0, "/"},
    {"empty path", "", "", 0, ""},
    {"folder path", "/home/user/", "/home/user/", -1, "/home/.../"},
    {"folder path at no width", "/home/user/", "", 0, ".../"},
};

INSTANTIATE_TEST_SUITE_P(Rows, ShortenPathTable, ::testing::ValuesIn(kRows),
                         [](const ::testing::TestParamInfo<Row> &info) { return std::to_string(info.index); });

TEST(ShortenPath, ResultFitsUnlessOnlyTheNameIsLeft)
{
    const QStringList paths = {
        kPath,
        "/var/lib/talvor/firmware/releases/2024/TALVOR-IV-M/reader_v3.4.rom",
        "relative/dir/with/many/levels/file.hex",
        "/x/y/z.rom",
    };
    for (const QString &path : paths) {
        const QString name = path.section('/', -1);
        for (int maxWidth = 0; maxWidth <= Width(path) + 5; ++maxWidth) {
            const QString shown = platform::ShortenPath(path, Metrics(), maxWidth);
            EXPECT_TRUE(shown.endsWith(name)) << shown.toStdString();
            if (shown != name) {
                EXPECT_LE(Width(shown), maxWidth) << shown.toStdString() << " at " << maxWidth;
            }
            // Nothing is cut while the whole path fits.
            if (Width(path) <= maxWidth) {
                EXPECT_EQ(shown, path);
            }
        }
    }
}

TEST(ShortenPath, ShorterWidthNeverGivesALongerResult)
{
    int previous = Width(kPath);
    for (int maxWidth = Width(kPath); maxWidth >= 0; --maxWidth) {
        const int shown = Width(platform::ShortenPath(kPath, Metrics(), maxWidth));
        EXPECT_LE(shown, previous) << "at " << maxWidth;
        previous = shown;
    }
}

TEST(ShortenPath, VeryLongSingleFolderGivesWayAsAWhole)
{
    const QString longFolder(300, QLatin1Char('f'));
    const QString path = "/srv/" + longFolder + "/reader.rom";
    const int maxWidth = Width("/srv/.../reader.rom") + 20;
    // "/srv" is the volume part; the one folder after it is replaced whole.
    EXPECT_EQ(platform::ShortenPath(path, Metrics(), maxWidth), "/srv/.../reader.rom");

    const QString underRoot = "/" + longFolder + "/reader.rom";
    EXPECT_EQ(platform::ShortenPath(underRoot, Metrics(), Width(".../reader.rom")), ".../reader.rom");
}

TEST(ShortenPath, VeryLongFileNameIsKeptWhole)
{
    const QString name = QString(200, QLatin1Char('n')) + ".rom";
    EXPECT_EQ(platform::ShortenPath("/home/user/" + name, Metrics(), 100), name);
}

}  // namespace
