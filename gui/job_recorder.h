#pragma once
// The window's jobs in the service journal, through the recorder every client
// shares: the reader after an update is awaited on a timer, and the journal's
// troubles are said once, in a box; they never stop a job.

#include <QString>
#include <QTimer>
#include <functional>
#include <optional>

#include "core/journal/job_journal.h"

class JobRecorder {
public:
    // reader gives what the monitor last heard on the open port; port the
    // name of that port, devicePath what a port name leads to.
    JobRecorder(Journal &journal, std::function<ReaderSnapshot()> reader, std::function<QString()> port,
                std::function<QString(const QString &)> devicePath);
    ~JobRecorder();
    JobRecorder(const JobRecorder &) = delete;
    JobRecorder &operator=(const JobRecorder &) = delete;

    Journal &Log() { return jobs_.Log(); }
    // The technician, site, customer and note of the jobs begun from now on.
    void SetDetails(const JobDetails &details) { jobs_.SetDetails(details); }
    const JobDetails &Details() const { return jobs_.Details(); }

    void BeginUpdate(const QString &imagePath);
    void EndUpdate(const UpdateResult &result);

    // before: what the reader held, when the window knows it.
    void BeginSettings(JournalEntry::Kind kind, const std::optional<SettingsRecord> &before,
                       const std::optional<SettingsRecord> &wanted = std::nullopt);
    void EndSettings(const SettingsResult &result);
    // The window closed before the reader answered.
    void AbandonSettings();
    bool SettingsPending() const { return jobs_.SettingsOpen(); }

private:
    QString ConverterSerial() const;
    void FinishUpdate();
    void Tell(const JournalStatus &status);

    JobJournal jobs_;
    std::function<ReaderSnapshot()> reader_;
    std::function<QString()> port_;
    std::function<QString(const QString &)> devicePath_;
    int afterWaitedMs_ = 0;
    QTimer afterUpdate_;
};
