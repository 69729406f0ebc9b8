#pragma once
// A local serial line in blocking mode with the reader's read time-outs.
// One implementation file per operating system; this one header for all.

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <sys/types.h>

#include "core/line/line.h"

namespace platform {

class SerialDevice : public Line {
public:
    SerialDevice() = default;
    ~SerialDevice() override;
    SerialDevice(const SerialDevice &) = delete;
    SerialDevice &operator=(const SerialDevice &) = delete;

    // Opens the device for exclusive use, raw, at the given line settings,
    // DTR and RTS inactive, no flow control; purges both queues. Any failure
    // closes what was opened and returns false; errorText() and openFailure() say why.
    bool open(const std::string &path, const LineSettings &settings = kReaderLine) override;
    // Restores the terminal settings found at open and releases the device.
    void close() override;
    bool isOpen() const override;
    int descriptor() const override;
    // The path open() was given (also while a hung-up line is away).
    std::string path() const override;

    void setReadTimeouts(const ReadTimeouts &timeouts) override;
    ReadTimeouts readTimeouts() const;

    // Reads up to count bytes under the read time-outs. Returns the number read;
    // 0 for silence, a failed read, or a pending line error (which this call
    // reports once and clears, without reading).
    // With an endByte (0 to 255) the read also ends as soon as that byte has
    // arrived; bytes that came in with it after it are kept, and every read
    // delivers kept bytes before it waits for the line. Purges and close drop them.
    // A line found hung up (a converter unplugged, a simulator stopped) is
    // closed and opened once more with the settings of open(); while that
    // fails, isOpen() is false and every read tries again and returns 0 after
    // its budget. close() ends the retries.
    // expectAtLeast: the length the caller expects the reply to reach. Until
    // that many bytes are in, the read sleeps through the line time of the
    // missing ones instead of waking for each byte (a shorter reply costs at
    // most that line time once); the time-outs bound the sleep as any wait.
    size_t read(uint8_t *buffer, size_t count, int endByte = kNoEndByte, size_t expectAtLeast = 0) override;
    // Blocking write of the whole buffer within its WriteDeadline; returns the
    // number written, or 0 on failure. An expired deadline counts as a failing
    // line: until the next read, purge or open, writes fail at once, so a
    // frame sent byte by byte costs one deadline, not one per byte.
    size_t write(const uint8_t *buffer, size_t count) override;

    bool purgeInput() override;
    bool purgeOutput() override;
    // Drops both queues (the "abort and clear everything" purge).
    bool purgeAll() override;
    // True (once) when the driver has counted a frame, overrun, parity or break
    // error since the last call.
    bool takeLineError() override;

    std::string errorText() const override;
    OpenFailure openFailure() const override;
    // How often a hung-up line has been opened again since open().
    unsigned reopenCount() const override;
    // The driver's answer to the request for low latency at the last open.
    LowLatency lowLatency() const override;
    // Bytes taken from and handed to the line since open(), for the benchmarks.
    uint64_t bytesReceived() const { return received_.load(std::memory_order_relaxed); }
    uint64_t bytesSent() const { return sent_.load(std::memory_order_relaxed); }

private:
    bool openDescriptor(const std::string &path, const LineSettings &settings);
    void closeDescriptor(bool restoreSettings);
    // Closes the hung-up line of that generation and opens its path again;
    // false when that failed or after close(). Holds lineLock_.
    bool reopenLine(unsigned generation);
    bool takeLineErrorLocked();
    // Moves kept bytes to buffer, up to count and up to an end byte (sets ended).
    size_t takeKept(uint8_t *buffer, size_t count, int endByte, bool &ended);
    // One non-blocking read() of the line; with an end byte it stops the result
    // there (sets ended) and keeps the rest. Results as read(), the errno in error.
    ssize_t fetch(uint8_t *buffer, size_t count, int endByte, bool &ended, int &error);
    void failOpen(const std::string &text, int error);

    // Everything below is the line's state. The descriptor has one owner,
    // this object, and one lock, lineLock_: open, close, the reopen after a
    // hang-up, reads, writes and purges all take it around each use of the
    // descriptor, and never hold it across a wait on the line, so a purge on
    // the GUI thread never waits for a read's budget.
    mutable std::mutex lineLock_;
    int fd_ = -1;
    // Counts the lines opened: a descriptor number may come back for another line.
    unsigned lineGeneration_ = 0;
    ReadTimeouts timeouts_;
    std::string error_;
    OpenFailure openFailure_;
    bool writeFailing_ = false;
    // Saved at open, restored at close; opaque here to keep termios out of the header.
    alignas(8) unsigned char savedTermios_[128] = {};
    bool haveSavedTermios_ = false;
    // Line error counters at the last check (frame, overrun, parity, break, buffer overrun).
    int lastErrorCounts_[5] = {};
    bool haveErrorCounts_ = false;
    // The driver does not count line errors (a pseudo-terminal): not asked again until the next open.
    bool errorCountsUnsupported_ = false;
    LowLatency lowLatency_ = LowLatency::NotAsked;
    bool lowLatencySetHere_ = false;  // cleared again at close
    // The line time of one byte: start bit, data bits, parity, stop bits.
    std::chrono::nanoseconds byteTime_{0};
    // What open() was given, for opening a hung-up line again.
    std::string path_;
    LineSettings settings_;
    bool reopenArmed_ = false;
    unsigned reopens_ = 0;
    // Bytes read past an end byte. A read that looks for an end byte fetches
    // at most this many per call, so the rest always fits. A purge cannot slip
    // between fetching bytes and keeping them: both happen under lineLock_.
    static constexpr size_t kKeptCapacity = 256;
    uint8_t kept_[kKeptCapacity] = {};
    size_t keptLength_ = 0;
    std::atomic<uint64_t> received_{0};
    std::atomic<uint64_t> sent_{0};
};

}  // namespace platform
