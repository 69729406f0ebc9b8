#pragma once
// A serial port far away, behind a device server or ser2net on the network:
// "rfc2217://HOST:PORT" speaks Telnet with the COM-PORT-OPTION of RFC 2217
// (the line settings are set on the far port, the purges go there too, 0xFF
// is escaped both ways); "tcp://HOST:PORT" carries raw bytes, the far line's
// settings being the far end's business. Reads keep the reader's time-outs,
// scaled by the port's patience for the network's delays.

#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "core/line/line.h"

namespace platform {

// A port name (or path) of a network port; empty host or port when it is not one.
struct NetworkAddress {
    enum class Kind { None, Rfc2217, RawTcp };
    Kind kind = Kind::None;
    std::string host;
    uint16_t port = 0;
};
NetworkAddress ParseNetworkAddress(const std::string &name);
inline bool IsNetworkPortName(const std::string &name)
{
    return ParseNetworkAddress(name).kind != NetworkAddress::Kind::None;
}
// The patience a port gets unless told otherwise: 1 on this machine, more for
// a host across the network.
double DefaultPatience(const std::string &host);

class NetworkLine : public Line {
public:
    NetworkLine() = default;
    ~NetworkLine() override;
    NetworkLine(const NetworkLine &) = delete;
    NetworkLine &operator=(const NetworkLine &) = delete;

    // The factor on the read time-outs (1 and more); set before open.
    void setPatience(double patience) { patience_ = patience < 1.0 ? 1.0 : patience; }
    double patience() const { return patience_; }

    bool open(const std::string &path, const LineSettings &settings) override;
    void close() override;
    bool isOpen() const override;
    int descriptor() const override;
    std::string path() const override;
    void setReadTimeouts(const ReadTimeouts &timeouts) override;
    size_t read(uint8_t *buffer, size_t count, int endByte, size_t expectAtLeast) override;
    size_t write(const uint8_t *buffer, size_t count) override;
    bool purgeInput() override;
    bool purgeOutput() override;
    bool purgeAll() override;
    bool takeLineError() override { return false; }
    unsigned reopenCount() const override { return 0; }
    OpenFailure openFailure() const override;
    std::string errorText() const override;
    LowLatency lowLatency() const override { return LowLatency::NotAsked; }
    bool remote() const override { return true; }

    // The far port's line settings as the far end confirmed them (RFC 2217).
    uint32_t confirmedBaud() const { return confirmedBaud_; }

private:
    bool connectTo(const NetworkAddress &address);
    bool negotiate(const LineSettings &settings);
    // The far end closed the new connection: say what it said, as a port in use.
    void closedAtOnce();
    // Reads what the socket holds, waiting until deadline for some; false when
    // the connection dropped. Data goes to data_, Telnet commands are handled.
    bool pump(int waitMs);
    void take(const uint8_t *bytes, size_t count);
    void handleCommand(uint8_t verb, uint8_t option);
    void handleSubnegotiation();
    bool sendRaw(const uint8_t *bytes, size_t count);
    bool sendComPort(uint8_t command, const std::vector<uint8_t> &value);
    void dropped(const std::string &why);
    void fail(OpenFailureCause cause, const std::string &text);
    bool purgeFar(uint8_t which);

    mutable std::mutex lock_;  // everything below, around each use (never across a wait)
    int fd_ = -1;
    NetworkAddress address_;
    std::string path_;
    double patience_ = 1.0;
    ReadTimeouts timeouts_;
    std::deque<uint8_t> data_;  // received data not yet read
    // The Telnet parser's state between two receives.
    enum class In { Data, Iac, Verb, Sub, SubIac } in_ = In::Data;
    uint8_t verb_ = 0;
    std::vector<uint8_t> sub_;
    // RFC 2217: the far end's answers to the settings, 0 until answered.
    uint32_t confirmedBaud_ = 0;
    int confirmedDataSize_ = -1;
    int confirmedParity_ = -1;
    int confirmedStopSize_ = -1;
    bool comPortRefused_ = false;
    std::string error_;
    OpenFailure openFailure_;
};

}  // namespace platform
