#pragma once
// A reader session that owns its port: opened by name, with the port's two
// locks, its own worker that polls the reader and runs jobs (a firmware update,
// a settings read or write) one at a time between polls. Nothing here needs a
// window or an event loop, and one process may hold one session per port.
// What the session learns is reported as values: the latest reader snapshot
// and the update's progress, to an observer called on the session's worker.

#include <QString>
#include <future>
#include <memory>
#include <string>

#include "core/engine/session_values.h"
#include "core/line/serial_device.h"

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
    // Waits up to timeoutMs for the reader to answer a poll; the snapshot then
    // (not Ready when it did not answer in time).
    ReaderSnapshot WaitForReader(int timeoutMs) const;

    // Jobs, run one at a time between polls; the futures become ready when the
    // job has ended and the port is back with the monitor. A job still queued
    // when the session goes never runs (its future reports a broken promise).
    std::future<UpdateResult> Update(const QString &imagePath);
    std::future<SettingsResult> ReadSettings();
    // Writes record, then reads back what the reader holds.
    std::future<SettingsResult> WriteSettings(const SettingsRecord &record);

    // Ends the update at its next safe step: during the countdown after the
    // boot entry request in flight, during the transfer after the block in
    // flight; settings jobs end after the exchange in flight. Jobs that start
    // later end at once: a stopped session only polls.
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
