// talvor-sim: a simulated reader on a pseudo-terminal. The first line on
// stdout is the port name; the tool and the scripts take it as the sign that
// the line is up. SIGINT and SIGTERM remove the link and end the program.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <pthread.h>

#include "sim/boot_loader.h"
#include "sim/device_info.h"
#include "sim/settings_store.h"
#include "sim/simulated_reader.h"

namespace {

// Everything the options can set. A responder with options of its own adds
// its fields here and its rows to the table below.
struct Config {
    sim::Options reader;
    sim::BootLoaderOptions boot;
    sim::SettingsStore::Options settings;
    int settingsUnplugged = 0;
    std::string makeImage;
    bool help = false;
    bool version = false;
};

struct OptionRow {
    const char *name;
    const char *value;  // nullptr: a switch without value
    const char *help;
    std::function<bool(Config &, const std::string &)> apply;
};

// "always", "off" or a count of the next replies.
bool FaultCount(const std::string &text, int &count)
{
    long n;
    if (text == "always")
        count = sim::kAlways;
    else if (text == "off")
        count = sim::kOff;
    else if (sim::ParseNumber(text, 0, 1000000, n))
        count = int(n);
    else
        return false;
    return true;
}

// A data block number, 1 = the first; 0 switches the fault off.
bool BlockNumber(const std::string &text, int &number)
{
    long n;
    if (!sim::ParseNumber(text, 0, 1000000, n))
        return false;
    number = int(n);
    return true;
}

bool Milliseconds(const std::string &text, int &ms)
{
    long n;
    if (!sim::ParseNumber(text, 0, 3600000, n))
        return false;
    ms = int(n);
    return true;
}

const std::vector<OptionRow> &Table()
{
    static const std::vector<OptionRow> rows = {
        {"--help", nullptr, "list the options and end",
         [](Config &c, const std::string &) { return c.help = true; }},
        {"--version", nullptr, "show the version and end",
         [](Config &c, const std::string &) { return c.version = true; }},
        {"--folder", "DIR", "folder of the port link (default /tmp/talvor-ports)",
         [](Config &c, const std::string &v) { return !v.empty() && (c.reader.folder = v, true); }},
        {"--link", "NAME", "port name, the link's name, at most 15 characters (default talvor-sim)",
         [](Config &c, const std::string &v) {
             return !v.empty() && v.size() <= sim::SimulatedReader::kMaxLinkName &&
                    (c.reader.linkName = v, true);
         }},
        {"--baud", "RATE", "pace both directions as a line at RATE baud (default 0: full speed)",
         [](Config &c, const std::string &v) {
             long n;
             return sim::ParseNumber(v, 0, 4000000, n) && (c.reader.baud = uint32_t(n), true);
         }},
        {"--byte-by-byte", nullptr, "with --baud: each reply byte on its own as it crosses (default: a reply in one piece)",
         [](Config &c, const std::string &) {
             c.reader.delivery = sim::Delivery::ByteByByte;
             return true;
         }},
        {"--burst-ms", "MS", "with --baud: what has crossed goes out every MS, as from a USB converter",
         [](Config &c, const std::string &v) {
             long n;
             if (!sim::ParseNumber(v, 1, 1000, n))
                 return false;
             c.reader.delivery = sim::Delivery::Ticks;
             c.reader.burstMs = int(n);
             return true;
         }},
        {"--reader-line-only", nullptr, "answer only while the line is at 19200 baud 8N1, as a real reader",
         [](Config &c, const std::string &) { return c.reader.readerLineOnly = true; }},
        {"--verbose", nullptr, "log every frame in and out as hex on stderr",
         [](Config &c, const std::string &) { return c.reader.verbose = true; }},
        {"--loader", "X.Y", "boot loader version, each half 0 to 15, or 0xNN (default 8.3)",
         [](Config &c, const std::string &v) { return sim::ParseLoaderVersion(v, c.reader.state.loaderVersion); }},
        {"--firmware", "X.Y", "firmware version, major 0 means not reported (default 6.4)",
         [](Config &c, const std::string &v) {
             return sim::ParseFirmwareVersion(v, c.reader.state.firmwareMajor, c.reader.state.firmwareMinor);
         }},
        {"--serial", "N", "serial number, 0 to 65535 (default 12345)",
         [](Config &c, const std::string &v) {
             long n;
             return sim::ParseNumber(v, 0, 65535, n) && (c.reader.state.serialNumber = uint16_t(n), true);
         }},
        {"--silent", "N", "answer nothing to the next N requests (always, off, or a count)",
         [](Config &c, const std::string &v) { return FaultCount(v, c.reader.faults.silence); }},
        {"--garbage", "N", "send random bytes before the next N replies",
         [](Config &c, const std::string &v) { return FaultCount(v, c.reader.faults.garbage); }},
        {"--garbage-only", "N", "send random bytes instead of the next N replies",
         [](Config &c, const std::string &v) { return FaultCount(v, c.reader.faults.garbageOnly); }},
        {"--garbage-length", "BYTES", "length of a burst of random bytes (default 16)",
         [](Config &c, const std::string &v) {
             long n;
             return sim::ParseNumber(v, 1, 4096, n) && (c.reader.faults.garbageLength = size_t(n), true);
         }},
        {"--bad-check", "N", "spoil the check byte of the next N replies",
         [](Config &c, const std::string &v) { return FaultCount(v, c.reader.faults.badCheck); }},
        {"--gap", "N", "pause inside the next N replies",
         [](Config &c, const std::string &v) { return FaultCount(v, c.reader.faults.gap); }},
        {"--gap-after", "BYTES", "the pause comes after this many reply bytes (default 4)",
         [](Config &c, const std::string &v) {
             long n;
             return sim::ParseNumber(v, 0, 4096, n) && (c.reader.faults.gapAfterByte = size_t(n), true);
         }},
        {"--gap-ms", "MS", "length of the pause (default 60)",
         [](Config &c, const std::string &v) { return Milliseconds(v, c.reader.faults.gapMs); }},
        {"--vanish", "N", "the line goes away instead of the next N replies",
         [](Config &c, const std::string &v) { return FaultCount(v, c.reader.faults.vanish); }},
        {"--come-back", "MS", "a line that went away comes back after MS (default: stays away)",
         [](Config &c, const std::string &v) { return Milliseconds(v, c.reader.faults.comeBackAfterMs); }},
        {"--boot-after", "N", "boot loader: answer \"BOOT\" after N boot entry requests, or never (default 0)",
         [](Config &c, const std::string &v) {
             if (v == "never") {
                 c.boot.bootAfterAttempts = sim::BootLoaderOptions::kNever;
                 return true;
             }
             return BlockNumber(v, c.boot.bootAfterAttempts);
         }},
        {"--boot-not-ready", nullptr, "boot loader: answer those requests without \"BOOT\" instead of silence",
         [](Config &c, const std::string &) { return c.boot.answerNotBoot = true; }},
        {"--section", "BYTES", "boot loader: size of the program section it asks for",
         [](Config &c, const std::string &v) {
             long n;
             return sim::ParseNumber(v, 0, 0xFFFF + 0xFF, n) && (c.boot.sectionSize = uint32_t(n), true);
         }},
        {"--image", "FILE", "boot loader: take the section size from this image file",
         [](Config &c, const std::string &v) { return sim::BootLoader::SectionSizeOfImage(v, c.boot.sectionSize); }},
        {"--block-size", "BYTES", "boot loader: bytes asked for per block, 1 to 255 (default 66)",
         [](Config &c, const std::string &v) {
             long n;
             return sim::ParseNumber(v, 1, 255, n) && (c.boot.blockSize = uint8_t(n), true);
         }},
        {"--reverse", nullptr, "boot loader: ask for the blocks last to first",
         [](Config &c, const std::string &) { return c.boot.reverseOrder = true; }},
        {"--repeat-block", "N", "boot loader: ask for block N twice in a row",
         [](Config &c, const std::string &v) { return BlockNumber(v, c.boot.repeatBlock); }},
        {"--silent-next", nullptr, "boot loader: leave the next-block query unanswered",
         [](Config &c, const std::string &) { return c.boot.silentNext = true; }},
        {"--error-at", "N", "boot loader: answer data block N with an error code",
         [](Config &c, const std::string &v) { return BlockNumber(v, c.boot.errorAtBlock); }},
        {"--error-code", "CODE", "boot loader: that error code, 0 to 255 (default 1)",
         [](Config &c, const std::string &v) {
             long n;
             return sim::ParseNumber(v, 0, 255, n) && (c.boot.errorCode = uint8_t(n), true);
         }},
        {"--bad-check-at", "N", "boot loader: spoil the check byte of the reply to data block N",
         [](Config &c, const std::string &v) { return BlockNumber(v, c.boot.badCheckAtBlock); }},
        {"--silent-from", "N", "boot loader: answer nothing from data block N on",
         [](Config &c, const std::string &v) { return BlockNumber(v, c.boot.silentFromBlock); }},
        {"--unplug-at", "N", "boot loader: the line goes away at data block N",
         [](Config &c, const std::string &v) { return BlockNumber(v, c.boot.unplugAtBlock); }},
        {"--resume", nullptr, "boot loader: after the end, ask for the first block once more",
         [](Config &c, const std::string &) { return c.boot.resumeAfterEnd = true; }},
        {"--output", "FILE", "boot loader: write the received section here after an update",
         [](Config &c, const std::string &v) { return !v.empty() && (c.boot.outputFile = v, true); }},
        {"--new-firmware", "X.Y", "boot loader: firmware version reported after an update",
         [](Config &c, const std::string &v) {
             uint8_t major = 0, minor = 0;
             if (!sim::ParseFirmwareVersion(v, major, minor))
                 return false;
             c.boot.newFirmwareMajor = major;
             c.boot.newFirmwareMinor = minor;
             return true;
         }},
        {"--settings", "HEX", "settings store: the stored 9-byte record (default all 00)",
         [](Config &c, const std::string &v) { return sim::ParseSettingsRecord(v, c.settings.record); }},
        {"--settings-silent", nullptr, "settings store: answer no settings block",
         [](Config &c, const std::string &) { return c.settings.silent = true; }},
        {"--settings-bad-crc", nullptr, "settings store: spoil the CRC of every settings reply",
         [](Config &c, const std::string &) { return c.settings.wrongCrc = true; }},
        {"--settings-short", "BYTES", "settings store: send only the first 1 to 11 bytes of each reply",
         [](Config &c, const std::string &v) {
             long n;
             return sim::ParseNumber(v, 1, 11, n) && (c.settings.shortReply = size_t(n), true);
         }},
        {"--settings-writes", "MODE", "settings store: store (default), answer (answer, keep the record), ignore",
         [](Config &c, const std::string &v) {
             using Mode = sim::SettingsStore::WriteMode;
             if (v == "store" || v == "answer" || v == "ignore") {
                 c.settings.writes = v == "store" ? Mode::Store : v == "answer" ? Mode::AnswerNoStore
                                                                                : Mode::IgnoreWrites;
                 return true;
             }
             return false;
         }},
        {"--make-image", "FILE", "write a 64 KiB demo firmware image to FILE and end",
         [](Config &c, const std::string &v) {
             c.makeImage = v;
             return !v.empty();
         }},
        {"--settings-unplug", "N", "settings store: leave the next N settings blocks unanswered",
         [](Config &c, const std::string &v) { return BlockNumber(v, c.settingsUnplugged); }},
    };
    return rows;
}

void PrintHelp()
{
    std::printf("usage: talvor-sim [options]\n"
                "A simulated TALVOR IV METAL reader on a pseudo-terminal. Prints the port name\n"
                "as its first line once the port is ready.\n\noptions:\n");
    for (const OptionRow &row : Table()) {
        std::string left = std::string(row.name) + (row.value ? std::string(" ") + row.value : "");
        std::printf("  %-22s %s\n", left.c_str(), row.help);
    }
}

// Parses argv into config; false after printing the reason.
bool Parse(int argc, char **argv, Config &config)
{
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        std::string value;
        const auto equals = arg.find('=');
        const bool inlineValue = equals != std::string::npos;
        if (inlineValue) {
            value = arg.substr(equals + 1);
            arg.resize(equals);
        }
        const OptionRow *row = nullptr;
        for (const OptionRow &r : Table()) {
            if (arg == r.name)
                row = &r;
        }
        if (!row) {
            std::fprintf(stderr, "talvor-sim: unknown option %s (see --help)\n", argv[i]);
            return false;
        }
        if (row->value && !inlineValue) {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "talvor-sim: %s needs a value %s\n", row->name, row->value);
                return false;
            }
            value = argv[++i];
        } else if (!row->value && inlineValue) {
            std::fprintf(stderr, "talvor-sim: %s takes no value\n", row->name);
            return false;
        }
        if (!row->apply(config, value)) {
            std::fprintf(stderr, "talvor-sim: bad value \"%s\" for %s %s\n", value.c_str(), row->name,
                         row->value ? row->value : "");
            return false;
        }
    }
    return true;
}

// A demo image: its program section is the whole file, so it takes in the
// description and the trailer (description length, one unused byte, section size).
bool WriteDemoImage(const std::string &path)
{
    const std::string description = "TALVOR IV METAL demo firmware 6.5, built 2026-12-08 10:00\n";
    const uint32_t sectionSize = 64 * 1024;
    std::vector<uint8_t> image(sectionSize - description.size() - 8);
    for (size_t i = 0; i < image.size(); ++i)
        image[i] = uint8_t((i * 7 + i / 66) & 0xFF);
    image.insert(image.end(), description.begin(), description.end());
    const uint32_t length = uint32_t(description.size());
    for (int i = 0; i < 3; ++i)
        image.push_back(uint8_t(length >> (8 * i)));
    image.push_back(0);
    for (int i = 0; i < 4; ++i)
        image.push_back(uint8_t(sectionSize >> (8 * i)));
    FILE *file = std::fopen(path.c_str(), "wb");
    if (!file)
        return false;
    const bool written = std::fwrite(image.data(), 1, image.size(), file) == image.size();
    return std::fclose(file) == 0 && written;
}

}  // namespace

int main(int argc, char **argv)
{
    Config config;
    if (!Parse(argc, argv, config))
        return 2;
    if (config.help) {
        PrintHelp();
        return 0;
    }
    if (config.version) {
        std::printf("talvor-sim %s\n", TALVOR_VERSION);
        return 0;
    }
    if (!config.makeImage.empty()) {
        if (WriteDemoImage(config.makeImage))
            return 0;
        std::fprintf(stderr, "talvor-sim: cannot write %s: %s\n", config.makeImage.c_str(), std::strerror(errno));
        return 1;
    }

    // Blocked before any thread starts, so only the sigwait below takes them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    sim::SimulatedReader reader(config.reader);
    reader.AddResponder(std::make_shared<sim::DeviceInfo>());
    auto bootLoader = std::make_shared<sim::BootLoader>(config.boot);
    bootLoader->AttachLine(&reader);
    reader.AddResponder(bootLoader);
    auto settingsStore = std::make_shared<sim::SettingsStore>(config.settings);
    settingsStore->Unplug(config.settingsUnplugged);
    reader.AddResponder(settingsStore);
    if (!reader.Start()) {
        std::fprintf(stderr, "talvor-sim: %s\n", reader.ErrorText().c_str());
        return 1;
    }
    std::printf("%s\n", config.reader.linkName.c_str());
    std::fflush(stdout);
    if (config.reader.verbose)
        std::fprintf(stderr, "%s -> %s\n", reader.LinkPath().c_str(), reader.SlavePath().c_str());

    int signal = 0;
    sigwait(&stopSignals, &signal);
    reader.Stop();
    return 0;
}
