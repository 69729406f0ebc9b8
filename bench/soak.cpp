// Soak: firmware updates back to back through one session against the
// unpaced simulated reader, with a random fault in most of them, the
// session's monitor polling between them. At the end the process must hold as
// many descriptors and threads as after the first update. Built with the
// sanitizers, LeakSanitizer checks the heap at exit.
//
//   soak [updates=200] [seed]

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <string>
#include <thread>

#include <dirent.h>
#include <sys/resource.h>
#include <unistd.h>

#include "core/line/serial_device.h"
#include "core/session/session.h"
#include "core/session/texts.h"
#include "sim/boot_loader.h"
#include "sim/device_info.h"
#include "sim/simulated_reader.h"

namespace {

int Entries(const char *folder)
{
    int n = 0;
    if (DIR *d = ::opendir(folder)) {
        while (const dirent *e = ::readdir(d))
            n += e->d_name[0] != '.';
        ::closedir(d);
    }
    return n;
}

// The descriptor of the listing itself is open while counting: the same
// offset every time, so before and after compare.
int Descriptors() { return Entries("/proc/self/fd"); }
int Threads() { return Entries("/proc/self/task"); }

// How an update ended, in one line: its last error line, or its outcome.
std::string OutcomeLine(const UpdateResult &result)
{
    if (!result.errorLines.isEmpty())
        return result.errorLines.last().toStdString();
    switch (result.outcome) {
    case UpdateOutcome::Completed: return update_text::Completed().toStdString();
    case UpdateOutcome::NoBootLoader: return "no boot loader";
    case UpdateOutcome::Stopped: return "stopped";
    case UpdateOutcome::Interrupted: return "interrupted";
    default: return "ended without a line (outcome " + std::to_string(int(result.outcome)) + ")";
    }
}

enum class Fault {
    None, LineGoesAway, BadCheck, ErrorCode, FallsSilent, LongGap, Garbage, Asks255, PastTheEnd,
    RepeatedBlock, CountdownLoss,
};
constexpr int kFaultKinds = int(Fault::CountdownLoss) + 1;
const char *const kFaultNames[kFaultKinds] = {
    "none", "line goes away", "bad check byte", "error code", "falls silent", "long gap",
    "garbage burst", "asks 255 bytes", "asks past the end", "repeated block", "line lost in countdown",
};

}  // namespace

int main(int argc, char **argv)
{
    const int updates = argc > 1 ? std::atoi(argv[1]) : 200;
    const unsigned seed = argc > 2 ? unsigned(std::strtoul(argv[2], nullptr, 10)) : std::random_device{}();
    std::mt19937 random(seed);
    // Quick read windows; the simulator answers at once.
    platform::SetTimeoutScaleForTests(0.1);

    QTemporaryDir folder;
    sim::Options options;
    options.folder = folder.path().toStdString();
    options.linkName = "soak";
    sim::SimulatedReader reader(options);
    auto boot = std::make_shared<sim::BootLoader>();
    reader.AddResponder(std::make_shared<sim::DeviceInfo>());
    reader.AddResponder(boot);
    boot->AttachLine(&reader);
    if (!reader.Start()) {
        std::fprintf(stderr, "simulator: %s\n", reader.ErrorText().c_str());
        return 2;
    }

    // An image of 726 bytes: eleven blocks of 66.
    const QString image = QDir(folder.path()).filePath(QStringLiteral("soak.rom"));
    {
        QByteArray bytes(726 - 8, 0);
        for (int i = 0; i < bytes.size(); ++i)
            bytes[i] = char((i * 7 + i / 66) & 0xFF);
        QByteArray trailer(8, 0);
        const uint32_t size = 726;
        for (int i = 0; i < 4; ++i)
            trailer[4 + i] = char((size >> (8 * i)) & 0xFF);
        QFile file(image);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes + trailer) != 726)
            return 2;
    }

    Session::Options sessionOptions;
    sessionOptions.lockPrefix = "soak-" + std::to_string(getpid());
    Session::OpenResult opened =
        Session::Open(QStringLiteral("soak"), QString::fromStdString(reader.LinkPath()), sessionOptions);
    if (!opened.session) {
        std::fprintf(stderr, "cannot open %s\n", reader.LinkPath().c_str());
        return 2;
    }
    Session &session = *opened.session;

    int injected[kFaultKinds] = {};
    std::map<std::string, int> outcomes;
    int fdsAfterFirst = 0, threadsAfterFirst = 0;
    QElapsedTimer clock;
    clock.start();
    for (int n = 0; n < updates; ++n) {
        // The first update is clean: the counts are taken after it.
        const Fault fault = n == 0 ? Fault::None : Fault(random() % kFaultKinds);
        ++injected[int(fault)];
        sim::BootLoaderOptions o;
        o.sectionSize = 726;
        sim::Faults line;
        const int block = 1 + int(random() % 11);
        switch (fault) {
        case Fault::None: break;
        case Fault::LineGoesAway:
            o.unplugAtBlock = block;
            line.comeBackAfterMs = 50;
            break;
        case Fault::BadCheck: o.badCheckAtBlock = block; break;
        case Fault::ErrorCode:
            o.errorAtBlock = block;
            o.errorCode = uint8_t(random() % 12);
            break;
        case Fault::FallsSilent: o.silentFromBlock = block; break;
        case Fault::LongGap:
            line.gap = 1 + int(random() % 3);
            line.gapMs = 40;
            break;
        case Fault::Garbage:
            line.garbage = 1 + int(random() % 3);
            break;
        case Fault::Asks255: o.plan = {{0, 255}, {255, 255}, {510, 216}}; break;
        case Fault::PastTheEnd: o.plan = {{0, 66}, {0xFF00, 255}, {660, 66}}; break;
        case Fault::RepeatedBlock: o.repeatBlock = block; break;
        case Fault::CountdownLoss: o.bootAfterAttempts = 3; break;
        }
        boot->SetOptions(o);
        reader.SetFaults(line);

        std::future<UpdateResult> update = session.Update(image);
        if (fault == Fault::CountdownLoss) {
            // The line goes away during the countdown and comes back.
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            reader.DropLine(60);
        }
        ++outcomes[OutcomeLine(update.get())];

        // Before the next update: the line back, a poll or two done.
        QElapsedTimer wait;
        wait.start();
        const uint64_t polls = session.Reader().polls;
        while ((!reader.LineUp() || session.Reader().polls < polls + 2) && wait.elapsed() < 5000)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        if (!reader.LineUp()) {
            std::fprintf(stderr, "update %d: the simulated line did not come back\n", n + 1);
            return 1;
        }
        if (n == 0) {
            fdsAfterFirst = Descriptors();
            threadsAfterFirst = Threads();
        }
    }
    const int fdsAtEnd = Descriptors(), threadsAtEnd = Threads();

    opened.session.reset();
    reader.Stop();
    platform::SetTimeoutScaleForTests(1.0);

    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    int faults = 0;
    for (int k = 1; k < kFaultKinds; ++k)
        faults += injected[k];
    std::printf("updates: %d in %.1f s (seed %u)\n", updates, clock.elapsed() / 1000.0, seed);
    std::printf("faults injected: %d\n", faults);
    for (int k = 0; k < kFaultKinds; ++k)
        std::printf("  %-24s %d\n", kFaultNames[k], injected[k]);
    std::printf("outcomes:\n");
    for (const auto &[line, count] : outcomes)
        std::printf("  %-44s %d\n", line.c_str(), count);
    std::printf("descriptors after the first update: %d, at the end: %d\n", fdsAfterFirst, fdsAtEnd);
    std::printf("threads after the first update: %d, at the end: %d\n", threadsAfterFirst, threadsAtEnd);
    std::printf("peak memory (ru_maxrss): %ld KiB\n", usage.ru_maxrss);
    const bool same = fdsAfterFirst == fdsAtEnd && threadsAfterFirst == threadsAtEnd;
    if (!same)
        std::printf("FAILED: descriptors or threads differ\n");
    return same ? 0 : 1;
}
