#include "core/engine/port_session.h"

#include <algorithm>
#include <atomic>
#include <thread>

#include "core/engine/com_port.h"
#include "core/engine/connect_saver.h"
#include "core/engine/port_handover.h"
#include "core/engine/reader_watch.h"
#include "core/engine/setting_ask.h"
#include "core/engine/update_procedure.h"
#include "core/line/named_mutex.h"

namespace {

// The settings lock is held by a settings window of another copy only
// between two of its exchanges.
constexpr int kSettingsLockWaitMs = 1000;

// The monitor's texts are for a window; a session reports values instead.
class UnseenMonitorLines : public MonitorView {
public:
    void SetLineText(MonitorLine, const QString &) override {}
    void SetSerialCaptionLit(bool) override {}
};

}  // namespace

struct PortSession::Parts {
    TComPort1 port;
    TProt prot{port};
    platform::NamedMutex portBusy;
    platform::NamedMutex settingsBusy;
    // The frame layer sends only while the port is open, which is the
    // session's whole life; the monitor polls only when asked to.
    std::atomic<bool> portOpen{true};
    std::atomic<bool> polling{false};
    std::atomic<bool> stopRequested{false};
    UnseenMonitorLines monitorLines;

    ReaderWatch watch;

    // Last: its thread uses everything above and ends first.
    std::unique_ptr<ConnectSaver> monitor;
};

PortSession::PortSession(QString portName, const Options &options)
    : portName_(std::move(portName)), options_(options), parts_(std::make_unique<Parts>())
{
}

PortSession::OpenResult PortSession::Open(const QString &portName, const QString &devicePath,
                                          const Options &options)
{
    OpenResult result;
    std::unique_ptr<PortSession> session(new PortSession(portName, options));
    Parts &parts = *session->parts_;

    if (parts.port.Open(devicePath.toStdString()) == NullHandle) {
        result.failure = parts.port.Device().openFailure();
        if (result.failure.systemText.empty())
            result.failure.systemText = parts.port.Device().errorText();
        return result;
    }
    // The locks live on in shared memory after their last user, and nobody can
    // tell whether another copy has just opened one: they are made only for a
    // port that opened, so a mistyped name or a missing device leaves none.
    const std::string port = portName.toStdString();
    if (!parts.portBusy.open(platform::PortLockName(options.lockPrefix, port))) {
        result.lockFailure = QString::fromStdString(parts.portBusy.failureText());
        return result;
    }
    if (!parts.settingsBusy.open(platform::PortLockName(options.lockPrefix + "1", port))) {
        result.lockFailure = QString::fromStdString(parts.settingsBusy.failureText());
        return result;
    }

    parts.prot.SetPortOpenFlag(&parts.portOpen);
    SessionObserver *observer = options.observer;
    parts.prot.SetProgressListener([observer](const UpdateProgress &progress) {
        if (observer != nullptr)
            observer->UpdateChanged(progress);
    });
    parts.polling = options.monitor;
    parts.monitor = std::make_unique<ConnectSaver>(true, parts.prot, parts.port, parts.portBusy, parts.polling,
                                                   parts.monitorLines, ConnectSaver::ViewCalls::OnMonitorThread);
    parts.monitor->SetPollListener([&parts, observer](const device_info::DeviceInfo *answer, const QString &holders) {
        ReaderSnapshot now;
        if (parts.watch.Polled(answer, holders, now) && observer != nullptr)
            observer->ReaderChanged(now);
    });
    parts.monitor->Resume();
    result.session = std::move(session);
    return result;
}

PortSession::~PortSession()
{
    RequestStop();
    if (parts_->monitor) {
        parts_->monitor->Terminate();
        parts_->monitor->WaitFor();
        parts_->monitor.reset();
    }
    parts_->port.Close();
}

ReaderSnapshot PortSession::Reader() const
{
    return parts_->watch.Snapshot();
}

ReaderSnapshot PortSession::WaitForReader(int timeoutMs, uint64_t afterPolls) const
{
    return parts_->watch.WaitForAnswer(timeoutMs, afterPolls);
}

void PortSession::RequestStop()
{
    parts_->stopRequested = true;
    parts_->prot.StopRequested = true;
    parts_->prot.AbortRequested = true;
}

std::future<UpdateResult> PortSession::Update(const QString &imagePath)
{
    auto promise = std::make_shared<std::promise<UpdateResult>>();
    std::future<UpdateResult> result = promise->get_future();
    parts_->monitor->RunBetweenPolls([this, imagePath, promise] { promise->set_value(RunUpdate(imagePath)); });
    return result;
}

std::future<SettingsResult> PortSession::ReadSettings()
{
    auto promise = std::make_shared<std::promise<SettingsResult>>();
    std::future<SettingsResult> result = promise->get_future();
    parts_->monitor->RunBetweenPolls([this, promise] {
        promise->set_value(RunSettings(settings_protocol::kReadCommand, SettingsRecord{}));
    });
    return result;
}

std::future<SettingsResult> PortSession::WriteSettings(const SettingsRecord &record)
{
    auto promise = std::make_shared<std::promise<SettingsResult>>();
    std::future<SettingsResult> result = promise->get_future();
    parts_->monitor->RunBetweenPolls([this, record, promise] {
        promise->set_value(RunSettings(settings_protocol::kWriteCommand, record));
    });
    return result;
}

UpdateResult PortSession::RunUpdate(const QString &imagePath)
{
    Parts &parts = *parts_;
    if (parts.stopRequested) {
        UpdateResult stopped;
        stopped.outcome = UpdateOutcome::Stopped;
        return stopped;
    }
    PortHandover::RunWithPortTaken(parts.port, parts.portBusy, [&] { parts.prot.StartUpdate(imagePath); });
    return parts.prot.LastResult();
}

SettingsResult PortSession::RunSettings(uint8_t command, const SettingsRecord &record)
{
    Parts &parts = *parts_;
    SettingsResult result;
    // As the settings window tries: six blocks at most for each step, with the
    // window's pause between them; a port that went away ends it at once.
    const auto exchange = [&](uint8_t blockCommand, SettingsBlockBytes &reply) {
        for (int attempt = 0; attempt <= SettingAsk::kFailLimit && !parts.stopRequested; ++attempt) {
            if (attempt > 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(SettingAsk::kLockFreePauseMs));
            const SettingsFailure failure = ExchangeSettingsBlock(parts.port, blockCommand, record, reply);
            if (failure == SettingsFailure::None)
                return true;
            result.failure = std::max(result.failure, failure);
            if (failure == SettingsFailure::PortVanished)
                break;
        }
        return false;
    };
    PortHandover::RunWithPortTaken(parts.port, parts.portBusy, [&] {
        const bool gotLock = parts.settingsBusy.valid() && parts.settingsBusy.wait(kSettingsLockWaitMs);
        SettingsBlockBytes reply{};
        const bool written = command != settings_protocol::kWriteCommand ||
                             exchange(settings_protocol::kWriteCommand, reply);
        // The reply to a write does not say what the reader stored: read it back.
        if (written && exchange(settings_protocol::kReadCommand, reply)) {
            result.answered = true;
            result.failure = SettingsFailure::None;
            result.record = RecordOfBlock(reply.data());
        } else if (result.failure == SettingsFailure::None) {
            result.failure = SettingsFailure::NoAnswer;  // stopped before any exchange
        }
        if (gotLock)
            parts.settingsBusy.release();
    });
    return result;
}
