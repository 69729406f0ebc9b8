// The journal with a real PostgreSQL server: entries reach it through the
// local outbox, and a server that goes away mid-job gets every entry once,
// in order, when it is back.

#include <QElapsedTimer>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>

#include "core/journal/journal.h"
#include "pg_cluster.h"

namespace {

class JournalServer : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (PgCluster::BinFolder().isEmpty()) {
            if (qEnvironmentVariableIsSet("TALVOR_REQUIRE_POSTGRES"))
                FAIL() << "TALVOR_REQUIRE_POSTGRES is set, but no PostgreSQL server is installed";
            GTEST_SKIP() << "no PostgreSQL server installed (Debian package postgresql)";
        }
        cluster_ = std::make_unique<PgCluster>();
        ASSERT_TRUE(cluster_->Failure().isEmpty()) << cluster_->Failure().toStdString();
        options_.path = folder_.filePath(QStringLiteral("journal.db"));
        options_.server = cluster_->ConnectionString();
    }

    // The server's rows in the order they arrived: id and whether finished.
    std::vector<std::pair<QString, bool>> Rows()
    {
        std::vector<std::pair<QString, bool>> rows;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QStringLiteral("test-server"));
            db.setConnectOptions(cluster_->ConnectionString());
            EXPECT_TRUE(db.open()) << db.lastError().text().toStdString();
            QSqlQuery query(db);
            EXPECT_TRUE(query.exec(QStringLiteral("SELECT id, finished FROM talvor_journal ORDER BY arrival")));
            while (query.next())
                rows.emplace_back(query.value(0).toString(), query.value(1).toBool());
        }
        QSqlDatabase::removeDatabase(QStringLiteral("test-server"));
        return rows;
    }

    static JournalEntry Entry(uint16_t serial)
    {
        JournalEntry entry = JournalEntry::Start(JournalEntry::Kind::Update, QStringLiteral("ttyUSB0"));
        entry.readerSerial = serial;
        entry.firmwareBefore = QStringLiteral("4.07");
        return entry;
    }

    static JournalEntry Ended(JournalEntry entry)
    {
        entry.firmwareAfter = QStringLiteral("4.08");
        entry.End(true, QStringLiteral("completed"));
        return entry;
    }

    QTemporaryDir folder_;
    std::unique_ptr<PgCluster> cluster_;
    JournalOptions options_;
};

TEST_F(JournalServer, EntriesReachTheServer)
{
    Journal journal(options_);
    const JournalEntry update = Entry(12345);
    EXPECT_TRUE(journal.Begin(update).notice.isEmpty());
    const JournalStatus status = journal.SendPending();
    EXPECT_TRUE(status.notice.isEmpty()) << status.notice.toStdString();
    EXPECT_EQ(status.waiting, 0);
    EXPECT_EQ(Rows(), (std::vector<std::pair<QString, bool>>{{update.id, false}}));

    const JournalEntry done = Ended(update);
    JournalEntry settings = JournalEntry::Start(JournalEntry::Kind::SettingsWrite, QStringLiteral("ttyUSB1"));
    settings.readerSerial = 777;
    settings.SetSettings(kDefaultSettingsRecord, {0, 1, 0, 0, 0, 1, 0, 0, 0});
    settings.End(true, QStringLiteral("completed"));
    journal.Finish(done);
    journal.Begin(settings);
    journal.Finish(settings);
    EXPECT_EQ(journal.Close().waiting, 0);

    QString error;
    const std::vector<JournalEntry> onServer = journal.QueryServer({}, &error);
    ASSERT_EQ(onServer.size(), 2u) << error.toStdString();
    EXPECT_EQ(onServer[0].ToJson(), settings.ToJson());
    EXPECT_EQ(onServer[1].ToJson(), done.ToJson());
    JournalFilter filter;
    filter.serial = 12345;
    const std::vector<JournalEntry> ofReader = journal.QueryServer(filter, &error);
    ASSERT_EQ(ofReader.size(), 1u);
    EXPECT_EQ(ofReader[0].firmwareAfter, "4.08");
    // The server's own columns and types answer the same filters as the file.
    filter = {};
    filter.kind = JournalEntry::Kind::SettingsWrite;
    filter.result = JobResult::Succeeded;
    filter.limit = 5;
    const std::vector<JournalEntry> written = journal.QueryServer(filter, &error);
    ASSERT_EQ(written.size(), 1u) << error.toStdString();
    EXPECT_EQ(written[0].id, settings.id);
}

TEST_F(JournalServer, AServerGoneMidJobGetsEachEntryOnceInOrderWhenBack)
{
    Journal journal(options_);
    std::vector<JournalEntry> entries = {Entry(1), Entry(2), Entry(3), Entry(4)};
    journal.Begin(entries[0]);
    journal.Finish(Ended(entries[0]));
    journal.Begin(entries[1]);

    journal.SendPending();

    ASSERT_TRUE(cluster_->Stop()) << cluster_->Failure().toStdString();
    JournalStatus status = journal.Finish(Ended(entries[1]));
    EXPECT_TRUE(status.stored);
    // Told by whichever call first finds that the sender failed.
    QString notice = status.notice;
    status = journal.SendPending();
    notice += status.notice;
    EXPECT_TRUE(notice.contains(QStringLiteral("journal server"))) << notice.toStdString();
    EXPECT_EQ(notice.count(QStringLiteral("journal server")), 1) << notice.toStdString();
    EXPECT_EQ(status.waiting, 1);
    journal.Begin(entries[2]);
    status = journal.Finish(Ended(entries[2]));
    EXPECT_TRUE(status.notice.isEmpty()) << "said twice: " << status.notice.toStdString();
    status = journal.SendPending();
    EXPECT_EQ(status.waiting, 2);
    EXPECT_TRUE(status.notice.isEmpty());

    ASSERT_TRUE(cluster_->Start()) << cluster_->Failure().toStdString();
    status = journal.SendPending();
    EXPECT_EQ(status.waiting, 0);
    EXPECT_TRUE(status.notice.isEmpty());
    // Another program on the same file finds nothing left to send.
    EXPECT_EQ(Journal(options_).SendPending().waiting, 0);
    journal.Begin(entries[3]);
    journal.Finish(Ended(entries[3]));
    EXPECT_EQ(journal.Close().waiting, 0);

    std::vector<std::pair<QString, bool>> expected;
    for (const JournalEntry &entry : entries)
        expected.emplace_back(entry.id, true);
    EXPECT_EQ(Rows(), expected);
}

// Another session holds the table locked: the job's calls return at once,
// the end of the program waits a moment at most, and the entries reach the
// server once the lock is gone.
TEST_F(JournalServer, AStalledServerHoldsNoJobUp)
{
    const JournalEntry earlier = Ended(Entry(1));
    {
        Journal journal(options_);
        journal.Finish(earlier);
        ASSERT_EQ(journal.SendPending().waiting, 0);
    }
    QSqlDatabase locker = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QStringLiteral("test-locker"));
    locker.setConnectOptions(cluster_->ConnectionString());
    ASSERT_TRUE(locker.open()) << locker.lastError().text().toStdString();
    QSqlQuery lock(locker);
    // Should a journal wait for it, the server lets it go after a while.
    for (const char *statement : {"SET idle_in_transaction_session_timeout = '20s'", "BEGIN",
                                  "LOCK TABLE talvor_journal IN ACCESS EXCLUSIVE MODE"})
        ASSERT_TRUE(lock.exec(QString::fromLatin1(statement))) << lock.lastError().text().toStdString();

    const JournalEntry job = Entry(2);
    JournalStatus status;
    QElapsedTimer clock;
    clock.start();
    {
        Journal journal(options_);
        journal.Begin(job);
        journal.Finish(Ended(job));
        status = journal.Close();
    }
    // It hung for as long as the lock was held.
    EXPECT_LT(clock.elapsed(), 5000);
    EXPECT_TRUE(status.notice.contains(QStringLiteral("journal server"))) << status.notice.toStdString();
    EXPECT_EQ(status.waiting, 1);

    ASSERT_TRUE(lock.exec(QStringLiteral("COMMIT")));
    EXPECT_EQ(Journal(options_).SendPending().waiting, 0);
    EXPECT_EQ(Rows(), (std::vector<std::pair<QString, bool>>{{earlier.id, true}, {job.id, true}}));
    lock = QSqlQuery();
    locker.close();
    locker = QSqlDatabase();
    QSqlDatabase::removeDatabase(QStringLiteral("test-locker"));
}

}  // namespace
