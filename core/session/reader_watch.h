#pragma once
// The latest ReaderSnapshot, kept from the monitor's polls for any thread:
// a window that records a job, a script that waits for the reader.

#include <QString>
#include <condition_variable>
#include <mutex>

#include "core/session/values.h"

class ReaderWatch {
public:
    // After each poll: answer is null when the reader was silent, key its
    // identity. True when the reader's state, answer or holders changed; now
    // gets the snapshot.
    bool Polled(const device_info::DeviceInfo *answer, uint32_t key, const QString &holders, ReaderSnapshot &now);
    ReaderSnapshot Snapshot() const;
    // Waits up to timeoutMs for the reader to answer a poll that ends after
    // afterPolls polls (Snapshot().polls: one that starts later); the snapshot
    // then, not Ready when none did.
    ReaderSnapshot WaitForAnswer(int timeoutMs, uint64_t afterPolls = 0) const;

private:
    mutable std::mutex lock_;
    mutable std::condition_variable changed_;
    ReaderSnapshot snapshot_;
};
