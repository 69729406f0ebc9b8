// The team's server: its connections, its rows, and the reads from it. The
// outbox is sent by the journal's forwarder (journal_forwarder.cpp).
#include <QJsonDocument>
#include <QSqlDatabase>
#include <QSqlError>

#include "core/journal/journal.h"
#include "core/journal/journal_sql.h"

using namespace journal_sql;

namespace {

// A silent server must not hold a job for long.
constexpr int kConnectTimeoutSeconds = 5;
// Every statement on a connection is bounded: a table locked by another
// session, or a server too busy to answer, ends it with an error instead of
// holding the program until the server is free.
constexpr int kLockTimeoutMs = 2000;
constexpr int kStatementTimeoutMs = 5000;

const char kCreateTable[] =
    "CREATE TABLE IF NOT EXISTS talvor_journal ("
    "arrival BIGSERIAL NOT NULL, id TEXT PRIMARY KEY, kind TEXT NOT NULL, "
    "started TIMESTAMPTZ NOT NULL, ended TIMESTAMPTZ, host TEXT NOT NULL, technician TEXT NOT NULL, "
    "port TEXT NOT NULL, serial INTEGER, outcome TEXT NOT NULL, finished BOOLEAN NOT NULL, "
    "failed BOOLEAN NOT NULL, entry JSONB NOT NULL)";

// One row per entry whatever is sent twice; a finished row is final.
const char kUpsert[] =
    "INSERT INTO talvor_journal (id, kind, started, ended, host, technician, port, serial, outcome, "
    "finished, failed, entry) VALUES (?, ?, CAST(? AS timestamptz), CAST(? AS timestamptz), ?, ?, ?, ?, ?, "
    "?, ?, CAST(? AS jsonb)) "
    "ON CONFLICT (id) DO UPDATE SET ended = EXCLUDED.ended, serial = EXCLUDED.serial, "
    "outcome = EXCLUDED.outcome, finished = EXCLUDED.finished, failed = EXCLUDED.failed, "
    "entry = EXCLUDED.entry WHERE NOT talvor_journal.finished";

}  // namespace

namespace journal_sql {

bool OpenServerConnection(const QString &name, const QString &server, QString *error)
{
    if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QPSQL"))) {
        *error = QStringLiteral("Qt's PostgreSQL driver is not installed (libqt6sql6-psql)");
        return false;
    }
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
        QString connection = server;
        if (!connection.contains(QLatin1String("connect_timeout")))
            connection += QStringLiteral(" connect_timeout=%1").arg(kConnectTimeoutSeconds);
        db.setConnectOptions(connection);
        if (db.open()) {
            QSqlQuery query(db);
            // The time-outs first: even making the table waits for locks.
            // The server's notices would land on the user's terminal.
            if (query.exec(QStringLiteral("SET statement_timeout = %1").arg(kStatementTimeoutMs)) &&
                query.exec(QStringLiteral("SET lock_timeout = %1").arg(kLockTimeoutMs)) &&
                query.exec(QStringLiteral("SET client_min_messages = warning")) &&
                // Two programs may create it at once; one of them loses the
                // race but finds the table there.
                (query.exec(QString::fromLatin1(kCreateTable)) ||
                 (query.exec(QStringLiteral("SELECT to_regclass('talvor_journal') IS NOT NULL")) && query.next() &&
                  query.value(0).toBool())))
                return true;
            *error = query.lastError().text();
        } else {
            *error = db.lastError().text();
        }
    }
    RemoveConnection(name);
    return false;
}

void RemoveConnection(const QString &name)
{
    if (!QSqlDatabase::contains(name))
        return;
    {
        QSqlDatabase db = QSqlDatabase::database(name, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
}

bool UpsertOnServer(QSqlQuery &query, const JournalEntry &entry)
{
    // Preparing waits for the table's lock too; unprepared, exec would only
    // say "syntax error".
    if (!query.prepare(QString::fromLatin1(kUpsert)))
        return false;
    query.addBindValue(entry.id);
    query.addBindValue(KindId(entry.kind));
    query.addBindValue(JournalTime(entry.started));
    query.addBindValue(entry.ended.isValid() ? QVariant(JournalTime(entry.ended)) : NullText());
    query.addBindValue(entry.host);
    query.addBindValue(entry.technician.isEmpty() ? entry.user : entry.technician);
    query.addBindValue(entry.port);
    query.addBindValue(entry.readerSerial ? QVariant(int(*entry.readerSerial)) : NullInt());
    query.addBindValue(entry.outcome);
    query.addBindValue(entry.finished);
    query.addBindValue(entry.Failed());
    query.addBindValue(QString::fromUtf8(QJsonDocument(entry.ToJson()).toJson(QJsonDocument::Compact)));
    return query.exec();
}

}  // namespace journal_sql

bool Journal::OpenServer(QString *error)
{
    if (!serverReady_)
        serverReady_ = OpenServerConnection(serverConnection_, options_.server, error);
    return serverReady_;
}

void Journal::CloseServer()
{
    RemoveConnection(serverConnection_);
    serverReady_ = false;
}

std::vector<JournalEntry> Journal::QueryServer(const JournalFilter &filter, QString *error)
{
    QString why;
    if (options_.server.isEmpty()) {
        why = QStringLiteral("no journal server is configured");
    } else if (OpenServer(&why)) {
        const Where where = WhereOf(filter, true);
        QSqlQuery query(QSqlDatabase::database(serverConnection_, false));
        if (query.prepare(QStringLiteral("SELECT entry::text FROM talvor_journal") + where.sql +
                          QStringLiteral(" ORDER BY started DESC, arrival DESC") + where.limit)) {
            for (const QVariant &value : where.values)
                query.addBindValue(value);
            if (query.exec())
                return EntriesOf(query);
        }
        why = query.lastError().text();
        CloseServer();
    }
    if (error)
        *error = why;
    return {};
}
