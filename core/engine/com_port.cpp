#include "core/engine/com_port.h"

#include "core/engine/engine_notices.h"

namespace {
// The driver's output queue; a write that would fill it earns a notice.
constexpr size_t OutputQueueSize = 1024;
}

PortHandle TComPort1::Open(const std::string &path, const platform::LineSettings &settings)
{
    if (Handle != NullHandle || device_.isOpen())
        Close();
    device_.setReadTimeouts({20, 10, 0});
    if (!device_.open(path, settings)) {
        Handle = NullHandle;
        return NullHandle;
    }
    Handle = device_.descriptor();
    return Handle;
}

void TComPort1::Close()
{
    PurgeInput();
    PurgeOutput();
    device_.close();
    Handle = NullHandle;
}

uint16_t TComPort1::Read(uint8_t *buffer, uint16_t count)
{
    return ReadUpTo(buffer, count, platform::SerialDevice::kNoEndByte);
}

uint16_t TComPort1::ReadFrame(uint8_t *buffer, uint16_t count, uint8_t endByte, uint16_t expectAtLeast)
{
    return ReadUpTo(buffer, count, endByte, expectAtLeast);
}

uint16_t TComPort1::ReadUpTo(uint8_t *buffer, uint16_t count, int endByte, uint16_t expectAtLeast)
{
    const size_t n = device_.read(buffer, count, endByte, expectAtLeast);
    // The read may have closed a hung-up line or opened it again.
    Handle = device_.descriptor();
    if (n > 0)
        LastReadCount = uint16_t(n);
    return uint16_t(n);
}

uint16_t TComPort1::Write(const uint8_t *buffer, uint16_t count)
{
    if (count == 0)
        return 0;
    // A write also clears pending line errors, so only errors that arrive
    // after a request spoil the read of its reply.
    device_.takeLineError();
    if (count + device_.outputQueueLevel() >= OutputQueueSize) {
        engine::Notices().OutputQueueFull();
    }
    return uint16_t(device_.write(buffer, count));
}

uint8_t TComPort1::WriteByte(uint8_t value)
{
    device_.takeLineError();
    return device_.write(&value, 1) == 1 ? 1 : 0;
}

uint16_t TComPort1::WriteBytes(const uint8_t *buffer, uint16_t count)
{
    device_.takeLineError();
    return uint16_t(device_.write(buffer, count));
}

void TComPort1::PurgeInput() { device_.purgeInput(); }

void TComPort1::PurgeOutput() { device_.purgeOutput(); }

bool TComPort1::PurgeAll() { return device_.purgeAll(); }
