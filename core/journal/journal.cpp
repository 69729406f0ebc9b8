#include "core/journal/journal.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSettings>
#include <QSqlDatabase>
#include <QSqlError>
#include <QStandardPaths>
#include <QUuid>

#include "core/journal/journal_forwarder.h"
#include "core/journal/journal_spool.h"
#include "core/journal/journal_sql.h"

using namespace journal_sql;

namespace {

// How long the end of a program's jobs waits for the server to take its
// last entries.
constexpr std::chrono::milliseconds kCloseWait{1500};

// Each step takes the file from the version before it to its own number.
const std::vector<QStringList> kMigrations = {
    // 1: the entries, with what queries look for in columns of their own.
    {QStringLiteral("CREATE TABLE entries ("
                    "seq INTEGER PRIMARY KEY AUTOINCREMENT, id TEXT NOT NULL UNIQUE, "
                    "started TEXT NOT NULL, serial INTEGER, port TEXT NOT NULL, "
                    "finished INTEGER NOT NULL, failed INTEGER NOT NULL, entry TEXT NOT NULL)"),
     QStringLiteral("CREATE INDEX entries_serial ON entries (serial, started)")},
    // 2: the outbox for a server: each change of an entry counts up its
    // revision, and the revision the server has is kept beside it.
    {QStringLiteral("ALTER TABLE entries ADD COLUMN revision INTEGER NOT NULL DEFAULT 1"),
     QStringLiteral("ALTER TABLE entries ADD COLUMN sent_revision INTEGER NOT NULL DEFAULT 0"),
     QStringLiteral("CREATE INDEX entries_unsent ON entries (seq) WHERE sent_revision < revision")},
};

bool LooksLikeSqlite(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return true;  // cannot tell; opening it will say what is wrong
    return file.read(16) == QByteArray("SQLite format 3\0", 16);
}

void AddNotice(JournalStatus &status, const QString &text)
{
    if (!status.notice.isEmpty())
        status.notice += QLatin1Char('\n');
    status.notice += text;
}

}  // namespace



struct Journal::Sql {
    static QSqlDatabase Local(const Journal &journal)
    {
        return QSqlDatabase::database(journal.localConnection_, false);
    }
    static void CloseLocal(Journal &journal)
    {
        {
            QSqlDatabase db = Local(journal);
            db.close();
        }
        if (QSqlDatabase::contains(journal.localConnection_))
            QSqlDatabase::removeDatabase(journal.localConnection_);
        journal.localOpen_ = false;
    }
};

QString Journal::DefaultPath()
{
    // One file for the window and every command-line program: not the
    // program's own data folder, which is named after each program.
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/talvor/journal.db");
}

Journal::Options Journal::OptionsFromIni(const QString &iniPath)
{
    QSettings ini(iniPath, QSettings::IniFormat);
    Options options;
    options.path = ini.value(QStringLiteral("Journal/Database")).toString();
    options.server = ini.value(QStringLiteral("Journal/Server")).toString();
    return options;
}

QStringList Journal::DefaultSpoolFolders()
{
    return journal_spool::DefaultFolders();
}

Journal::Journal(Options options)
    : path_(options.path.isEmpty() ? DefaultPath() : options.path),
      options_(std::move(options)),
      spoolFolders_(options_.spoolFolders.isEmpty() ? DefaultSpoolFolders() : options_.spoolFolders)
{
    const QString instance = QUuid::createUuid().toString(QUuid::WithoutBraces);
    localConnection_ = QStringLiteral("talvor-journal-") + instance;
    serverConnection_ = QStringLiteral("talvor-journal-server-") + instance;
}

Journal::~Journal()
{
    Close();
    CloseServer();
    Sql::CloseLocal(*this);
}

JournalStatus Journal::Begin(const JournalEntry &entry)
{
    return Write(entry);
}

JournalStatus Journal::Finish(const JournalEntry &entry)
{
    JournalStatus status = Write(entry);
    // What other programs kept in the spool while the file would not take
    // them goes in at the end of each job, not only when a program next opens
    // the journal: a window may stay open for days.
    if (status.stored)
        MoveSpoolIn();
    return status;
}

JournalStatus Journal::Write(const JournalEntry &entry)
{
    const auto ofEntry = [&entry](const Kept &kept) { return kept.entry.id == entry.id; };
    auto same = std::find_if(kept_.begin(), kept_.end(), ofEntry);
    if (same != kept_.end()) {
        same->entry = entry;
        same->spooled = false;
    } else {
        kept_.push_back({entry, QString(), false});
    }

    JournalStatus status;
    WriteKept(status);
    same = std::find_if(kept_.begin(), kept_.end(), ofEntry);
    status.stored = same == kept_.end();
    if (!status.stored && same->spooled)
        status.spoolFile = same->spoolFile;
    else if (!status.stored)
        status.unkept = entry;
    if (OutboxForwarder *sender = Sender())
        sender->Wake();
    TellServerTrouble(status);
    status.waiting = int(kept_.size()) + OutboxSize();
    return status;
}

JournalStatus Journal::SendPending()
{
    JournalStatus status;
    // The outbox is sent even when this program has written nothing.
    QString error;
    if (!OpenLocal(status, &error) && kept_.empty())
        AddNotice(status, QStringLiteral("The service journal %1 cannot be read (%2).")
                              .arg(QDir::toNativeSeparators(path_), error));
    WriteKept(status);
    status.stored = kept_.empty();
    if (OutboxForwarder *sender = Sender())
        sender->SendNow();
    TellServerTrouble(status);
    status.waiting = int(kept_.size()) + OutboxSize();
    return status;
}

JournalStatus Journal::Close()
{
    JournalStatus status;
    if (forwarder_) {
        const bool ended = forwarder_->Close(kCloseWait);
        TellServerTrouble(status);
        if (!ended)
            AddNotice(status, QStringLiteral("The journal server did not answer in time. What it has not taken "
                                             "stays in the local journal %1 and goes to the server with the next "
                                             "program that uses the journal.")
                                  .arg(QDir::toNativeSeparators(path_)));
        forwarder_.reset();
    }
    status.stored = kept_.empty();
    status.waiting = int(kept_.size()) + OutboxSize();
    return status;
}

void Journal::TellOnce(JournalStatus &status, bool &told, const QString &text)
{
    if (told)
        return;
    told = true;
    AddNotice(status, text);
}

OutboxForwarder *Journal::Sender()
{
    if (options_.server.isEmpty() || !localOpen_)
        return nullptr;
    if (!forwarder_)
        forwarder_ = std::make_unique<OutboxForwarder>(path_, options_.server, options_.busyTimeoutMs);
    return forwarder_.get();
}

void Journal::TellServerTrouble(JournalStatus &status)
{
    const QString trouble = forwarder_ ? forwarder_->Trouble() : QString();
    if (trouble.isEmpty()) {
        toldServerTrouble_ = false;
        return;
    }
    TellOnce(status, toldServerTrouble_,
             QStringLiteral("The journal server did not take the entries (%1). They are kept in the local "
                            "journal and sent when it takes them.")
                 .arg(trouble));
}

void Journal::WriteKept(JournalStatus &status)
{
    if (kept_.empty())
        return;
    QString error;
    bool written = OpenLocal(status, &error);
    while (written && !kept_.empty()) {
        bool damaged = false;
        bool stored = Store(kept_.front().entry, &error, &damaged);
        // A file found damaged only now is set aside like one found on opening.
        if (!stored)
            stored = damaged && SetAside(status, &error) && OpenLocal(status, &error) &&
                     Store(kept_.front().entry, &error, &damaged);
        written = stored;
        if (stored) {
            if (!kept_.front().spoolFile.isEmpty())
                QFile::remove(kept_.front().spoolFile);
            kept_.erase(kept_.begin());
        }
    }
    if (written) {
        toldUnkept_ = false;
        toldSpoolFolder_.clear();
        return;
    }
    Spool(status, error);
}

void Journal::Spool(JournalStatus &status, const QString &why)
{
    QString failure;
    QString folder;
    for (Kept &kept : kept_) {
        if (!kept.spooled) {
            const journal_spool::Kept spooled = journal_spool::Keep(spoolFolders_, path_, kept.entry);
            if (spooled.file.isEmpty()) {
                failure = spooled.failure;
                continue;
            }
            // A folder that failed since may have left an older copy elsewhere.
            if (!kept.spoolFile.isEmpty() && kept.spoolFile != spooled.file)
                QFile::remove(kept.spoolFile);
            kept.spoolFile = spooled.file;
            kept.spooled = true;
        }
        folder = QFileInfo(kept.spoolFile).absolutePath();
    }
    const QString journal = QDir::toNativeSeparators(path_);
    if (!failure.isEmpty()) {
        TellOnce(status, toldUnkept_,
                 QStringLiteral("The service journal %1 cannot be written (%2), and the entry cannot be kept in "
                                "%3 either (%4). Only this program holds it now; it is lost when the program ends.")
                     .arg(journal, why, QDir::toNativeSeparators(spoolFolders_.join(QStringLiteral(" or "))),
                          failure));
    } else if (!folder.isEmpty() && folder != toldSpoolFolder_) {
        toldSpoolFolder_ = folder;
        AddNotice(status, QStringLiteral("The service journal %1 cannot be written (%2). The entry is kept in %3; "
                                         "the first program that opens the journal once it can be written moves "
                                         "it in.")
                              .arg(journal, why, QDir::toNativeSeparators(folder)));
    }
}

void Journal::MoveSpoolIn()
{
    journal_spool::MoveIn(spoolFolders_, path_, [this](const JournalEntry &entry) {
        QString error;
        bool damaged = false;
        return Store(entry, &error, &damaged);
    });
}

bool Journal::OpenLocal(JournalStatus &status, QString *error)
{
    if (localOpen_)
        return true;
    const QFileInfo info(path_);
    if (!QDir().mkpath(info.absolutePath())) {
        *error = QStringLiteral("the folder %1 cannot be made").arg(info.absolutePath());
        return false;
    }
    if (info.exists() && info.size() > 0 && !LooksLikeSqlite(path_) && !SetAside(status, error))
        return false;

    // A file found damaged is set aside once; the new one must open.
    for (int round = 0; round < 2; ++round) {
        const Opened opened = OpenFile(error);
        if (opened == Opened::Intact) {
            localOpen_ = true;
            if (Migrate(error)) {
                MoveSpoolIn();
                return true;
            }
        }
        Sql::CloseLocal(*this);
        if (opened != Opened::Damaged || !SetAside(status, error))
            return false;
    }
    *error = QStringLiteral("the new file is damaged too");
    return false;
}

Journal::Opened Journal::OpenFile(QString *error)
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), localConnection_);
    db.setDatabaseName(path_);
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(options_.busyTimeoutMs));
    if (!db.open()) {
        *error = db.lastError().text();
        return Opened::Failed;
    }
    // Every statement is finished at once: an open one keeps its read
    // transaction, and a connection on an old snapshot can never write.
    QSqlQuery query(db);
    const bool checked = ExecRetrying(query, QStringLiteral("PRAGMA integrity_check")) && query.next();
    const bool intact = checked && query.value(0).toString() == QLatin1String("ok");
    const bool damaged = checked ? !intact : IsDamage(query.lastError());
    *error = query.lastError().text();
    query.finish();
    if (!intact)
        return damaged ? Opened::Damaged : Opened::Failed;
    // Readers never wait for the writer, and several programs can write one
    // after the other.
    ExecRetrying(query, QStringLiteral("PRAGMA journal_mode=WAL"));
    query.finish();
    return Opened::Intact;
}

bool Journal::SetAside(JournalStatus &status, QString *error)
{
    Sql::CloseLocal(*this);
    const QString stamp = QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString target = path_ + QStringLiteral(".damaged-") + stamp;
    for (int n = 2; QFileInfo::exists(target); ++n)
        target = path_ + QStringLiteral(".damaged-") + stamp + QLatin1Char('-') + QString::number(n);
    if (!QFile::rename(path_, target)) {
        // Another program may have set it aside already.
        if (!QFileInfo::exists(path_))
            return true;
        *error = QStringLiteral("the damaged file cannot be set aside as %1").arg(target);
        return false;
    }
    // Its write-ahead log belongs to it, not to the new file.
    for (const char *suffix : {"-wal", "-shm"}) {
        if (QFileInfo::exists(path_ + QLatin1String(suffix)))
            QFile::rename(path_ + QLatin1String(suffix), target + QLatin1String(suffix));
    }
    status.setAside = target;
    AddNotice(status, QStringLiteral("The service journal %1 was damaged. It was set aside as %2 and a new "
                                     "one was started.")
                          .arg(QDir::toNativeSeparators(path_), QDir::toNativeSeparators(target)));
    return true;
}

bool Journal::Migrate(QString *error)
{
    QSqlDatabase db = Sql::Local(*this);
    auto version = [&db](bool *ok) {
        QSqlQuery query(db);
        *ok = ExecRetrying(query, QStringLiteral("SELECT name FROM sqlite_master WHERE name = 'schema_version'"));
        if (!*ok || !query.next())
            return 0;
        *ok = ExecRetrying(query, QStringLiteral("SELECT version FROM schema_version")) && query.next();
        return query.value(0).toInt();
    };
    bool ok = false;
    if (version(&ok) >= int(kMigrations.size()) && ok)
        return true;

    // Another program may migrate at the same time: take the write lock
    // first, then look again.
    QSqlQuery query(db);
    if (!ExecRetrying(query, QStringLiteral("BEGIN IMMEDIATE"))) {
        *error = query.lastError().text();
        return false;
    }
    const int from = version(&ok);
    bool done = true;
    if (from == 0)
        done = ExecRetrying(query, QStringLiteral("CREATE TABLE IF NOT EXISTS schema_version (version INTEGER NOT NULL)")) &&
               ExecRetrying(query, QStringLiteral("INSERT INTO schema_version (version) VALUES (0)"));
    for (int step = from; done && step < int(kMigrations.size()); ++step) {
        for (const QString &statement : kMigrations[size_t(step)])
            done = done && ExecRetrying(query, statement);
    }
    if (done && from < int(kMigrations.size())) {
        query.prepare(QStringLiteral("UPDATE schema_version SET version = ?"));
        query.addBindValue(int(kMigrations.size()));
        done = ExecRetrying(query);
    }
    if (done && ExecRetrying(query, QStringLiteral("COMMIT")))
        return true;
    *error = query.lastError().text();
    QSqlQuery rollback(db);
    rollback.exec(QStringLiteral("ROLLBACK"));
    return false;
}

bool Journal::Store(const JournalEntry &entry, QString *error, bool *damaged)
{
    QSqlQuery query(Sql::Local(*this));
    query.prepare(QStringLiteral(
        "INSERT INTO entries (id, started, serial, port, finished, failed, entry) VALUES (?, ?, ?, ?, ?, ?, ?) "
        "ON CONFLICT (id) DO UPDATE SET started = excluded.started, serial = excluded.serial, "
        "port = excluded.port, finished = excluded.finished, failed = excluded.failed, entry = excluded.entry, "
        "revision = entries.revision + 1 "
        // A finished entry is final: a late copy of its start cannot undo it.
        "WHERE entries.finished = 0"));
    query.addBindValue(entry.id);
    query.addBindValue(JournalTime(entry.started));
    query.addBindValue(entry.readerSerial ? QVariant(int(*entry.readerSerial)) : NullInt());
    query.addBindValue(entry.port);
    query.addBindValue(entry.finished ? 1 : 0);
    query.addBindValue(entry.Failed() ? 1 : 0);
    query.addBindValue(QString::fromUtf8(QJsonDocument(entry.ToJson()).toJson(QJsonDocument::Compact)));
    if (ExecRetrying(query))
        return true;
    *error = query.lastError().text();
    *damaged = IsDamage(query.lastError());
    return false;
}
