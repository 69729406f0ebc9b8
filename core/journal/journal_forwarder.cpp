#include "core/journal/journal_forwarder.h"

#include <QJsonDocument>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <vector>

#include "core/journal/journal_sql.h"

using namespace journal_sql;

namespace {

// A server that failed is left alone this long, unless asked at once.
constexpr std::chrono::seconds kForwarderRetryAfter{60};

// The server's first line says what went wrong; the rest quotes the statement.
QString FirstLine(const QString &error)
{
    return error.trimmed().section(QLatin1Char('\n'), 0, 0).trimmed();
}

}  // namespace

struct OutboxForwarder::Shared {
    QString path;
    QString server;
    int busyTimeoutMs = 0;
    QString localConnection;
    QString serverConnection;

    mutable std::mutex lock;  // what follows
    std::condition_variable changed;
    bool wanted = false;  // a round is due once the server may be tried
    bool now = false;     // try it at once
    bool stop = false;
    bool ended = false;
    uint64_t asked = 0;   // rounds asked for by SendNow
    uint64_t served = 0;  // of those, the last one that ran
    std::optional<std::chrono::steady_clock::time_point> failedAt;
    QString trouble;

    // Set once Close has given up waiting: the thread must not touch the
    // program's state any more, which may be ending.
    std::atomic<bool> abandoned{false};

    // After every call that may wait for the server or the file.
    void Checkpoint() const
    {
        while (abandoned.load())
            std::this_thread::sleep_for(std::chrono::hours(24));
    }

    bool Due() const
    {
        return now || !failedAt || std::chrono::steady_clock::now() - *failedAt >= kForwarderRetryAfter;
    }

    bool OpenLocal(QString *error) const
    {
        if (QSqlDatabase::database(localConnection, false).isOpen())
            return true;
        QSqlDatabase db = QSqlDatabase::contains(localConnection)
                              ? QSqlDatabase::database(localConnection, false)
                              : QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), localConnection);
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(busyTimeoutMs));
        if (db.open())
            return true;
        *error = db.lastError().text();
        return false;
    }

    // Every unsent revision, oldest entry first, then each marked as sent;
    // false with the reason at the first the server does not take.
    bool SendRound(QString *error) const
    {
        if (!OpenLocal(error))
            return false;
        if (!QSqlDatabase::database(serverConnection, false).isOpen()) {
            const bool opened = OpenServerConnection(serverConnection, server, error);
            Checkpoint();
            if (!opened)
                return false;
        }
        QSqlDatabase local = QSqlDatabase::database(localConnection, false);
        struct Unsent {
            QString id;
            int revision;
            std::optional<JournalEntry> entry;
        };
        std::vector<Unsent> unsent;
        {
            QSqlQuery outbox(local);
            outbox.setForwardOnly(true);
            const bool read = ExecRetrying(outbox, QStringLiteral("SELECT id, revision, entry FROM entries "
                                                                  "WHERE sent_revision < revision ORDER BY seq"));
            Checkpoint();
            if (!read) {
                *error = outbox.lastError().text();
                return false;
            }
            while (outbox.next()) {
                const QJsonDocument json = QJsonDocument::fromJson(outbox.value(2).toString().toUtf8());
                unsent.push_back({outbox.value(0).toString(), outbox.value(1).toInt(),
                                  JournalEntry::FromJson(json.object())});
            }
        }
        QSqlQuery upsert(QSqlDatabase::database(serverConnection, false));
        QSqlQuery mark(local);
        for (const Unsent &row : unsent) {
            if (row.entry) {
                const bool taken = UpsertOnServer(upsert, *row.entry);
                Checkpoint();
                if (!taken) {
                    *error = upsert.lastError().text();
                    return false;
                }
            }
            // Only the revision sent: a change made meanwhile goes next time.
            mark.prepare(QStringLiteral("UPDATE entries SET sent_revision = ? WHERE id = ? AND sent_revision < ?"));
            mark.addBindValue(row.revision);
            mark.addBindValue(row.id);
            mark.addBindValue(row.revision);
            const bool marked = ExecRetrying(mark);
            Checkpoint();
            if (!marked) {
                *error = mark.lastError().text();
                return false;
            }
        }
        return true;
    }

    void Run()
    {
        for (;;) {
            uint64_t serving = 0;
            {
                std::unique_lock<std::mutex> hold(lock);
                while (!(wanted && Due())) {
                    if (stop)
                        break;
                    if (wanted)
                        changed.wait_until(hold, *failedAt + kForwarderRetryAfter);
                    else
                        changed.wait(hold);
                }
                if (!(wanted && Due()))
                    break;  // stopped, nothing due
                wanted = false;
                now = false;
                serving = asked;
            }
            QString error;
            const bool sent = SendRound(&error);
            if (!sent)
                RemoveConnection(serverConnection);
            {
                const std::lock_guard<std::mutex> hold(lock);
                served = serving;
                if (sent) {
                    failedAt.reset();
                    trouble.clear();
                } else {
                    failedAt = std::chrono::steady_clock::now();
                    trouble = FirstLine(error);
                    wanted = true;  // again when the server may be tried
                }
            }
            changed.notify_all();
        }
        RemoveConnection(serverConnection);
        RemoveConnection(localConnection);
        {
            const std::lock_guard<std::mutex> hold(lock);
            ended = true;
        }
        changed.notify_all();
    }
};

OutboxForwarder::OutboxForwarder(const QString &path, const QString &server, int busyTimeoutMs)
    : shared_(std::make_shared<Shared>())
{
    const QString instance = QUuid::createUuid().toString(QUuid::WithoutBraces);
    shared_->path = path;
    shared_->server = server;
    shared_->busyTimeoutMs = busyTimeoutMs;
    shared_->localConnection = QStringLiteral("talvor-outbox-") + instance;
    shared_->serverConnection = QStringLiteral("talvor-outbox-server-") + instance;
    // The thread holds the shared state, so that it outlives this object
    // when the thread is left behind.
    thread_ = std::thread([shared = shared_] { shared->Run(); });
}

OutboxForwarder::~OutboxForwarder()
{
    if (thread_.joinable())
        Close(std::chrono::milliseconds(0));
}

void OutboxForwarder::Wake()
{
    {
        const std::lock_guard<std::mutex> hold(shared_->lock);
        shared_->wanted = true;
    }
    shared_->changed.notify_all();
}

void OutboxForwarder::SendNow()
{
    std::unique_lock<std::mutex> hold(shared_->lock);
    shared_->wanted = true;
    shared_->now = true;
    const uint64_t ask = ++shared_->asked;
    shared_->changed.notify_all();
    shared_->changed.wait(hold, [this, ask] { return shared_->served >= ask || shared_->ended; });
}

bool OutboxForwarder::Close(std::chrono::milliseconds wait)
{
    std::unique_lock<std::mutex> hold(shared_->lock);
    shared_->stop = true;
    shared_->changed.notify_all();
    const bool ended = shared_->changed.wait_for(hold, wait, [this] { return shared_->ended; });
    hold.unlock();
    if (ended) {
        thread_.join();
    } else {
        shared_->abandoned = true;
        thread_.detach();
    }
    return ended;
}

QString OutboxForwarder::Trouble() const
{
    const std::lock_guard<std::mutex> hold(shared_->lock);
    return shared_->trouble;
}
