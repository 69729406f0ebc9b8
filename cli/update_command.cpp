// `update`: a firmware image onto the readers on the ports named, all at
// once, or onto each reader as its port appears (`--station`).

#include <QElapsedTimer>
#include <QJsonArray>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <unistd.h>

#include "cli/cli_common.h"
#include "cli/cli_texts.h"
#include "cli/commands.h"
#include "cli/port_watch.h"
#include "cli/update_run.h"
#include "core/line/network_line.h"
#include "core/protocol/firmware_image.h"
#include "core/session/image_copy.h"
#include "core/line/port_directory.h"

namespace cli {

namespace {

volatile std::sig_atomic_t interrupted = 0;

void OnInterrupt(int)
{
    interrupted = 1;
}

// Ctrl-C and a plain kill stop the sessions at their next safe step; a second
// Ctrl-C ends the program at once.
void CatchInterrupts()
{
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

enum class Output { Live, Plain, Json };

constexpr int kTickMs = 100;
constexpr int kLiveRedrawMs = 200;
constexpr int kBarWidth = 16;
constexpr int kStationPatienceMs = 3000;

// The image as the update engine reads it: the same copy, refused by the same rules.
bool ImageAccepted(const QString &path, QString &reason, QString &description)
{
    const image_copy::ImageCopy image = image_copy::Load(path);
    const firmware_image::Layout layout = firmware_image::Read(image.bytes);
    if (image.Read() && layout.verdict.Accepted()) {
        description = firmware_image::DescriptionText(layout.description).trimmed();
        return true;
    }
    // The copy's reason names the file itself; the rules' does not.
    if (image.failure == image_copy::Failure::TooLarge)
        reason = QStringLiteral("%1: %2").arg(path, image.verdict.reason);
    else if (!image.Read())
        reason = image.reason;
    else
        reason = QStringLiteral("%1: %2").arg(path, layout.verdict.reason);
    return false;
}

// Short enough that a reader's line fits 80 columns.
QString StageText(const RunState &state)
{
    switch (state.phase) {
    case RunPhase::Opening: return CliUpdate::tr("opening");
    case RunPhase::Asking: return CliUpdate::tr("asking");
    case RunPhase::WaitingForBootLoader: return CliUpdate::tr("waiting (%1)").arg(state.progress.attemptsLeft);
    case RunPhase::Transfer: return CliUpdate::tr("transfer");
    case RunPhase::Finishing: return CliUpdate::tr("restarting");
    case RunPhase::Done: return state.result.Succeeded() ? CliUpdate::tr("done") : CliUpdate::tr("failed");
    }
    return QString();
}

QString LiveLine(const UpdateRun &run, int nameWidth)
{
    const RunState state = run.State();
    const UpdateProgress &p = state.progress;
    // Data blocks, as the journal counts them (firmware_update.h).
    const int total = p.blocksTotal;
    const bool done = state.phase == RunPhase::Done && state.result.Succeeded();
    const int percent = done ? 100 : total > 0 ? p.blocksSent * 100 / total : 0;
    const int filled = percent * kBarWidth / 100;
    const QString bar = QString(filled, QLatin1Char('#')) + QString(kBarWidth - filled, QLatin1Char('-'));
    QString left = QStringLiteral("     ");
    if (state.phase == RunPhase::Transfer && p.blocksSent > 0)
        left = QLatin1Char('~') + Minutes(state.transferMs * (total - p.blocksSent) / p.blocksSent);
    const QString serial = state.serialNumber.isEmpty() ? QStringLiteral("-") : state.serialNumber;
    return QStringLiteral("%1 %2 %3 [%4] %5% %6/%7 %8 %9")
        .arg(run.Port().name, -nameWidth)
        .arg(serial, 5)
        .arg(StageText(state), -13)
        .arg(bar)
        .arg(percent, 3)
        .arg(p.blocksSent, 5)
        .arg(total, -5)
        .arg(Minutes(state.elapsedMs), 5)
        .arg(left);
}

// The plain line for an event, or nothing for events too small to tell.
QString PlainLine(const QJsonObject &event)
{
    const QString port = event.value(QStringLiteral("port")).toString();
    const QString kind = event.value(QStringLiteral("event")).toString();
    if (kind == QLatin1String("reader")) {
        if (!event.value(QStringLiteral("answered")).toBool())
            return CliUpdate::tr("%1: the reader does not answer; trying its boot loader").arg(port);
        return CliUpdate::tr("%1: reader %2, firmware %3")
            .arg(port, event.value(QStringLiteral("serial_number")).isDouble()
                           ? QString::number(event.value(QStringLiteral("serial_number")).toInt())
                           : QStringLiteral("-"),
                 event.value(QStringLiteral("firmware")).toString(CliUpdate::tr("unknown")));
    }
    if (kind == QLatin1String("waiting")) {
        const int left = event.value(QStringLiteral("attempts_left")).toInt();
        return left % 10 == 0 || left < 5 ? CliUpdate::tr("%1: waiting for the boot loader (%2)").arg(port).arg(left)
                                          : QString();
    }
    if (kind == QLatin1String("progress")) {
        const int percent = event.value(QStringLiteral("percent")).toInt();
        return percent % 10 == 0 ? CliUpdate::tr("%1: transfer %2% (%3/%4 blocks)")
                                       .arg(port)
                                       .arg(percent)
                                       .arg(event.value(QStringLiteral("blocks")).toInt())
                                       .arg(event.value(QStringLiteral("blocks_total")).toInt())
                                 : QString();
    }
    if (kind == QLatin1String("result"))
        return QStringLiteral("%1: %2 (%3 s)")
            .arg(port, event.value(QStringLiteral("text")).toString())
            .arg(event.value(QStringLiteral("seconds")).toDouble(), 0, 'f', 1);
    return QString();
}

void Emit(Output output, const QJsonObject &event)
{
    if (output == Output::Json) {
        PrintJsonLine(event);
    } else {
        const QString line = PlainLine(event);
        if (!line.isEmpty())
            PrintLine(line);
    }
}

void PrintSummaryTable(const std::vector<std::unique_ptr<UpdateRun>> &runs)
{
    PrintLine(QString());
    PrintLine(QStringLiteral("%1 %2 %3 %4 %5 %6")
                  .arg(CliUpdate::tr("PORT"), -15)
                  .arg(CliUpdate::tr("SERIAL"), 6)
                  .arg(CliUpdate::tr("BEFORE"), -7)
                  .arg(CliUpdate::tr("AFTER"), -7)
                  .arg(CliUpdate::tr("SECONDS"), 7)
                  .arg(CliUpdate::tr("RESULT")));
    for (const auto &run : runs) {
        const RunState state = run->State();
        auto orDash = [](const QString &text) { return text.isEmpty() ? QStringLiteral("-") : text; };
        PrintLine(QStringLiteral("%1 %2 %3 %4 %5 %6")
                      .arg(run->Port().name, -15)
                      .arg(orDash(state.serialNumber), 6)
                      .arg(orDash(state.firmwareBefore), -7)
                      .arg(orDash(state.firmwareAfter), -7)
                      .arg(state.result.seconds, 7, 'f', 1)
                      .arg(state.result.Text()));
    }
}

// The last job on each reader: its serial number names it, else its port.
// Without grouping (readers named on the command line) every job is its own.
std::vector<const UpdateRun *> LastJobPerReader(const std::vector<std::unique_ptr<UpdateRun>> &runs, bool group)
{
    std::vector<const UpdateRun *> readers;
    QStringList keys;
    for (const auto &run : runs) {
        const QString serial = run->State().serialNumber;
        const QString key = serial.isEmpty() || !group ? QStringLiteral("port ") + run->Port().name : serial;
        const int known = keys.indexOf(key);
        if (known >= 0) {
            readers[size_t(known)] = run.get();
        } else {
            keys << key;
            readers.push_back(run.get());
        }
    }
    return readers;
}

// The status of the whole command: interrupted when a reader was cut short by
// Ctrl-C, else the first reader's failure in the order given; a reader's
// last job counts.
int OverallExit(const std::vector<const UpdateRun *> &readers)
{
    int first = kOk;
    for (const UpdateRun *run : readers) {
        const int code = run->State().result.ExitCode();
        if (interrupted && code == kInterrupted)
            return kInterrupted;
        if (first == kOk)
            first = code;
    }
    return first;
}

// After Ctrl-C, asked on every tick until each run is done: a stop that
// reaches a session before its update job has begun is asked again once it has.
void StopAllWhenInterrupted(const std::vector<std::unique_ptr<UpdateRun>> &runs)
{
    if (!interrupted)
        return;
    for (const auto &run : runs) {
        if (!run->Done())
            run->RequestStop();
    }
}

// What each reader last answered: after the table, the readers whose update
// failed; at a station's end, every reader it met.
void SayReaderStates(const std::vector<const UpdateRun *> &readers, bool everyReader)
{
    if (everyReader && !readers.empty())
        PrintLine(CliUpdate::tr("Each reader as it last answered:"));
    for (const UpdateRun *run : readers) {
        const RunState state = run->State();
        if (!state.result.portOpened || (!everyReader && state.result.Succeeded()))
            continue;
        const QString who = state.serialNumber.isEmpty()
                                ? CliUpdate::tr("Reader on %1").arg(run->Port().name)
                                : CliUpdate::tr("Reader %1 on %2").arg(state.serialNumber, run->Port().name);
        PrintLine(QStringLiteral("%1%2: %3")
                      .arg(everyReader ? QStringLiteral("  ") : QString(), who, state.result.ReaderNowText()));
    }
}

QJsonObject SummaryEvent(const std::vector<std::unique_ptr<UpdateRun>> &runs,
                         const std::vector<const UpdateRun *> &readers, int exitCode)
{
    int succeeded = 0;
    for (const auto &run : runs)
        succeeded += run->State().result.Succeeded() ? 1 : 0;
    QJsonArray left;
    QJsonArray states;
    for (const UpdateRun *run : readers) {
        const RunState state = run->State();
        if (state.result.LeftInBootLoader())
            left.append(run->Port().name);
        states.append(QJsonObject{
            {QStringLiteral("port"), run->Port().name},
            {QStringLiteral("serial_number"), SerialJson(state.serialNumber)},
            {QStringLiteral("result"), state.result.Word()},
            {QStringLiteral("reader_now"), state.result.ReaderNowWord()},
            {QStringLiteral("firmware_now"),
             state.result.firmwareNow.isEmpty() ? QJsonValue() : state.result.firmwareNow}});
    }
    return {{QStringLiteral("event"), QStringLiteral("summary")},
            {QStringLiteral("succeeded"), succeeded},
            {CliUpdate::tr("failed"), int(runs.size()) - succeeded},
            {QStringLiteral("left_in_boot_loader"), left},
            {QStringLiteral("readers"), states},
            {QStringLiteral("exit_code"), exitCode}};
}

int UpdatePorts(const QStringList &ports, const UpdateRun::Options &options, Output output)
{
    std::vector<std::unique_ptr<UpdateRun>> runs;
    for (const QString &given : ports)
        runs.push_back(std::make_unique<UpdateRun>(ResolvePort(given, options.setting.portFolder), options));
    for (const auto &run : runs)
        run->Start();

    int linesShown = 0;
    int nameWidth = 0;
    for (const auto &run : runs)
        nameWidth = std::max(nameWidth, int(run->Port().name.size()));
    QElapsedTimer sinceRedraw;
    sinceRedraw.start();
    for (;;) {
        bool allDone = true;
        for (const auto &run : runs)
            allDone = allDone && run->Done();
        StopAllWhenInterrupted(runs);
        if (output == Output::Live) {
            if (allDone || sinceRedraw.elapsed() >= kLiveRedrawMs) {
                QString screen;
                if (linesShown > 0)
                    screen += QStringLiteral("\x1b[%1A").arg(linesShown);
                for (const auto &run : runs)
                    screen += QStringLiteral("\r\x1b[2K") + LiveLine(*run, nameWidth) + QLatin1Char('\n');
                std::fputs(screen.toUtf8().constData(), stdout);
                std::fflush(stdout);
                linesShown = int(runs.size());
                sinceRedraw.restart();
            }
            for (const auto &run : runs)
                run->TakeEvents();
        } else {
            for (const auto &run : runs) {
                for (const QJsonObject &event : run->TakeEvents())
                    Emit(output, event);
            }
        }
        if (allDone)
            break;
        ::usleep(kTickMs * 1000);
    }
    for (const auto &run : runs)
        run->Join();

    const std::vector<const UpdateRun *> readers = LastJobPerReader(runs, false);
    const int exitCode = OverallExit(readers);
    if (output == Output::Json) {
        PrintJsonLine(SummaryEvent(runs, readers, exitCode));
    } else {
        PrintSummaryTable(runs);
        SayReaderStates(readers, false);
    }
    return exitCode;
}

// A network port of a station: no device appears there, so the station asks
// it now and then; a reader counts as new when it answers after the port was
// silent (or at the first look).
struct NetworkSlot {
    PortChoice port;
    std::unique_ptr<Session> probe;
    bool readerPresent = false;
    UpdateRun *run = nullptr;
    qint64 nextTryMs = 0;
};

constexpr int kProbeRetryMs = 5000;

// Looks at the slot's reader; true when a new one answers and should be updated.
bool ReaderArrived(NetworkSlot &slot, const Setting &setting, qint64 nowMs)
{
    if (!slot.probe) {
        if (nowMs < slot.nextTryMs)
            return false;
        OpenedSession opened = OpenSession(slot.port, setting);
        if (!opened.session) {
            slot.nextTryMs = nowMs + kProbeRetryMs;
            return false;
        }
        slot.probe = std::move(opened.session);
    }
    const ReaderSnapshot reader = slot.probe->Reader();
    if (reader.state == ReaderSnapshot::State::NoAnswer)
        slot.readerPresent = false;
    if (reader.state != ReaderSnapshot::State::Ready || slot.readerPresent)
        return false;
    slot.readerPresent = true;
    slot.probe.reset();  // the update takes the port
    return true;
}

int Station(const UpdateRun::Options &stationOptions, const QStringList &networkPorts, Output output)
{
    UpdateRun::Options options = stationOptions;
    options.openPatienceMs = kStationPatienceMs;
    PortWatch watch(options.setting.portFolder);
    if (output == Output::Json) {
        PrintJsonLine({{QStringLiteral("event"), QStringLiteral("watching")},
                       {QStringLiteral("folder"), options.setting.portFolder},
                       {QStringLiteral("udev"), watch.ListensToUdev()}});
    } else {
        PrintLine(CliUpdate::tr("Watching for readers (%1, and %2); Ctrl-C ends.")
                      .arg(watch.ListensToUdev() ? QStringLiteral("udev") : CliUpdate::tr("the port list"),
                           options.setting.portFolder));
    }

    std::vector<std::unique_ptr<UpdateRun>> runs;
    std::vector<NetworkSlot> watched;
    for (const QString &name : networkPorts)
        watched.push_back(NetworkSlot{PortChoice{name, name, QString()}, nullptr, false, nullptr, 0});
    QElapsedTimer clock;
    clock.start();
    auto drain = [&] {
        for (const auto &run : runs) {
            for (const QJsonObject &event : run->TakeEvents()) {
                const bool result = event.value(QStringLiteral("event")).toString() == QLatin1String("result");
                if (output == Output::Json || result)
                    Emit(output == Output::Json ? Output::Json : Output::Plain, event);
            }
        }
    };
    while (!interrupted) {
        for (const platform::PortEntry &entry : watch.WaitForNewPorts(kTickMs * 5)) {
            if (interrupted)
                break;
            if (output == Output::Json)
                PrintJsonLine({{QStringLiteral("event"), QStringLiteral("appeared")},
                               {QStringLiteral("port"), entry.portName},
                               {QStringLiteral("device"), entry.devicePath}});
            else
                PrintLine(CliUpdate::tr("%1: appeared, updating").arg(entry.portName));
            const PortChoice port{entry.portName, entry.devicePath,
                                  platform::UsbConverterSerial(entry.portName, entry.devicePath)};
            runs.push_back(std::make_unique<UpdateRun>(port, options));
            runs.back()->Start();
        }
        for (NetworkSlot &slot : watched) {
            if (interrupted)
                break;
            if (slot.run != nullptr && !slot.run->Done())
                continue;
            slot.run = nullptr;
            if (!ReaderArrived(slot, options.setting, clock.elapsed()))
                continue;
            if (output == Output::Json)
                PrintJsonLine({{QStringLiteral("event"), QStringLiteral("appeared")},
                               {QStringLiteral("port"), slot.port.name},
                               {QStringLiteral("device"), slot.port.devicePath}});
            else
                PrintLine(CliUpdate::tr("%1: a reader answers, updating").arg(slot.port.name));
            runs.push_back(std::make_unique<UpdateRun>(slot.port, options));
            slot.run = runs.back().get();
            slot.run->Start();
        }
        drain();
    }
    watched.clear();  // the probes let go of their ports
    for (;;) {
        StopAllWhenInterrupted(runs);
        bool allDone = true;
        for (const auto &run : runs)
            allDone = allDone && run->Done();
        drain();
        if (allDone)
            break;
        ::usleep(kTickMs * 1000);
    }
    for (const auto &run : runs)
        run->Join();
    drain();

    // A reader updated again after a failure is in the state of its last job.
    const std::vector<const UpdateRun *> readers = LastJobPerReader(runs, true);
    const int exitCode = OverallExit(readers);
    const QJsonObject summary = SummaryEvent(runs, readers, exitCode);
    if (output == Output::Json) {
        PrintJsonLine(summary);
    } else {
        PrintLine(CliUpdate::tr("%1 succeeded, %2 failed.")
                      .arg(summary.value(QStringLiteral("succeeded")).toInt())
                      .arg(summary.value(CliUpdate::tr("failed")).toInt()));
        SayReaderStates(readers, true);
    }
    return exitCode;
}

}  // namespace

int RunUpdate(const QStringList &arguments)
{
    CommandParser command(QStringLiteral("update"), QStringLiteral("(-p PORT [-p PORT ...] | --station) IMAGE [--json]"),
                          CliUpdate::tr("Loads the program section of IMAGE into the readers on the ports "
                                        "named, all at\nonce, or with --station into each reader whose port "
                                        "appears, until Ctrl-C.\nThe image is checked first; an invalid one "
                                        "touches no reader. Each update is kept\nin the service journal."),
                          kUsesPorts | kUsesJournal | kRecordsJobs);
    const QCommandLineOption port({QStringLiteral("p"), QStringLiteral("port")},
                                  CliUpdate::tr("Port name or device path; repeat for more readers."),
                                  QStringLiteral("port"));
    const QCommandLineOption station(QStringLiteral("station"),
                                     CliUpdate::tr("Update the reader on each port that appears (a converter "
                                                   "plugged in)."));
    const QCommandLineOption json(QStringLiteral("json"), CliUpdate::tr("One JSON object per event and line."));
    command.Parser().addOptions({port, station, json});
    if (const auto status = command.Parse(arguments, 1, 1))
        return *status;
    const QStringList ports = command.Parser().values(port);
    const bool isStation = command.Parser().isSet(station);
    // A station may also watch network ports, which it asks in turn.
    const bool onlyNetwork = std::all_of(ports.begin(), ports.end(), [](const QString &name) {
        return platform::IsNetworkPortName(name.toStdString());
    });
    if ((!isStation && ports.isEmpty()) || (isStation && !onlyNetwork)) {
        PrintError(CliUpdate::tr("talvor-cli update: give either -p PORT (one or more) or --station (with network "
                                 "ports as -p rfc2217://HOST:PORT, if any). See --help."));
        return kBadArguments;
    }
    const Setting setting = command.TakeSetting();
    QStringList devices;
    for (const QString &given : ports) {
        const QString device = ResolvePort(given, setting.portFolder).devicePath;
        if (devices.contains(device)) {
            PrintError(CliUpdate::tr("talvor-cli update: %1 is named twice.").arg(given));
            return kBadArguments;
        }
        devices << device;
    }

    UpdateRun::Options options;
    options.imagePath = command.Parser().positionalArguments().constFirst();
    options.setting = setting;
    QString reason;
    QString description;
    if (!ImageAccepted(options.imagePath, reason, description)) {
        PrintError(CliUpdate::tr("talvor-cli update: the image is not valid: %1").arg(reason));
        return kImageInvalid;
    }
    const Output output = command.Parser().isSet(json) ? Output::Json
                          : (!isStation && ::isatty(STDOUT_FILENO)) ? Output::Live
                                                                   : Output::Plain;
    if (output == Output::Json)
        PrintJsonLine({{QStringLiteral("event"), QStringLiteral("image")},
                       {QStringLiteral("path"), options.imagePath},
                       {QStringLiteral("description"), description}});
    else
        PrintLine(CliUpdate::tr("Image %1: %2").arg(options.imagePath, description));

    CatchInterrupts();
    if (isStation)
        return Station(options, ports, output);
    return UpdatePorts(ports, options, output);
}

}  // namespace cli
