#include "core/session/settings_job.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "core/line/serial_port.h"

namespace settings_job {

SettingsFailure ExchangeBlock(SerialPort &port, uint8_t command, const SettingsRecord &record,
                              SettingsBlockBytes &reply)
{
    const SettingsBlockBytes request = BuildSettingsBlock(command, record);
    port.Write(request.data(), uint16_t(request.size()));
    // Not cut short by a stop: the reply must be taken off the line before
    // the monitor polls again.
    std::this_thread::sleep_for(std::chrono::milliseconds(kReplyPauseMs));
    const uint16_t length = port.Read(reply.data(), uint16_t(reply.size()));
    // A short reply would be judged with bytes left from the previous one.
    if (SettingsBlockIntact(reply.data(), length))
        return SettingsFailure::None;
    if (length == reply.size())
        return SettingsFailure::BadChecksum;
    if (length > 0)
        return SettingsFailure::ShortReply;
    // The line layer closes a line that hung up and could not be opened again.
    if (port.Device().isOpen())
        return SettingsFailure::NoAnswer;
    return port.Device().remote() ? SettingsFailure::ConnectionDropped : SettingsFailure::PortVanished;
}

SettingsResult Run(SerialPort &port, uint8_t command, const SettingsRecord &record, const std::atomic<bool> &stopped)
{
    SettingsResult result;
    const auto exchange = [&](uint8_t blockCommand, SettingsBlockBytes &reply) {
        for (int attempt = 0; attempt <= kFailLimit && !stopped; ++attempt) {
            if (attempt > 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(kCyclePauseMs));
            const SettingsFailure failure = ExchangeBlock(port, blockCommand, record, reply);
            if (failure == SettingsFailure::None)
                return true;
            result.failure = std::max(result.failure, failure);
            if (failure == SettingsFailure::PortVanished || failure == SettingsFailure::ConnectionDropped)
                break;
        }
        return false;
    };
    SettingsBlockBytes reply{};
    const bool written = command != settings_protocol::kWriteCommand ||
                         exchange(settings_protocol::kWriteCommand, reply);
    // The reply to a write does not say what the reader stored: read it back.
    if (written && exchange(settings_protocol::kReadCommand, reply)) {
        result.answered = true;
        result.failure = SettingsFailure::None;
        result.record = RecordOfBlock(reply.data());
    } else if (result.failure == SettingsFailure::None) {
        result.failure = SettingsFailure::NoAnswer;  // stopped before any exchange
    }
    return result;
}

}  // namespace settings_job

void SettingsLoop::Start()
{
    std::lock_guard<std::mutex> guard(lock_);
    pending_ = settings_protocol::kReadCommand;
    failCount_ = 0;
    failure_ = SettingsFailure::None;
    awaitedReadBack_.reset();
}

void SettingsLoop::AskRead()
{
    std::lock_guard<std::mutex> guard(lock_);
    pending_ = settings_protocol::kReadCommand;
}

void SettingsLoop::AskWrite(const SettingsRecord &record)
{
    std::lock_guard<std::mutex> guard(lock_);
    pending_ = settings_protocol::kWriteCommand;
    payload_ = record;
    awaitedReadBack_.reset();
}

std::optional<SettingsEvent> SettingsLoop::Exchange(SerialPort &port)
{
    using namespace settings_protocol;
    uint8_t command;
    SettingsRecord payload;
    {
        std::lock_guard<std::mutex> guard(lock_);
        command = pending_;
        payload = payload_;
    }
    SettingsBlockBytes reply{};
    const SettingsFailure failure =
        settings_job::ExchangeBlock(port, command == kNoCommand ? kReadCommand : command, payload, reply);
    return Evaluate(command, failure, reply);
}

std::optional<SettingsEvent> SettingsLoop::Evaluate(uint8_t command, SettingsFailure failure,
                                                    const SettingsBlockBytes &reply)
{
    using namespace settings_protocol;
    using settings_job::kFailLimit;
    std::lock_guard<std::mutex> guard(lock_);
    // A button pressed during the exchange asks again with the next block.
    const bool askedAgain = pending_ != command;
    SettingsEvent event;
    if (failure == SettingsFailure::None) {
        failCount_ = 0;
        failure_ = SettingsFailure::None;
        if (command == kNoCommand) {
            event.kind = SettingsEvent::Kind::Answered;
        } else if (command == kReadCommand) {
            if (!askedAgain)
                pending_ = kNoCommand;
            event.kind = SettingsEvent::Kind::Read;
            event.record = RecordOfBlock(reply.data());
            event.written = awaitedReadBack_;
            awaitedReadBack_.reset();
        } else {
            // The reply to a write does not say what the reader stored: read it back.
            if (!askedAgain)
                pending_ = kReadCommand;
            awaitedReadBack_ = payload_;
            event.kind = SettingsEvent::Kind::Written;
        }
        return event;
    }

    failure_ = std::max(failure_, failure);
    if (command == kWriteCommand) {
        if (++failCount_ > kFailLimit) {
            // Six attempts in all: fall back to reading what the reader holds.
            failCount_ = 0;
            if (!askedAgain)
                pending_ = kReadCommand;
            event.kind = SettingsEvent::Kind::WriteGivenUp;
            event.failure = failure_;
            return event;
        }
        return std::nullopt;
    }
    event.kind = SettingsEvent::Kind::Silent;
    event.failure = failure_;
    event.lost = failCount_ == kFailLimit;
    if (++failCount_ > kFailLimit) {
        failCount_ = kFailLimit + 1;
        event.noticeOn = true;
    }
    if (!event.lost && !event.noticeOn)
        return std::nullopt;
    return event;
}
