#pragma once
// Which other programs have a device open (ModemManager, a terminal program,
// cat): found through their descriptors under /proc, so the tool can say why
// a port is busy or why a reader behind it seems silent.

#include <QString>
#include <string>
#include <sys/types.h>
#include <vector>

namespace platform {

struct DeviceHolder {
    pid_t pid = 0;
    std::string name;  // the process's command name, as /proc/PID/comm gives it

    bool operator==(const DeviceHolder &o) const { return pid == o.pid && name == o.name; }
};

// The processes other than this one with a descriptor on the device that path
// leads to (links followed), in process id order. Processes whose descriptors
// this user may not see are not found, nor is the process at the far end of a
// pseudo-terminal (it holds the master side: it is the reader, not a rival).
std::vector<DeviceHolder> OtherDeviceHolders(const std::string &path, const std::string &procRoot = "/proc");

// "ttyUSB0 is also open in ModemManager (pid 812)." for one holder; several
// holders are joined with "and". Empty when there are none.
QString HolderSentence(const QString &portName, const std::vector<DeviceHolder> &holders);

}  // namespace platform
