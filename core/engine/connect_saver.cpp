#include "core/engine/connect_saver.h"

#include <chrono>

#include "core/engine/com_port.h"
#include "core/engine/frame_codec.h"
#include "core/line/device_holders.h"
#include "core/engine/gui_call.h"
#include "core/protocol/device_info.h"
#include "core/line/named_mutex.h"

namespace {

constexpr int kAnsweredPauseMs = 100;
constexpr int kSilentPauseMs = 20;
constexpr int kClosedPauseMs = 500;
constexpr uint16_t kReplyReadBytes = 100;
// The port lock is awaited in slices so that a park or stop request is still
// honoured before the lock is taken.
constexpr int kLockSliceMs = 50;
// A reader silent this many polls in a row may have its answers taken by
// another program on the port; look for one no more often than this.
constexpr int kSilentPollsBeforeHolderLookup = 2;
constexpr auto kHolderLookupInterval = std::chrono::seconds(5);

QString VersionText(const device_info::Version &version)
{
    return monitor_text::VersionPrefix() + QString::number(version.major) + QLatin1Char('.') +
           QString::number(version.minor);
}

}  // namespace

ConnectSaver::ConnectSaver(bool createSuspended, TProtFrame &prot, TComPort1 &port,
                           platform::NamedMutex &portBusy, const std::atomic<uint8_t> &portOpen,
                           MonitorView &view, ViewCalls viewCalls)
    : prot_(prot), port_(port), portBusy_(portBusy), portOpen_(portOpen), view_(view), viewCalls_(viewCalls)
{
    if (!createSuspended)
        Resume();
}

ConnectSaver::~ConnectSaver()
{
    Terminate();
    WaitFor();
}

void ConnectSaver::Resume()
{
    if (!started_.exchange(true)) {
        thread_ = std::thread([this] { Execute(); });
        return;
    }
    {
        std::lock_guard<std::mutex> guard(lock_);
        parkRequested_ = false;
    }
    wake_.notify_all();
}

void ConnectSaver::Suspend()
{
    {
        std::lock_guard<std::mutex> guard(lock_);
        parkRequested_ = true;
    }
    wake_.notify_all();
}

void ConnectSaver::Park()
{
    Suspend();
    platform::WaitServingGui([this] { return Suspended() || Terminated(); }, -1);
}

void ConnectSaver::Terminate()
{
    {
        std::lock_guard<std::mutex> guard(lock_);
        terminated_ = true;
    }
    wake_.notify_all();
}

void ConnectSaver::RunBetweenPolls(std::function<void()> job)
{
    {
        std::lock_guard<std::mutex> guard(lock_);
        jobs_.push_back(std::move(job));
        jobQueued_ = true;
    }
    wake_.notify_all();
}

void ConnectSaver::RunQueuedJobs()
{
    std::unique_lock<std::mutex> guard(lock_);
    while (!jobs_.empty()) {
        std::function<void()> job = std::move(jobs_.front());
        jobs_.pop_front();
        guard.unlock();
        job();
        guard.lock();
    }
    jobQueued_ = false;
}

void ConnectSaver::WaitFor()
{
    if (!thread_.joinable())
        return;
    // The thread may be waiting for a window update of ours: keep serving them.
    platform::WaitServingGui([this] { return finished_.load(); }, -1);
    thread_.join();
}

void ConnectSaver::ParkIfAsked()
{
    std::unique_lock<std::mutex> guard(lock_);
    if (!parkRequested_ || terminated_)
        return;
    parked_ = true;
    wake_.wait(guard, [this] { return !parkRequested_ || terminated_; });
    parked_ = false;
}

void ConnectSaver::Pause(int ms)
{
    std::unique_lock<std::mutex> guard(lock_);
    wake_.wait_for(guard, std::chrono::milliseconds(ms), [this] { return Interrupted(); });
}

bool ConnectSaver::TakePortLock()
{
    if (!portBusy_.valid()) {
        // A lock that could not be created is never got: do not poll, and do
        // not spin either (the window has said why the port is not usable).
        Pause(kClosedPauseMs);
        return false;
    }
    while (!portBusy_.wait(kLockSliceMs)) {
        if (Interrupted())
            return false;
    }
    return true;
}

void ConnectSaver::SetLineText(MonitorLine line, const QString &text)
{
    if (viewCalls_ == ViewCalls::OnMonitorThread)
        view_.SetLineText(line, text);
    else
        platform::RunOnGuiThread([&] { view_.SetLineText(line, text); });
}

void ConnectSaver::SetSerialCaptionLit(bool lit)
{
    if (viewCalls_ == ViewCalls::OnMonitorThread)
        view_.SetSerialCaptionLit(lit);
    else
        platform::RunOnGuiThread([&] { view_.SetSerialCaptionLit(lit); });
}

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

void ConnectSaver::ShowAnswer(uint32_t &rememberedKey, bool redraw)
{
    const uint32_t key = device_info::AnswerKey(prot_.RxBuffer);
    if (key == rememberedKey && !redraw)
        return;  // repeated identical answers cause no window traffic
    rememberedKey = key;

    for (const MonitorChange &change : MonitorAnswerChanges(device_info::Decode(prot_.RxBuffer))) {
        if (change.serialCaption)
            SetSerialCaptionLit(true);
        else
            SetLineText(change.line, change.text);
    }
}

void ConnectSaver::ShowHoldersIfSilent(int silentPolls)
{
    const auto now = std::chrono::steady_clock::now();
    if (silentPolls < kSilentPollsBeforeHolderLookup ||
        (lastHolderLookup_.time_since_epoch().count() != 0 && now - lastHolderLookup_ < kHolderLookupInterval))
        return;
    lastHolderLookup_ = now;
    const std::string path = port_.Device().path();
    const QString portName = QString::fromStdString(path.substr(path.find_last_of('/') + 1));
    const QString text = platform::HolderSentence(portName, platform::OtherDeviceHolders(path));
    if (text == holderText_)
        return;
    holderText_ = text;
    SetLineText(MonitorLine::Remark, text);
}

void ConnectSaver::Execute()
{
    DisplayState state = DisplayState::Closed;
    uint32_t rememberedKey = 0;
    int silentPolls = 0;

    while (!terminated_) {
        ParkIfAsked();
        if (terminated_)
            break;
        RunQueuedJobs();

        if (portOpen_.load() != 1) {
            if (state != DisplayState::Closed)
                SetLineText(MonitorLine::Status, monitor_text::PortClosed());
            state = DisplayState::Closed;
            Pause(kClosedPauseMs);
            continue;
        }
        if (state != DisplayState::Waiting && state != DisplayState::Ready) {
            SetLineText(MonitorLine::Status, monitor_text::NoAnswer());
            state = DisplayState::Waiting;
        }
        if (!TakePortLock())
            continue;  // parks, ends or runs a job at the top of the loop, before any traffic
        // "Close" lowers the flag, then waits for the lock: a port closed while
        // this thread waited for it is not polled (nor reported as not opened).
        if (portOpen_.load() != 1) {
            portBusy_.release();
            continue;
        }

        TProtFrame::ClearBuffer(prot_.TxFrame, sizeof prot_.TxFrame);
        prot_.TxLength = 7;  // long header and one 0x00 payload byte
        prot_.SendCommand(kStatusRequest);
        TProtFrame::ClearBuffer(prot_.RxBuffer, TProtFrame::kRxClearLength);
        const uint16_t received = port_.Read(prot_.RxBuffer, kReplyReadBytes);
        ++polls_;

        int pause = kAnsweredPauseMs;
        if (received > 0) {
            // The positions are those of the unstuffed reply: a serial number
            // byte 0xDA, 0xD5 or 0xDF travels as two bytes and would shift them.
            const uint16_t length = prot_.Unescape(prot_.RxBuffer, received);
            TProtFrame::ClearBuffer(prot_.RxBuffer + length, received - length);
            if (state != DisplayState::Ready) {
                SetLineText(MonitorLine::Status, monitor_text::Ready());
                state = DisplayState::Ready;
            }
            // An answer puts the remark line back over a holder sentence.
            ShowAnswer(rememberedKey, !holderText_.isEmpty());
            holderText_.clear();
            if (pollListener_) {
                const device_info::DeviceInfo answer = device_info::Decode(prot_.RxBuffer);
                pollListener_(&answer, holderText_);
            }
            silentPolls = 0;
            lastHolderLookup_ = {};
        } else {
            rememberedKey = 0;
            SetSerialCaptionLit(false);
            SetLineText(MonitorLine::FirmwareVersion, QString());
            SetLineText(MonitorLine::LoaderVersion, QString());
            SetLineText(MonitorLine::SerialNumber, QString());
            state = DisplayState::Lost;
            pause = kSilentPauseMs;
            ++silentPolls;
        }
        portBusy_.release();
        if (received == 0) {
            ShowHoldersIfSilent(silentPolls);
            if (pollListener_)
                pollListener_(nullptr, holderText_);
        }
        Pause(pause);
    }
    finished_ = true;
}
