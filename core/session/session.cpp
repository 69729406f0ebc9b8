#include "core/session/session.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "core/line/named_mutex.h"
#include "core/line/serial_port.h"
#include "core/session/firmware_update.h"
#include "core/session/frame_link.h"
#include "core/session/image_copy.h"
#include "core/session/monitor.h"
#include "core/session/reader_watch.h"
#include "core/session/settings_job.h"

namespace {

// A job waits this long for the port lock of another copy, then goes on without it.
constexpr int kJobPortLockWaitMs = 200;
// The settings lock is held by a settings window of another copy only
// between two of its exchanges.
constexpr int kSettingsLockWaitMs = 1000;
// Locks are awaited in slices, so that a job, a stop or a settings window
// is still honoured before the lock is taken.
constexpr int kLockSliceMs = 50;

}  // namespace

struct Session::Parts {
    SerialPort port;
    FrameLink link{port};
    Monitor monitor{link, port};
    platform::NamedMutex portBusy;
    platform::NamedMutex settingsBusy;
    ReaderWatch watch;
    SettingsLoop settingsLoop;
    UpdateStop updateStop;
    SessionObserver *observer = nullptr;
    bool polling = true;

    std::mutex lock;  // jobs, and the waits on the flags below
    std::condition_variable wake;
    std::deque<std::function<void()>> jobs;
    std::atomic<bool> jobQueued{false};
    std::atomic<bool> ending{false};
    std::atomic<bool> settingsOpen{false};
    bool settingsCycle = false;  // under lock: a settings cycle is on the port
    bool settingsFresh = false;  // under lock: the first cycle of a showing is still to come

    // Last: its thread uses everything above and ends first.
    std::thread worker;

    bool Interrupted() const { return ending || jobQueued; }
    void Work();
    void Poll();
    void SettingsCycle();
    void Queue(std::function<void()> job);
    // Waits for a lock in slices while keepWaiting holds; true when got.
    template <typename KeepWaiting>
    bool TakeLock(platform::NamedMutex &lock, KeepWaiting keepWaiting);
    // Runs job with the port to itself: purged first, the port lock of
    // another copy awaited a short while, the queues purged after.
    void WithPortTaken(const std::function<void()> &job);
};

template <typename KeepWaiting>
bool Session::Parts::TakeLock(platform::NamedMutex &mutex, KeepWaiting keepWaiting)
{
    while (!mutex.wait(kLockSliceMs)) {
        if (!keepWaiting())
            return false;
    }
    return true;
}

void Session::Parts::Queue(std::function<void()> job)
{
    {
        std::lock_guard<std::mutex> guard(lock);
        jobs.push_back(std::move(job));
        jobQueued = true;
    }
    wake.notify_all();
}

void Session::Parts::WithPortTaken(const std::function<void()> &job)
{
    port.PurgeRetrying();
    const bool gotLock = portBusy.wait(kJobPortLockWaitMs);
    job();
    port.PurgeInput();
    port.PurgeOutput();
    if (gotLock)
        portBusy.release();
}

void Session::Parts::Work()
{
    std::unique_lock<std::mutex> guard(lock);
    while (!ending) {
        if (!jobs.empty()) {
            std::function<void()> job = std::move(jobs.front());
            jobs.pop_front();
            guard.unlock();
            job();
            guard.lock();
            jobQueued = !jobs.empty();
            continue;
        }
        if (settingsOpen) {
            guard.unlock();
            SettingsCycle();
            guard.lock();
            continue;
        }
        if (!polling) {
            wake.wait(guard, [this] { return ending || jobQueued || settingsOpen; });
            continue;
        }
        guard.unlock();
        Poll();
        guard.lock();
    }
}

void Session::Parts::Poll()
{
    if (!TakeLock(portBusy, [this] { return !Interrupted() && !settingsOpen; }))
        return;  // a job, a settings window or the end comes first
    const std::optional<Monitor::Answer> answer = monitor.Poll();
    portBusy.release();
    const QString holders = monitor.Holders(answer.has_value());
    ReaderSnapshot now;
    if (watch.Polled(answer ? &answer->info : nullptr, answer ? answer->key : 0, holders, now) &&
        observer != nullptr)
        observer->ReaderChanged(now);
    const int pauseMs = answer ? Monitor::kAnsweredPauseMs : Monitor::kSilentPauseMs;
    std::unique_lock<std::mutex> guard(lock);
    wake.wait_for(guard, std::chrono::milliseconds(pauseMs),
                  [this] { return Interrupted() || settingsOpen; });
}

void Session::Parts::SettingsCycle()
{
    const auto stillOpen = [this] { return !ending && settingsOpen; };
    {
        std::unique_lock<std::mutex> guard(lock);
        if (settingsFresh) {
            settingsFresh = false;
            guard.unlock();
            // Whatever the last poll left on the line is not a settings reply.
            port.PurgeRetrying();
            guard.lock();
        }
        if (wake.wait_for(guard, std::chrono::milliseconds(settings_job::kCyclePauseMs),
                          [&] { return !stillOpen() || jobQueued; }))
            return;
        settingsCycle = true;
    }
    std::optional<SettingsEvent> event;
    if (TakeLock(settingsBusy, stillOpen)) {
        if (TakeLock(portBusy, stillOpen)) {
            event = settingsLoop.Exchange(port);
            portBusy.release();
        }
        settingsBusy.release();
    }
    {
        std::lock_guard<std::mutex> guard(lock);
        settingsCycle = false;
    }
    wake.notify_all();
    if (event && observer != nullptr)
        observer->SettingsChanged(*event);
}

Session::Session(QString portName, QString devicePath, const Options &options)
    : portName_(std::move(portName)), devicePath_(std::move(devicePath)), parts_(std::make_unique<Parts>())
{
    parts_->observer = options.observer;
    parts_->polling = options.monitor;
}

Session::OpenResult Session::Open(const QString &portName, const QString &devicePath, const Options &options)
{
    OpenResult result;
    std::unique_ptr<Session> session(new Session(portName, devicePath, options));
    Parts &parts = *session->parts_;

    if (!parts.port.Open(devicePath.toStdString(), platform::kReaderLine, options.patience)) {
        result.failure = parts.port.Device().openFailure();
        if (result.failure.systemText.empty())
            result.failure.systemText = parts.port.Device().errorText();
        return result;
    }
    // The locks live on in shared memory after their last user, and nobody can
    // tell whether another copy has just opened one: they are made only for a
    // port that opened, so a mistyped name or a missing device leaves none.
    const std::string port = portName.toStdString();
    for (auto [lock, prefix] : {std::pair{&parts.portBusy, options.lockPrefix},
                                std::pair{&parts.settingsBusy, options.lockPrefix + "1"}}) {
        if (!lock->open(platform::PortLockName(prefix, port))) {
            result.lockFailure = QString::fromStdString(lock->failureText());
            parts.port.Close();
            return result;
        }
    }
    parts.worker = std::thread([&parts] { parts.Work(); });
    result.session = std::move(session);
    return result;
}

Session::~Session()
{
    Parts &parts = *parts_;
    RequestStop(StopScope::Everything);
    {
        std::lock_guard<std::mutex> guard(parts.lock);
        parts.ending = true;
    }
    parts.wake.notify_all();
    if (parts.worker.joinable())
        parts.worker.join();
    parts.port.Close();
}

ReaderSnapshot Session::Reader() const
{
    return parts_->watch.Snapshot();
}

ReaderSnapshot Session::WaitForReader(int timeoutMs, uint64_t afterPolls) const
{
    return parts_->watch.WaitForAnswer(timeoutMs, afterPolls);
}

void Session::RequestStop(StopScope scope)
{
    parts_->updateStop.countdown = true;
    if (scope == StopScope::Everything)
        parts_->updateStop.everything = true;
}

std::future<UpdateResult> Session::Update(const QString &imagePath)
{
    auto promise = std::make_shared<std::promise<UpdateResult>>();
    std::future<UpdateResult> future = promise->get_future();
    Parts &parts = *parts_;
    parts.Queue([&parts, imagePath, promise] {
        UpdateResult result;
        if (parts.updateStop.everything) {
            result.outcome = UpdateOutcome::Stopped;
        } else {
            // A "Stop" before the update began does not end its countdown.
            parts.updateStop.countdown = false;
            // Read once, whole: a file changed on disk during the transfer
            // cannot reach the reader mixed.
            const image_copy::ImageCopy image = image_copy::Load(imagePath);
            const auto sink = [&parts](const UpdateProgress &progress) {
                if (parts.observer != nullptr)
                    parts.observer->UpdateChanged(progress);
            };
            parts.WithPortTaken(
                [&] { result = firmware_update::Run(parts.link, parts.port, image, parts.updateStop, sink); });
        }
        if (parts.observer != nullptr)
            parts.observer->UpdateEnded(result);
        promise->set_value(result);
    });
    return future;
}

std::future<SettingsResult> Session::ReadSettings()
{
    return WriteOrRead(settings_protocol::kReadCommand, SettingsRecord{});
}

std::future<SettingsResult> Session::WriteSettings(const SettingsRecord &record)
{
    return WriteOrRead(settings_protocol::kWriteCommand, record);
}

std::future<SettingsResult> Session::WriteOrRead(uint8_t command, const SettingsRecord &record)
{
    auto promise = std::make_shared<std::promise<SettingsResult>>();
    std::future<SettingsResult> future = promise->get_future();
    Parts &parts = *parts_;
    parts.Queue([&parts, command, record, promise] {
        SettingsResult result;
        parts.WithPortTaken([&] {
            const bool gotLock = parts.settingsBusy.wait(kSettingsLockWaitMs);
            result = settings_job::Run(parts.port, command, record, parts.updateStop.everything);
            if (gotLock)
                parts.settingsBusy.release();
        });
        promise->set_value(result);
    });
    return future;
}

void Session::OpenSettings()
{
    Parts &parts = *parts_;
    parts.settingsLoop.Start();
    {
        std::lock_guard<std::mutex> guard(parts.lock);
        parts.settingsFresh = true;
        parts.settingsOpen = true;
    }
    parts.wake.notify_all();
}

void Session::AskSettingsRead()
{
    parts_->settingsLoop.AskRead();
}

void Session::AskSettingsWrite(const SettingsRecord &record)
{
    parts_->settingsLoop.AskWrite(record);
}

void Session::CloseSettings()
{
    Parts &parts = *parts_;
    std::unique_lock<std::mutex> guard(parts.lock);
    parts.settingsOpen = false;
    parts.wake.notify_all();
    parts.wake.wait(guard, [&parts] { return !parts.settingsCycle; });
}
