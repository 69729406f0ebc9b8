// The service report: the PDF renders as one page with the reader's serial
// number and the job on it, from the library and from talvor-report looking
// the entry up in a journal file.

#include <QFile>
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

JournalEntry Update()
{
    JournalEntry entry = JournalEntry::Start(JournalEntry::Kind::Update, QStringLiteral("ttyUSB0"));
    entry.user = QStringLiteral("anna");
    entry.host = QStringLiteral("van-3");
    entry.readerSerial = 31337;
    entry.loaderBefore = entry.loaderAfter = QStringLiteral("1.2");
    entry.firmwareBefore = QStringLiteral("4.07");
    entry.firmwareAfter = QStringLiteral("4.08");
    entry.imageName = QStringLiteral("metal-4.08.bin");
    entry.imageSha256 = QString(64, QLatin1Char('c'));
    for (int n = 1; n <= 40; ++n)
        entry.errorLines << QStringLiteral("Block %1: no answer <&>").arg(n);
    entry.End(false, QStringLiteral("no answer"));
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
    QTemporaryDir folder_;
};

TEST_F(ServiceReport, ShowsTheReaderTheJobAndItsResult)
{
    const QString pdf = folder_.filePath(QStringLiteral("report.pdf"));
    QString error;
    ASSERT_TRUE(WriteServiceReport(Update(), pdf, &error)) << error.toStdString();
    const QString text = Rendered(pdf);
    for (const char *expected : {"31337", "Firmware update", "Failed", "no answer", "4.07", "4.08", "anna on van-3",
                                 "Block 12: no answer <&>", "and 28 more"})
        EXPECT_TRUE(text.contains(QString::fromUtf8(expected))) << expected << " not in:\n" << text.toStdString();
    EXPECT_FALSE(text.contains(QStringLiteral("Block 13:")));

    EXPECT_FALSE(WriteServiceReport(Update(), folder_.filePath(QStringLiteral("no/such/folder/report.pdf")), &error));
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
        program.start(QStringLiteral(TALVOR_REPORT_PROGRAM),
                      {QStringLiteral("--database"), options.path, row.entry, QStringLiteral("-o"), pdf});
        ASSERT_TRUE(program.waitForFinished(60000));
        EXPECT_EQ(program.exitCode(), row.exitCode) << program.readAllStandardError().toStdString();
        if (row.exitCode == 0) {
            const QString text = Rendered(pdf);
            EXPECT_TRUE(text.contains(QStringLiteral("4711"))) << text.toStdString();
            EXPECT_TRUE(text.contains(QStringLiteral("Settings written")));
            EXPECT_TRUE(text.contains(QStringLiteral("Red Led"))) << "the changed field by its caption";
        } else {
            EXPECT_FALSE(QFile::exists(pdf));
        }
    }
}

}  // namespace
