#pragma once
// The one serial port of the tool. The main window opens and closes it; the
// frame codec, the monitor, the update engine and the settings exchange take
// turns on it (they make sure only one of them uses it at a time).

#include <atomic>
#include <cstdint>
#include <string>

#include "core/line/serial_device.h"

using PortHandle = int;
inline constexpr PortHandle NullHandle = -1;

class TComPort1 {
public:
    TComPort1() = default;

    // Opens path at the given line settings, with 20 ms between bytes and
    // 10 ms per requested byte as read time-outs, and purges both queues.
    // Returns the handle, or NullHandle on failure.
    PortHandle Open(const std::string &path, const platform::LineSettings &settings = platform::kReaderLine);
    // Purges both queues and closes the port. Harmless when nothing is open.
    void Close();
    // Reads up to count bytes; 0 means nothing came, the read failed, or a line
    // error was pending. LastReadCount is kept when 0 is returned.
    uint16_t Read(uint8_t *buffer, uint16_t count);
    // As Read, and also ends as soon as endByte has arrived; bytes after it
    // wait for the next read, as bytes that come late do. expectAtLeast: the
    // length the reply is expected to reach (see SerialDevice::read).
    uint16_t ReadFrame(uint8_t *buffer, uint16_t count, uint8_t endByte, uint16_t expectAtLeast = 0);
    // Writes count bytes; 0 for count 0 or a failed write. Gives the output queue
    // notice when it would reach 1024 bytes, then writes all the same.
    uint16_t Write(const uint8_t *buffer, uint16_t count);
    // Writes one byte; 1, or 0 when the write failed.
    uint8_t WriteByte(uint8_t value);
    // Writes count bytes as that many WriteByte calls would, in one call to
    // the line; the bytes written.
    uint16_t WriteBytes(const uint8_t *buffer, uint16_t count);
    void PurgeInput();
    void PurgeOutput();
    // All four purge actions at once (pending reads and writes, both queues);
    // false when the port did not take it (for instance a converter unplugged).
    bool PurgeAll();

    // Atomic: the reading thread updates it when a hung-up line closes or
    // comes back, while the GUI thread opens, closes and looks.
    std::atomic<PortHandle> Handle{NullHandle};
    uint16_t LastReadCount = 0;

    platform::SerialDevice &Device() { return device_; }

private:
    uint16_t ReadUpTo(uint8_t *buffer, uint16_t count, int endByte, uint16_t expectAtLeast = 0);

    platform::SerialDevice device_;
};
