#include "core/line/network_line.h"

#include <algorithm>
#include <cctype>

namespace platform {

namespace {

// The patience a host across the network gets by default: its round trip
// comes on top of every reply, which the reader's time-outs do not allow for.
constexpr double kRemotePatience = 3.0;

std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return text;
}

}  // namespace

NetworkAddress ParseNetworkAddress(const std::string &name)
{
    NetworkAddress address;
    const std::string lower = Lower(name);
    NetworkAddress::Kind kind = NetworkAddress::Kind::None;
    size_t start = 0;
    for (const auto &[prefix, k] : {std::pair{std::string("rfc2217://"), NetworkAddress::Kind::Rfc2217},
                                    std::pair{std::string("tcp://"), NetworkAddress::Kind::RawTcp}}) {
        if (lower.rfind(prefix, 0) == 0) {
            kind = k;
            start = prefix.size();
        }
    }
    if (kind == NetworkAddress::Kind::None)
        return address;
    std::string rest = name.substr(start);
    if (!rest.empty() && rest.back() == '/')
        rest.pop_back();
    std::string host;
    std::string port;
    if (!rest.empty() && rest.front() == '[') {  // [IPv6]:port
        const size_t close = rest.find(']');
        if (close == std::string::npos || close + 1 >= rest.size() || rest[close + 1] != ':')
            return address;
        host = rest.substr(1, close - 1);
        port = rest.substr(close + 2);
    } else {
        const size_t colon = rest.rfind(':');
        if (colon == std::string::npos)
            return address;
        host = rest.substr(0, colon);
        port = rest.substr(colon + 1);
    }
    if (host.empty() || port.empty() || port.size() > 5 ||
        !std::all_of(port.begin(), port.end(), [](unsigned char c) { return std::isdigit(c); }))
        return address;
    const unsigned long number = std::stoul(port);
    if (number == 0 || number > 65535)
        return address;
    address.kind = kind;
    address.host = host;
    address.port = uint16_t(number);
    return address;
}

double DefaultPatience(const std::string &host)
{
    const std::string lower = Lower(host);
    const bool local = lower == "localhost" || lower == "::1" || lower.rfind("127.", 0) == 0;
    return local ? 1.0 : kRemotePatience;
}

}  // namespace platform
