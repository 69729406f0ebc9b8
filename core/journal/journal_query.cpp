// The journal's statements shared by the file and the server, and its queries.

#include <QJsonDocument>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QThread>

#include "core/journal/journal.h"
#include "core/journal/journal_sql.h"

using namespace journal_sql;

namespace journal_sql {

bool IsBusy(const QSqlError &error)
{
    const QString code = error.nativeErrorCode();
    return code == QLatin1String("5") || code == QLatin1String("6");
}

bool IsDamage(const QSqlError &error)
{
    const QString code = error.nativeErrorCode();
    return code == QLatin1String("11") || code == QLatin1String("26");
}

bool ExecRetrying(QSqlQuery &query, const QString &sql)
{
    for (int attempt = 0;; ++attempt) {
        if (sql.isEmpty() ? query.exec() : query.exec(sql))
            return true;
        if (!IsBusy(query.lastError()) || attempt == 40)
            return false;
        QThread::msleep(5 + 5 * std::min(attempt, 10));
    }
}

Where WhereOf(const JournalFilter &filter, bool server)
{
    Where where;
    QStringList terms;
    if (filter.serial) {
        terms << QStringLiteral("serial = ?");
        where.values << int(*filter.serial);
    }
    if (!filter.port.isEmpty()) {
        terms << QStringLiteral("port = ?");
        where.values << filter.port;
    }
    if (filter.since.isValid()) {
        terms << (server ? QStringLiteral("started >= CAST(? AS timestamptz)") : QStringLiteral("started >= ?"));
        where.values << JournalTime(filter.since);
    }
    if (filter.until.isValid()) {
        terms << (server ? QStringLiteral("started < CAST(? AS timestamptz)") : QStringLiteral("started < ?"));
        where.values << JournalTime(filter.until);
    }
    if (filter.kind) {
        // The file keeps the kind only inside the entry's JSON.
        terms << (server ? QStringLiteral("kind = ?") : QStringLiteral("json_extract(entry, '$.kind') = ?"));
        where.values << KindId(*filter.kind);
    }
    const QString yes = server ? QStringLiteral("true") : QStringLiteral("1");
    const QString no = server ? QStringLiteral("false") : QStringLiteral("0");
    if (filter.failedOnly)
        terms << QStringLiteral("failed = ") + yes;
    if (filter.result) {
        switch (*filter.result) {
        case JobResult::Succeeded:
            terms << QStringLiteral("finished = %1 AND failed = %2").arg(yes, no);
            break;
        case JobResult::Failed:
            terms << QStringLiteral("finished = %1 AND failed = %1").arg(yes);
            break;
        case JobResult::Unfinished:
            terms << QStringLiteral("finished = ") + no;
            break;
        }
    }
    if (!terms.isEmpty())
        where.sql = QStringLiteral(" WHERE ") + terms.join(QStringLiteral(" AND "));
    if (filter.limit > 0)
        where.limit = QStringLiteral(" LIMIT %1").arg(filter.limit);
    return where;
}

std::vector<JournalEntry> EntriesOf(QSqlQuery &query)
{
    std::vector<JournalEntry> entries;
    while (query.next()) {
        const QJsonDocument document = QJsonDocument::fromJson(query.value(0).toString().toUtf8());
        if (std::optional<JournalEntry> entry = JournalEntry::FromJson(document.object()))
            entries.push_back(std::move(*entry));
    }
    return entries;
}

QString IdPattern(const QString &idOrStart)
{
    static const QRegularExpression idStart(QStringLiteral("^[0-9a-fA-F-]{4,36}$"));
    return idStart.match(idOrStart).hasMatch() ? idOrStart.toLower() + QLatin1Char('%') : QString();
}

}  // namespace journal_sql

std::vector<JournalEntry> Journal::Query(const JournalFilter &filter, QString *error)
{
    JournalStatus ignored;
    QString why;
    if (!OpenLocal(ignored, &why)) {
        if (error)
            *error = why;
        return {};
    }
    const Where where = WhereOf(filter, false);
    QSqlQuery query(QSqlDatabase::database(localConnection_, false));
    query.prepare(QStringLiteral("SELECT entry FROM entries") + where.sql +
                  QStringLiteral(" ORDER BY started DESC, seq DESC") + where.limit);
    for (const QVariant &value : where.values)
        query.addBindValue(value);
    if (!ExecRetrying(query)) {
        if (error)
            *error = query.lastError().text();
        return {};
    }
    return EntriesOf(query);
}

std::optional<JournalEntry> Journal::Find(const QString &idOrStart, QString *error)
{
    QString why;
    if (IdPattern(idOrStart).isEmpty()) {
        why = QStringLiteral("\"%1\" is not an entry id").arg(idOrStart);
    } else {
        if (std::optional<JournalEntry> entry = FindIn(false, idOrStart, &why))
            return entry;
        if (why.isEmpty() && !options_.server.isEmpty()) {
            if (std::optional<JournalEntry> entry = FindIn(true, idOrStart, &why))
                return entry;
        }
        if (why.isEmpty())
            why = QStringLiteral("no entry %1 in the journal").arg(idOrStart);
    }
    if (error)
        *error = why;
    return std::nullopt;
}

std::optional<JournalEntry> Journal::FindIn(bool server, const QString &idOrStart, QString *error)
{
    JournalStatus ignored;
    if (server ? !OpenServer(error) : !OpenLocal(ignored, error))
        return std::nullopt;
    QSqlQuery query(server ? QSqlDatabase::database(serverConnection_, false) : QSqlDatabase::database(localConnection_, false));
    const bool prepared =
        query.prepare(server ? QStringLiteral("SELECT entry::text FROM talvor_journal WHERE id LIKE ? LIMIT 2")
                             : QStringLiteral("SELECT entry FROM entries WHERE id LIKE ? LIMIT 2"));
    query.addBindValue(IdPattern(idOrStart));
    if (!prepared || !ExecRetrying(query)) {
        *error = query.lastError().text();
        if (server)
            CloseServer();
        return std::nullopt;
    }
    std::vector<JournalEntry> entries = EntriesOf(query);
    if (entries.size() > 1)
        *error = QStringLiteral("more than one entry starts with %1").arg(idOrStart);
    if (entries.size() != 1)
        return std::nullopt;
    return entries.front();
}

int Journal::OutboxSize()
{
    if (options_.server.isEmpty() || !localOpen_)
        return 0;
    QSqlQuery query(QSqlDatabase::database(localConnection_, false));
    if (!ExecRetrying(query, QStringLiteral("SELECT COUNT(*) FROM entries WHERE sent_revision < revision")) ||
        !query.next())
        return 0;
    return query.value(0).toInt();
}
