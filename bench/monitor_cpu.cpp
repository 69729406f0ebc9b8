// monitor_cpu: the CPU time the connection monitor costs while the window is
// idle, polling a simulated reader at 19200 baud that answers, and one that
// stays silent. The monitor's window calls go through an idle event loop on
// the main thread, as in the tool.
//
//   monitor_cpu [--seconds N] [--sim PATH]
//
// The simulator runs as a child process: this process's CPU time (getrusage)
// is the monitor thread's plus the event loop's, and the main thread's own
// clock tells the two apart.

#include <QCoreApplication>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "bench/sim_process.h"
#include "core/engine/com_port.h"
#include "core/engine/frame_codec.h"
#include "core/engine/connect_saver.h"
#include "core/line/named_mutex.h"

namespace {

constexpr uint32_t kBaud = 19200;
constexpr double kGoalPercent = 1.0;

class IdleView : public MonitorView {
public:
    void SetLineText(MonitorLine, const QString &) override { ++calls; }
    void SetSerialCaptionLit(bool) override { ++calls; }
    int calls = 0;
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
    TComPort1 port;
    if (port.Open(folder.Path() + "/" + link, platform::LineSettings{kBaud}) == NullHandle) {
        std::fprintf(stderr, "monitor_cpu: cannot open the port: %s\n", port.Device().errorText().c_str());
        return result;
    }
    std::atomic<bool> portOpen{true};
    TProtFrame prot(port);
    prot.SetPortOpenFlag(&portOpen);
    platform::NamedMutex portBusy("bench-COMpBusy");
    IdleView view;
    {
        ConnectSaver monitor(true, prot, port, portBusy, portOpen, view);
        const double processBefore = bench::ProcessCpuSeconds();
        const double guiBefore = bench::ThreadCpuSeconds();
        const auto start = std::chrono::steady_clock::now();
        monitor.Resume();
        QTimer::singleShot(seconds * 1000, Qt::PreciseTimer, &app, &QCoreApplication::quit);
        app.exec();
        result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        result.processCpu = bench::ProcessCpuSeconds() - processBefore;
        result.guiCpu = bench::ThreadCpuSeconds() - guiBefore;
        result.polls = monitor.PollCount();
        monitor.Terminate();
        monitor.WaitFor();
    }
    result.windowCalls = view.calls;
    port.Close();
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
    std::printf("%-10s %7s %6s %7s %12s %14s %14s %9s\n", "reader", "seconds", "polls", "polls/s", "window calls",
                "CPU s/min all", "CPU s/min mon", "of a core");
    PrintRow("answering", answering);
    PrintRow("silent", silent);
    const bool met = answering.Percent() < kGoalPercent && silent.Percent() < kGoalPercent;
    std::printf("goal: under %.0f%% of one core, answering or silent: %s\n", kGoalPercent, met ? "met" : "MISSED");
    return 0;
}
