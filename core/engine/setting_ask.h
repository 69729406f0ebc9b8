#pragma once
// The settings exchange thread: while the settings window is open it sends
// one 12-byte block every cycle (a read, or the write the user asked for),
// reads the reply and hands the outcome to the window on the GUI thread.
// It knows the window only through SettingsView.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

#include "core/engine/session_values.h"
#include "core/protocol/settings_record.h"

class TComPort1;
namespace platform { class NamedMutex; }

enum class SettingsButton { ToDevice, FromDevice, Close };

// What the thread changes on the settings window. Called on the GUI thread
// only; the thread waits for each call.
class SettingsView {
public:
    virtual ~SettingsView() = default;
    virtual void SetButtonEnabled(SettingsButton button, bool enabled) = 0;
    virtual bool NoticeVisible() const = 0;
    virtual void SetNoticeVisible(bool visible) = 0;
    // Puts ShownSettings into the controls and applies the field rules.
    virtual void ShowSettings() = 0;
    // The modal box of a reader that stopped answering ("Device no answer"),
    // saying why; returns once it is dismissed.
    virtual void ShowNoAnswer(SettingsFailure why) = 0;
    // The reader answered a write but its record read back afterwards differs:
    // names the fields it did not take. Returns once the user has seen it.
    virtual void ShowSettingsNotTaken(const SettingsRecord &written, const SettingsRecord &held) = 0;
    // After a read the user or a write asked for has been shown: afterWrite
    // tells a read-back of an answered write.
    virtual void SettingsArrived(const SettingsRecord &, bool /*afterWrite*/) {}
};

// The exchange state the window and the thread share. PendingCommand changes
// under the settings mutex (or on the GUI thread while the thread holds it);
// DeviceSettings and ShownSettings are touched on the GUI thread only.
class SettingsExchange {
public:
    std::atomic<uint8_t> PendingCommand{settings_protocol::kNoCommand};
    SettingsRecord DeviceSettings{};
    SettingsRecord ShownSettings{};
    // What the last answered write sent, until the read that follows it shows
    // what the reader really holds. A reader may answer a write and keep a
    // field it does not accept.
    std::optional<SettingsRecord> AwaitedReadBack;

    // The payload of every request; collected on the GUI thread, copied by the thread.
    SettingsRecord EditedSettings() const
    {
        std::lock_guard<std::mutex> guard(editedLock_);
        return edited_;
    }
    void SetEditedSettings(const SettingsRecord &record)
    {
        std::lock_guard<std::mutex> guard(editedLock_);
        edited_ = record;
    }

private:
    mutable std::mutex editedLock_;
    SettingsRecord edited_{};
};

// One settings exchange: sends the 12-byte block for command with record,
// waits out the reader's reply time and reads the reply into reply. None when
// all 12 bytes came intact, else what went wrong.
SettingsFailure ExchangeSettingsBlock(TComPort1 &port, uint8_t command, const SettingsRecord &record,
                                      SettingsBlockBytes &reply);

class SettingAsk {
public:
    static constexpr int kLockFreePauseMs = 100;
    static constexpr int kReplyPauseMs = 100;
    // Failed cycles before the reader counts as lost, and write attempts - 1.
    static constexpr uint8_t kFailLimit = 5;

    SettingAsk(bool createSuspended, SettingsExchange &exchange, SettingsView &view, TComPort1 &port,
               platform::NamedMutex &settingsBusy);
    // Stops the thread and waits for it, serving its window calls.
    ~SettingAsk();
    SettingAsk(const SettingAsk &) = delete;
    SettingAsk &operator=(const SettingAsk &) = delete;

    void Resume();
    // Asks the loop to end; the cycle in flight finishes its port use, and
    // window steps not yet run are dropped (the window is closing).
    void Terminate();
    bool Terminated() const { return terminated_.load(); }
    bool Finished() const { return finished_.load(); }
    // Waits until the run method has returned; on the GUI thread it keeps
    // serving the thread's window calls meanwhile.
    void WaitFor();

    uint8_t FailCount() const { return failCount_.load(); }
    // Blocks written so far, for tests.
    uint64_t Cycles() const { return cycles_.load(); }

private:
    void Execute();
    // Sleeps up to ms; returns false when termination was asked for.
    bool PauseUnlessTerminated(int ms);
    bool TakeSettingsLock();
    SettingsFailure ExchangeBlock();
    void Evaluate(SettingsFailure failure);
    // Runs step on the GUI thread and waits for it, unless Close came first.
    void OnGui(const std::function<void()> &step);

    void DeviceAnswered();
    void SettingsRead(const SettingsRecord &record);
    void SettingsWritten();
    void DeviceLost(SettingsFailure why);

    SettingsExchange &exchange_;
    SettingsView &view_;
    TComPort1 &port_;
    platform::NamedMutex &settingsBusy_;

    std::atomic<uint8_t> failCount_{0};
    // The most telling failure since the last good reply; the thread's own.
    SettingsFailure failure_ = SettingsFailure::None;
    SettingsBlockBytes Reply{};

    std::mutex lock_;
    std::condition_variable wake_;
    std::atomic<bool> started_{false};
    std::atomic<bool> terminated_{false};
    std::atomic<bool> finished_{false};
    std::atomic<uint64_t> cycles_{0};
    std::thread thread_;
};
