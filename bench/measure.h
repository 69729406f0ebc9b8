#pragma once
// What the benchmarks measure besides time: pauses of the whole machine, and
// the system calls and context switches of the tool.

#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

namespace bench {

// A thread per CPU, pinned to it and real-time when allowed, ticking every
// 2 ms. A virtual machine whose virtual CPUs are paused shows as a gap on
// every CPU at once; a busy machine shows as gaps on one CPU at a time.
class StallMeter {
public:
    static constexpr double kTickMs = 2.0;

    // No CPU ticked for this long, from this many seconds after the last Take().
    struct Pause {
        double atSeconds = 0;
        double ms = 0;
    };
    struct Report {
        double largestGapMs = 0;    // the longest time between two ticks of one CPU
        double allCpusMs = 0;       // the longest time in which no CPU ticked
        double allCpusAtSeconds = 0;  // when that began
        std::vector<Pause> longPauses;  // every one over kLongPauseMs, in order
        bool realTime = false;      // the ticking threads got real-time priority
    };
    static constexpr double kLongPauseMs = 10.0;

    StallMeter();
    ~StallMeter();
    StallMeter(const StallMeter &) = delete;
    StallMeter &operator=(const StallMeter &) = delete;

    // What was seen since the last call (or the start); starts afresh.
    Report Take();

private:
    struct State;
    std::unique_ptr<State> state_;
};

// "perf stat" on a process or a thread of this machine, when perf is there
// and may count: the system calls and context switches from Start() on.
class PerfCounts {
public:
    PerfCounts() = default;
    ~PerfCounts() { Stop(); }
    PerfCounts(const PerfCounts &) = delete;
    PerfCounts &operator=(const PerfCounts &) = delete;

    // Counting has begun when this returns true (a stopped target may go on).
    bool Start(pid_t target, bool onlyThisThread);
    // Ends counting (perf ends by itself when a whole process ended) and reads the counts.
    void Stop();

    long long systemCalls = -1;  // -1: unknown
    long long contextSwitches = -1;

private:
    pid_t perf_ = -1;
    int controlFd_ = -1;
    int ackFd_ = -1;
    std::string output_;
};

// The load average over the last minute, -1 when unknown.
double LoadAverage();

}  // namespace bench
