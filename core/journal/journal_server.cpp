// The team's server: the local file is the outbox, and each entry's newest
// revision goes to the server in the order the entries began.
#include <QJsonDocument>
#include <QSqlDatabase>
#include <QSqlError>

#include "core/journal/journal.h"
#include "core/journal/journal_sql.h"

using namespace journal_sql;

namespace {

// A silent server must not hold a job for long.
constexpr int kConnectTimeoutSeconds = 5;
// Begin and Finish leave an unreachable server alone this long.
constexpr std::chrono::seconds kServerRetryAfter{60};

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

bool Journal::OpenServer(QString *error)
{
    if (serverReady_)
        return true;
    if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QPSQL"))) {
        *error = QStringLiteral("Qt's PostgreSQL driver is not installed (libqt6sql6-psql)");
        return false;
    }
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), serverConnection_);
        QString connection = options_.server;
        if (!connection.contains(QLatin1String("connect_timeout")))
            connection += QStringLiteral(" connect_timeout=%1").arg(kConnectTimeoutSeconds);
        db.setConnectOptions(connection);
        if (db.open()) {
            QSqlQuery query(db);
            // The server's notices would land on the user's terminal.
            query.exec(QStringLiteral("SET client_min_messages = warning"));
            // Two programs may create it at once; one of them loses the race
            // but finds the table there.
            if (query.exec(QString::fromLatin1(kCreateTable)) ||
                (query.exec(QStringLiteral("SELECT to_regclass('talvor_journal') IS NOT NULL")) && query.next() &&
                 query.value(0).toBool())) {
                serverReady_ = true;
                return true;
            }
            *error = query.lastError().text();
        } else {
            *error = db.lastError().text();
        }
    }
    CloseServer();
    return false;
}

void Journal::CloseServer()
{
    {
        QSqlDatabase db = QSqlDatabase::database(serverConnection_, false);
        db.close();
    }
    if (QSqlDatabase::contains(serverConnection_))
        QSqlDatabase::removeDatabase(serverConnection_);
    serverReady_ = false;
}

void Journal::SendOutbox(JournalStatus &status, bool whenDue)
{
    if (options_.server.isEmpty() || !localOpen_)
        return;
    const auto now = std::chrono::steady_clock::now();
    if (whenDue && serverFailedAt_ && now - *serverFailedAt_ < kServerRetryAfter)
        return;

    QString error;
    bool sent = OpenServer(&error);
    if (sent) {
        QSqlDatabase local = QSqlDatabase::database(localConnection_, false);
        QSqlQuery outbox(local);
        outbox.setForwardOnly(true);
        sent = ExecRetrying(outbox, QStringLiteral(
                                        "SELECT id, revision, entry FROM entries WHERE sent_revision < revision "
                                        "ORDER BY seq"));
        if (!sent)
            error = outbox.lastError().text();
        struct Unsent {
            QString id;
            int revision;
            std::optional<JournalEntry> entry;
        };
        std::vector<Unsent> unsent;
        while (sent && outbox.next()) {
            const QJsonDocument json = QJsonDocument::fromJson(outbox.value(2).toString().toUtf8());
            unsent.push_back({outbox.value(0).toString(), outbox.value(1).toInt(),
                              JournalEntry::FromJson(json.object())});
        }
        outbox.finish();

        QSqlQuery upsert(QSqlDatabase::database(serverConnection_, false));
        QSqlQuery mark(local);
        for (const Unsent &row : unsent) {
            if (!sent)
                break;
            if (row.entry) {
                const JournalEntry &entry = *row.entry;
                upsert.prepare(QString::fromLatin1(kUpsert));
                upsert.addBindValue(entry.id);
                upsert.addBindValue(KindId(entry.kind));
                upsert.addBindValue(JournalTime(entry.started));
                upsert.addBindValue(entry.ended.isValid() ? QVariant(JournalTime(entry.ended)) : NullText());
                upsert.addBindValue(entry.host);
                upsert.addBindValue(entry.user);
                upsert.addBindValue(entry.port);
                upsert.addBindValue(entry.readerSerial ? QVariant(int(*entry.readerSerial)) : NullInt());
                upsert.addBindValue(entry.outcome);
                upsert.addBindValue(entry.finished);
                upsert.addBindValue(entry.Failed());
                upsert.addBindValue(QString::fromUtf8(QJsonDocument(entry.ToJson()).toJson(QJsonDocument::Compact)));
                if (!upsert.exec()) {
                    error = upsert.lastError().text();
                    sent = false;
                    break;
                }
            }
            // Only the revision sent: a change made meanwhile goes next time.
            mark.prepare(QStringLiteral("UPDATE entries SET sent_revision = ? WHERE id = ? AND sent_revision < ?"));
            mark.addBindValue(row.revision);
            mark.addBindValue(row.id);
            mark.addBindValue(row.revision);
            if (!ExecRetrying(mark)) {
                error = mark.lastError().text();
                sent = false;
            }
        }
    }
    if (sent) {
        serverFailedAt_.reset();
        toldServerTrouble_ = false;
        return;
    }
    CloseServer();
    serverFailedAt_ = now;
    TellOnce(status, toldServerTrouble_,
             QStringLiteral("The journal server cannot be reached (%1). Entries are kept in the local "
                            "journal and sent when it can be reached.")
                 .arg(error.trimmed()));
}

std::vector<JournalEntry> Journal::QueryServer(const JournalFilter &filter, QString *error)
{
    QString why;
    if (options_.server.isEmpty()) {
        why = QStringLiteral("no journal server is configured");
    } else if (OpenServer(&why)) {
        const Where where = WhereOf(filter, true);
        QSqlQuery query(QSqlDatabase::database(serverConnection_, false));
        query.prepare(QStringLiteral("SELECT entry::text FROM talvor_journal") + where.sql +
                      QStringLiteral(" ORDER BY started DESC, arrival DESC"));
        for (const QVariant &value : where.values)
            query.addBindValue(value);
        if (query.exec())
            return EntriesOf(query);
        why = query.lastError().text();
        CloseServer();
    }
    if (error)
        *error = why;
    return {};
}
