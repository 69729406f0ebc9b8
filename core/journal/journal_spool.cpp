#include "core/journal/journal_spool.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QUuid>
#include <optional>

namespace journal_spool {

namespace {

// <entry id>.json; a file being moved in is <entry id>.moving-<uuid>.json.
const QString kSpoolSuffix = QStringLiteral(".json");

// The journal a kept entry belongs to, the same however the path was given.
QString JournalKey(const QString &journalPath)
{
    return QDir::cleanPath(QFileInfo(journalPath).absoluteFilePath());
}

bool MakeOwnFolder(const QString &folder, QString *failure)
{
    if (QFileInfo(folder).isDir())
        return true;
    const bool made = QDir().mkpath(QFileInfo(folder).absolutePath()) &&
                      QDir().mkdir(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    // Another program may have made it meanwhile.
    if (made || QFileInfo(folder).isDir())
        return true;
    *failure = QStringLiteral("the folder %1 cannot be made").arg(QDir::toNativeSeparators(folder));
    return false;
}

// The entry in a spool file, when it is one kept for this journal.
std::optional<JournalEntry> ReadKept(const QString &file, const QString &journalKey)
{
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QJsonObject kept = QJsonDocument::fromJson(in.readAll()).object();
    if (kept.value(QStringLiteral("journal")).toString() != journalKey)
        return std::nullopt;
    return JournalEntry::FromJson(kept.value(QStringLiteral("entry")).toObject());
}

}  // namespace

QStringList DefaultFolders()
{
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (!QDir::isAbsolutePath(state))
        state = QDir::homePath() + QStringLiteral("/.local/state");
    QStringList folders{state + QStringLiteral("/talvor/spool")};
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (QDir::isAbsolutePath(runtime))
        folders << runtime + QStringLiteral("/talvor/spool");
    return folders;
}

Kept Keep(const QStringList &folders, const QString &journalPath, const JournalEntry &entry)
{
    Kept kept;
    kept.failure = QStringLiteral("no folder is named for it");
    if (entry.id.isEmpty() || entry.id.contains(QLatin1Char('/')) || entry.id.contains(QLatin1Char('.'))) {
        kept.failure = QStringLiteral("\"%1\" is not an entry id").arg(entry.id);
        return kept;
    }
    const QByteArray bytes = QJsonDocument(QJsonObject{{QStringLiteral("journal"), JournalKey(journalPath)},
                                                       {QStringLiteral("entry"), entry.ToJson()}})
                                 .toJson(QJsonDocument::Compact);
    for (const QString &folder : folders) {
        if (!MakeOwnFolder(folder, &kept.failure))
            continue;
        // Written under a temporary name, synced, then renamed over the
        // entry's older copy: a file is whole or not there.
        QSaveFile file(folder + QLatin1Char('/') + entry.id + kSpoolSuffix);
        if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit()) {
            kept.file = file.fileName();
            kept.failure.clear();
            return kept;
        }
        kept.failure = QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(file.fileName()), file.errorString());
    }
    return kept;
}

void MoveIn(const QStringList &folders, const QString &journalPath,
            const std::function<bool(const JournalEntry &)> &store)
{
    const QString journalKey = JournalKey(journalPath);
    for (const QString &folder : folders) {
        const QDir dir(folder);
        // The oldest first: they go into the journal in the order they came.
        const QFileInfoList files =
            dir.entryInfoList({QLatin1Char('*') + kSpoolSuffix}, QDir::Files, QDir::Time | QDir::Reversed);
        for (const QFileInfo &info : files) {
            if (!ReadKept(info.filePath(), journalKey))
                continue;  // another journal's
            // A claim left by a program that ended mid-move is claimed again.
            const QString id = info.fileName().section(QLatin1Char('.'), 0, 0);
            const QString claimed = dir.filePath(id + QStringLiteral(".moving-") +
                                                 QUuid::createUuid().toString(QUuid::WithoutBraces) + kSpoolSuffix);
            if (!QFile::rename(info.filePath(), claimed))
                continue;  // another program has taken it
            // Read again: the entry's program may have replaced it meanwhile.
            const std::optional<JournalEntry> entry = ReadKept(claimed, journalKey);
            if (!entry)
                continue;
            if (!store(*entry))
                return;
            QFile::remove(claimed);
        }
    }
}

}  // namespace journal_spool
