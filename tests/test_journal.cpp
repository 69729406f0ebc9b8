// The service journal on real SQLite files: entries through JSON and CSV,
// queries, programs writing one file at once, a job killed after its start,
// damaged and unwritable files, and a file of an older layout.

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <algorithm>
#include <gtest/gtest.h>
#include <memory>
#include <set>

#include "core/journal/journal.h"
#include "core/journal/journal_spool.h"

namespace {

std::vector<QString> IdsOf(const std::vector<JournalEntry> &entries)
{
    std::vector<QString> ids;
    for (const JournalEntry &entry : entries)
        ids.push_back(entry.id);
    return ids;
}

// RFC 4180 as a spreadsheet reads it.
std::vector<QStringList> ParseCsv(const QByteArray &csv)
{
    std::vector<QStringList> rows(1);
    QString field;
    bool quoted = false;
    const QString text = QString::fromUtf8(csv);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (quoted) {
            if (c == QLatin1Char('"') && i + 1 < text.size() && text[i + 1] == QLatin1Char('"'))
                field += text[++i];
            else if (c == QLatin1Char('"'))
                quoted = false;
            else
                field += c;
        } else if (c == QLatin1Char('"')) {
            quoted = true;
        } else if (c == QLatin1Char(',')) {
            rows.back() << field;
            field.clear();
        } else if (c == QLatin1Char('\n')) {
            rows.back() << field;
            field.clear();
            rows.emplace_back();
        } else {
            field += c;
        }
    }
    rows.pop_back();  // after the last newline
    return rows;
}

JournalEntry UpdateEntry()
{
    JournalEntry entry = JournalEntry::Start(JournalEntry::Kind::Update, QStringLiteral("ttyUSB0"));
    entry.toolVersion = QStringLiteral("3.4");
    entry.converterSerial = QStringLiteral("FT12AB");
    entry.SetDetails({QStringLiteral("A. Petrova"), QStringLiteral("Gate 3, north"), QStringLiteral("Acme \"Ltd\""),
                      QStringLiteral(" reader was dead \n")});
    entry.readerSerial = 12345;
    entry.loaderBefore = QStringLiteral("1.2");
    entry.firmwareBefore = QStringLiteral("4.07");
    entry.imageName = QStringLiteral("metal, v4.08.bin");
    entry.imageSize = 65536;
    entry.imageSha256 = QString(64, QLatin1Char('a'));
    entry.imageDescription = QStringLiteral("says \"hello\"");
    entry.blocksSent = 500;
    entry.blocksTotal = 993;
    entry.bootAttempts = 3;
    entry.errorLines = {QStringLiteral("Block 500: no answer"), QStringLiteral("second, line")};
    entry.End(false, QStringLiteral("no answer"));
    return entry;
}

TEST(JournalEntry, ComesBackFromJsonAndCsvUnchanged)
{
    JournalEntry settings = JournalEntry::Start(JournalEntry::Kind::SettingsWrite, QStringLiteral("ttyS0"));
    SettingsRecord after = kDefaultSettingsRecord;
    after[1] = 1;  // red LED
    after[3] = 1;  // beep
    settings.SetSettings(kDefaultSettingsRecord, after);
    settings.End(true, QStringLiteral("completed"));
    EXPECT_EQ(settings.changedFields, (QStringList{"red_led_level", "beep_level"}));

    const std::vector<JournalEntry> entries = {UpdateEntry(), settings};
    const QJsonArray json = QJsonDocument::fromJson(EntriesToJson(entries)).array();
    ASSERT_EQ(json.size(), 2);
    for (int n = 0; n < 2; ++n) {
        const std::optional<JournalEntry> back = JournalEntry::FromJson(json[n].toObject());
        ASSERT_TRUE(back);
        EXPECT_EQ(back->ToJson(), entries[size_t(n)].ToJson());
    }
    EXPECT_FALSE(JournalEntry::FromJson(QJsonObject{{"id", "x"}, {"kind", "unknown"}}));

    const std::vector<QStringList> rows = ParseCsv(EntriesToCsv(entries));
    ASSERT_EQ(rows.size(), 3u);
    const QStringList &header = rows[0];
    for (const QStringList &row : rows)
        ASSERT_EQ(row.size(), header.size());
    auto cell = [&](int row, const char *column) { return rows[size_t(row)][header.indexOf(column)]; };
    EXPECT_EQ(cell(1, "image_name"), "metal, v4.08.bin");
    EXPECT_EQ(cell(1, "image_description"), "says \"hello\"");
    EXPECT_EQ(cell(1, "error_lines"), "Block 500: no answer\nsecond, line");
    EXPECT_EQ(cell(1, "reader_serial"), "12345");
    EXPECT_EQ(cell(1, "succeeded"), "no");
    EXPECT_EQ(cell(1, "customer"), "Acme \"Ltd\"");
    EXPECT_EQ(cell(1, "note"), "reader was dead");
    EXPECT_EQ(cell(2, "settings_after"), "000100010001000000");
    EXPECT_EQ(cell(2, "changed_fields"), "red_led_level beep_level");
}

class JournalFile : public ::testing::Test {
protected:
    QString Path() const { return folder_.filePath(QStringLiteral("data/journal.db")); }
    QString Spool() const { return folder_.filePath(QStringLiteral("state/spool")); }
    void SetUp() override { ASSERT_TRUE(QDir().mkpath(QFileInfo(Path()).path())); }
    std::unique_ptr<Journal> Open() const
    {
        JournalOptions options;
        options.path = Path();
        options.spoolFolders = {Spool()};
        return std::make_unique<Journal>(options);
    }
    QTemporaryDir folder_;
};

TEST_F(JournalFile, QueriesFilterAndPutTheNewestFirst)
{
    const QDateTime t0 = QDateTime(QDate(2026, 3, 1), QTime(9, 0), Qt::UTC);
    auto make = [&](int hours, std::optional<uint16_t> serial, const char *port, int state,
                    JournalEntry::Kind kind = JournalEntry::Kind::Update) {
        JournalEntry entry = JournalEntry::Start(kind, QString::fromLatin1(port));
        entry.started = t0.addSecs(hours * 3600);
        entry.readerSerial = serial;
        if (state != 0)
            entry.End(state > 0, QStringLiteral("state"));
        return entry;
    };
    const std::vector<JournalEntry> entries = {
        make(0, 1, "ttyUSB0", +1),         // 0: done
        make(1, 1, "ttyUSB1", -1),         // 1: failed
        make(2, 2, "ttyUSB0", 0),          // 2: cut short
        make(3, std::nullopt, "ttyUSB0", +1, JournalEntry::Kind::SettingsWrite),  // 3: reader unknown
    };
    std::unique_ptr<Journal> journal = Open();
    for (const JournalEntry &entry : entries) {
        ASSERT_TRUE(journal->Begin(entry).stored);
        if (entry.finished) {
            ASSERT_TRUE(journal->Finish(entry).stored);
        }
    }

    struct Row {
        const char *name;
        JournalFilter filter;
        std::vector<int> expected;
    };
    auto filter = [](auto set) {
        JournalFilter f;
        set(f);
        return f;
    };
    const Row rows[] = {
        {"all", {}, {3, 2, 1, 0}},
        {"serial", filter([](JournalFilter &f) { f.serial = 1; }), {1, 0}},
        {"port", filter([](JournalFilter &f) { f.port = QStringLiteral("ttyUSB0"); }), {3, 2, 0}},
        {"since", filter([&](JournalFilter &f) { f.since = t0.addSecs(3600); }), {3, 2, 1}},
        {"until (before)", filter([&](JournalFilter &f) { f.until = t0.addSecs(2 * 3600); }), {1, 0}},
        {"failed or cut short", filter([](JournalFilter &f) { f.failedOnly = true; }), {2, 1}},
        {"serial and failed", filter([](JournalFilter &f) { f.serial = 1, f.failedOnly = true; }), {1}},
        {"kind", filter([](JournalFilter &f) { f.kind = JournalEntry::Kind::Update; }), {2, 1, 0}},
        {"succeeded", filter([](JournalFilter &f) { f.result = JobResult::Succeeded; }), {3, 0}},
        {"failed, finished", filter([](JournalFilter &f) { f.result = JobResult::Failed; }), {1}},
        {"unfinished", filter([](JournalFilter &f) { f.result = JobResult::Unfinished; }), {2}},
        {"the newest two", filter([](JournalFilter &f) { f.limit = 2; }), {3, 2}},
    };
    for (const Row &row : rows) {
        std::vector<QString> expected;
        for (int n : row.expected)
            expected.push_back(entries[size_t(n)].id);
        QString error;
        EXPECT_EQ(IdsOf(journal->Query(row.filter, &error)), expected) << row.name << ": " << error.toStdString();
    }

    // By a start of its id; too short or shared starts find nothing.
    QString error;
    EXPECT_EQ(journal->Find(entries[1].id.left(8), &error)->id, entries[1].id);
    EXPECT_FALSE(journal->Find(entries[1].id.left(3), &error));
    EXPECT_FALSE(journal->Find(QStringLiteral("0000-no-such"), &error));
    EXPECT_FALSE(error.isEmpty());
}

TEST_F(JournalFile, AFinishedEntryIsFinal)
{
    JournalEntry entry = UpdateEntry();
    JournalEntry start = entry;
    start.finished = false;
    start.outcome.clear();
    std::unique_ptr<Journal> journal = Open();
    journal->Begin(start);
    journal->Finish(entry);
    journal->Begin(start);  // a late copy of the start
    const std::vector<JournalEntry> found = journal->Query({});
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].ToJson(), entry.ToJson());
}

// The window and eight command-line runs, each a process with its own connection.
TEST_F(JournalFile, NineProgramsWritingAtOnceLoseNoEntry)
{
    constexpr int kWriters = 9, kEach = 25;
    std::vector<std::unique_ptr<QProcess>> writers;
    for (int n = 0; n < kWriters; ++n) {
        writers.push_back(std::make_unique<QProcess>());
        writers.back()->start(QStringLiteral(TALVOR_JOURNAL_WRITER),
                              {Path(), QStringLiteral("port%1").arg(n), QString::number(kEach)});
    }
    for (auto &writer : writers) {
        ASSERT_TRUE(writer->waitForFinished(120000));
        EXPECT_EQ(writer->exitCode(), 0) << writer->readAllStandardError().toStdString();
    }
    const std::vector<JournalEntry> entries = Open()->Query({});
    std::set<QString> ids;
    std::map<QString, int> perPort;
    for (const JournalEntry &entry : entries) {
        ids.insert(entry.id);
        EXPECT_TRUE(entry.finished);
        ++perPort[entry.port];
    }
    EXPECT_EQ(ids.size(), size_t(kWriters * kEach));
    EXPECT_EQ(perPort.size(), size_t(kWriters));
    for (const auto &[port, count] : perPort)
        EXPECT_EQ(count, kEach) << port.toStdString();
}

TEST_F(JournalFile, AJobKilledAfterItsStartLeavesAnUnfinishedEntry)
{
    QProcess writer;
    writer.start(QStringLiteral(TALVOR_JOURNAL_WRITER), {Path(), QStringLiteral("ttyUSB3"), "begin-and-die"});
    ASSERT_TRUE(writer.waitForFinished(30000));
    const QString id = QString::fromLatin1(writer.readAllStandardOutput()).trimmed();
    ASSERT_FALSE(id.isEmpty()) << writer.readAllStandardError().toStdString();

    const std::vector<JournalEntry> failed = Open()->Query({4242, {}, {}, true, {}, {}, {}, 0});
    ASSERT_EQ(failed.size(), 1u);
    EXPECT_EQ(failed[0].id, id);
    EXPECT_FALSE(failed[0].finished);
    EXPECT_EQ(failed[0].port, "ttyUSB3");
}

TEST_F(JournalFile, ADamagedFileIsSetAsideAndANewOneStarted)
{
    // A file of many pages, so one in the middle can be spoilt.
    {
        std::unique_ptr<Journal> journal = Open();
        for (int n = 0; n < 60; ++n)
            journal->Finish(UpdateEntry());
    }
    QFile file(Path());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    QByteArray spoiltPage = file.readAll();
    file.close();
    ASSERT_GT(spoiltPage.size(), 4 * 4096);
    spoiltPage.replace(2 * 4096, 4096, QByteArray(4096, '\xff'));

    struct Row {
        const char *name;
        QByteArray bytes;
    };
    const Row rows[] = {
        {"not a database", QByteArray("the technician's shopping list\n")},
        {"a spoilt page", spoiltPage},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        QDir(folder_.path()).removeRecursively();
        QDir().mkpath(QFileInfo(Path()).path());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(row.bytes);
        file.close();

        std::unique_ptr<Journal> journal = Open();
        const JournalEntry entry = UpdateEntry();
        const JournalStatus status = journal->Finish(entry);
        EXPECT_TRUE(status.stored);
        ASSERT_FALSE(status.setAside.isEmpty());
        EXPECT_TRUE(status.setAside.startsWith(Path() + ".damaged-")) << status.setAside.toStdString();
        EXPECT_TRUE(status.notice.contains(status.setAside));
        QFile aside(status.setAside);
        ASSERT_TRUE(aside.open(QIODevice::ReadOnly));
        EXPECT_TRUE(aside.readAll() == row.bytes);
        EXPECT_EQ(IdsOf(journal->Query({})), std::vector<QString>{entry.id});
    }
}

// A plain file where the journal's folder should be stops root too.
TEST_F(JournalFile, AnEntryTheFileCannotTakeIsSpooledAndMovedInOnceByTheNextProgram)
{
    const JournalEntry done = UpdateEntry();
    ASSERT_TRUE(Open()->Finish(done).stored);
    const QString folder = QFileInfo(Path()).path();
    ASSERT_TRUE(QDir().rename(folder, folder + QStringLiteral(".away")));
    ASSERT_TRUE(QFile(folder).open(QIODevice::WriteOnly));

    std::vector<JournalStatus> statuses;
    JournalEntry job = JournalEntry::Start(JournalEntry::Kind::SettingsRead, QStringLiteral("ttyUSB1"));
    JournalEntry lateStartOfDone = done;  // a stale copy must not undo the finished entry
    lateStartOfDone.finished = false;
    {
        std::unique_ptr<Journal> journal = Open();
        statuses.push_back(journal->Begin(job));
        job.End(true, QStringLiteral("completed"));
        statuses.push_back(journal->Finish(job));
        statuses.push_back(journal->Begin(lateStartOfDone));
    }
    for (const JournalStatus &status : statuses) {
        EXPECT_FALSE(status.stored);
        EXPECT_TRUE(status.spoolFile.startsWith(Spool() + QLatin1Char('/'))) << status.spoolFile.toStdString();
        EXPECT_FALSE(status.unkept);
    }
    EXPECT_TRUE(statuses[0].notice.contains(QStringLiteral("cannot be written"))) << statuses[0].notice.toStdString();
    EXPECT_TRUE(statuses[0].notice.contains(Spool()));
    EXPECT_TRUE(statuses[1].notice.isEmpty()) << "said twice: " << statuses[1].notice.toStdString();

    ASSERT_TRUE(QFile::remove(folder));
    ASSERT_TRUE(QDir().rename(folder + QStringLiteral(".away"), folder));
    // Two programs open the journal: the first moves the spool in, the second finds it empty.
    for (int program = 0; program < 2; ++program) {
        const std::vector<JournalEntry> entries = Open()->Query({});
        ASSERT_EQ(IdsOf(entries), (std::vector<QString>{job.id, done.id})) << "program " << program;
        EXPECT_EQ(entries[0].ToJson(), job.ToJson());
        EXPECT_EQ(entries[1].ToJson(), done.ToJson());
        EXPECT_TRUE(QDir(Spool()).entryList(QDir::Files).isEmpty());
    }
}

TEST_F(JournalFile, AnOpenJournalMovesInWhatOthersSpooledWhenAJobEnds)
{
    std::unique_ptr<Journal> window = Open();
    ASSERT_TRUE(window->Finish(UpdateEntry()).stored);
    // Another program found the file unwritable and kept its entry in the spool.
    JournalEntry other = JournalEntry::Start(JournalEntry::Kind::SettingsRead, QStringLiteral("ttyUSB1"));
    other.End(true, QStringLiteral("completed"));
    ASSERT_FALSE(journal_spool::Keep({Spool()}, Path(), other).file.isEmpty());

    JournalEntry next = JournalEntry::Start(JournalEntry::Kind::SettingsWrite, QStringLiteral("ttyUSB0"));
    next.End(true, QStringLiteral("completed"));
    ASSERT_TRUE(window->Finish(next).stored);
    const std::vector<QString> ids = IdsOf(window->Query({}));
    EXPECT_NE(std::find(ids.begin(), ids.end(), other.id), ids.end());
    EXPECT_TRUE(QDir(Spool()).entryList(QDir::Files).isEmpty());
}

TEST_F(JournalFile, WhenNoSpoolFolderTakesTheEntryTheStatusCarriesIt)
{
    const QString blocker = folder_.filePath(QStringLiteral("plain"));
    ASSERT_TRUE(QFile(blocker).open(QIODevice::WriteOnly));
    const QString spare = folder_.filePath(QStringLiteral("runtime/spool"));
    struct Row {
        const char *name;
        QStringList folders;
        QString keptIn;  // empty: kept nowhere
    };
    const Row rows[] = {
        {"the second folder when the first cannot be made", {blocker + "/state/spool", spare}, spare},
        {"none", {blocker + "/state/spool", blocker + "/runtime/spool"}, {}},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        JournalOptions options;
        options.path = blocker + QStringLiteral("/journal.db");
        options.spoolFolders = row.folders;
        Journal journal(options);
        JournalEntry entry = UpdateEntry();
        JournalStatus status = journal.Begin(entry);
        EXPECT_FALSE(status.stored);
        EXPECT_EQ(status.spoolFile.isEmpty() ? QString() : QFileInfo(status.spoolFile).path(), row.keptIn);
        EXPECT_EQ(status.unkept.has_value(), row.keptIn.isEmpty());
        EXPECT_EQ(status.notice.contains(QStringLiteral("lost when the program ends")), row.keptIn.isEmpty())
            << status.notice.toStdString();
        entry.outcome = QStringLiteral("completed");
        status = journal.Finish(entry);
        if (row.keptIn.isEmpty()) {
            ASSERT_TRUE(status.unkept);
            EXPECT_EQ(status.unkept->ToJson(), entry.ToJson());
        } else {
            EXPECT_EQ(QFileInfo(spare).permissions() & 0x0077, 0) << "the spool is not the owner's alone";
        }
    }
}

TEST_F(JournalFile, AFileOfTheFirstLayoutIsMigratedWithItsEntries)
{
    const JournalEntry old = UpdateEntry();
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("first-layout"));
        db.setDatabaseName(Path());
        ASSERT_TRUE(db.open());
        QSqlQuery query(db);
        for (const char *statement :
             {"CREATE TABLE schema_version (version INTEGER NOT NULL)", "INSERT INTO schema_version VALUES (1)",
              "CREATE TABLE entries (seq INTEGER PRIMARY KEY AUTOINCREMENT, id TEXT NOT NULL UNIQUE, "
              "started TEXT NOT NULL, serial INTEGER, port TEXT NOT NULL, finished INTEGER NOT NULL, "
              "failed INTEGER NOT NULL, entry TEXT NOT NULL)"})
            ASSERT_TRUE(query.exec(QString::fromLatin1(statement)));
        query.prepare(QStringLiteral("INSERT INTO entries (id, started, serial, port, finished, failed, entry) "
                                     "VALUES (?, ?, 12345, 'ttyUSB0', 1, 1, ?)"));
        query.addBindValue(old.id);
        query.addBindValue(JournalTime(old.started));
        query.addBindValue(QString::fromUtf8(QJsonDocument(old.ToJson()).toJson()));
        ASSERT_TRUE(query.exec());
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("first-layout"));

    std::unique_ptr<Journal> journal = Open();
    const JournalEntry added = UpdateEntry();
    EXPECT_TRUE(journal->Finish(added).stored);
    EXPECT_EQ(IdsOf(journal->Query({12345, {}, {}, false, {}, {}, {}, 0})), (std::vector<QString>{added.id, old.id}));
}

}  // namespace
