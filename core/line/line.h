#pragma once
// A line to the reader as the session uses it: a local serial device, or a
// serial port far away behind a device server on the network. Both read
// under the reader's two time-outs and write within a deadline.

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

// The two read time-outs of the reader's line, kept apart: a budget for the
// whole read, and the longest quiet gap once the first byte has arrived.
struct ReadTimeouts {
    unsigned intervalMs = 20;           // more than this much quiet after a byte ends the read
    unsigned totalMultiplierMs = 10;    // per requested byte
    unsigned totalConstantMs = 0;
};

enum class Parity : uint8_t { None, Odd, Even };
enum class StopBits : uint8_t { One, Two };

struct LineSettings {
    uint32_t baudRate = 19200;
    uint8_t dataBits = 8;  // 5 to 8
    Parity parity = Parity::None;
    StopBits stopBits = StopBits::One;
};

// The reader's line: 19200 baud, 8 data bits, no parity, one stop bit.
inline constexpr LineSettings kReaderLine{};

// Tests shorten every time-out by this factor (1.0 in the product).
void SetTimeoutScaleForTests(double scale);
double TimeoutScale();

// A write must be done within this long, scaled by TimeoutScale(): a converter
// whose output stalls (flow control stuck, driver wedged) must not hang the writer.
struct WriteDeadline {
    static constexpr unsigned kPerByteMs = 10;
    static constexpr unsigned kConstantMs = 500;
};

// Why open() failed, in the terms the user can act on; the system's own text
// is kept apart in OpenFailure::systemText.
enum class OpenFailureCause {
    None,
    PermissionDenied,  // the user may not open the device (deviceGroup names its group)
    NoSuchDevice,      // unplugged, or never there
    NameTooLong,
    Busy,              // another program holds it
    NotADevice,        // the path leads to something that is not a terminal device
    HostNotFound,      // a network port's host name is not known
    ConnectionRefused, // nothing takes connections at a network port's address
    SettingRefused,    // the far end refused a line setting (systemText says which)
    Other,
};

struct OpenFailure {
    OpenFailureCause cause = OpenFailureCause::None;
    std::string deviceGroup;  // PermissionDenied: the group that owns the device, when known
    std::string systemText;   // what the system said, for the curious
    // PermissionDenied: the device's mode, type and permission bits (0 when
    // it could not be looked at), and its group id: what access the user
    // could be given.
    unsigned deviceMode = 0;
    unsigned deviceGid = 0;
};

// What the driver said when open() asked for low latency (USB converters
// otherwise hold received bytes back for up to their latency timer, 16 ms by
// default for FTDI chips). Pseudo-terminals and many drivers refuse; the line
// works without it.
enum class LowLatency { NotAsked, Granted, Refused };

// The cause an errno from opening or locking a device stands for.
OpenFailureCause OpenFailureCauseFor(int error);

// A line the session reads and writes. Every call may come from the
// session's worker only, except the purges (any thread).
class Line {
public:
    static constexpr int kNoEndByte = -1;

    virtual ~Line() = default;

    // Any failure closes what was opened and returns false; errorText() and
    // openFailure() say why.
    virtual bool open(const std::string &path, const LineSettings &settings) = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    // What a caller may poll() for input on; -1 while closed.
    virtual int descriptor() const = 0;
    // The path open() was given.
    virtual std::string path() const = 0;
    virtual void setReadTimeouts(const ReadTimeouts &timeouts) = 0;
    // Up to count bytes under the read time-outs; 0 for silence or failure.
    // With an end byte (0 to 255) the read also ends as soon as it has
    // arrived; bytes after it are kept for the next read. expectAtLeast: the
    // length the reply is expected to reach.
    virtual size_t read(uint8_t *buffer, size_t count, int endByte, size_t expectAtLeast) = 0;
    // The whole buffer within its WriteDeadline; the number written, 0 on failure.
    virtual size_t write(const uint8_t *buffer, size_t count) = 0;
    virtual bool purgeInput() = 0;
    virtual bool purgeOutput() = 0;
    virtual bool purgeAll() = 0;
    // True (once) when a line error has been seen since the last call.
    virtual bool takeLineError() = 0;
    // How often the line was opened again after it went away.
    virtual unsigned reopenCount() const = 0;
    virtual OpenFailure openFailure() const = 0;
    virtual std::string errorText() const = 0;
    virtual LowLatency lowLatency() const = 0;
    // A port at the far end of a network connection.
    virtual bool remote() const { return false; }
};

}  // namespace platform
