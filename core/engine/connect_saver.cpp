#include "core/engine/connect_saver.h"

#include <chrono>

#include "core/engine/com_port.h"
#include "core/engine/frame_codec.h"
#include "core/line/device_holders.h"
#include "core/engine/gui_call.h"
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

QString LoaderVersion(uint8_t loader)
{
    return monitor_text::VersionPrefix + QString::number(loader >> 4) + QLatin1Char('.') +
           QString::number(loader & 0x0F);
}

}  // namespace

ConnectSaver::ConnectSaver(bool createSuspended, TProtFrame &prot, TComPort1 &port,
                           platform::NamedMutex &portBusy, const std::atomic<uint8_t> &portOpen,
                           MonitorView &view)
    : prot_(prot), port_(port), portBusy_(portBusy), portOpen_(portOpen), view_(view)
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

void ConnectSaver::Terminate()
{
    {
        std::lock_guard<std::mutex> guard(lock_);
        terminated_ = true;
    }
    wake_.notify_all();
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
    wake_.wait_for(guard, std::chrono::milliseconds(ms),
                   [this] { return parkRequested_.load() || terminated_.load(); });
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
        if (parkRequested_ || terminated_)
            return false;
    }
    return true;
}

void ConnectSaver::SetControlText(MonitorField field, const QString &text)
{
    platform::RunOnGuiThread([&] { view_.SetControlText(field, text); });
}

void ConnectSaver::SetSerialLabelWindowText(bool windowText)
{
    platform::RunOnGuiThread([&] { view_.SetSerialLabelWindowText(windowText); });
}

uint32_t MonitorAnswerKey(const uint8_t *reply)
{
    return reply[7] | (reply[8] << 8) | (reply[9] << 16) | (uint32_t(reply[10]) << 24);
}

std::vector<MonitorChange> MonitorAnswerChanges(const uint8_t *reply)
{
    std::vector<MonitorChange> changes;
    const auto text = [&](MonitorField field, const QString &value) {
        changes.push_back(MonitorChange{false, field, value, false});
    };

    const uint8_t loader = reply[10];
    text(MonitorField::Memo3, LoaderVersion(loader));
    if (loader <= 0x81) {
        text(MonitorField::Memo4, monitor_text::OldLoader);
        text(MonitorField::Memo2, monitor_text::Unknown);
        return changes;
    }
    if (loader >= 0x83) {
        changes.push_back(MonitorChange{true, MonitorField::StaticText3, QString(), true});
        text(MonitorField::Memo5, QString::number(reply[11] | (reply[12] << 8)));
    }
    const uint8_t major = reply[8];
    if (major != 0) {
        text(MonitorField::Memo4, QString());
        text(MonitorField::Memo2, monitor_text::VersionPrefix + QString::number(major) + QLatin1Char('.') +
                                      QString::number(reply[9]));
    } else {
        text(MonitorField::Memo4, monitor_text::OldFirmware);
        text(MonitorField::Memo2, monitor_text::Unknown);
    }
    return changes;
}

void ConnectSaver::ShowAnswer(uint32_t &rememberedKey, bool redraw)
{
    const uint32_t key = MonitorAnswerKey(prot_.RxBuffer);
    if (key == rememberedKey && !redraw)
        return;  // repeated identical answers cause no window traffic
    rememberedKey = key;

    for (const MonitorChange &change : MonitorAnswerChanges(prot_.RxBuffer)) {
        if (change.serialLabel)
            SetSerialLabelWindowText(change.windowText);
        else
            SetControlText(change.field, change.text);
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
    SetControlText(MonitorField::Memo4, text);
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

        if (portOpen_.load() != 1) {
            if (state != DisplayState::Closed)
                SetControlText(MonitorField::StaticText3, monitor_text::PortClosed);
            state = DisplayState::Closed;
            Pause(kClosedPauseMs);
            continue;
        }
        if (state != DisplayState::Waiting && state != DisplayState::Ready) {
            SetControlText(MonitorField::StaticText3, monitor_text::NoAnswer);
            state = DisplayState::Waiting;
        }
        if (!TakePortLock())
            continue;  // parks (or ends) at the top of the loop, before any traffic
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
                SetControlText(MonitorField::StaticText3, monitor_text::Ready);
                state = DisplayState::Ready;
            }
            // An answer puts the remark line back over a holder sentence.
            ShowAnswer(rememberedKey, !holderText_.isEmpty());
            holderText_.clear();
            silentPolls = 0;
            lastHolderLookup_ = {};
        } else {
            rememberedKey = 0;
            SetSerialLabelWindowText(false);
            SetControlText(MonitorField::Memo2, QString());
            SetControlText(MonitorField::Memo3, QString());
            SetControlText(MonitorField::Memo5, QString());
            state = DisplayState::Lost;
            pause = kSilentPauseMs;
            ++silentPolls;
        }
        portBusy_.release();
        if (received == 0)
            ShowHoldersIfSilent(silentPolls);
        Pause(pause);
    }
    finished_ = true;
}
