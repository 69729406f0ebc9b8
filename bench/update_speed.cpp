// update_speed: a whole firmware update of a generated image through the
// update a session runs (firmware_update::Run), against the simulated reader
// paced at 19200 baud on a pseudo-terminal. Prints its time against the
// line-time limit of the bytes that crossed the line, and the CPU time of
// the tool's side.
//
//   update_speed [--kib N] [--sim PATH]
//
// The simulator runs as a child process and the update runs on this thread,
// as it runs on a session's worker, so this thread's CPU time and context
// switches (getrusage) are the update's alone; its system calls are counted
// by perf where perf is installed. A stall meter names the longest pause of
// the whole machine. Exit code 0 when the update completed with the image
// intact, whether or not the goal was met.

#include <QByteArray>
#include <QFile>
#include <QString>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "bench/measure.h"
#include "bench/sim_process.h"
#include "core/line/serial_port.h"
#include "core/session/firmware_update.h"
#include "core/session/frame_link.h"
#include "core/session/image_copy.h"

namespace {

constexpr uint32_t kBaud = 19200;
constexpr double kBitsPerByte = 10.0;  // 8N1
constexpr int kBlockBytes = 66;
constexpr double kGoal = 1.02;

struct Result {
    bool ok = false;
    double seconds = 0;
    double cpuSeconds = 0;
    uint64_t bytesOut = 0;
    uint64_t bytesIn = 0;
    int blocksSent = 0;
    long long contextSwitches = 0;
    long long systemCalls = -1;  // -1: perf is not there
    bench::StallMeter::Report pause;

    double LimitSeconds() const { return double(bytesOut + bytesIn) * kBitsPerByte / kBaud; }
    double Ratio() const { return seconds / LimitSeconds(); }
};

// Section bytes that change from block to block and hit the stuffed values.
QByteArray SectionBytes(int size)
{
    QByteArray bytes(size, 0);
    for (int i = 0; i < size; ++i)
        bytes[i] = char((i * 7 + i / kBlockBytes) & 0xFF);
    return bytes;
}

// An image whose program section is the whole file: body, description,
// 24-bit description length, one unused byte, 32-bit section size.
QByteArray MakeImage(int sectionSize)
{
    const QByteArray description = "TALVOR benchmark image";
    QByteArray image = SectionBytes(sectionSize - int(description.size()) - 8) + description;
    const auto length = uint32_t(description.size());
    const auto size = uint32_t(sectionSize);
    const char trailer[8] = {char(length & 0xFF), char((length >> 8) & 0xFF), char((length >> 16) & 0xFF), 0,
                             char(size & 0xFF),   char((size >> 8) & 0xFF),   char((size >> 16) & 0xFF),
                             char((size >> 24) & 0xFF)};
    image.append(trailer, 8);
    return image;
}

bool WriteFile(const std::string &path, const QByteArray &bytes)
{
    QFile file(QString::fromStdString(path));
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

QByteArray ReadFile(const std::string &path)
{
    QFile file(QString::fromStdString(path));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

Result RunUpdate(const std::string &simProgram, const bench::TempFolder &folder, const std::string &imagePath,
                 const QByteArray &image, bench::StallMeter &stalls)
{
    Result result;
    const std::string link = "bench-upd";
    const std::string output = folder.Path() + "/" + link + ".received";
    bench::SimProcess sim;
    if (!sim.Start(simProgram, {"--folder", folder.Path(), "--link", link, "--baud", std::to_string(kBaud),
                                "--image", imagePath, "--output", output})) {
        std::fprintf(stderr, "update_speed: %s\n", sim.ErrorText().c_str());
        return result;
    }

    SerialPort port;
    if (!port.Open(folder.Path() + "/" + link, platform::LineSettings{kBaud})) {
        std::fprintf(stderr, "update_speed: cannot open the port: %s\n", port.Device().errorText().c_str());
        return result;
    }
    FrameLink frameLink(port);
    UpdateStop stop;
    // Read before the clock starts, as a session reads it when the job starts.
    const image_copy::ImageCopy copy = image_copy::Load(QString::fromStdString(imagePath));

    const uint64_t outBefore = port.Device().bytesSent();
    const uint64_t inBefore = port.Device().bytesReceived();
    bench::PerfCounts perf;
    const bool counted = perf.Start(pid_t(::syscall(SYS_gettid)), true);
    rusage before{}, after{};
    ::getrusage(RUSAGE_THREAD, &before);
    const double cpuBefore = bench::ThreadCpuSeconds();
    stalls.Take();
    const auto start = std::chrono::steady_clock::now();
    const UpdateResult update = firmware_update::Run(frameLink, port, copy, stop, {});
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    result.pause = stalls.Take();
    result.cpuSeconds = bench::ThreadCpuSeconds() - cpuBefore;
    ::getrusage(RUSAGE_THREAD, &after);
    perf.Stop();
    result.contextSwitches = (after.ru_nvcsw + after.ru_nivcsw) - (before.ru_nvcsw + before.ru_nivcsw);
    result.systemCalls = counted ? perf.systemCalls : -1;
    result.bytesOut = port.Device().bytesSent() - outBefore;
    result.bytesIn = port.Device().bytesReceived() - inBefore;
    result.blocksSent = update.blocksSent;
    port.Close();
    sim.Stop();  // the received image is on disk once it has ended

    const bool completed = update.outcome == UpdateOutcome::Completed && update.errorLines.isEmpty();
    const bool intact = ReadFile(output) == image;
    if (!completed)
        std::fprintf(stderr, "update_speed: the update did not complete: %s\n",
                     update.errorLines.join(QStringLiteral(" | ")).toStdString().c_str());
    else if (!intact)
        std::fprintf(stderr, "update_speed: the reader did not receive the image intact\n");
    result.ok = completed && intact;
    return result;
}

void PrintRow(const char *name, const Result &r, int blocks)
{
    char calls[16] = "-";
    if (r.systemCalls >= 0)
        std::snprintf(calls, sizeof calls, "%.1f", double(r.systemCalls) / blocks);
    std::printf("%-26s %8.2f %9llu %9llu %10.2f %7.3f %8.3f %6.2f%% %8.1f %9s %8.1f\n", name, r.seconds,
                static_cast<unsigned long long>(r.bytesOut), static_cast<unsigned long long>(r.bytesIn),
                r.LimitSeconds(), r.Ratio(), r.cpuSeconds, 100.0 * r.cpuSeconds / r.seconds,
                double(r.contextSwitches) / blocks, calls, r.pause.allCpusMs);
}

}  // namespace

int main(int argc, char **argv)
{
    int kib = 64;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--kib") == 0 && i + 1 < argc) {
            kib = std::atoi(argv[++i]);
        } else if (std::strcmp(argv[i], "--sim") == 0 && i + 1 < argc) {
            ++i;
        } else {
            std::fprintf(stderr, "usage: update_speed [--kib N (1 to 64, default 64)] [--sim PATH]\n");
            return 2;
        }
    }
    if (kib < 1 || kib > 64) {
        std::fprintf(stderr, "update_speed: --kib takes 1 to 64\n");
        return 2;
    }

    const std::string simProgram = bench::SimProgram(argc, argv);
    bench::TempFolder folder;
    if (!folder.Valid()) {
        std::fprintf(stderr, "update_speed: cannot create a folder in /tmp\n");
        return 1;
    }
    const int sectionSize = kib * 1024;
    const QByteArray image = MakeImage(sectionSize);
    const std::string imagePath = folder.Path() + "/bench.rom";
    if (!WriteFile(imagePath, image)) {
        std::fprintf(stderr, "update_speed: cannot write %s\n", imagePath.c_str());
        return 1;
    }
    const int blocks = (sectionSize + kBlockBytes - 1) / kBlockBytes;
    std::printf("firmware update of a %d-byte program section: %d blocks of up to %d bytes, "
                "simulated reader at %u baud\n",
                sectionSize, blocks, kBlockBytes, kBaud);
    std::fflush(stdout);

    bench::StallMeter stalls;
    const Result update = RunUpdate(simProgram, folder, imagePath, image, stalls);
    if (!update.ok)
        return 1;
    if (update.blocksSent != blocks) {
        std::fprintf(stderr, "update_speed: %d blocks went through, %d expected\n", update.blocksSent, blocks);
        return 1;
    }

    std::printf("%-26s %8s %9s %9s %10s %7s %8s %7s %8s %9s %8s\n", "reply read", "seconds", "bytes out",
                "bytes in", "line limit", "ratio", "CPU s", "CPU", "sw/block", "sys/block", "pause ms");
    PrintRow("up to the end byte", update, blocks);
    std::printf("pause ms: the longest time in which no CPU ran the stall meter's threads (2 ms ticks); load "
                "average %.2f\n",
                bench::LoadAverage());
    std::printf("goal: within %.2fx the line-time limit: %s (%.3fx)\n", kGoal,
                update.Ratio() <= kGoal ? "met" : "MISSED", update.Ratio());
    return 0;
}
