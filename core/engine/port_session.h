#pragma once
// A reader session that owns its port: opened by name, with the port's two
// locks, its own worker that polls the reader and runs jobs (a firmware update,
// a settings read or write) one at a time between polls. Nothing here needs a
// window or an event loop, and one process may hold one session per port.
// What the session learns is reported as values: the latest reader snapshot
// and the update's progress, to an observer called on the session's worker.

#include <QString>
#include <QStringList>
#include <atomic>
#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "core/line/serial_device.h"
#include "core/protocol/device_info.h"
#include "core/protocol/image_check.h"
#include "core/protocol/settings_record.h"

// What the monitor last knew of the reader.
struct ReaderSnapshot {
    enum class State { Waiting, Ready, NoAnswer };
    State state = State::Waiting;
    // Set while the reader answers; kept from the last answer otherwise.
    std::optional<device_info::DeviceInfo> info;
    uint64_t polls = 0;
    uint64_t answers = 0;
    // Other programs that hold the port, as the monitor names them after
    // silent polls; empty while the reader answers.
    QString holders;
};

enum class UpdateStage {
    Queued,
    WaitingForBootLoader,  // boot entry requests, attemptsLeft counts down
    Transfer,              // blocks as the boot loader asks for them
    Completed,
    Failed,
};

struct UpdateProgress {
    UpdateStage stage = UpdateStage::Queued;
    int attemptsLeft = 0;
    int blocksDone = 0;  // as the window's bar counts them: at most blocksTotal
    int blocksTotal = 0;
};

enum class UpdateOutcome {
    Completed,
    ImageRefused,      // the image rules refused the file; nothing was sent
    ImageUnreadable,   // the file could not be opened; nothing was sent
    NoBootLoader,      // no boot loader answered the boot entry requests
    ReaderError,       // the boot loader stopped with an error of its own
    NoAnswer,          // the boot loader fell silent during the transfer
    Stopped,           // stopped by request during the countdown
    Interrupted,       // stopped by request during the transfer: left in the boot loader
};

struct UpdateResult {
    UpdateOutcome outcome = UpdateOutcome::NoAnswer;
    QStringList errorLines;   // the reader's and the engine's error texts, as the window lists them
    QString refusalReason;    // ImageRefused / ImageUnreadable: why, in plain words
    int bootAttempts = 0;     // boot entry requests sent
    int blocksSent = 0;       // data blocks the boot loader took
    int blocksTotal = 0;
    bool LeftInBootLoader() const
    {
        return outcome == UpdateOutcome::Interrupted || outcome == UpdateOutcome::ReaderError ||
               outcome == UpdateOutcome::NoAnswer;
    }
};

struct SettingsResult {
    bool answered = false;
    SettingsRecord record{};  // what the reader holds, read after any write
};

class SessionObserver {
public:
    virtual ~SessionObserver() = default;
    // On the session's worker; keep it short and thread-safe.
    virtual void ReaderChanged(const ReaderSnapshot &) {}
    virtual void UpdateChanged(const UpdateProgress &) {}
};

class PortSession {
public:
    struct Options {
        // The per-port lock names are made from this prefix, as the window's are.
        std::string lockPrefix = "COMpBusy";
        SessionObserver *observer = nullptr;  // outlives the session
        // Without polls the session only runs jobs (a script that updates).
        bool monitor = true;
    };

    struct OpenResult {
        std::unique_ptr<PortSession> session;
        platform::OpenFailure failure;  // when session is empty
        QString lockFailure;            // when a lock could not be created
    };

    // Opens devicePath exclusively at the reader's line settings and starts the
    // worker. portName names the locks ("ttyUSB0").
    static OpenResult Open(const QString &portName, const QString &devicePath, const Options &options);
    // Ends a running job at its next safe step, stops the worker, closes the port.
    ~PortSession();
    PortSession(const PortSession &) = delete;
    PortSession &operator=(const PortSession &) = delete;

    const QString &PortName() const { return portName_; }
    ReaderSnapshot Reader() const;
    // Waits up to timeoutMs for the monitor to hear the reader answer (or to
    // give up on it after at least one silent poll).
    ReaderSnapshot WaitForReader(int timeoutMs) const;

    // Jobs, run one at a time between polls; the futures become ready when the
    // job has ended and the port is back with the monitor.
    std::future<UpdateResult> Update(const QString &imagePath);
    std::future<SettingsResult> ReadSettings();
    // Writes record, then reads back what the reader holds.
    std::future<SettingsResult> WriteSettings(const SettingsRecord &record);

    // Ends the update at its next safe step: during the countdown after the
    // boot entry request in flight, during the transfer after the block in flight.
    void RequestStop();

private:
    struct Parts;
    PortSession(QString portName, const Options &options);
    UpdateResult RunUpdate(const QString &imagePath);
    SettingsResult RunSettings(uint8_t command, const SettingsRecord &record);

    QString portName_;
    Options options_;
    std::unique_ptr<Parts> parts_;
};
