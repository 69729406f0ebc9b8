// parallel_update: talvor-cli updating 1, 4 and 8 simulated readers at once,
// each paced at 19200 baud on a pseudo-terminal of its own, with one 64 KiB
// image. Prints for each count the wall time, its ratio to one reader, the
// tool's CPU seconds (its share of one core) and its peak memory.
//
//   parallel_update [--counts 1,4,8] [--sim PATH]
//
// The tool and the simulators are child processes; the tool's CPU time and
// peak memory are its own (wait4). A simulator that the machine leaves without
// the processor for more than the line's 20 ms between bytes breaks its reply
// as a real line would; such a run is said and tried again, three times at
// most. Exit code 0 when every count had a run in which every reader received
// the image intact, whether or not the goal was met.

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

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "bench/sim_process.h"

extern char **environ;

namespace {

constexpr double kTimeGoal = 1.10;
constexpr double kCpuGoal = 0.05;

struct Result {
    bool ok = false;
    double seconds = 0;
    double cpuSeconds = 0;
    double peakMiB = 0;
};

QByteArray ReadFile(const std::string &path)
{
    QFile file(QString::fromStdString(path));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

constexpr int kAttempts = 3;

// Runs the tool with its output to a file; its status, CPU time and peak memory.
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

Result UpdateReaders(int count, const std::string &simProgram, const bench::TempFolder &folder,
                     const std::string &imagePath, const QByteArray &image)
{
    Result result;
    std::vector<std::unique_ptr<bench::SimProcess>> readers;
    std::vector<std::string> arguments{"update"};
    std::vector<std::string> outputs;
    for (int i = 0; i < count; ++i) {
        const std::string link = "bench-par-" + std::to_string(count) + "-" + std::to_string(i);
        outputs.push_back(folder.Path() + "/" + link + ".received");
        ::unlink(outputs.back().c_str());  // from an earlier attempt
        readers.push_back(std::make_unique<bench::SimProcess>());
        if (!readers.back()->Start(simProgram, {"--folder", folder.Path(), "--link", link, "--baud", "19200",
                                                "--serial", std::to_string(1000 + i), "--image", imagePath,
                                                "--output", outputs.back()})) {
            std::fprintf(stderr, "parallel_update: %s\n", readers.back()->ErrorText().c_str());
            return result;
        }
        arguments.insert(arguments.end(), {"-p", link});
    }
    // The journal entries go to a file of the run's own, not the user's journal.
    arguments.insert(arguments.end(), {imagePath, "--json", "--port-folder", folder.Path(), "--lock-prefix",
                                       "bench-par-" + std::to_string(::getpid()), "--database",
                                       folder.Path() + "/journal.db"});
    const std::string events = folder.Path() + "/events.json";

    int status = -1;
    rusage usage{};
    const auto start = std::chrono::steady_clock::now();
    const bool ran = RunTool(TALVOR_CLI_PROGRAM, arguments, events, status, usage);
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    result.cpuSeconds = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                        double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    result.peakMiB = double(usage.ru_maxrss) / 1024.0;
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
    return result;
}

}  // namespace

int main(int argc, char **argv)
{
    std::vector<int> counts{1, 4, 8};
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--counts") == 0 && i + 1 < argc) {
            counts.clear();
            for (const QString &n : QString::fromLatin1(argv[++i]).split(QLatin1Char(',')))
                counts.push_back(n.toInt());
        } else if (std::strcmp(argv[i], "--sim") == 0 && i + 1 < argc) {
            ++i;
        } else {
            std::fprintf(stderr, "usage: parallel_update [--counts 1,4,8] [--sim PATH]\n");
            return 2;
        }
    }
    if (counts.empty() || counts.front() < 1) {
        std::fprintf(stderr, "parallel_update: --counts takes reader counts from 1, the first the reference\n");
        return 2;
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
    std::printf("talvor-cli update of a %lld-byte image, simulated readers at 19200 baud, each on its own line\n",
                static_cast<long long>(image.size()));
    std::printf("%8s %9s %9s %8s %9s %9s %8s\n", "readers", "seconds", "ratio", "CPU s", "of a core", "peak MiB",
                "attempt");
    std::fflush(stdout);

    double reference = 0;
    bool allOk = true;
    bool goalMet = true;
    for (int count : counts) {
        Result r;
        int attempt = 0;
        while (!r.ok && attempt < kAttempts) {
            ++attempt;
            r = UpdateReaders(count, simProgram, folder, imagePath, image);
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
        goalMet = goalMet && ratio <= kTimeGoal && share < kCpuGoal;
        std::printf("%8d %9.2f %9.3f %8.2f %8.2f%% %9.1f %8d\n", count, r.seconds, ratio, r.cpuSeconds,
                    100.0 * share, r.peakMiB, attempt);
        std::fflush(stdout);
    }
    // The per-port locks stay in /dev/shm after their last user; these were the run's own.
    const QString lockPrefix = QStringLiteral("talvor-bench-par-%1").arg(::getpid());
    for (const QString &name : QDir(QStringLiteral("/dev/shm")).entryList({lockPrefix + QLatin1Char('*')}))
        QFile::remove(QStringLiteral("/dev/shm/") + name);
    std::printf("goal: each count within %.2fx the time of the first, under %.0f%% of one core: %s\n", kTimeGoal,
                100 * kCpuGoal, goalMet ? "met" : "MISSED");
    return allOk ? 0 : 1;
}
