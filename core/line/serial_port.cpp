#include "core/line/serial_port.h"

#include <chrono>
#include <thread>

namespace {
constexpr auto kPurgeRetry = std::chrono::seconds(1);
}

bool SerialPort::Open(const std::string &path, const platform::LineSettings &settings)
{
    if (device_.isOpen())
        Close();
    device_.setReadTimeouts({20, 10, 0});
    return device_.open(path, settings);
}

void SerialPort::Close()
{
    PurgeInput();
    PurgeOutput();
    device_.close();
}

uint16_t SerialPort::Read(uint8_t *buffer, uint16_t count)
{
    return ReadUpTo(buffer, count, platform::SerialDevice::kNoEndByte);
}

uint16_t SerialPort::ReadFrame(uint8_t *buffer, uint16_t count, uint8_t endByte, uint16_t expectAtLeast)
{
    return ReadUpTo(buffer, count, endByte, expectAtLeast);
}

uint16_t SerialPort::ReadUpTo(uint8_t *buffer, uint16_t count, int endByte, uint16_t expectAtLeast)
{
    return uint16_t(device_.read(buffer, count, endByte, expectAtLeast));
}

uint16_t SerialPort::Write(const uint8_t *buffer, uint16_t count)
{
    if (count == 0)
        return 0;
    device_.takeLineError();
    return uint16_t(device_.write(buffer, count));
}

void SerialPort::PurgeInput() { device_.purgeInput(); }
void SerialPort::PurgeOutput() { device_.purgeOutput(); }
bool SerialPort::PurgeAll() { return device_.purgeAll(); }

bool SerialPort::PurgeRetrying()
{
    const auto deadline = std::chrono::steady_clock::now() + kPurgeRetry;
    bool purged = false;
    while (!(purged = PurgeAll()) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return purged;
}
