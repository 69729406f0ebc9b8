#pragma once
// Where an entry waits when the journal file cannot take it (a read-only or
// full disk, a folder that cannot be made): one small file per entry in a
// folder of the user's own, outside the journal's folder, which the next
// program that opens the journal moves into it. Inside the journal only.

#include <QString>
#include <QStringList>
#include <functional>

#include "core/journal/journal_entry.h"

namespace journal_spool {

// $XDG_STATE_HOME/talvor/spool (~/.local/state/...): kept across restarts;
// then $XDG_RUNTIME_DIR/talvor/spool: a memory file system, which takes
// entries when the disk is full.
QStringList DefaultFolders();

struct Kept {
    QString file;     // where the entry is; empty: no folder took it
    QString failure;  // why the last folder did not, when none did
};
// Writes the entry for the journal at journalPath into the first folder that
// takes it (made only for its owner), replacing what was kept of it before.
Kept Keep(const QStringList &folders, const QString &journalPath, const JournalEntry &entry);

// Stores each entry kept for the journal at journalPath, then removes its
// file; stops at the first that store refuses, leaving it and the rest.
// Several programs may move the same folder at once: each file is claimed by
// renaming it first, so only one of them stores it.
void MoveIn(const QStringList &folders, const QString &journalPath,
            const std::function<bool(const JournalEntry &)> &store);

}  // namespace journal_spool
