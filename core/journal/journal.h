#pragma once
// The service journal: every job on every reader, kept in a local SQLite file
// and, for a team, sent on to one PostgreSQL server.
//
// Begin() writes an unfinished entry when a job starts and Finish() completes
// it, so a job cut short leaves an unfinished entry behind. A journal that
// cannot be written never stops a job: the entry goes to a spool folder of the
// user's own, which the next program that opens the journal moves into it (the
// next call of this one tries the file again too); the caller learns of each
// new trouble once, through the status's notice.
//
// Entries for the server always go to the local file first, which is the
// outbox: a thread of the journal's own sends them in order, each row once,
// while the job goes on; what the server did not take stays there for a later
// run. Every statement to the server is bounded by its time-outs, and Close()
// leaves a server that does not answer behind within a moment.
//
// One Journal belongs to the thread that made it (its database connections
// are its own); several processes and threads may each have one on the same
// file at once.

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "core/journal/journal_entry.h"

class OutboxForwarder;

struct JournalStatus {
    // The entry is in the local file; false: in the spool, or in memory only.
    bool stored = true;
    // Where the entry is kept while the file cannot take it.
    QString spoolFile;
    // The entry, when neither the file nor the spool could take it: the
    // program's memory is its only copy, so the caller shows it.
    std::optional<JournalEntry> unkept;
    // Entries not yet in the local file, or in the outbox and not yet on the
    // server.
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
    // Where entries wait while the file cannot take them, the first folder
    // that takes them; empty: Journal::DefaultSpoolFolders().
    QStringList spoolFolders;
};

class Journal {
public:
    using Options = JournalOptions;

    // journal.db in the user's data folder.
    static QString DefaultPath();
    // talvor/spool in the user's state folder, then in the runtime folder.
    static QStringList DefaultSpoolFolders();
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
    // Writes what is kept in memory and sends the outbox now, waiting for the
    // server (Begin and Finish only wake the sender, which tries a server that
    // failed again only a while later).
    JournalStatus SendPending();
    // At the end of a program's jobs: gives the sender a moment (1.5 s) to
    // hand the server what it has, then leaves the rest in the outbox for the
    // next run. The destructor does the same, untold.
    JournalStatus Close();

    // Newest first, from the local file.
    std::vector<JournalEntry> Query(const JournalFilter &filter, QString *error = nullptr);
    // Newest first, from the server.
    std::vector<JournalEntry> QueryServer(const JournalFilter &filter, QString *error = nullptr);
    // By its id or a unique start of it (at least 4 characters): the local
    // file first, then the server.
    std::optional<JournalEntry> Find(const QString &idOrStart, QString *error = nullptr);

private:
    struct Sql;
    struct Kept {
        JournalEntry entry;
        QString spoolFile;     // where a revision of it is kept; empty: none
        bool spooled = false;  // the newest revision
    };
    JournalStatus Write(const JournalEntry &entry);
    enum class Opened { Intact, Damaged, Failed };
    bool OpenLocal(JournalStatus &status, QString *error);
    Opened OpenFile(QString *error);
    bool SetAside(JournalStatus &status, QString *error);
    bool Migrate(QString *error);
    bool Store(const JournalEntry &entry, QString *error, bool *damaged);
    void WriteKept(JournalStatus &status);
    // Keeps what the file did not take in the spool, and tells where.
    void Spool(JournalStatus &status, const QString &why);
    void MoveSpoolIn();
    // The outbox's sender, made when first needed; null without a server or
    // a local file.
    OutboxForwarder *Sender();
    void TellServerTrouble(JournalStatus &status);
    bool OpenServer(QString *error);
    void CloseServer();
    std::optional<JournalEntry> FindIn(bool server, const QString &idOrStart, QString *error);
    void TellOnce(JournalStatus &status, bool &told, const QString &text);
    int OutboxSize();

    QString path_;
    Options options_;
    QString localConnection_;
    QString serverConnection_;
    QStringList spoolFolders_;
    bool localOpen_ = false;
    bool serverReady_ = false;
    std::vector<Kept> kept_;  // not yet in the local file, in their order
    bool toldUnkept_ = false;
    QString toldSpoolFolder_;
    bool toldServerTrouble_ = false;
    std::unique_ptr<OutboxForwarder> forwarder_;  // made when the first entry is written
};
