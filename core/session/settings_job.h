#pragma once
// The settings record on the line: one 12-byte block out, the reader's
// 12-byte reply back after 100 ms. A settings job reads (or writes and reads
// back) with retries; the settings loop exchanges one block per cycle while
// a settings window is open, and says what each cycle means.

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>

#include "core/protocol/settings_record.h"
#include "core/session/values.h"

class SerialPort;

namespace settings_job {

// The pause before each block of the loop, and the reader's reply time.
inline constexpr int kCyclePauseMs = 100;
inline constexpr int kReplyPauseMs = 100;
// Failed cycles before the reader counts as lost, and write attempts - 1.
inline constexpr int kFailLimit = 5;

// One exchange: sends the block for command with record, waits out the
// reader's reply time and reads the reply. None when all 12 bytes came
// intact, else what went wrong.
SettingsFailure ExchangeBlock(SerialPort &port, uint8_t command, const SettingsRecord &record,
                              SettingsBlockBytes &reply);

// A read, or a write and the read-back of what the reader then holds: six
// blocks at most for each step, with the loop's pause between them; a port
// that went away or a stop ends it at once.
SettingsResult Run(SerialPort &port, uint8_t command, const SettingsRecord &record,
                   const std::atomic<bool> &stopped);

}  // namespace settings_job

// The settings window's exchange loop: what the next block asks for, and
// what each reply or silence means for the window.
class SettingsLoop {
public:
    // A new showing: the first block reads.
    void Start();
    // From any thread: the next block reads, or writes record.
    void AskRead();
    void AskWrite(const SettingsRecord &record);
    // One cycle's exchange on port; an event when the cycle means something
    // to the window.
    std::optional<SettingsEvent> Exchange(SerialPort &port);

private:
    std::optional<SettingsEvent> Evaluate(uint8_t command, SettingsFailure failure, const SettingsBlockBytes &reply);

    std::mutex lock_;  // pending_ and payload_
    uint8_t pending_ = settings_protocol::kReadCommand;
    // Every block carries the record of the last write asked for.
    SettingsRecord payload_{};
    // The loop's own, on the session's worker:
    int failCount_ = 0;
    SettingsFailure failure_ = SettingsFailure::None;
    std::optional<SettingsRecord> awaitedReadBack_;
};
