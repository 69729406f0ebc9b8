#pragma once
// Sends the local outbox to the team's server on a thread of its own, with
// database connections of its own, so that a slow or stalled server never
// holds a job up. Inside the journal only.

#include <QString>
#include <chrono>
#include <memory>
#include <thread>

class OutboxForwarder {
public:
    OutboxForwarder(const QString &path, const QString &server, int busyTimeoutMs);
    // Close() without waiting.
    ~OutboxForwarder();
    OutboxForwarder(const OutboxForwarder &) = delete;
    OutboxForwarder &operator=(const OutboxForwarder &) = delete;

    // A round of sending as soon as one is due: at once, or a while after a
    // failed one.
    void Wake();
    // A round at once, waited for (each statement is bounded by the server's
    // time-outs).
    void SendNow();
    // Ends the thread after a last round when one is due, waiting at most
    // `wait`. False: the server still holds the thread; it is left behind
    // and touches nothing more.
    bool Close(std::chrono::milliseconds wait);
    // Why the last round failed; empty after one that succeeded.
    QString Trouble() const;

    struct Shared;

private:
    std::shared_ptr<Shared> shared_;
    std::thread thread_;
};
