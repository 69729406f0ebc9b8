#include "bench/measure.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <mutex>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace bench {

namespace {

using Ns = long long;

Ns MonotonicNs()
{
    timespec t{};
    ::clock_gettime(CLOCK_MONOTONIC, &t);
    return Ns(t.tv_sec) * 1000000000 + t.tv_nsec;
}

struct Interval {
    Ns begin = 0, end = 0;
};

}  // namespace

struct StallMeter::State {
    // Gaps above this are kept to find the moments no CPU ticked.
    static constexpr Ns kKeptGapNs = 5000000;

    struct Cpu {
        Ns largestGap = 0;
        std::vector<Interval> gaps;
    };

    std::mutex lock;
    std::vector<Cpu> cpus;
    Ns since = MonotonicNs();
    std::atomic<bool> stop{false};
    std::atomic<bool> realTime{true};
    std::vector<std::thread> threads;

    void Tick(size_t index, int cpu)
    {
        cpu_set_t set;
        CPU_ZERO(&set);
        CPU_SET(cpu, &set);
        ::pthread_setaffinity_np(::pthread_self(), sizeof set, &set);
        sched_param priority{};
        priority.sched_priority = 10;
        if (::pthread_setschedparam(::pthread_self(), SCHED_FIFO, &priority) != 0)
            realTime = false;
        const Ns tick = Ns(kTickMs * 1e6);
        Ns last = MonotonicNs();
        Ns next = last;
        while (!stop) {
            next += tick;
            const timespec at{time_t(next / 1000000000), long(next % 1000000000)};
            while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr) == EINTR) {
            }
            const Ns now = MonotonicNs();
            const Ns gap = now - last;
            last = now;
            if (now > next + tick)
                next = now;  // after a pause, tick on from now rather than catch up
            std::lock_guard<std::mutex> guard(lock);
            Cpu &c = cpus[index];
            c.largestGap = std::max(c.largestGap, gap);
            if (gap > kKeptGapNs)
                c.gaps.push_back({now - gap, now});
        }
    }
};

StallMeter::StallMeter() : state_(std::make_unique<State>())
{
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    ::sched_getaffinity(0, sizeof allowed, &allowed);
    std::vector<int> cpus;
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu)
        if (CPU_ISSET(cpu, &allowed))
            cpus.push_back(cpu);
    state_->cpus.resize(cpus.size());
    for (size_t i = 0; i < cpus.size(); ++i)
        state_->threads.emplace_back([this, i, cpu = cpus[i]] { state_->Tick(i, cpu); });
}

StallMeter::~StallMeter()
{
    state_->stop = true;
    for (std::thread &t : state_->threads)
        t.join();
}

StallMeter::Report StallMeter::Take()
{
    std::lock_guard<std::mutex> guard(state_->lock);
    Report report;
    report.realTime = state_->realTime;
    // The moments in which no CPU ticked: the gaps of the first CPU cut down
    // by those of every other.
    std::vector<Interval> common = state_->cpus.empty() ? std::vector<Interval>{} : state_->cpus[0].gaps;
    for (size_t i = 1; i < state_->cpus.size(); ++i) {
        std::vector<Interval> next;
        for (const Interval &a : common) {
            for (const Interval &b : state_->cpus[i].gaps) {
                const Interval both{std::max(a.begin, b.begin), std::min(a.end, b.end)};
                if (both.begin < both.end)
                    next.push_back(both);
            }
        }
        common.swap(next);
    }
    std::sort(common.begin(), common.end(), [](const Interval &a, const Interval &b) { return a.begin < b.begin; });
    for (const Interval &c : common) {
        const Pause pause{double(c.begin - state_->since) / 1e9, double(c.end - c.begin) / 1e6};
        if (pause.ms > kLongPauseMs)
            report.longPauses.push_back(pause);
        if (pause.ms > report.allCpusMs) {
            report.allCpusMs = pause.ms;
            report.allCpusAtSeconds = pause.atSeconds;
        }
    }
    for (State::Cpu &c : state_->cpus) {
        report.largestGapMs = std::max(report.largestGapMs, double(c.largestGap) / 1e6);
        c.largestGap = 0;
        c.gaps.clear();
    }
    state_->since = MonotonicNs();
    return report;
}

bool PerfCounts::Start(pid_t target, bool onlyThisThread)
{
    Stop();
    systemCalls = contextSwitches = -1;
    static int runs = 0;
    output_ = "/tmp/talvor-bench-perf-" + std::to_string(::getpid()) + "-" + std::to_string(++runs) + ".csv";
    // perf starts with its counters off and says "ack" once it has switched them on.
    int control[2], ack[2];
    if (::pipe(control) != 0)
        return false;
    if (::pipe(ack) != 0) {
        ::close(control[0]);
        ::close(control[1]);
        return false;
    }
    ::fcntl(control[1], F_SETFD, FD_CLOEXEC);
    ::fcntl(ack[0], F_SETFD, FD_CLOEXEC);
    const std::string controlArg = "fd:" + std::to_string(control[0]) + "," + std::to_string(ack[1]);
    const std::string targetArg = std::to_string(target);
    std::vector<std::string> args = {"perf", "stat", "-x", ",", "-e", "raw_syscalls:sys_enter,context-switches",
                                     "-D", "-1", "--control", controlArg, "-o", output_,
                                     onlyThisThread ? "-t" : "-p", targetArg};
    std::vector<char *> argv;
    for (std::string &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    const int rc = ::posix_spawnp(&perf_, "perf", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(control[0]);
    ::close(ack[1]);
    bool counting = false;
    if (rc == 0) {
        counting = ::write(control[1], "enable\n", 7) == 7;
        pollfd p{ack[0], POLLIN, 0};
        char answer[8] = {};
        counting = counting && ::poll(&p, 1, 10000) == 1 && ::read(ack[0], answer, sizeof answer - 1) > 0 &&
                   std::strncmp(answer, "ack", 3) == 0;
    } else {
        perf_ = -1;
    }
    // Kept open until the end: perf takes a closed control pipe for a command.
    controlFd_ = control[1];
    ackFd_ = ack[0];
    if (!counting)
        Stop();
    return counting;
}

void PerfCounts::Stop()
{
    const pid_t perf = perf_;
    perf_ = -1;
    if (perf > 0) {
        ::kill(perf, SIGINT);
        int status = 0;
        while (::waitpid(perf, &status, 0) < 0 && errno == EINTR) {
        }
    }
    for (int *fd : {&controlFd_, &ackFd_}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
    if (perf <= 0)
        return;
    // CSV: count, unit, event, ...
    std::ifstream in(output_);
    std::string line;
    while (std::getline(in, line)) {
        const size_t first = line.find(',');
        const size_t second = first == std::string::npos ? first : line.find(',', first + 1);
        if (second == std::string::npos)
            continue;
        char *end = nullptr;
        const long long count = std::strtoll(line.c_str(), &end, 10);
        if (end != line.c_str() + first)
            continue;  // "<not counted>" and the like
        const std::string event = line.substr(second + 1, line.find(',', second + 1) - second - 1);
        if (event == "raw_syscalls:sys_enter")
            systemCalls = count;
        else if (event == "context-switches")
            contextSwitches = count;
    }
    ::unlink(output_.c_str());
}

double LoadAverage()
{
    double load[1];
    return ::getloadavg(load, 1) == 1 ? load[0] : -1;
}

}  // namespace bench
