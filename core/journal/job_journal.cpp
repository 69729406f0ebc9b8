#include "core/journal/job_journal.h"

#include "core/journal/job_entries.h"

namespace {
// The outcome of a job its client ended before its end.
const QString kCutShort = QStringLiteral("cut short");
}  // namespace

JobJournal::~JobJournal()
{
    FinishUpdate(std::nullopt);
    AbandonSettings();
}

JournalStatus JobJournal::BeginUpdate(const QString &port, const QString &converterSerial, const QString &imagePath,
                                      const ReaderSnapshot &before)
{
    FinishUpdate(std::nullopt);  // an earlier update still waiting for the reader's versions
    JournalEntry entry = JournalEntry::Start(JournalEntry::Kind::Update, port);
    entry.SetDetails(details_);
    entry.converterSerial = converterSerial;
    job_entries::SetReaderBefore(entry, before);
    job_entries::SetImageName(entry, imagePath);
    update_ = entry;
    return journal_.Begin(entry);
}

void JobJournal::EndUpdate(const UpdateResult &result, uint64_t pollsAtEnd)
{
    if (!update_)
        return;
    job_entries::EndUpdate(*update_, result);
    pollsAtUpdateEnd_ = pollsAtEnd;
}

bool JobJournal::AnswerAfterUpdate(const ReaderSnapshot &now) const
{
    return now.state == ReaderSnapshot::State::Ready && now.polls > pollsAtUpdateEnd_;
}

JournalStatus JobJournal::FinishUpdate(const std::optional<ReaderSnapshot> &after)
{
    if (!update_)
        return {};
    JournalEntry entry = *update_;
    update_.reset();
    if (after && entry.finished && AnswerAfterUpdate(*after))
        job_entries::SetReaderAfter(entry, *after);
    if (!entry.finished)
        entry.End(false, kCutShort);
    return journal_.Finish(entry);
}

JournalStatus JobJournal::BeginSettings(JournalEntry::Kind kind, const QString &port, const QString &converterSerial,
                                        const ReaderSnapshot &reader, const std::optional<SettingsRecord> &before,
                                        const std::optional<SettingsRecord> &wanted)
{
    AbandonSettings();
    JournalEntry entry = JournalEntry::Start(kind, port);
    entry.SetDetails(details_);
    entry.converterSerial = converterSerial;
    job_entries::SetReaderBefore(entry, reader);
    settings_ = entry;
    settingsBefore_ = before;
    settingsWanted_ = wanted;
    return journal_.Begin(entry);
}

void JobJournal::SetSettingsAim(const std::optional<SettingsRecord> &before, const std::optional<SettingsRecord> &wanted)
{
    settingsBefore_ = before;
    settingsWanted_ = wanted;
}

JournalStatus JobJournal::EndSettings(const SettingsResult &result, const ReaderSnapshot &reader, const QStringList &why)
{
    if (!settings_)
        return {};
    JournalEntry entry = *settings_;
    settings_.reset();
    // The monitor rests during the exchange: what it heard last still holds.
    if (!entry.readerSerial)
        job_entries::SetReaderBefore(entry, reader);
    job_entries::EndSettings(entry, settingsBefore_, result, settingsWanted_);
    if (!result.answered)
        entry.errorLines << why;
    return journal_.Finish(entry);
}

JournalStatus JobJournal::EndSettingsUnwritten(const SettingsRecord &held, bool succeeded, const QString &outcome,
                                               const QStringList &why)
{
    if (!settings_)
        return {};
    JournalEntry entry = *settings_;
    settings_.reset();
    entry.SetSettings(held, held);
    entry.errorLines << why;
    entry.End(succeeded, outcome);
    return journal_.Finish(entry);
}

JournalStatus JobJournal::AbandonSettings()
{
    if (!settings_)
        return {};
    JournalEntry entry = *settings_;
    settings_.reset();
    entry.End(false, kCutShort);
    return journal_.Finish(entry);
}
