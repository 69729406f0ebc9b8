#include "gui/job_recorder.h"

#include <QCoreApplication>

#include "core/line/port_directory.h"
#include "gui/message_box.h"

namespace {
constexpr int kAfterUpdateStepMs = 100;
}

JobRecorder::JobRecorder(Journal &journal, std::function<ReaderSnapshot()> reader, std::function<QString()> port,
                         std::function<QString(const QString &)> devicePath)
    : jobs_(journal), reader_(std::move(reader)), port_(std::move(port)), devicePath_(std::move(devicePath))
{
    afterUpdate_.setInterval(kAfterUpdateStepMs);
    QObject::connect(&afterUpdate_, &QTimer::timeout, [this] {
        afterWaitedMs_ += kAfterUpdateStepMs;
        if (jobs_.AnswerAfterUpdate(reader_()) || afterWaitedMs_ >= JobJournal::kAfterUpdateWaitMs)
            FinishUpdate();
    });
}

JobRecorder::~JobRecorder()
{
    FinishUpdate();
    AbandonSettings();
}

QString JobRecorder::ConverterSerial() const
{
    const QString port = port_();
    return platform::UsbConverterSerial(port, devicePath_(port));
}

void JobRecorder::Tell(const JournalStatus &status)
{
    if (status.notice.isEmpty())
        return;
    platform::MessageBoxRequest box;
    box.caption = QCoreApplication::translate("JobRecorder", "Warning");
    // The notice says where the entry is kept, or that nothing could keep it.
    box.text = QCoreApplication::translate("JobRecorder", "Trouble with the service journal:\n%1\n"
                                                          "The job is not affected.")
                   .arg(status.notice);
    box.icon = platform::BoxIcon::Warning;
    platform::ShowMessageBox(box);
}

void JobRecorder::BeginUpdate(const QString &imagePath)
{
    afterUpdate_.stop();
    Tell(jobs_.BeginUpdate(port_(), ConverterSerial(), imagePath, reader_()));
}

void JobRecorder::EndUpdate(const UpdateResult &result)
{
    if (!jobs_.UpdateOpen())
        return;
    jobs_.EndUpdate(result, reader_().polls);
    afterWaitedMs_ = 0;
    afterUpdate_.start();
}

void JobRecorder::FinishUpdate()
{
    afterUpdate_.stop();
    if (jobs_.UpdateOpen())
        Tell(jobs_.FinishUpdate(reader_()));
}

void JobRecorder::BeginSettings(JournalEntry::Kind kind, const std::optional<SettingsRecord> &before,
                                const std::optional<SettingsRecord> &wanted)
{
    Tell(jobs_.BeginSettings(kind, port_(), ConverterSerial(), reader_(), before, wanted));
}

void JobRecorder::EndSettings(const SettingsResult &result)
{
    Tell(jobs_.EndSettings(result, reader_()));
}

void JobRecorder::AbandonSettings()
{
    Tell(jobs_.AbandonSettings());
}
