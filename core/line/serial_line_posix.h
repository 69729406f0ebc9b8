#pragma once
// What the POSIX serial line's files share: the clock, the scaled time-outs
// and the driver's error counters. Inside the line layer only.

#include <chrono>
#include <cstddef>

#include "core/line/serial_device.h"

namespace platform::posix_line {

using Clock = std::chrono::steady_clock;

// ms, scaled as the tests ask (SetTimeoutScaleForTests).
Clock::duration scaledMs(double ms);
// Milliseconds to hand to poll() so that it wakes no earlier than the deadline.
int pollMs(Clock::time_point deadline);
// A vanished line answers at once forever; a read on it waits out its budget
// so that looping callers do not spin.
void sleepOutBudget(const ReadTimeouts &timeouts, Clock::time_point start, size_t count);
// The driver's line error counters; false with errno when it has none.
bool readErrorCounts(int fd, int out[5]);

}  // namespace platform::posix_line
