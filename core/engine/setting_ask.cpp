#include "core/engine/setting_ask.h"

#include <algorithm>
#include <chrono>

#include "core/engine/com_port.h"
#include "core/engine/gui_call.h"
#include "core/line/named_mutex.h"

namespace {

// The settings mutex is awaited in slices so that Close still ends the thread
// when another process holds it.
constexpr int kLockSliceMs = 50;

}  // namespace

SettingAsk::SettingAsk(bool createSuspended, SettingsExchange &exchange, SettingsView &view,
                       TComPort1 &port, platform::NamedMutex &settingsBusy)
    : exchange_(exchange), view_(view), port_(port), settingsBusy_(settingsBusy)
{
    if (!createSuspended)
        Resume();
}

SettingAsk::~SettingAsk()
{
    Terminate();
    WaitFor();
}

void SettingAsk::Resume()
{
    if (!started_.exchange(true))
        thread_ = std::thread([this] { Execute(); });
}

void SettingAsk::Terminate()
{
    {
        std::lock_guard<std::mutex> guard(lock_);
        terminated_ = true;
    }
    wake_.notify_all();
}

void SettingAsk::WaitFor()
{
    if (!thread_.joinable())
        return;
    platform::WaitServingGui([this] { return finished_.load(); }, -1);
    thread_.join();
}

bool SettingAsk::PauseUnlessTerminated(int ms)
{
    std::unique_lock<std::mutex> guard(lock_);
    return !wake_.wait_for(guard, std::chrono::milliseconds(ms), [this] { return terminated_.load(); });
}

bool SettingAsk::TakeSettingsLock()
{
    if (!settingsBusy_.valid()) {
        // Never to be had: no exchange, and no spinning until Close.
        std::unique_lock<std::mutex> guard(lock_);
        wake_.wait(guard, [this] { return terminated_.load(); });
        return false;
    }
    while (!settingsBusy_.wait(kLockSliceMs)) {
        if (terminated_)
            return false;
    }
    return true;
}

void SettingAsk::Execute()
{
    while (!terminated_) {
        // The window's buttons change PendingCommand only in this gap.
        settingsBusy_.release();
        if (!PauseUnlessTerminated(kLockFreePauseMs) || !TakeSettingsLock())
            break;
        Evaluate(ExchangeBlock());
    }
    settingsBusy_.release();
    finished_ = true;
}

SettingsFailure ExchangeSettingsBlock(TComPort1 &port, uint8_t command, const SettingsRecord &record,
                                      SettingsBlockBytes &reply)
{
    const SettingsBlockBytes request = BuildSettingsBlock(command, record);
    port.Write(request.data(), uint16_t(request.size()));
    // Not cut short by a close: the reply must be taken off the line before
    // the monitor gets the port back.
    std::this_thread::sleep_for(std::chrono::milliseconds(SettingAsk::kReplyPauseMs));
    const uint16_t length = port.Read(reply.data(), uint16_t(reply.size()));
    // A short reply would be judged with bytes left from the previous one.
    if (SettingsBlockIntact(reply.data(), length))
        return SettingsFailure::None;
    if (length == reply.size())
        return SettingsFailure::BadChecksum;
    if (length > 0)
        return SettingsFailure::ShortReply;
    // The line layer closes a line that hung up and could not be opened again.
    return port.Device().isOpen() ? SettingsFailure::NoAnswer : SettingsFailure::PortVanished;
}

SettingsFailure SettingAsk::ExchangeBlock()
{
    using namespace settings_protocol;
    const uint8_t pending = exchange_.PendingCommand;
    ++cycles_;
    return ExchangeSettingsBlock(port_, pending == kNoCommand ? kReadCommand : pending, exchange_.EditedSettings(),
                                 Reply);
}

void SettingAsk::Evaluate(SettingsFailure failure)
{
    using namespace settings_protocol;
    const uint8_t pending = exchange_.PendingCommand;
    if (failure == SettingsFailure::None) {
        failCount_ = 0;
        failure_ = SettingsFailure::None;
        if (pending == kNoCommand) {
            OnGui([this] {
                if (view_.NoticeVisible())
                    DeviceAnswered();
            });
        } else if (pending == kReadCommand) {
            const SettingsRecord record = RecordOfBlock(Reply.data());
            OnGui([this, record] { SettingsRead(record); });
        } else if (pending == kWriteCommand) {
            OnGui([this] { SettingsWritten(); });
        }
        return;
    }

    failure_ = std::max(failure_, failure);
    if (pending == kWriteCommand) {
        if (++failCount_ > kFailLimit) {
            // Six attempts in all: fall back to reading what the reader holds.
            failCount_ = 0;
            exchange_.PendingCommand = kReadCommand;
            OnGui([this] { view_.SetButtonEnabled(SettingsButton::Close, true); });
        }
        return;
    }

    if (failCount_ == kFailLimit) {
        // The box waits for the user, who may press a button of this window or
        // of another copy: none of them may wait for this lock meanwhile.
        settingsBusy_.release();
        OnGui([this, why = failure_] {
            if (!view_.NoticeVisible())
                DeviceLost(why);
        });
    }
    if (++failCount_ > kFailLimit) {
        failCount_ = kFailLimit + 1;
        OnGui([this] { view_.SetNoticeVisible(true); });
    }
}

void SettingAsk::OnGui(const std::function<void()> &step)
{
    if (terminated_)
        return;
    // Checked again on the GUI thread: Close may have run while this waited.
    platform::RunOnGuiThread([this, &step] {
        if (!terminated_)
            step();
    });
}

void SettingAsk::DeviceAnswered()
{
    view_.SetNoticeVisible(false);
    view_.SetButtonEnabled(SettingsButton::Close, true);
    view_.SetButtonEnabled(SettingsButton::FromDevice, true);
    view_.SetButtonEnabled(SettingsButton::ToDevice, true);
}

void SettingAsk::SettingsRead(const SettingsRecord &record)
{
    exchange_.PendingCommand = settings_protocol::kNoCommand;
    DeviceAnswered();
    exchange_.ShownSettings = record;
    exchange_.DeviceSettings = record;
    view_.ShowSettings();
    view_.SetNoticeVisible(false);
    const std::optional<SettingsRecord> written = exchange_.AwaitedReadBack;
    exchange_.AwaitedReadBack.reset();
    if (written && *written != record)
        view_.ShowSettingsNotTaken(*written, record);
    view_.SettingsArrived(record, written.has_value());
}

void SettingAsk::SettingsWritten()
{
    // The reply to a write does not say what the reader stored: read it back.
    exchange_.PendingCommand = settings_protocol::kReadCommand;
    exchange_.DeviceSettings = exchange_.EditedSettings();
    exchange_.AwaitedReadBack = exchange_.DeviceSettings;
    view_.SetButtonEnabled(SettingsButton::ToDevice, true);
    view_.SetButtonEnabled(SettingsButton::Close, true);
}

void SettingAsk::DeviceLost(SettingsFailure why)
{
    view_.SetButtonEnabled(SettingsButton::FromDevice, false);
    view_.SetButtonEnabled(SettingsButton::ToDevice, false);
    view_.ShowNoAnswer(why);
}
