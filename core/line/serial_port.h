#pragma once
// The reader's line as the session uses it: a local serial device, or a
// network port ("rfc2217://HOST:PORT", "tcp://HOST:PORT"), opened at the
// reader's line settings with its read time-outs, read and written in the
// sizes the protocol needs. One session owns one for its whole life.

#include <cstdint>
#include <memory>
#include <string>

#include "core/line/line.h"

class SerialPort {
public:
    SerialPort();
    ~SerialPort();
    SerialPort(const SerialPort &) = delete;
    SerialPort &operator=(const SerialPort &) = delete;

    // Opens path at the given line settings, with 20 ms between bytes and
    // 10 ms per requested byte as read time-outs, and purges both queues. A
    // network port's time-outs are scaled by patience (0: its default).
    bool Open(const std::string &path, const platform::LineSettings &settings = platform::kReaderLine,
              double patience = 0);
    // Purges both queues and closes the port. Harmless when nothing is open.
    void Close();
    // Reads up to count bytes; 0 means nothing came, the read failed, or a line
    // error was pending.
    uint16_t Read(uint8_t *buffer, uint16_t count);
    // As Read, and also ends as soon as endByte has arrived; bytes after it
    // wait for the next read, as bytes that come late do. expectAtLeast: the
    // length the reply is expected to reach (see SerialDevice::read).
    uint16_t ReadFrame(uint8_t *buffer, uint16_t count, uint8_t endByte, uint16_t expectAtLeast = 0);
    // Writes count bytes in one call to the line; the bytes written. A write
    // also clears pending line errors, so only errors that arrive after a
    // request spoil the read of its reply.
    uint16_t Write(const uint8_t *buffer, uint16_t count);
    void PurgeInput();
    void PurgeOutput();
    // All four purge actions at once (pending reads and writes, both queues);
    // false when the port did not take it (for instance a converter unplugged).
    bool PurgeAll();
    // Purges, retrying for up to a second: an unplugged converter fails every
    // purge and must not hold the session.
    bool PurgeRetrying();

    platform::Line &Device() { return *line_; }
    const platform::Line &Device() const { return *line_; }

private:
    uint16_t ReadUpTo(uint8_t *buffer, uint16_t count, int endByte, uint16_t expectAtLeast = 0);

    std::unique_ptr<platform::Line> line_;
};
