#pragma once
// The connection monitor's poll: the device information request, the
// reader's answer decoded, and after silent polls the other programs that
// hold the port (they may be taking the answers).

#include <QString>
#include <chrono>
#include <cstdint>
#include <optional>

#include "core/protocol/device_info.h"

class FrameLink;
class SerialPort;

class Monitor {
public:
    static constexpr uint8_t kStatusRequest = 0x3D;
    // The pause after an answered and after a silent poll.
    static constexpr int kAnsweredPauseMs = 100;
    static constexpr int kSilentPauseMs = 20;

    Monitor(FrameLink &link, SerialPort &port) : link_(link), port_(port) {}

    struct Answer {
        device_info::DeviceInfo info;
        uint32_t key = 0;  // device_info::AnswerKey
    };
    // One poll, with the port taken: the decoded answer, none when the reader
    // was silent.
    std::optional<Answer> Poll();
    // After the poll, with the port let go: the sentence that names the
    // other holders of the port, looked up after a few silent polls and no
    // more often than every few seconds; empty while the reader answers.
    QString Holders(bool answered);

private:
    FrameLink &link_;
    SerialPort &port_;
    int silentPolls_ = 0;
    std::chrono::steady_clock::time_point lastHolderLookup_{};
    QString holders_;
};
