#pragma once
// Waits for a condition another thread (a session's worker, the simulated
// reader) makes true, looking every 2 ms; true when it came in time.

#include <chrono>
#include <thread>

template <typename Condition>
bool WaitUntil(Condition done, int timeoutMs = 5000)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return done();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}
