#include "bench/ser2net_process.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace bench {

namespace {

// ser2net listens within a fraction of a second; far beyond means it failed.
constexpr auto kListenWait = std::chrono::seconds(10);

// Free loopback ports, all held until every one is chosen so none repeats.
std::vector<uint16_t> FreePorts(size_t count)
{
    std::vector<int> sockets;
    std::vector<uint16_t> ports;
    for (size_t i = 0; i < count; ++i) {
        const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (s < 0 || ::bind(s, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
            ::getsockname(s, reinterpret_cast<sockaddr *>(&address), &length) != 0) {
            if (s >= 0)
                ::close(s);
            break;
        }
        sockets.push_back(s);
        ports.push_back(ntohs(address.sin_port));
    }
    for (int s : sockets)
        ::close(s);
    return ports;
}

}  // namespace

bool ParseVia(const std::string &text, Via &via)
{
    if (text == "rfc2217")
        via = Via::Rfc2217;
    else if (text == "tcp")
        via = Via::Tcp;
    else
        return false;
    return true;
}

const char *ViaName(Via via)
{
    switch (via) {
    case Via::Rfc2217:
        return "rfc2217";
    case Via::Tcp:
        return "tcp";
    case Via::Local:
        break;
    }
    return "local";
}

bool Ser2netProcess::Start(const std::string &program, Via via, const std::vector<std::string> &devices,
                           const std::string &logPath, bool chardelay)
{
    Stop();
    error_.clear();
    const std::vector<uint16_t> ports = FreePorts(devices.size());
    if (ports.size() != devices.size()) {
        error_ = "cannot find free loopback ports";
        return false;
    }
    // -u: no UUCP lock files, which a normal user may not write.
    std::vector<std::string> arguments{program, "-n", "-d", "-u"};
    for (size_t i = 0; i < devices.size(); ++i) {
        // The link's target: ser2net names the device by its own path.
        char *real = ::realpath(devices[i].c_str(), nullptr);
        const std::string device = real ? real : devices[i];
        std::free(real);
        const std::string port = std::to_string(ports[i]);
        const std::string accepter = via == Via::Rfc2217 ? "telnet(rfc2217),tcp" : "tcp";
        arguments.push_back("connection: &c" + std::to_string(i));
        arguments.push_back("  accepter: " + accepter + ",127.0.0.1," + port);
        arguments.push_back("  connector: serialdev," + device + ",19200n81,local");
        if (!chardelay)
            arguments.push_back("  options:#    chardelay: false");
        names_.push_back(std::string(ViaName(via)) + "://127.0.0.1:" + port);
    }
    std::vector<char *> argv{const_cast<char *>(arguments[0].c_str())};
    for (size_t i = 1; i < arguments.size(); ++i) {
        if (i >= 4)
            argv.push_back(const_cast<char *>("-Y"));
        argv.push_back(const_cast<char *>(arguments[i].c_str()));
    }
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    const int rc = ::posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        error_ = "cannot start " + program + ": " + std::strerror(rc);
        pid_ = -1;
        names_.clear();
        return false;
    }

    const auto until = std::chrono::steady_clock::now() + kListenWait;
    while (!Listening(ports)) {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            error_ = program + " ended at once; its log is in " + logPath;
            Stop();
            return false;
        }
        if (std::chrono::steady_clock::now() > until) {
            error_ = program + " did not listen on its ports; its log is in " + logPath;
            Stop();
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

// Looks in the kernel's table rather than connecting: a connection would
// make ser2net open the device.
bool Ser2netProcess::Listening(const std::vector<uint16_t> &ports) const
{
    std::ifstream table("/proc/net/tcp");
    std::string line;
    std::getline(table, line);  // the heading
    size_t found = 0;
    std::vector<bool> seen(ports.size(), false);
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state;
        fields >> slot >> local >> remote >> state;
        if (state != "0A")  // LISTEN
            continue;
        const size_t colon = local.find(':');
        if (colon == std::string::npos)
            continue;
        const auto port = uint16_t(std::strtoul(local.c_str() + colon + 1, nullptr, 16));
        for (size_t i = 0; i < ports.size(); ++i) {
            if (ports[i] == port && !seen[i]) {
                seen[i] = true;
                ++found;
            }
        }
    }
    return found == ports.size();
}

void Ser2netProcess::Stop()
{
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        int status = 0;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
    }
    pid_ = -1;
    names_.clear();
}

double Ser2netProcess::CpuSeconds() const
{
    if (pid_ <= 0)
        return 0;
    std::ifstream stat("/proc/" + std::to_string(pid_) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    // The fields after the name in parentheses; utime and stime are the 12th and 13th of them.
    const size_t close = text.rfind(')');
    if (close == std::string::npos)
        return 0;
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int i = 1; i <= 13 && fields >> field; ++i) {
        if (i == 12)
            utime = std::strtoull(field.c_str(), nullptr, 10);
        if (i == 13)
            stime = std::strtoull(field.c_str(), nullptr, 10);
    }
    return double(utime + stime) / double(::sysconf(_SC_CLK_TCK));
}

std::string Ser2netProgram(int argc, char **argv)
{
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "--ser2net") == 0)
            return argv[i + 1];
    std::string folders = std::getenv("PATH") ? std::getenv("PATH") : "";
    folders += ":/usr/sbin:/usr/local/sbin:/sbin";
    std::istringstream list(folders);
    std::string folder;
    while (std::getline(list, folder, ':')) {
        const std::string path = (folder.empty() ? "." : folder) + "/ser2net";
        if (::access(path.c_str(), X_OK) == 0)
            return path;
    }
    return {};
}

}  // namespace bench
