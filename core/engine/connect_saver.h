#pragma once
// The connection monitor: while the port is open it polls the reader with the
// device information request about every 100 ms and shows whether it answers,
// its boot loader and firmware versions and its serial number.

#include <QCoreApplication>
#include <QString>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

class TComPort1;
class TProtFrame;
namespace platform { class NamedMutex; }
namespace device_info { struct DeviceInfo; }

// The monitor's lines on the main window.
enum class MonitorLine { Status, FirmwareVersion, LoaderVersion, Remark, SerialNumber };

class MonitorView {
public:
    virtual ~MonitorView() = default;
    virtual void SetLineText(MonitorLine line, const QString &text) = 0;
    // The serial number's caption: lit once a serial number is shown, dimmed otherwise.
    virtual void SetSerialCaptionLit(bool lit) = 0;
};

namespace monitor_text {
// Shown in the language of the user; what the reader sends is shown as sent.
inline QString PortClosed() { return QCoreApplication::translate("ConnectSaver", "COM-port is closed"); }
inline QString NoAnswer() { return QCoreApplication::translate("ConnectSaver", "Device no answer"); }
inline QString Ready() { return QCoreApplication::translate("ConnectSaver", "Device is ready"); }
inline QString VersionPrefix() { return QCoreApplication::translate("ConnectSaver", "vesion  "); }
inline QString Unknown() { return QCoreApplication::translate("ConnectSaver", "unknown"); }
inline QString OldLoader()
{
    return QCoreApplication::translate("ConnectSaver",
                                       "With a bootloader version lower than 8.2, accurate information about the "
                                       "device firmware version is not available");
}
inline QString OldFirmware()
{
    return QCoreApplication::translate("ConnectSaver",
                                       "Firmware versions prior to 5.3 do not contain the necessary information");
}
}  // namespace monitor_text

// What a new answer changes, in the order the window is told. reply is the
// unstuffed reply, at least 13 bytes readable.
struct MonitorChange {
    bool serialCaption = false;  // the serial number's caption is lit; line and text unused
    MonitorLine line = MonitorLine::Status;
    QString text;
};
std::vector<MonitorChange> MonitorAnswerChanges(const device_info::DeviceInfo &info);

class ConnectSaver {
public:
    enum class DisplayState : uint8_t { Closed = 0, Waiting = 1, Ready = 2, Lost = 3 };
    static constexpr uint8_t kStatusRequest = 0x3D;

    // Where the view is called: on the GUI thread, the monitor waiting until the
    // window has changed; or on the monitor's own thread, for a view that hands
    // the calls on to the window itself (QueuedMonitorView).
    enum class ViewCalls : uint8_t { OnGuiThread, OnMonitorThread };

    ConnectSaver(bool createSuspended, TProtFrame &prot, TComPort1 &port, platform::NamedMutex &portBusy,
                 const std::atomic<uint8_t> &portOpen, MonitorView &view,
                 ViewCalls viewCalls = ViewCalls::OnGuiThread);
    // Stops the thread (request, wake, join) before the objects it uses go away.
    ~ConnectSaver();
    ConnectSaver(const ConnectSaver &) = delete;
    ConnectSaver &operator=(const ConnectSaver &) = delete;

    // Starts a thread created suspended, or lets a parked one go on.
    void Resume();
    // Asks the thread to park at the top of its next cycle, before it takes the
    // port lock; returns at once. Suspended() tells when it has parked.
    void Suspend();
    // Suspend, then wait until the thread has parked (or ended), serving its
    // window calls meanwhile.
    void Park();
    bool Suspended() const { return parked_.load(); }
    void Terminate();
    bool Terminated() const { return terminated_.load(); }
    // Waits until Execute has returned; on the GUI thread it keeps serving the
    // monitor's window calls meanwhile.
    void WaitFor();

    // Queues work for this thread: it runs at the top of a cycle, between two
    // polls and never during one, in the order queued. A parked thread runs it
    // once it goes on.
    void RunBetweenPolls(std::function<void()> job);
    std::thread::id ThreadId() const { return thread_.get_id(); }

    // Hears every poll on the monitor's thread: the decoded answer, or null when
    // the reader was silent, and the other holders of the port named so far.
    using PollListener = std::function<void(const device_info::DeviceInfo *answer, const QString &holders)>;
    // Before the thread starts.
    void SetPollListener(PollListener listener) { pollListener_ = std::move(listener); }

    // Completed poll exchanges (request sent), for tests and the benchmark.
    uint64_t PollCount() const { return polls_.load(); }

private:
    void Execute();
    void ParkIfAsked();
    void RunQueuedJobs();
    bool Interrupted() const { return parkRequested_ || terminated_ || jobQueued_; }
    // Sleeps up to ms; returns early when a park or termination is requested.
    void Pause(int ms);
    bool TakePortLock();
    void SetLineText(MonitorLine line, const QString &text);
    void SetSerialCaptionLit(bool lit);
    void ShowAnswer(uint32_t &rememberedKey, bool redraw);
    // After a few silent polls, names the other programs that hold the port
    // (they may be taking the reader's answers) in the remark line.
    void ShowHoldersIfSilent(int silentPolls);

    TProtFrame &prot_;
    TComPort1 &port_;
    platform::NamedMutex &portBusy_;
    const std::atomic<uint8_t> &portOpen_;
    MonitorView &view_;
    const ViewCalls viewCalls_;

    std::mutex lock_;
    std::condition_variable wake_;
    std::atomic<bool> started_{false};
    std::atomic<bool> parkRequested_{false};
    std::atomic<bool> parked_{false};
    std::atomic<bool> terminated_{false};
    std::atomic<bool> finished_{false};
    std::atomic<bool> jobQueued_{false};
    std::deque<std::function<void()>> jobs_;  // guarded by lock_
    std::atomic<uint64_t> polls_{0};
    // The holder look-up walks /proc: at most once per interval, monitor thread only.
    std::chrono::steady_clock::time_point lastHolderLookup_{};
    QString holderText_;
    PollListener pollListener_;
    std::thread thread_;
};
