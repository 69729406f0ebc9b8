#pragma once
// Journal entries from what a reader session reports: the reader before and
// after a job, the image, the update's result, the settings records. The
// window and the command line record their jobs through these alike.

#include <QString>

#include "core/session/values.h"
#include "core/journal/journal_entry.h"

namespace job_entries {

// "8.3"; empty when unknown.
QString VersionText(const std::optional<device_info::Version> &version);
// Before a job: the reader as last heard, even if a poll has just gone unanswered.
void SetReaderBefore(JournalEntry &entry, const ReaderSnapshot &reader);
// After a job: only an answer the reader gives now.
void SetReaderAfter(JournalEntry &entry, const ReaderSnapshot &reader);
// The image's file name; its size and SHA-256 come with the update's result.
void SetImageName(JournalEntry &entry, const QString &path);
// The job's word for each outcome, as the journal and scripts show it.
QString OutcomeId(UpdateOutcome outcome);
// A settings job the reader did not answer: "no answer", "short reply",
// "bad checksum", "port vanished" or "connection dropped".
QString SettingsOutcomeId(SettingsFailure failure);
// The tool refused the job before the reader was asked ("image refused",
// "image unreadable", a settings write "refused"): the entry's error lines
// are the tool's reasons, not the reader's.
bool RefusedByTool(const JournalEntry &entry);
// Ends the entry with the update's result, the image's size and hash included.
void EndUpdate(JournalEntry &entry, const UpdateResult &result);
// Ends a settings read or write: before is what the reader held (when known),
// wanted what was written; a write succeeds when the reader holds it after.
void EndSettings(JournalEntry &entry, const std::optional<SettingsRecord> &before, const SettingsResult &result,
                 const std::optional<SettingsRecord> &wanted = std::nullopt);

}  // namespace job_entries
