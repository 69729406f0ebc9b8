#pragma once
// ser2net as a child process in front of simulated readers: one process,
// one connection for each pseudo-terminal, each on a loopback port of its
// own, so that the tool reaches the readers as network ports. Works as a
// normal user (no locks, no pid file, no system configuration).

#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

namespace bench {

enum class Via { Local, Rfc2217, Tcp };

// "rfc2217" or "tcp"; false for anything else.
bool ParseVia(const std::string &text, Via &via);
const char *ViaName(Via via);

class Ser2netProcess {
public:
    Ser2netProcess() = default;
    ~Ser2netProcess() { Stop(); }
    Ser2netProcess(const Ser2netProcess &) = delete;
    Ser2netProcess &operator=(const Ser2netProcess &) = delete;

    // Serves each device (a pseudo-terminal or a link to one) at 19200 8N1
    // and waits until every port listens. Its log goes to logPath. False
    // with ErrorText() otherwise.
    // chardelay: ser2net's own wait of about two characters' time after the
    // last byte from the device before it sends them on (its default).
    bool Start(const std::string &program, Via via, const std::vector<std::string> &devices,
               const std::string &logPath, bool chardelay = true);
    void Stop();
    // "rfc2217://127.0.0.1:P" or "tcp://127.0.0.1:P", one per device.
    const std::vector<std::string> &PortNames() const { return names_; }
    // Its CPU seconds so far (user and system); 0 once stopped.
    double CpuSeconds() const;
    const std::string &ErrorText() const { return error_; }

private:
    bool Listening(const std::vector<uint16_t> &ports) const;

    pid_t pid_ = -1;
    std::vector<std::string> names_;
    std::string error_;
};

// ser2net from --ser2net PATH, else from PATH, else the system folders (a
// normal user's PATH often lacks /usr/sbin); empty when not found.
std::string Ser2netProgram(int argc, char **argv);

}  // namespace bench
