#pragma once
// A pseudo-terminal pair for tests that play the reader themselves: the port
// under test opens the slave by its name, the test reads and writes the master.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

inline Bytes Concat(Bytes a, const Bytes &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

struct PtyPair {
    int master = -1;
    std::string slave;

    PtyPair()
    {
        int s = -1;
        char name[256] = {};
        if (::openpty(&master, &s, name, nullptr, nullptr) == 0) {
            slave = name;
            ::close(s);  // the port under test opens the slave itself
        }
    }
    ~PtyPair() { CloseMaster(); }
    PtyPair(const PtyPair &) = delete;
    PtyPair &operator=(const PtyPair &) = delete;

    // No echo, as on a real converter: what the far end sends before the port
    // has set its own modes must not come back to it.
    void MakeRaw() const
    {
        const int s = ::open(slave.c_str(), O_RDWR | O_NOCTTY);
        ASSERT_GE(s, 0);
        termios t{};
        ASSERT_EQ(::tcgetattr(s, &t), 0);
        ::cfmakeraw(&t);
        EXPECT_EQ(::tcsetattr(s, TCSANOW, &t), 0);
        ::close(s);
    }
    void CloseMaster()
    {
        if (master >= 0)
            ::close(master);
        master = -1;
    }
    void Send(const Bytes &b) const { ASSERT_EQ(::write(master, b.data(), b.size()), ssize_t(b.size())); }
    // Whatever reaches the master within limitMs, up to n bytes.
    Bytes Receive(size_t n, int limitMs = 1000) const
    {
        Bytes out;
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
        while (out.size() < n && std::chrono::steady_clock::now() < until) {
            pollfd p{master, POLLIN, 0};
            if (::poll(&p, 1, 10) > 0 && (p.revents & POLLIN)) {
                uint8_t buf[1024];
                const ssize_t r = ::read(master, buf, std::min(sizeof buf, n - out.size()));
                if (r > 0)
                    out.insert(out.end(), buf, buf + r);
            }
        }
        return out;
    }
};
