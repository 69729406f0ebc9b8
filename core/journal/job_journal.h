#pragma once
// Records a client's jobs in the service journal, the same way for the
// window and the command line: a firmware update from its start until the
// reader's versions after it, a settings read or write from its request to
// the reader's answer. A job's entry is written unfinished when it starts, so
// a program killed mid-update leaves it behind as such. The journal's
// troubles come back as statuses for the client to tell; they never stop a job.

#include <QString>
#include <optional>

#include "core/journal/journal.h"
#include "core/session/values.h"

class JobJournal {
public:
    // The reader restarts after an update: its versions after it are those of
    // its next answer, or none when none came within this time.
    static constexpr int kAfterUpdateWaitMs = 5000;

    explicit JobJournal(Journal &journal) : journal_(journal) {}
    // Entries still open are written with what is known.
    ~JobJournal();
    JobJournal(const JobJournal &) = delete;
    JobJournal &operator=(const JobJournal &) = delete;

    Journal &Log() { return journal_; }
    // The technician, site, customer and note of the jobs begun from now on.
    void SetDetails(const JobDetails &details) { details_ = details; }
    const JobDetails &Details() const { return details_; }

    // converterSerial: the USB converter's serial number, when it has one.
    JournalStatus BeginUpdate(const QString &port, const QString &converterSerial, const QString &imagePath,
                              const ReaderSnapshot &before);
    // The update has ended; the entry waits for the reader's answer after it.
    // pollsAtEnd: the session's poll count when it ended.
    void EndUpdate(const UpdateResult &result, uint64_t pollsAtEnd);
    bool UpdateOpen() const { return update_.has_value(); }
    // True when now is an answer the reader gave after the update ended.
    bool AnswerAfterUpdate(const ReaderSnapshot &now) const;
    // Writes the update's entry with the reader's answer after it, when one
    // came; an update that never ended is written as cut short.
    JournalStatus FinishUpdate(const std::optional<ReaderSnapshot> &after);

    // before: what the reader held, when the client knows it; wanted: what a write sends.
    JournalStatus BeginSettings(JournalEntry::Kind kind, const QString &port, const QString &converterSerial,
                                const ReaderSnapshot &reader, const std::optional<SettingsRecord> &before,
                                const std::optional<SettingsRecord> &wanted = std::nullopt);
    // What the reader held and what is to be written, once known after the job began.
    void SetSettingsAim(const std::optional<SettingsRecord> &before, const std::optional<SettingsRecord> &wanted);
    // reader: the monitor's snapshot, for an entry begun before the reader was
    // known; why: the client's words for a job the reader did not answer.
    JournalStatus EndSettings(const SettingsResult &result, const ReaderSnapshot &reader, const QStringList &why = {});
    // A write that sent nothing: the reader holds what it held; outcome and why say so.
    JournalStatus EndSettingsUnwritten(const SettingsRecord &held, bool succeeded, const QString &outcome,
                                       const QStringList &why = {});
    // The client went before the reader answered.
    JournalStatus AbandonSettings();
    bool SettingsOpen() const { return settings_.has_value(); }

private:
    Journal &journal_;
    JobDetails details_;
    std::optional<JournalEntry> update_;
    uint64_t pollsAtUpdateEnd_ = 0;
    std::optional<JournalEntry> settings_;
    std::optional<SettingsRecord> settingsBefore_;
    std::optional<SettingsRecord> settingsWanted_;
};
