#include "core/line/serial_port.h"

#include "core/line/network_line.h"
#include "core/line/serial_device.h"

#include <chrono>
#include <thread>

namespace {
constexpr auto kPurgeRetry = std::chrono::seconds(1);
}

SerialPort::SerialPort() : line_(std::make_unique<platform::SerialDevice>()) {}

SerialPort::~SerialPort() = default;

bool SerialPort::Open(const std::string &path, const platform::LineSettings &settings, double patience)
{
    Close();
    const platform::NetworkAddress address = platform::ParseNetworkAddress(path);
    if (address.kind == platform::NetworkAddress::Kind::None) {
        line_ = std::make_unique<platform::SerialDevice>();
    } else {
        auto network = std::make_unique<platform::NetworkLine>();
        network->setPatience(patience > 0 ? patience : platform::DefaultPatience(address.host));
        line_ = std::move(network);
    }
    line_->setReadTimeouts({20, 10, 0});
    return line_->open(path, settings);
}

void SerialPort::Close()
{
    // Also for a line that went away: its close ends the retries.
    if (line_->isOpen()) {
        PurgeInput();
        PurgeOutput();
    }
    line_->close();
}

uint16_t SerialPort::Read(uint8_t *buffer, uint16_t count)
{
    return ReadUpTo(buffer, count, platform::Line::kNoEndByte);
}

uint16_t SerialPort::ReadFrame(uint8_t *buffer, uint16_t count, uint8_t endByte, uint16_t expectAtLeast)
{
    return ReadUpTo(buffer, count, endByte, expectAtLeast);
}

uint16_t SerialPort::ReadUpTo(uint8_t *buffer, uint16_t count, int endByte, uint16_t expectAtLeast)
{
    return uint16_t(line_->read(buffer, count, endByte, expectAtLeast));
}

uint16_t SerialPort::Write(const uint8_t *buffer, uint16_t count)
{
    if (count == 0)
        return 0;
    line_->takeLineError();
    return uint16_t(line_->write(buffer, count));
}

void SerialPort::PurgeInput() { line_->purgeInput(); }
void SerialPort::PurgeOutput() { line_->purgeOutput(); }
bool SerialPort::PurgeAll() { return line_->purgeAll(); }

bool SerialPort::PurgeRetrying()
{
    const auto deadline = std::chrono::steady_clock::now() + kPurgeRetry;
    bool purged = false;
    while (!(purged = PurgeAll()) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return purged;
}
