#include "core/journal/job_entries.h"

#include <QFileInfo>

namespace job_entries {

QString VersionText(const std::optional<device_info::Version> &version)
{
    return version ? QStringLiteral("%1.%2").arg(version->major).arg(version->minor) : QString();
}

namespace {

void ReaderVersions(const std::optional<device_info::DeviceInfo> &info, QString &loader, QString &firmware)
{
    if (!info)
        return;
    loader = VersionText(info->loader);
    firmware = VersionText(info->firmware);
}

void TakeSerial(JournalEntry &entry, const std::optional<device_info::DeviceInfo> &info)
{
    if (!entry.readerSerial && info && info->serialNumber)
        entry.readerSerial = *info->serialNumber;
}

}  // namespace

void SetReaderBefore(JournalEntry &entry, const ReaderSnapshot &reader)
{
    const auto &info = reader.info ? reader.info : reader.lastAnswer;
    ReaderVersions(info, entry.loaderBefore, entry.firmwareBefore);
    TakeSerial(entry, info);
}

void SetReaderAfter(JournalEntry &entry, const ReaderSnapshot &reader)
{
    ReaderVersions(reader.info, entry.loaderAfter, entry.firmwareAfter);
    TakeSerial(entry, reader.info);
}

void SetImageName(JournalEntry &entry, const QString &path)
{
    entry.imageName = QFileInfo(path).fileName();
}

QString OutcomeId(UpdateOutcome outcome)
{
    switch (outcome) {
    case UpdateOutcome::Completed: return QStringLiteral("completed");
    case UpdateOutcome::ImageRefused: return QStringLiteral("image refused");
    case UpdateOutcome::ImageUnreadable: return QStringLiteral("image unreadable");
    case UpdateOutcome::NoBootLoader: return QStringLiteral("no boot loader");
    case UpdateOutcome::ReaderError: return QStringLiteral("reader error");
    case UpdateOutcome::NoAnswer: return QStringLiteral("no answer");
    case UpdateOutcome::Stopped: return QStringLiteral("stopped");
    case UpdateOutcome::Interrupted: return QStringLiteral("interrupted");
    case UpdateOutcome::PortVanished: return QStringLiteral("port vanished");
    case UpdateOutcome::ConnectionDropped: return QStringLiteral("connection dropped");
    }
    return QStringLiteral("unknown");
}

QString SettingsOutcomeId(SettingsFailure failure)
{
    switch (failure) {
    case SettingsFailure::ShortReply: return QStringLiteral("short reply");
    case SettingsFailure::BadChecksum: return QStringLiteral("bad checksum");
    case SettingsFailure::PortVanished: return QStringLiteral("port vanished");
    case SettingsFailure::ConnectionDropped: return QStringLiteral("connection dropped");
    case SettingsFailure::None:
    case SettingsFailure::NoAnswer: break;
    }
    return QStringLiteral("no answer");
}

bool RefusedByTool(const JournalEntry &entry)
{
    if (!entry.finished || entry.succeeded)
        return false;
    if (entry.kind == JournalEntry::Kind::Update)
        return entry.outcome == OutcomeId(UpdateOutcome::ImageRefused) ||
               entry.outcome == OutcomeId(UpdateOutcome::ImageUnreadable);
    // A settings write whose values the field rules refused: nothing was sent.
    return entry.outcome == QLatin1String("refused");
}

void EndUpdate(JournalEntry &entry, const UpdateResult &result)
{
    entry.blocksSent = result.blocksSent;
    entry.blocksTotal = result.blocksTotal;
    entry.bootAttempts = result.bootAttempts;
    // The bytes that were checked and sent, not the file as it is now.
    if (result.imageSize > 0)
        entry.imageSize = result.imageSize;
    entry.imageSha256 = result.imageSha256;
    entry.imageDescription = result.imageDescription;
    entry.errorLines = result.errorLines;
    if (!result.refusalReason.isEmpty())
        entry.errorLines << result.refusalReason;
    entry.End(result.outcome == UpdateOutcome::Completed, OutcomeId(result.outcome));
}

void EndSettings(JournalEntry &entry, const std::optional<SettingsRecord> &before, const SettingsResult &result,
                 const std::optional<SettingsRecord> &wanted)
{
    if (result.answered)
        entry.SetSettings(before.value_or(result.record), result.record);
    else if (before)
        entry.SetSettings(*before, *before);
    if (!result.answered) {
        entry.End(false, SettingsOutcomeId(result.failure));
        return;
    }
    if (wanted && *wanted != result.record) {
        for (const QString &id : ChangedFieldIds(*wanted, result.record))
            entry.errorLines << QStringLiteral("not taken: ") + id;
        entry.End(false, QStringLiteral("not taken"));
        return;
    }
    entry.End(true, wanted ? QStringLiteral("written") : QStringLiteral("read"));
}

}  // namespace job_entries
