#include "bench/sim_process.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace bench {

namespace {

// The simulator is up within a second; anything far beyond means it is stuck.
constexpr int kReadyWaitMs = 10000;

double Seconds(const timeval &t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; }

}  // namespace

bool SimProcess::Start(const std::string &program, const std::vector<std::string> &arguments)
{
    Stop();
    error_.clear();
    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0) {
        error_ = std::string("cannot create a pipe: ") + std::strerror(errno);
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);

    std::vector<char *> argv;
    argv.push_back(const_cast<char *>(program.c_str()));
    for (const std::string &a : arguments)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    const int rc = ::posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeEnds[1]);
    if (rc != 0) {
        error_ = "cannot start " + program + ": " + std::strerror(rc);
        ::close(pipeEnds[0]);
        pid_ = -1;
        return false;
    }
    output_ = pipeEnds[0];

    // The readiness handshake: its first line, the port name.
    std::string line;
    const auto until = std::time(nullptr) + kReadyWaitMs / 1000;
    while (line.empty() || line.back() != '\n') {
        pollfd p{output_, POLLIN, 0};
        const int r = ::poll(&p, 1, 200);
        if (r < 0 && errno == EINTR)
            continue;
        char c;
        if (r > 0 && ::read(output_, &c, 1) == 1) {
            line += c;
            continue;
        }
        if (r > 0 || std::time(nullptr) > until) {
            error_ = program + " did not report its port";
            Stop();
            return false;
        }
    }
    return true;
}

void SimProcess::Stop()
{
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        int status = 0;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
    }
    pid_ = -1;
    if (output_ >= 0)
        ::close(output_);
    output_ = -1;
}

TempFolder::TempFolder()
{
    char name[] = "/tmp/talvor-bench-XXXXXX";
    if (::mkdtemp(name))
        path_ = name;
}

TempFolder::~TempFolder()
{
    if (path_.empty())
        return;
    if (DIR *d = ::opendir(path_.c_str())) {
        while (dirent *e = ::readdir(d)) {
            const std::string name = e->d_name;
            if (name != "." && name != "..")
                ::unlink((path_ + "/" + name).c_str());
        }
        ::closedir(d);
    }
    ::rmdir(path_.c_str());
}

double ProcessCpuSeconds()
{
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return Seconds(u.ru_utime) + Seconds(u.ru_stime);
}

double ThreadCpuSeconds()
{
    timespec t{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

std::string SimProgram(int argc, char **argv)
{
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "--sim") == 0)
            return argv[i + 1];
    return TALVOR_SIM_PROGRAM;
}

}  // namespace bench
