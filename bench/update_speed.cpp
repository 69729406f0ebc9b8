// update_speed: a whole firmware update of a generated image through the
// update a session runs (firmware_update::Run), against the simulated reader
// paced at 19200 baud on a pseudo-terminal. Prints its time against the
// line-time limit of the bytes that crossed the line, and the CPU time of
// the tool's side.
//
//   update_speed [--kib N] [--via rfc2217|tcp] [--port NAME] [--patience F]
//                [--no-chardelay] [--sim PATH] [--ser2net PATH]
//
// --via starts ser2net in front of the simulated reader and updates it
// through rfc2217://127.0.0.1:P or tcp://127.0.0.1:P; --port updates a reader
// someone else runs (a simulated one asking for the image's size, since the
// image is made up). A network port does not count line bytes, so these come
// from a first run at full speed over a pseudo-terminal; the goal through
// the network is looser than on a local line. --no-chardelay turns off
// ser2net's wait of two characters' time before it sends what the reader said.
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
#include <vector>

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "bench/measure.h"
#include "bench/sim_process.h"
#include "bench/ser2net_process.h"
#include "core/line/network_line.h"
#include "core/line/serial_device.h"
#include "core/line/serial_port.h"
#include "core/session/firmware_update.h"
#include "core/session/frame_link.h"
#include "core/session/image_copy.h"

namespace {

constexpr uint32_t kBaud = 19200;
constexpr double kBitsPerByte = 10.0;  // 8N1
constexpr int kBlockBytes = 66;
constexpr double kGoal = 1.02;
// Through a network port: the device server's hand-over and the round trips.
constexpr double kNetworkGoal = 1.08;

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

// The update through the port of that name, the clock around the engine
// alone. The byte counts are the line's own on a local device; a network port
// leaves them 0.
Result RunUpdate(const std::string &portName, double patience, const std::string &imagePath,
                 bench::StallMeter &stalls)
{
    Result result;
    SerialPort port;
    if (!port.Open(portName, platform::LineSettings{kBaud}, patience)) {
        std::fprintf(stderr, "update_speed: cannot open %s: %s\n", portName.c_str(),
                     port.Device().errorText().c_str());
        return result;
    }
    const auto *local = dynamic_cast<const platform::SerialDevice *>(&port.Device());
    FrameLink frameLink(port);
    UpdateStop stop;
    // Read before the clock starts, as a session reads it when the job starts.
    const image_copy::ImageCopy copy = image_copy::Load(QString::fromStdString(imagePath));

    const uint64_t outBefore = local ? local->bytesSent() : 0;
    const uint64_t inBefore = local ? local->bytesReceived() : 0;
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
    result.bytesOut = local ? local->bytesSent() - outBefore : 0;
    result.bytesIn = local ? local->bytesReceived() - inBefore : 0;
    result.blocksSent = update.blocksSent;
    port.Close();

    result.ok = update.outcome == UpdateOutcome::Completed && update.errorLines.isEmpty();
    if (!result.ok)
        std::fprintf(stderr, "update_speed: the update did not complete: %s\n",
                     update.errorLines.join(QStringLiteral(" | ")).toStdString().c_str());
    return result;
}

// A simulated reader in the folder; paced at the reader's baud rate, or at
// full speed for the counting pass.
bool StartReader(bench::SimProcess &sim, const std::string &simProgram, const bench::TempFolder &folder,
                 const std::string &link, const std::string &imagePath, bool paced)
{
    std::vector<std::string> arguments{"--folder", folder.Path(), "--link", link, "--image", imagePath,
                                       "--output", folder.Path() + "/" + link + ".received"};
    if (paced)
        arguments.insert(arguments.end(), {"--baud", std::to_string(kBaud)});
    if (sim.Start(simProgram, arguments))
        return true;
    std::fprintf(stderr, "update_speed: %s\n", sim.ErrorText().c_str());
    return false;
}

// Whether the reader behind link wrote the image it received (once it has ended).
bool ReceivedIntact(const bench::TempFolder &folder, const std::string &link, const QByteArray &image)
{
    if (ReadFile(folder.Path() + "/" + link + ".received") == image)
        return true;
    std::fprintf(stderr, "update_speed: the reader did not receive the image intact\n");
    return false;
}

// The bytes an update of this image puts on the reader's line are the same
// whatever carries them; a network port does not count them, so they are
// counted on a run at full speed over a pseudo-terminal first.
bool CountLineBytes(const std::string &simProgram, const bench::TempFolder &folder, const std::string &imagePath,
                    const QByteArray &image, bench::StallMeter &stalls, Result &counts)
{
    bench::SimProcess sim;
    const std::string link = "bench-count";
    if (!StartReader(sim, simProgram, folder, link, imagePath, false))
        return false;
    counts = RunUpdate(folder.Path() + "/" + link, 0, imagePath, stalls);
    sim.Stop();
    return counts.ok && ReceivedIntact(folder, link, image);
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
    bench::Via via = bench::Via::Local;
    std::string portName;
    double patience = 0;
    bool chardelay = true;
    for (int i = 1; i < argc; ++i) {
        const bool hasValue = i + 1 < argc;
        if (std::strcmp(argv[i], "--kib") == 0 && hasValue) {
            kib = std::atoi(argv[++i]);
        } else if (std::strcmp(argv[i], "--via") == 0 && hasValue && bench::ParseVia(argv[i + 1], via)) {
            ++i;
        } else if (std::strcmp(argv[i], "--port") == 0 && hasValue) {
            portName = argv[++i];
        } else if (std::strcmp(argv[i], "--no-chardelay") == 0) {
            chardelay = false;
        } else if (std::strcmp(argv[i], "--patience") == 0 && hasValue) {
            patience = std::atof(argv[++i]);
        } else if ((std::strcmp(argv[i], "--sim") == 0 || std::strcmp(argv[i], "--ser2net") == 0) && hasValue) {
            ++i;
        } else {
            std::fprintf(stderr, "usage: update_speed [--kib N (1 to 64, default 64)] [--via rfc2217|tcp] "
                                 "[--no-chardelay] [--port NAME] [--patience F] [--sim PATH] [--ser2net PATH]\n");
            return 2;
        }
    }
    if (kib < 1 || kib > 64) {
        std::fprintf(stderr, "update_speed: --kib takes 1 to 64\n");
        return 2;
    }
    if (!portName.empty() && via != bench::Via::Local) {
        std::fprintf(stderr, "update_speed: --port names the port, --via starts ser2net: one or the other\n");
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
    const bool network = via != bench::Via::Local || platform::IsNetworkPortName(portName);
    std::string where = "simulated reader at " + std::to_string(kBaud) + " baud";
    if (via != bench::Via::Local)
        where += " behind ser2net (" + std::string(bench::ViaName(via)) + ", 127.0.0.1" +
                 (chardelay ? "" : ", chardelay off") + ")";
    else if (!portName.empty())
        where = "the reader at " + portName + " (it must ask for " + std::to_string(sectionSize) + " bytes)";
    std::printf("firmware update of a %d-byte program section: %d blocks of up to %d bytes, %s\n", sectionSize,
                blocks, kBlockBytes, where.c_str());
    std::fflush(stdout);

    bench::StallMeter stalls;
    Result counts;
    if (network && !CountLineBytes(simProgram, folder, imagePath, image, stalls, counts))
        return 1;

    const std::string link = "bench-upd";
    const bool ownReader = portName.empty();
    bench::SimProcess sim;
    bench::Ser2netProcess ser2net;
    if (ownReader) {
        if (!StartReader(sim, simProgram, folder, link, imagePath, true))
            return 1;
        portName = folder.Path() + "/" + link;
    }
    if (via != bench::Via::Local) {
        const std::string program = bench::Ser2netProgram(argc, argv);
        if (program.empty()) {
            std::fprintf(stderr, "update_speed: ser2net is not installed (or give --ser2net PATH)\n");
            return 1;
        }
        if (!ser2net.Start(program, via, {portName}, folder.Path() + "/ser2net.log", chardelay)) {
            std::fprintf(stderr, "update_speed: %s\n", ser2net.ErrorText().c_str());
            return 1;
        }
        portName = ser2net.PortNames().front();
    }
    const double ser2netCpuBefore = ser2net.CpuSeconds();
    Result update = RunUpdate(portName, patience, imagePath, stalls);
    const double ser2netCpu = ser2net.CpuSeconds() - ser2netCpuBefore;
    ser2net.Stop();
    sim.Stop();  // the received image is on disk once it has ended
    if (!update.ok && via != bench::Via::Local)
        std::fprintf(stderr, "ser2net said:\n%s", ReadFile(folder.Path() + "/ser2net.log").right(2000).constData());
    if (!update.ok || (ownReader && !ReceivedIntact(folder, link, image)))
        return 1;
    if (update.blocksSent != blocks) {
        std::fprintf(stderr, "update_speed: %d blocks went through, %d expected\n", update.blocksSent, blocks);
        return 1;
    }
    if (network) {
        update.bytesOut = counts.bytesOut;
        update.bytesIn = counts.bytesIn;
    }

    std::printf("%-26s %8s %9s %9s %10s %7s %8s %7s %8s %9s %8s\n", "reply read", "seconds", "bytes out",
                "bytes in", "line limit", "ratio", "CPU s", "CPU", "sw/block", "sys/block", "pause ms");
    PrintRow("up to the end byte", update, blocks);
    std::printf("pause ms: the longest time in which no CPU ran the stall meter's threads (2 ms ticks); load "
                "average %.2f\n",
                bench::LoadAverage());
    if (network) {
        const platform::NetworkAddress address = platform::ParseNetworkAddress(portName);
        std::printf("port %s, patience %.2f; bytes counted on a run at full speed over a pseudo-terminal\n",
                    portName.c_str(), patience > 0 ? patience : platform::DefaultPatience(address.host));
    }
    if (via != bench::Via::Local)
        std::printf("ser2net CPU %.2f s (%.2f%% of one core)\n", ser2netCpu, 100.0 * ser2netCpu / update.seconds);
    const double goal = network ? kNetworkGoal : kGoal;
    std::printf("goal: within %.2fx the line-time limit: %s (%.3fx)\n", goal, update.Ratio() <= goal ? "met" : "MISSED",
                update.Ratio());
    return 0;
}
