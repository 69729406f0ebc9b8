#pragma once
// Records the window's jobs in the service journal: a firmware update from
// "Load program" to its end, a settings read or write from its button to the
// reader's answer. A job's entry is written unfinished when it starts, so a
// tool that is killed mid-update leaves it behind as such. The journal's
// troubles are said once, in a box; they never stop a job.

#include <QString>
#include <QTimer>
#include <functional>
#include <optional>

#include "core/engine/session_values.h"
#include "core/journal/journal_entry.h"

class Journal;
class QWidget;

class JobRecorder {
public:
    // reader gives what the monitor last heard; port the name of the open
    // port, devicePath what it leads to.
    JobRecorder(Journal &journal, std::function<ReaderSnapshot()> reader, std::function<QString()> port,
                std::function<QString(const QString &)> devicePath);
    ~JobRecorder();
    JobRecorder(const JobRecorder &) = delete;
    JobRecorder &operator=(const JobRecorder &) = delete;

    Journal &Log() { return journal_; }

    void BeginUpdate(const QString &imagePath);
    // The reader restarts after an update: its versions after it are taken
    // from its next answer, or what is known after a few seconds.
    void EndUpdate(const UpdateResult &result);

    // before: what the reader held, when the window knows it.
    void BeginSettings(JournalEntry::Kind kind, const std::optional<SettingsRecord> &before,
                       const std::optional<SettingsRecord> &wanted = std::nullopt);
    void EndSettings(const SettingsResult &result);
    // The window closed before the reader answered.
    void AbandonSettings();
    bool SettingsPending() const { return settings_.has_value(); }

    // How long the versions after an update are waited for.
    static constexpr int kAfterUpdateWaitMs = 5000;

private:
    void Begin(JournalEntry &entry);
    void Finish(const JournalEntry &entry);
    void FinishUpdateNow();
    void Tell(const QString &notice);

    Journal &journal_;
    std::function<ReaderSnapshot()> reader_;
    std::function<QString()> port_;
    std::function<QString(const QString &)> devicePath_;
    std::optional<JournalEntry> update_;
    uint64_t pollsAtUpdateEnd_ = 0;
    int afterWaitedMs_ = 0;
    QTimer afterUpdate_;
    std::optional<JournalEntry> settings_;
    std::optional<SettingsRecord> settingsBefore_;
    std::optional<SettingsRecord> settingsWanted_;
};
