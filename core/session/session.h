#pragma once
// A reader session: the one way to a reader. Opened by name, it owns its port
// and the port's two locks, and its own worker that polls the reader and runs
// jobs (a firmware update, a settings read or write) one at a time between
// polls, or exchanges settings blocks while a settings window is open.
// Nothing here needs a window or an event loop; one process may hold one
// session per port. What the session learns is reported as values, to an
// observer called on the worker; clients send intents.

#include <QString>
#include <future>
#include <memory>
#include <string>

#include "core/line/serial_device.h"
#include "core/session/values.h"

class SessionObserver {
public:
    virtual ~SessionObserver() = default;
    // All on the session's worker; keep them short and thread-safe.
    virtual void ReaderChanged(const ReaderSnapshot &) {}
    virtual void UpdateChanged(const UpdateProgress &) {}
    // After the job, the port purged and back with the monitor; before its future is ready.
    virtual void UpdateEnded(const UpdateResult &) {}
    virtual void SettingsChanged(const SettingsEvent &) {}
};

// How far a stop reaches.
enum class StopScope {
    Countdown,  // "Stop": ends the boot loader countdown only
    Everything, // the client goes: a running job ends at its next safe step, later ones at once
};

class Session {
public:
    struct Options {
        // The per-port lock names are made from this prefix: "COMpBusy-ttyUSB0".
        std::string lockPrefix = "COMpBusy";
        SessionObserver *observer = nullptr;  // outlives the session
        // Without polls the session only runs jobs (a script that updates).
        bool monitor = true;
        // A network port's read time-outs times this factor; 0: its default.
        double patience = 0;
    };

    struct OpenResult {
        std::unique_ptr<Session> session;
        platform::OpenFailure failure;  // when session is empty
        QString lockFailure;            // when a lock could not be created
    };

    // Opens devicePath exclusively at the reader's line settings and starts the
    // worker. portName names the locks ("ttyUSB0").
    static OpenResult Open(const QString &portName, const QString &devicePath, const Options &options);
    // Ends a running job at its next safe step, stops the worker, closes the port.
    ~Session();
    Session(const Session &) = delete;
    Session &operator=(const Session &) = delete;

    const QString &PortName() const { return portName_; }
    const QString &DevicePath() const { return devicePath_; }
    ReaderSnapshot Reader() const;
    // Waits up to timeoutMs for the reader to answer a poll, one that ends
    // after afterPolls polls when given (Reader().polls taken before a job: an
    // answer from after it); the snapshot then, not Ready when none came in time.
    ReaderSnapshot WaitForReader(int timeoutMs, uint64_t afterPolls = 0) const;

    // Jobs, run one at a time between polls; the futures become ready when the
    // job has ended and the port is back with the monitor. A job still queued
    // when the session goes never runs (its future reports a broken promise).
    // The image file is read once, whole, when the job starts.
    std::future<UpdateResult> Update(const QString &imagePath);
    std::future<SettingsResult> ReadSettings();
    // Writes record, then reads back what the reader holds.
    std::future<SettingsResult> WriteSettings(const SettingsRecord &record);

    // While a settings window is open the worker polls no more: it sends one
    // settings block per cycle (reading, or the write asked for) and reports
    // what each cycle means. Opening starts with a read.
    void OpenSettings();
    void AskSettingsRead();
    void AskSettingsWrite(const SettingsRecord &record);
    // Returns after the cycle in flight; then the monitor polls again.
    void CloseSettings();

    // The countdown ends after the boot entry request in flight; everything:
    // the transfer after the block in flight, settings jobs after the
    // exchange in flight, and later jobs end at once (a stopped session only polls).
    void RequestStop(StopScope scope);

private:
    struct Parts;
    Session(QString portName, QString devicePath, const Options &options);
    std::future<SettingsResult> WriteOrRead(uint8_t command, const SettingsRecord &record);

    QString portName_;
    QString devicePath_;
    std::unique_ptr<Parts> parts_;
};
