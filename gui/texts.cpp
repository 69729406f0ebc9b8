#include "gui/texts.h"

#include "core/session/texts.h"

namespace {

QString VersionText(const device_info::Version &version)
{
    return monitor_text::VersionPrefix() + QString::number(version.major) + QLatin1Char('.') +
           QString::number(version.minor);
}

}  // namespace

std::vector<MonitorChange> MonitorAnswerChanges(const device_info::DeviceInfo &info)
{
    using device_info::FirmwareUnknown;
    std::vector<MonitorChange> changes;
    const auto text = [&](MonitorLine line, const QString &value) {
        changes.push_back(MonitorChange{false, line, value});
    };

    text(MonitorLine::LoaderVersion, VersionText(info.loader));
    if (info.unknownBecause == FirmwareUnknown::OldLoader) {
        text(MonitorLine::Remark, monitor_text::OldLoader());
        text(MonitorLine::FirmwareVersion, monitor_text::Unknown());
        return changes;
    }
    if (info.serialNumber) {
        changes.push_back(MonitorChange{true, MonitorLine::Status, QString()});
        text(MonitorLine::SerialNumber, QString::number(*info.serialNumber));
    }
    if (info.firmware) {
        text(MonitorLine::Remark, QString());
        text(MonitorLine::FirmwareVersion, VersionText(*info.firmware));
    } else {
        text(MonitorLine::Remark, monitor_text::OldFirmware());
        text(MonitorLine::FirmwareVersion, monitor_text::Unknown());
    }
    return changes;
}

namespace update_view {

QString Caption(const UpdateProgress &progress)
{
    switch (progress.stage) {
    case UpdateStage::WaitingForBootLoader:
        // Counts down with each boot request that went unanswered.
        if (progress.unansweredAttempts > 0)
            return update_text::Waiting(kBootEntryAttempts + 1 - progress.unansweredAttempts);
        return update_text::LoadProgram();
    case UpdateStage::StartingFirmware:
    case UpdateStage::Transfer:
        return update_text::Updating();
    case UpdateStage::Queued:
    case UpdateStage::Completed:
    case UpdateStage::Failed:
        break;
    }
    return update_text::LoadProgram();
}

std::optional<QString> StatusLine(const UpdateProgress &progress)
{
    switch (progress.stage) {
    case UpdateStage::Queued: return std::nullopt;
    case UpdateStage::WaitingForBootLoader: return update_text::Connect();
    case UpdateStage::StartingFirmware: return update_text::StartFirmware();
    case UpdateStage::Transfer: return update_text::Transfer();
    case UpdateStage::Completed: return update_text::Completed();
    case UpdateStage::Failed: break;
    }
    if (!progress.imageAccepted)
        return std::nullopt;
    // A failed transfer must not read as one still running: its first error says why.
    if (!progress.errorLines.isEmpty())
        return progress.errorLines.first();
    return progress.transferBegan ? update_text::Transfer() : update_text::StartFirmware();
}

std::optional<QString> Percentage(const UpdateProgress &progress)
{
    if (!progress.imageAccepted)
        return std::nullopt;
    if (progress.stage == UpdateStage::Completed)
        return QStringLiteral("100%");
    // No 100 % mark for a section under two blocks: "0%" until success.
    const int percent = progress.stepsTotal == 0 ? 0 : progress.stepsDone * 100 / progress.stepsTotal;
    return QString::number(percent) + QLatin1Char('%');
}

}  // namespace update_view
