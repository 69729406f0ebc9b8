#include "core/session/monitor.h"

#include "core/line/device_holders.h"
#include "core/line/serial_port.h"
#include "core/session/frame_link.h"

namespace {

constexpr uint16_t kReplyReadBytes = 100;
// A reader silent this many polls in a row may have its answers taken by
// another program on the port; look for one no more often than this.
constexpr int kSilentPollsBeforeHolderLookup = 2;
constexpr auto kHolderLookupInterval = std::chrono::seconds(5);

}  // namespace

std::optional<Monitor::Answer> Monitor::Poll()
{
    static constexpr uint8_t kPayload[] = {0x00};
    link_.Send(kStatusRequest, kPayload, sizeof kPayload);
    // The positions are those of the unstuffed reply: a serial number byte
    // 0xDA, 0xD5 or 0xDF travels as two bytes and would shift them.
    if (link_.ReceiveRaw(kReplyReadBytes) == 0)
        return std::nullopt;
    return Answer{device_info::Decode(link_.Reply()), device_info::AnswerKey(link_.Reply())};
}

QString Monitor::Holders(bool answered)
{
    if (answered) {
        silentPolls_ = 0;
        lastHolderLookup_ = {};
        holders_.clear();
        return holders_;
    }
    ++silentPolls_;
    const auto now = std::chrono::steady_clock::now();
    if (silentPolls_ < kSilentPollsBeforeHolderLookup ||
        (lastHolderLookup_.time_since_epoch().count() != 0 && now - lastHolderLookup_ < kHolderLookupInterval))
        return holders_;
    lastHolderLookup_ = now;
    const std::string path = port_.Device().path();
    const QString portName = QString::fromStdString(path.substr(path.find_last_of('/') + 1));
    holders_ = platform::HolderSentence(portName, platform::OtherDeviceHolders(path));
    return holders_;
}
