#pragma once
// Which other programs have a device open (ModemManager, a terminal program,
// cat): found through their descriptors under /proc, so the tool can say why
// a port is busy or why a reader behind it seems silent. And what a user who
// may not open a device can do about it.

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

// What gives a user who was refused a device the right to open it.
enum class AccessRemedy {
    JoinGroup,          // the device's group may read and write it: join that group
    InstallDeviceRule,  // no group of users may (crw------- root root): the tool's device rule gives
                        // USB serial converters to the group kDeviceRuleGroup
    AskAdministrator,   // the device could not be looked at
};

// From the device's mode (st_mode; 0 when it could not be looked at), its group
// id and its group's name. Membership of root's group (gid 0) is no remedy.
AccessRemedy AccessRemedyFor(unsigned mode, unsigned gid, const std::string &groupName);

// The group the device rule gives converters to.
inline constexpr const char *kDeviceRuleGroup = "dialout";

// Where the tool's udev rule for USB serial converters is: under the prefix
// the programs were installed to (programFolder/../share/doc/talvor), else
// where the package puts it (/usr/share/doc/talvor).
std::string DeviceRulePath(const std::string &programFolder);
// The commands that install the rule and apply it to the devices present.
std::vector<std::string> DeviceRuleCommands(const std::string &rulePath);

}  // namespace platform
