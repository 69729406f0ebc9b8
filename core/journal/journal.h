#pragma once
// The service journal: every job on every reader, kept in a local SQLite file
// and, for a team, sent on to one PostgreSQL server.
//
// Begin() writes an unfinished entry when a job starts and Finish() completes
// it, so a job cut short leaves an unfinished entry behind. A journal that
// cannot be written never stops a job: the entry stays in memory and the next
// call writes it; the caller learns of each new trouble once, through the
// status's notice. Entries for the server always go to the local file first,
// which is the outbox: they are sent in order, each row once, and what the
// server did not take stays there for a later call.
//
// One Journal belongs to the thread that made it (its database connections
// are its own); several processes and threads may each have one on the same
// file at once.

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

#include "core/journal/journal_entry.h"

struct JournalFilter {
    std::optional<uint16_t> serial;
    QString port;        // empty: any
    QDateTime since;     // invalid: any; else entries started at or after it
    bool failedOnly = false;  // failed or cut short
};

struct JournalStatus {
    // The entry is in the local file; false: kept in memory for a later call.
    bool stored = true;
    // Entries still waiting in memory or in the outbox for the server.
    int waiting = 0;
    // A damaged file was set aside under this name during this call.
    QString setAside;
    // A new trouble, said once (not again until it has cleared and comes back).
    QString notice;
};

struct JournalOptions {
    QString path;    // the SQLite file; empty: Journal::DefaultPath()
    QString server;  // a PostgreSQL connection string ("host=... dbname=..."); empty: none
    int busyTimeoutMs = 10000;
};

class Journal {
public:
    using Options = JournalOptions;

    // journal.db in the user's data folder.
    static QString DefaultPath();
    // Section [Journal] of the tool's ini file: Database= (the SQLite file),
    // Server= (a PostgreSQL connection string).
    static Options OptionsFromIni(const QString &iniPath);

    explicit Journal(Options options = {});
    ~Journal();
    Journal(const Journal &) = delete;
    Journal &operator=(const Journal &) = delete;

    QString Path() const { return path_; }

    JournalStatus Begin(const JournalEntry &entry);
    JournalStatus Finish(const JournalEntry &entry);
    // Writes what is kept in memory and sends the outbox now (Begin and Finish
    // try the server again only a while after it failed).
    JournalStatus SendPending();

    // Newest first, from the local file.
    std::vector<JournalEntry> Query(const JournalFilter &filter, QString *error = nullptr);
    // Newest first, from the server.
    std::vector<JournalEntry> QueryServer(const JournalFilter &filter, QString *error = nullptr);
    // By its id or a unique start of it (at least 4 characters): the local
    // file first, then the server.
    std::optional<JournalEntry> Find(const QString &idOrStart, QString *error = nullptr);

private:
    struct Sql;
    JournalStatus Write(const JournalEntry &entry);
    enum class Opened { Intact, Damaged, Failed };
    bool OpenLocal(JournalStatus &status, QString *error);
    Opened OpenFile(QString *error);
    bool SetAside(JournalStatus &status, QString *error);
    bool Migrate(QString *error);
    bool Store(const JournalEntry &entry, QString *error, bool *damaged);
    void WriteKept(JournalStatus &status);
    void SendOutbox(JournalStatus &status, bool whenDue);
    bool OpenServer(QString *error);
    void CloseServer();
    std::optional<JournalEntry> FindIn(bool server, const QString &idOrStart, QString *error);
    void TellOnce(JournalStatus &status, bool &told, const QString &text);
    int OutboxSize();

    QString path_;
    Options options_;
    QString localConnection_;
    QString serverConnection_;
    bool localOpen_ = false;
    bool serverReady_ = false;
    std::vector<JournalEntry> kept_;  // not yet in the local file, in their order
    bool toldLocalTrouble_ = false;
    bool toldServerTrouble_ = false;
    std::optional<std::chrono::steady_clock::time_point> serverFailedAt_;
};
