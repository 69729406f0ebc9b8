// monitor_cpu: the CPU time a session's connection monitor costs while the
// window is idle, polling a simulated reader at 19200 baud that answers, and
// one that stays silent. What the session reports goes through an idle event
// loop on the main thread, as a window takes it.
//
//   monitor_cpu [--seconds N] [--sim PATH]
//
// The simulator runs as a child process: this process's CPU time (getrusage)
// is the session worker's plus the event loop's, and the main thread's own
// clock tells the two apart.

#include <QCoreApplication>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "bench/sim_process.h"
#include "core/session/session.h"

namespace {

constexpr uint32_t kBaud = 19200;
constexpr double kGoalPercent = 1.0;

// Hands each snapshot to the main thread's event loop, as a window does.
class IdleWindow : public SessionObserver {
public:
    explicit IdleWindow(QCoreApplication &app) : app_(app) {}
    void ReaderChanged(const ReaderSnapshot &snapshot) override
    {
        QMetaObject::invokeMethod(&app_, [this, snapshot] {
            shown = snapshot;
            ++calls;
        }, Qt::QueuedConnection);
    }
    // Main thread only.
    ReaderSnapshot shown;
    int calls = 0;

private:
    QCoreApplication &app_;
};

struct Result {
    bool ok = false;
    double seconds = 0;
    double processCpu = 0;
    double guiCpu = 0;
    uint64_t polls = 0;
    int windowCalls = 0;

    double PerMinute(double cpu) const { return cpu * 60.0 / seconds; }
    double Percent() const { return 100.0 * processCpu / seconds; }
};

Result Measure(QCoreApplication &app, const std::string &simProgram, const bench::TempFolder &folder,
               bool silent, int seconds)
{
    Result result;
    const std::string link = silent ? "bench-mon-off" : "bench-mon-on";
    std::vector<std::string> arguments = {"--folder", folder.Path(), "--link", link, "--baud",
                                          std::to_string(kBaud)};
    if (silent)
        arguments.insert(arguments.end(), {"--silent", "always"});
    bench::SimProcess sim;
    if (!sim.Start(simProgram, arguments)) {
        std::fprintf(stderr, "monitor_cpu: %s\n", sim.ErrorText().c_str());
        return result;
    }
    IdleWindow window(app);
    Session::Options options;
    options.lockPrefix = "bench-COMpBusy";
    options.observer = &window;
    const double processBefore = bench::ProcessCpuSeconds();
    const double guiBefore = bench::ThreadCpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    Session::OpenResult opened =
        Session::Open(QString::fromStdString(link), QString::fromStdString(folder.Path() + "/" + link), options);
    if (!opened.session) {
        std::fprintf(stderr, "monitor_cpu: cannot open the port: %s%s\n", opened.failure.systemText.c_str(),
                     opened.lockFailure.toStdString().c_str());
        return result;
    }
    QTimer::singleShot(seconds * 1000, Qt::PreciseTimer, &app, &QCoreApplication::quit);
    app.exec();
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    result.processCpu = bench::ProcessCpuSeconds() - processBefore;
    result.guiCpu = bench::ThreadCpuSeconds() - guiBefore;
    result.polls = opened.session->Reader().polls;
    opened.session.reset();
    QCoreApplication::processEvents();  // the calls posted before the session ended
    result.windowCalls = window.calls;
    sim.Stop();
    result.ok = result.polls > 0;
    return result;
}

void PrintRow(const char *name, const Result &r)
{
    const double monitorCpu = r.processCpu - r.guiCpu;
    std::printf("%-10s %7.1f %6llu %7.1f %12d %14.3f %14.3f %8.3f%%\n", name, r.seconds,
                static_cast<unsigned long long>(r.polls), double(r.polls) / r.seconds, r.windowCalls,
                r.PerMinute(r.processCpu), r.PerMinute(monitorCpu), r.Percent());
}

}  // namespace

int main(int argc, char **argv)
{
    int seconds = 15;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) {
            seconds = std::atoi(argv[++i]);
        } else if (std::strcmp(argv[i], "--sim") == 0 && i + 1 < argc) {
            ++i;
        } else {
            std::fprintf(stderr, "usage: monitor_cpu [--seconds N (default 15)] [--sim PATH]\n");
            return 2;
        }
    }
    if (seconds < 1 || seconds > 3600) {
        std::fprintf(stderr, "monitor_cpu: --seconds takes 1 to 3600\n");
        return 2;
    }
    QCoreApplication app(argc, argv);
    const std::string simProgram = bench::SimProgram(argc, argv);
    bench::TempFolder folder;
    if (!folder.Valid()) {
        std::fprintf(stderr, "monitor_cpu: cannot create a folder in /tmp\n");
        return 1;
    }
    std::printf("connection monitor, idle window, simulated reader at %u baud, %d s per case\n", kBaud, seconds);
    std::fflush(stdout);
    const Result answering = Measure(app, simProgram, folder, false, seconds);
    const Result silent = Measure(app, simProgram, folder, true, seconds);
    if (!answering.ok || !silent.ok)
        return 1;
    std::printf("%-10s %7s %6s %7s %12s %14s %14s %9s\n", "reader", "seconds", "polls", "polls/s", "changes",
                "CPU s/min all", "CPU s/min mon", "of a core");
    PrintRow("answering", answering);
    PrintRow("silent", silent);
    const bool met = answering.Percent() < kGoalPercent && silent.Percent() < kGoalPercent;
    std::printf("goal: under %.0f%% of one core, answering or silent: %s\n", kGoalPercent, met ? "met" : "MISSED");
    return 0;
}
