#include "gui/job_recorder.h"

#include <QCoreApplication>

#include "core/journal/job_entries.h"
#include "core/journal/journal.h"
#include "core/line/port_directory.h"
#include "gui/message_box.h"

namespace {
constexpr int kAfterUpdateStepMs = 100;
// The outcome of a job the window ended before its end.
const QString kCutShort = QStringLiteral("cut short");
}

JobRecorder::JobRecorder(Journal &journal, std::function<ReaderSnapshot()> reader, std::function<QString()> port,
                         std::function<QString(const QString &)> devicePath)
    : journal_(journal), reader_(std::move(reader)), port_(std::move(port)), devicePath_(std::move(devicePath))
{
    afterUpdate_.setInterval(kAfterUpdateStepMs);
    QObject::connect(&afterUpdate_, &QTimer::timeout, [this] {
        afterWaitedMs_ += kAfterUpdateStepMs;
        const ReaderSnapshot now = reader_();
        if ((now.state == ReaderSnapshot::State::Ready && now.polls > pollsAtUpdateEnd_) ||
            afterWaitedMs_ >= kAfterUpdateWaitMs)
            FinishUpdateNow();
    });
}

JobRecorder::~JobRecorder()
{
    FinishUpdateNow();
    AbandonSettings();
}

void JobRecorder::Begin(JournalEntry &entry)
{
    entry.converterSerial = platform::UsbConverterSerial(entry.port, devicePath_(entry.port));
    job_entries::SetReaderBefore(entry, reader_());
    Tell(journal_.Begin(entry).notice);
}

void JobRecorder::Finish(const JournalEntry &entry)
{
    Tell(journal_.Finish(entry).notice);
}

void JobRecorder::Tell(const QString &notice)
{
    if (notice.isEmpty())
        return;
    platform::MessageBoxRequest box;
    box.caption = QCoreApplication::translate("JobRecorder", "Warning");
    // The notice says where the entry is kept, or that nothing could keep it.
    box.text = QCoreApplication::translate("JobRecorder", "Trouble with the service journal:\n%1\n"
                                                          "The job is not affected.")
                   .arg(notice);
    box.icon = platform::BoxIcon::Warning;
    platform::ShowMessageBox(box);
}

void JobRecorder::BeginUpdate(const QString &imagePath)
{
    FinishUpdateNow();  // an earlier update still waiting for the reader's versions
    JournalEntry entry = JournalEntry::Start(JournalEntry::Kind::Update, port_());
    job_entries::SetImageName(entry, imagePath);
    Begin(entry);
    update_ = entry;
}

void JobRecorder::EndUpdate(const UpdateResult &result)
{
    if (!update_)
        return;
    job_entries::EndUpdate(*update_, result);
    pollsAtUpdateEnd_ = reader_().polls;
    afterWaitedMs_ = 0;
    afterUpdate_.start();
}

void JobRecorder::FinishUpdateNow()
{
    afterUpdate_.stop();
    if (!update_)
        return;
    JournalEntry entry = *update_;
    update_.reset();
    const ReaderSnapshot now = reader_();
    if (now.polls > pollsAtUpdateEnd_)
        job_entries::SetReaderAfter(entry, now);
    if (!entry.finished)
        entry.End(false, kCutShort);
    Finish(entry);
}

void JobRecorder::BeginSettings(JournalEntry::Kind kind, const std::optional<SettingsRecord> &before,
                                const std::optional<SettingsRecord> &wanted)
{
    AbandonSettings();
    JournalEntry entry = JournalEntry::Start(kind, port_());
    Begin(entry);
    settings_ = entry;
    settingsBefore_ = before;
    settingsWanted_ = wanted;
}

void JobRecorder::EndSettings(const SettingsResult &result)
{
    if (!settings_)
        return;
    JournalEntry entry = *settings_;
    settings_.reset();
    // The monitor rests during the exchange: what it heard last still holds.
    if (!entry.readerSerial)
        job_entries::SetReaderBefore(entry, reader_());
    job_entries::EndSettings(entry, settingsBefore_, result, settingsWanted_);
    Finish(entry);
}

void JobRecorder::AbandonSettings()
{
    if (!settings_)
        return;
    JournalEntry entry = *settings_;
    settings_.reset();
    entry.End(false, kCutShort);
    Finish(entry);
}
