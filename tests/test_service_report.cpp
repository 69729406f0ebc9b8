// The service report: the PDF renders as one page with the reader's serial
// number and the job on it, from the library and from talvor-report looking
// the entry up in a journal file.

#include <QFile>
#include <QImage>
#include <QRegularExpression>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "core/journal/journal.h"
#include "report/service_report.h"

namespace {

// What a poppler tool prints; its exit status must be 0.
QString Poppler(const QString &program, const QStringList &args)
{
    QProcess process;
    process.start(program, args);
    EXPECT_TRUE(process.waitForFinished(60000)) << program.toStdString();
    EXPECT_EQ(process.exitCode(), 0) << program.toStdString() << ": " << process.readAllStandardError().toStdString();
    return QString::fromUtf8(process.readAllStandardOutput());
}

// A job on reader 31337 by anna on van-3, started 2026-12-09 06:41:07 UTC.
JournalEntry Job(JournalEntry::Kind kind)
{
    JournalEntry entry = JournalEntry::Start(kind, QStringLiteral("ttyUSB0"));
    entry.user = QStringLiteral("anna");
    entry.host = QStringLiteral("van-3");
    entry.started = QDateTime(QDate(2026, 12, 9), QTime(6, 41, 7), Qt::UTC);
    entry.readerSerial = 31337;
    entry.loaderBefore = entry.loaderAfter = QStringLiteral("1.2");
    entry.firmwareBefore = QStringLiteral("4.07");
    return entry;
}

JournalEntry Update(bool completed)
{
    JournalEntry entry = Job(JournalEntry::Kind::Update);
    entry.technician = QStringLiteral("Anna Petrova");
    entry.site = QStringLiteral("North gate");
    entry.customer = QStringLiteral("Acme Ltd");
    entry.note = QStringLiteral("Keypad replaced");
    entry.imageName = QStringLiteral("metal-4.08.bin");
    entry.imageSha256 = QString(64, QLatin1Char('c'));
    entry.blocksTotal = 11;
    if (completed) {
        entry.blocksSent = 11;
        entry.firmwareAfter = QStringLiteral("4.08");
        entry.End(true, QStringLiteral("completed"));
        return entry;
    }
    entry.blocksSent = 4;
    for (int n = 1; n <= 40; ++n)
        entry.errorLines << QStringLiteral("Block %1: no answer <&>").arg(n);
    entry.End(false, QStringLiteral("no answer"));
    return entry;
}

JournalEntry Refused()
{
    JournalEntry entry = Job(JournalEntry::Kind::Update);
    entry.errorLines << QStringLiteral("The program section is larger than the file");
    entry.End(false, QStringLiteral("image refused"));
    return entry;
}

// Red Led from a value no field knows to 1, the backlight to always on.
JournalEntry SettingsWrite()
{
    JournalEntry entry = Job(JournalEntry::Kind::SettingsWrite);
    SettingsRecord before = kDefaultSettingsRecord;
    before[1] = 0xFF;
    SettingsRecord after = kDefaultSettingsRecord;
    after[1] = 1;
    after[8] = 2 << 1;
    entry.SetSettings(before, after);
    entry.End(true, QStringLiteral("written"));
    return entry;
}

class ServiceReport : public ::testing::Test {
protected:
    // The PDF's text, after checking it renders as one page.
    QString Rendered(const QString &pdf)
    {
        const QString info = Poppler(QStringLiteral("pdfinfo"), {pdf});
        EXPECT_TRUE(info.contains(QRegularExpression(QStringLiteral("Pages:\\s+1\\n")))) << info.toStdString();
        const QString png = folder_.filePath(QStringLiteral("page"));
        Poppler(QStringLiteral("pdftoppm"), {QStringLiteral("-png"), QStringLiteral("-r"), QStringLiteral("40"), pdf, png});
        EXPECT_GT(QFile(png + QStringLiteral("-1.png")).size(), 1000);
        return Poppler(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), pdf, QStringLiteral("-")});
    }
    // The images the PDF draws.
    int Images(const QString &pdf)
    {
        const QStringList lines = Poppler(QStringLiteral("pdfimages"), {QStringLiteral("-list"), pdf})
                                      .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        return int(lines.size()) - 2;  // two heading lines
    }
    QTemporaryDir folder_;
};

const QLocale kEnglish = QLocale::c();
const QLocale kRussian(QLocale::Russian, QLocale::Russia);

struct Page {
    const char *name;
    JournalEntry entry;
    QLocale language;
    std::vector<const char *> shown;
    std::vector<const char *> absent;
};

TEST_F(ServiceReport, EachKindOfJobInEachLanguage)
{
    const Page pages[] = {
        {"completed update", Update(true), kEnglish,
         {"Firmware update", "Done", "Blocks sent", "11 of 11", "Anna Petrova", "North gate", "Acme Ltd",
          "Keypad replaced", "4.07", "4.08"},
         {"anna on van-3", "error lines", "Refused"}},
        {"failed update", Update(false), kEnglish,
         {"Failed", "no answer", "4 of 11", "The reader's error lines", "Block 12: no answer <&>", "and 28 more"},
         {"Block 13:", "Refused by the service tool"}},
        {"settings write", SettingsWrite(), kEnglish,
         {"Settings written", "anna on van-3", "Red Led: 0xFF, not a known value → 1",
          "Keyboard Backlight Brightness: 0% -:- 100% → Always ON"},
         {"Site", "Note", "Blocks sent"}},
        {"refused update", Refused(), kEnglish,
         {"Refused by the service tool", "The program section is larger than the file", "image refused"},
         {"The reader's error lines"}},
        {"settings write in Russian", SettingsWrite(), kRussian,
         {"Запись настроек", "anna на van-3", "Красный: 0xFF, неизвестное значение → 1",
          "Яркость подсветки клавиатуры: 0% -:- 100% → Всегда вкл.", "Подпись заказчика"},
         {"Settings written", "Customer"}},
        {"refused update in Russian", Refused(), kRussian,
         {"Отказ сервисной программы", "образ отклонён", "Не выполнено"},
         {"Сообщения об ошибках считывателя", "Refused"}},
        {"failed update in Russian", Update(false), kRussian,
         {"Сообщения об ошибках считывателя", "4 из 11", "Объект", "North gate", "и ещё 28"},
         {"Отказ сервисной программы"}},
    };
    // Local time with its offset from UTC, whatever the zone.
    const QRegularExpression localTime(QStringLiteral("\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d [+-]\\d\\d:\\d\\d"));
    for (const Page &page : pages) {
        SCOPED_TRACE(page.name);
        const QString pdf = folder_.filePath(QStringLiteral("report.pdf"));
        QString error;
        ASSERT_TRUE(WriteServiceReport(page.entry, pdf, {page.language, {}}, &error)) << error.toStdString();
        // The layout's columns split a row; the words of a line stay together.
        const QString text = Rendered(pdf).simplified();
        for (const char *expected : page.shown)
            EXPECT_TRUE(text.contains(QString::fromUtf8(expected))) << expected << " not in:\n" << text.toStdString();
        for (const char *unexpected : page.absent)
            EXPECT_FALSE(text.contains(QString::fromUtf8(unexpected))) << unexpected << " in:\n" << text.toStdString();
        EXPECT_TRUE(text.contains(localTime)) << text.toStdString();
        EXPECT_FALSE(text.contains(QStringLiteral("UTC")));
    }
}

TEST_F(ServiceReport, ALogoStaysOnThePageAndABadOneIsLeftOut)
{
    // Tall and wide ones both fit the logo's box; a note too long for the page
    // leaves one page, drawn smaller.
    JournalEntry entry = Update(false);
    entry.note = QString(QStringLiteral("A long note on the job. ")).repeated(150);
    const QString broken = folder_.filePath(QStringLiteral("broken.png"));
    QFile file(broken);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write("not a picture") > 0);
    file.close();
    struct Logo {
        QString path;
        QSize size;
        int images;
    };
    const Logo logos[] = {
        {folder_.filePath(QStringLiteral("tall.png")), {300, 1200}, 1},
        {folder_.filePath(QStringLiteral("wide.png")), {3000, 200}, 1},
        {folder_.filePath(QStringLiteral("missing.png")), {}, 0},
        {broken, {}, 0},
    };
    for (const Logo &logo : logos) {
        SCOPED_TRACE(logo.path.toStdString());
        if (logo.size.isValid()) {
            QImage image(logo.size, QImage::Format_RGB32);
            image.fill(Qt::darkBlue);
            ASSERT_TRUE(image.save(logo.path));
        }
        const QString pdf = folder_.filePath(QStringLiteral("logo.pdf"));
        QString error;
        ASSERT_TRUE(WriteServiceReport(entry, pdf, {kEnglish, logo.path}, &error)) << error.toStdString();
        const QString text = Rendered(pdf).simplified();
        EXPECT_EQ(Images(pdf), logo.images);
        // The foot of the page is there, below the note.
        EXPECT_TRUE(text.contains(QStringLiteral("Service journal entry"))) << text.toStdString();
        EXPECT_TRUE(text.contains(QStringLiteral("Block 12: no answer")));
    }
    QString error;
    EXPECT_FALSE(WriteServiceReport(entry, folder_.filePath(QStringLiteral("no/such/folder/report.pdf")), &error));
    EXPECT_FALSE(error.isEmpty());
}

TEST_F(ServiceReport, TheProgramFindsTheEntryInTheJournal)
{
    JournalOptions options;
    options.path = folder_.filePath(QStringLiteral("journal.db"));
    JournalEntry settings = JournalEntry::Start(JournalEntry::Kind::SettingsWrite, QStringLiteral("ttyS0"));
    settings.readerSerial = 4711;
    settings.SetSettings(kDefaultSettingsRecord, {0, 1, 0, 0, 0, 1, 0, 0, 0});
    settings.End(true, QStringLiteral("completed"));
    settings.started = QDateTime(QDate(2026, 12, 9), QTime(6, 41, 7), Qt::UTC);
    ASSERT_TRUE(Journal(options).Finish(settings).stored);

    struct Row {
        const char *name;
        QString entry;
        int exitCode;
    };
    const Row rows[] = {
        {"a start of the id", settings.id.left(8), 0},
        {"an unknown id", QStringLiteral("ffffffff"), 1},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        const QString pdf = folder_.filePath(QStringLiteral("program.pdf"));
        QFile::remove(pdf);
        QProcess program;
        // The user's language and time zone, as from cron (no runtime folder);
        // a logo that is not there is no error.
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("ru_RU.UTF-8"));
        environment.insert(QStringLiteral("TZ"), QStringLiteral("MSK-3"));
        environment.remove(QStringLiteral("XDG_RUNTIME_DIR"));
        program.setProcessEnvironment(environment);
        program.start(QStringLiteral(TALVOR_REPORT_PROGRAM),
                      {QStringLiteral("--database"), options.path, row.entry, QStringLiteral("-o"), pdf,
                       QStringLiteral("--logo"), folder_.filePath(QStringLiteral("no-logo.png"))});
        ASSERT_TRUE(program.waitForFinished(60000));
        const QString errors = QString::fromLocal8Bit(program.readAllStandardError());
        EXPECT_EQ(program.exitCode(), row.exitCode) << errors.toStdString();
        EXPECT_FALSE(errors.contains(QStringLiteral("XDG_RUNTIME_DIR"))) << errors.toStdString();
        if (row.exitCode == 0) {
            const QString text = Rendered(pdf);
            EXPECT_TRUE(text.contains(QStringLiteral("4711"))) << text.toStdString();
            EXPECT_TRUE(text.contains(QStringLiteral("Запись настроек")));
            EXPECT_TRUE(text.contains(QStringLiteral("Красный: 0 → 1"))) << "the changed field by its caption";
            EXPECT_TRUE(text.contains(QStringLiteral("2026-12-09 09:41:07 +03:00")));
        } else {
            EXPECT_FALSE(QFile::exists(pdf));
        }
    }
}

}  // namespace
