#pragma once
// What the network line's files share: the clock, Telnet's and RFC 2217's
// codes. Inside the line layer only.

#include <algorithm>
#include <chrono>
#include <cstdint>

namespace platform::network_line {

using Clock = std::chrono::steady_clock;

// Telnet (RFC 854, 856) and its COM-PORT-OPTION (RFC 2217).
inline constexpr uint8_t kIac = 255, kDont = 254, kDo = 253, kWont = 252, kWill = 251, kSb = 250, kSe = 240;
inline constexpr uint8_t kBinary = 0, kSuppressGoAhead = 3, kComPort = 44;
inline constexpr uint8_t kSetBaud = 1, kSetDataSize = 2, kSetParity = 3, kSetStopSize = 4, kSetControl = 5,
                         kPurgeData = 12;
inline constexpr uint8_t kServerOffset = 100;  // the far end answers command N as N + 100
inline constexpr uint8_t kPurgeReceived = 1, kPurgeTransmit = 2, kPurgeBoth = 3;
inline constexpr uint8_t kNoFlowControl = 1;

// Milliseconds left until deadline, for poll().
inline int MsUntil(Clock::time_point deadline)
{
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left <= 0 ? 0 : int(std::min<long long>(left, 1000000));
}

}  // namespace platform::network_line
