#pragma once
// What the local file and the server share: statements run again while
// another writer holds the file, the filter as a WHERE clause, entries out of
// their stored JSON, the server's connections and rows. Inside the journal
// only.

#include <QSqlQuery>
#include <QString>
#include <QVariantList>
#include <vector>

#include "core/journal/journal_entry.h"

namespace journal_sql {

// SQLite's "busy" and "locked": another connection holds the lock longer than
// the busy time-out (or an upgrade to writing would deadlock).
bool IsBusy(const QSqlError &error);
// SQLite's "corrupt" and "not a database".
bool IsDamage(const QSqlError &error);

// Runs the prepared query (or sql when given), retried a bounded number of
// times while the file is busy.
bool ExecRetrying(QSqlQuery &query, const QString &sql = {});

struct Where {
    QString sql;  // " WHERE ..." or empty
    QVariantList values;
    QString limit;  // " LIMIT n" or empty, after the order
};
// server: PostgreSQL's types (timestamptz, boolean) instead of SQLite's.
Where WhereOf(const JournalFilter &filter, bool server);

// Each row's first column is an entry as JSON text; rows that do not parse
// are left out.
std::vector<JournalEntry> EntriesOf(QSqlQuery &query);

// An id or a start of one, lower case; empty when it is not one.
QString IdPattern(const QString &idOrStart);

// Opens a connection to the server under this name, with every statement on
// it bounded by time-outs, and makes the table when it is not there yet; on
// failure removes it again and says why.
bool OpenServerConnection(const QString &name, const QString &server, QString *error);
// Closes and forgets a connection of this thread (nothing when there is none).
void RemoveConnection(const QString &name);
// Makes the entry's row on the server or brings it up to date; a finished
// row is final.
bool UpsertOnServer(QSqlQuery &query, const JournalEntry &entry);

inline QVariant NullInt() { return QVariant(QMetaType::fromType<int>()); }
inline QVariant NullText() { return QVariant(QMetaType::fromType<QString>()); }

}  // namespace journal_sql
