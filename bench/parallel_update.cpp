// parallel_update: talvor-cli updating 1, 8 and 16 simulated readers at once,
// each paced at 19200 baud on a pseudo-terminal of its own, with one 64 KiB
// image. Prints for each count the wall time, its ratio to one reader, the
// tool's CPU seconds (its share of one core, and per reader), its context
// switches and system calls per block, its peak memory, and the longest
// pause of the whole machine (every CPU at once) during the run.
//
//   parallel_update [--counts 1,8,16] [--via rfc2217|tcp] [--sim PATH]
//                   [--no-chardelay] [--sim-option OPTION]... [--ser2net PATH]
//
// --via puts one ser2net in front of the readers, a connection and a loopback
// port for each, and the tool updates them as rfc2217://127.0.0.1:P (or
// tcp://) ports; ser2net's CPU seconds are shown beside the tool's.
// --no-chardelay turns off ser2net's short wait before it sends on.
//
// --sim-option passes an option to every simulated reader, for instance
// --byte-by-byte or "--burst-ms=16" to see how the tool copes with them.
//
// The tool and the simulators are child processes; the tool's CPU time,
// context switches and peak memory are its own (wait4), its system calls are
// counted by perf where perf is installed. The readers enter their boot
// loaders one boot entry request apart, so their replies are not due all at
// the same moment. A run that fails is said, with the pause seen during it,
// and tried again, three times at most. Exit code 0 when every count had a
// run in which every reader received the image intact, whether or not the
// goals were met.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QStringList>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <csignal>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "bench/measure.h"
#include "bench/ser2net_process.h"
#include "bench/sim_process.h"

extern char **environ;

namespace {

constexpr double kTimeGoal = 1.10;
constexpr double kCpuPerReaderGoal = 0.005;
constexpr double kSwitchesPerBlockGoal = 6.0;
constexpr int kBlockBytes = 66;  // the simulated boot loader's request

struct Result {
    bool ok = false;
    double seconds = 0;
    double cpuSeconds = 0;
    double peakMiB = 0;
    long long contextSwitches = 0;
    long long systemCalls = -1;  // -1: perf is not there
    double load = 0;
    double ser2netCpuSeconds = -1;  // -1: no ser2net
    bench::StallMeter::Report pause;
};

QByteArray ReadFile(const std::string &path)
{
    QFile file(QString::fromStdString(path));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

constexpr int kAttempts = 3;

// Runs a program with its output to a file; its status and resource use.
bool RunTool(const std::string &program, const std::vector<std::string> &arguments, const std::string &output,
             int &status, rusage &usage)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<char *> argv{const_cast<char *>(program.c_str())};
    for (const std::string &a : arguments)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int rc = ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        std::fprintf(stderr, "parallel_update: cannot start %s: %s\n", program.c_str(), std::strerror(rc));
        return false;
    }
    int raw = 0;
    if (::wait4(pid, &raw, 0, &usage) != pid || !WIFEXITED(raw))
        return false;
    status = WEXITSTATUS(raw);
    return true;
}

// Starts the tool stopped before its first instruction, so that perf counts
// all of it; -1 on failure.
pid_t StartStopped(const std::string &program, const std::vector<std::string> &arguments, const std::string &output)
{
    // Everything the child needs is made here: after fork it only calls exec.
    std::vector<char *> argv{const_cast<char *>(program.c_str())};
    for (const std::string &a : arguments)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    const int out = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (out < 0)
        return -1;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(out, STDOUT_FILENO);
        ::raise(SIGSTOP);
        ::execve(program.c_str(), argv.data(), environ);
        ::_exit(127);
    }
    ::close(out);
    int raw = 0;
    if (pid < 0 || ::waitpid(pid, &raw, WUNTRACED) != pid || !WIFSTOPPED(raw)) {
        std::fprintf(stderr, "parallel_update: cannot start %s\n", program.c_str());
        return -1;
    }
    return pid;
}

// How the tool reaches the readers.
struct Route {
    bench::Via via = bench::Via::Local;
    std::string ser2netProgram;
    bool chardelay = true;
};

Result UpdateReaders(int count, const std::string &simProgram, const std::vector<std::string> &simOptions,
                     const Route &route, const bench::TempFolder &folder, const std::string &imagePath,
                     const QByteArray &image, bench::StallMeter &stalls)
{
    Result result;
    std::vector<std::unique_ptr<bench::SimProcess>> readers;
    std::vector<std::string> arguments{"update"};
    std::vector<std::string> links;
    std::vector<std::string> outputs;
    for (int i = 0; i < count; ++i) {
        const std::string link = "bench-par-" + std::to_string(count) + "-" + std::to_string(i);
        outputs.push_back(folder.Path() + "/" + link + ".received");
        ::unlink(outputs.back().c_str());  // from an earlier attempt
        readers.push_back(std::make_unique<bench::SimProcess>());
        // Reader i answers "BOOT" to the tool's (i+1)th boot entry request only.
        std::vector<std::string> simArguments{"--folder", folder.Path(), "--link", link, "--baud", "19200",
                                              "--serial", std::to_string(1000 + i), "--image", imagePath,
                                              "--output", outputs.back(), "--boot-after", std::to_string(i),
                                              "--boot-not-ready"};
        simArguments.insert(simArguments.end(), simOptions.begin(), simOptions.end());
        if (!readers.back()->Start(simProgram, simArguments)) {
            std::fprintf(stderr, "parallel_update: %s\n", readers.back()->ErrorText().c_str());
            return result;
        }
        links.push_back(folder.Path() + "/" + link);
    }
    bench::Ser2netProcess ser2net;
    std::vector<std::string> portNames = links;
    if (route.via != bench::Via::Local) {
        if (!ser2net.Start(route.ser2netProgram, route.via, links, folder.Path() + "/ser2net.log", route.chardelay)) {
            std::fprintf(stderr, "parallel_update: %s\n", ser2net.ErrorText().c_str());
            return result;
        }
        portNames = ser2net.PortNames();
    }
    for (const std::string &name : portNames)
        arguments.insert(arguments.end(), {"-p", name});
    // The journal entries go to a file of the run's own, not the user's journal.
    arguments.insert(arguments.end(), {imagePath, "--json", "--port-folder", folder.Path(), "--lock-prefix",
                                       "bench-par-" + std::to_string(::getpid()), "--database",
                                       folder.Path() + "/journal.db"});
    const std::string events = folder.Path() + "/events.json";

    int status = -1;
    rusage usage{};
    const double ser2netCpuBefore = ser2net.CpuSeconds();
    const pid_t tool = StartStopped(TALVOR_CLI_PROGRAM, arguments, events);
    if (tool < 0)
        return result;
    bench::PerfCounts perf;
    const bool counted = perf.Start(tool, false);
    stalls.Take();
    const auto start = std::chrono::steady_clock::now();
    ::kill(tool, SIGCONT);
    int raw = 0;
    const bool ran = ::wait4(tool, &raw, 0, &usage) == tool && WIFEXITED(raw);
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    result.pause = stalls.Take();
    result.load = bench::LoadAverage();
    if (route.via != bench::Via::Local)
        result.ser2netCpuSeconds = ser2net.CpuSeconds() - ser2netCpuBefore;
    perf.Stop();
    status = ran ? WEXITSTATUS(raw) : -1;
    result.cpuSeconds = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                        double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    result.peakMiB = double(usage.ru_maxrss) / 1024.0;
    result.contextSwitches = usage.ru_nvcsw + usage.ru_nivcsw;
    result.systemCalls = counted ? perf.systemCalls : -1;
    ser2net.Stop();
    readers.clear();  // each writes what it received as it ends

    bool intact = true;
    for (const std::string &output : outputs)
        intact = intact && ReadFile(output) == image;
    if (!ran || status != 0) {
        std::fprintf(stderr, "parallel_update: talvor-cli ended with status %d for %d readers\n", status, count);
        for (const QByteArray &line : ReadFile(events).split('\n')) {
            if (line.contains("\"event\":\"result\"") && !line.contains("\"completed\""))
                std::fprintf(stderr, "  %s\n", line.constData());
        }
    }
    else if (!intact)
        std::fprintf(stderr, "parallel_update: a reader did not receive the image intact (%d readers)\n", count);
    result.ok = ran && status == 0 && intact;
    if (!result.ok) {
        // A reader's "seconds" above against these tells whether the machine paused as its reply came.
        std::fprintf(stderr, "  pauses of every CPU at once over %.0f ms in that run:", bench::StallMeter::kLongPauseMs);
        for (const bench::StallMeter::Pause &p : result.pause.longPauses)
            std::fprintf(stderr, " %.1f ms at %.2f s,", p.ms, p.atSeconds);
        std::fprintf(stderr, " the longest gap of one CPU %.1f ms\n", result.pause.largestGapMs);
        if (route.via != bench::Via::Local)
            std::fprintf(stderr, "  ser2net said:\n%s", ReadFile(folder.Path() + "/ser2net.log").right(2000).constData());
    }
    return result;
}

}  // namespace

int main(int argc, char **argv)
{
    std::vector<int> counts{1, 8, 16};
    std::vector<std::string> simOptions;
    Route route;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--counts") == 0 && i + 1 < argc) {
            counts.clear();
            for (const QString &n : QString::fromLatin1(argv[++i]).split(QLatin1Char(',')))
                counts.push_back(n.toInt());
        } else if ((std::strcmp(argv[i], "--sim") == 0 || std::strcmp(argv[i], "--ser2net") == 0) && i + 1 < argc) {
            ++i;
        } else if (std::strcmp(argv[i], "--no-chardelay") == 0) {
            route.chardelay = false;
        } else if (std::strcmp(argv[i], "--via") == 0 && i + 1 < argc && bench::ParseVia(argv[i + 1], route.via)) {
            ++i;
        } else if (std::strcmp(argv[i], "--sim-option") == 0 && i + 1 < argc) {
            simOptions.push_back(argv[++i]);
        } else {
            std::fprintf(stderr, "usage: parallel_update [--counts 1,8,16] [--via rfc2217|tcp] [--no-chardelay] [--sim PATH] "
                                 "[--sim-option OPTION]... [--ser2net PATH]\n");
            return 2;
        }
    }
    if (counts.empty() || counts.front() < 1) {
        std::fprintf(stderr, "parallel_update: --counts takes reader counts from 1, the first the reference\n");
        return 2;
    }

    if (route.via != bench::Via::Local) {
        route.ser2netProgram = bench::Ser2netProgram(argc, argv);
        if (route.ser2netProgram.empty()) {
            std::fprintf(stderr, "parallel_update: ser2net is not installed (or give --ser2net PATH)\n");
            return 1;
        }
    }
    const std::string simProgram = bench::SimProgram(argc, argv);
    bench::TempFolder folder;
    if (!folder.Valid()) {
        std::fprintf(stderr, "parallel_update: cannot create a folder in /tmp\n");
        return 1;
    }
    const std::string imagePath = folder.Path() + "/bench.rom";
    int status = -1;
    rusage unused{};
    if (!RunTool(simProgram, {"--make-image", imagePath}, "/dev/null", status, unused) || status != 0) {
        std::fprintf(stderr, "parallel_update: cannot make the image %s\n", imagePath.c_str());
        return 1;
    }
    const QByteArray image = ReadFile(imagePath);
    const long long blocksPerReader = (image.size() + kBlockBytes - 1) / kBlockBytes;
    bench::StallMeter stalls;
    std::string extra;
    for (const std::string &option : simOptions)
        extra += " " + option;
    const std::string where = route.via == bench::Via::Local
                                  ? "each on its own line"
                                  : std::string("each behind one ser2net (") + bench::ViaName(route.via) +
                                        ", a loopback port for each" + (route.chardelay ? "" : ", chardelay off") + ")";
    std::printf("talvor-cli update of a %lld-byte image (%lld blocks), simulated readers at 19200 baud%s, "
                "%s; load average %.2f\n",
                static_cast<long long>(image.size()), blocksPerReader, extra.c_str(), where.c_str(),
                bench::LoadAverage());
    std::printf("%7s %8s %6s %6s %9s %10s %9s %9s %8s %6s %9s %7s %9s\n", "readers", "seconds", "ratio", "CPU s",
                "of a core", "per reader", "sw/block", "sys/block", "peak MiB", "load", "pause ms", "attempt", "ser2net s");
    std::fflush(stdout);

    double reference = 0;
    bool allOk = true;
    bool goalMet = true;
    double largestPause = 0;
    double largestGap = 0;
    bool realTime = true;
    for (int count : counts) {
        Result r;
        int attempt = 0;
        while (!r.ok && attempt < kAttempts) {
            ++attempt;
            r = UpdateReaders(count, simProgram, simOptions, route, folder, imagePath, image, stalls);
            largestPause = std::max(largestPause, r.pause.allCpusMs);
            largestGap = std::max(largestGap, r.pause.largestGapMs);
            realTime = realTime && r.pause.realTime;
        }
        allOk = allOk && r.ok;
        if (!r.ok) {
            goalMet = false;
            continue;
        }
        if (reference == 0)
            reference = r.seconds;
        const double ratio = r.seconds / reference;
        const double share = r.cpuSeconds / r.seconds;
        const double blocks = double(blocksPerReader * count);
        const double switches = double(r.contextSwitches) / blocks;
        goalMet = goalMet && ratio <= kTimeGoal && share / count < kCpuPerReaderGoal &&
                  switches <= kSwitchesPerBlockGoal;
        char ser2netCpu[16] = "-";
        if (r.ser2netCpuSeconds >= 0)
            std::snprintf(ser2netCpu, sizeof ser2netCpu, "%.2f", r.ser2netCpuSeconds);
        char calls[16] = "-";
        if (r.systemCalls >= 0)
            std::snprintf(calls, sizeof calls, "%.1f", double(r.systemCalls) / blocks);
        std::printf("%7d %8.2f %6.3f %6.2f %8.2f%% %9.3f%% %9.1f %9s %8.1f %6.2f %9.1f %7d %9s\n", count, r.seconds,
                    ratio, r.cpuSeconds, 100.0 * share, 100.0 * share / count, switches, calls, r.peakMiB, r.load,
                    r.pause.allCpusMs, attempt, ser2netCpu);
        std::fflush(stdout);
    }
    // The per-port locks stay in /dev/shm after their last user; these were the run's own.
    const QString lockPrefix = QStringLiteral("talvor-bench-par-%1").arg(::getpid());
    for (const QString &name : QDir(QStringLiteral("/dev/shm")).entryList({lockPrefix + QLatin1Char('*')}))
        QFile::remove(QStringLiteral("/dev/shm/") + name);
    std::printf("pause ms: the longest time in which no CPU ran the stall meter's %s threads (2 ms ticks); the "
                "longest in all runs %.1f ms%s; the longest gap of one CPU %.1f ms\n",
                realTime ? "real-time" : "ordinary (real-time refused)", largestPause,
                largestPause <= 10 ? "" : realTime ? " (the virtual machine paused its CPUs)" : " (every CPU)",
                largestGap);
    std::printf("goal: each count within %.2fx the time of the first, at most %.0f context switches per block, "
                "under %.1f%% of one core per reader: %s\n",
                kTimeGoal, kSwitchesPerBlockGoal, 100 * kCpuPerReaderGoal, goalMet ? "met" : "MISSED");
    return allOk ? 0 : 1;
}
