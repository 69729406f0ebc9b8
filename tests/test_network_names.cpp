// Network port names: which names are network ports, their parts, and the
// patience a host gets by default.

#include <gtest/gtest.h>

#include "core/line/network_line.h"

namespace {

using Kind = platform::NetworkAddress::Kind;

TEST(NetworkPortName, Table)
{
    const struct {
        const char *name;
        Kind kind;
        const char *host;
        uint16_t port;
    } table[] = {
        {"rfc2217://door-3.example:4001", Kind::Rfc2217, "door-3.example", 4001},
        {"RFC2217://10.0.0.7:2001/", Kind::Rfc2217, "10.0.0.7", 2001},
        {"tcp://rack-1:7000", Kind::RawTcp, "rack-1", 7000},
        {"rfc2217://[::1]:4001", Kind::Rfc2217, "::1", 4001},
        // Not network ports: local names, and network names without a usable port.
        {"ttyUSB0", Kind::None, "", 0},
        {"/dev/ttyUSB0", Kind::None, "", 0},
        {"rfc2217://door-3.example", Kind::None, "", 0},
        {"rfc2217://:4001", Kind::None, "", 0},
        {"tcp://host:0", Kind::None, "", 0},
        {"tcp://host:65536", Kind::None, "", 0},
        {"tcp://host:12ab", Kind::None, "", 0},
        {"telnet://host:23", Kind::None, "", 0},
    };
    for (const auto &row : table) {
        const platform::NetworkAddress address = platform::ParseNetworkAddress(row.name);
        EXPECT_EQ(address.kind, row.kind) << row.name;
        EXPECT_EQ(address.host, row.host) << row.name;
        EXPECT_EQ(address.port, row.port) << row.name;
        EXPECT_EQ(platform::IsNetworkPortName(row.name), row.kind != Kind::None) << row.name;
    }
}

TEST(NetworkPortName, PatienceIsOneOnThisMachineOnlyByDefault)
{
    for (const char *host : {"localhost", "127.0.0.1", "127.1.2.3", "::1"})
        EXPECT_EQ(platform::DefaultPatience(host), 1.0) << host;
    for (const char *host : {"door-3.example", "10.0.0.7", "::2", "localhost.example"})
        EXPECT_GT(platform::DefaultPatience(host), 1.0) << host;
}

}  // namespace
