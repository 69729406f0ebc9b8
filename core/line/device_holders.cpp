#include "core/line/device_holders.h"

#include <QCoreApplication>
#include <QStringList>
#include <algorithm>
#include <climits>
#include <cstdlib>
#include <fstream>

#include <dirent.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace platform {

namespace {

// A character device is known by its device number, anything else by its inode.
bool SameFile(const struct stat &a, const struct stat &b)
{
    if (S_ISCHR(a.st_mode) && S_ISCHR(b.st_mode))
        return a.st_rdev == b.st_rdev;
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The index of a pseudo-terminal's far side (a Unix98 slave, majors 136 to
// 143), or -1 for any other device.
int PseudoTerminalIndex(const struct stat &device)
{
    if (!S_ISCHR(device.st_mode) || major(device.st_rdev) < 136 || major(device.st_rdev) > 143)
        return -1;
    return int((major(device.st_rdev) - 136) * 256 + minor(device.st_rdev));
}

bool IsMultiplexer(const struct stat &st)
{
    return S_ISCHR(st.st_mode) && major(st.st_rdev) == 5 && minor(st.st_rdev) == 2;
}

// Which pseudo-terminal a master descriptor serves, as its fdinfo says.
int MasterIndex(const std::string &fdInfoPath)
{
    std::ifstream info(fdInfoPath);
    std::string line;
    while (std::getline(info, line)) {
        if (line.rfind("tty-index:", 0) == 0)
            return std::atoi(line.c_str() + 10);
    }
    return -1;
}

// True when the process has the device open as a rival user would. The
// process holding the master side of a pseudo-terminal is the line's far end
// (the simulated reader), not a rival, even when it keeps the slave open too.
bool HoldsAsRival(const std::string &processFolder, const struct stat &device)
{
    const std::string fdFolder = processFolder + "/fd";
    DIR *folder = ::opendir(fdFolder.c_str());
    if (!folder)
        return false;  // gone meanwhile, or not ours to look at
    const int ptyIndex = PseudoTerminalIndex(device);
    bool holds = false;
    bool farEnd = false;
    while (const dirent *entry = ::readdir(folder)) {
        if (entry->d_name[0] == '.')
            continue;
        struct stat st {};
        if (::stat((fdFolder + '/' + entry->d_name).c_str(), &st) != 0)
            continue;
        if (SameFile(st, device))
            holds = true;
        else if (ptyIndex >= 0 && IsMultiplexer(st) &&
                 MasterIndex(processFolder + "/fdinfo/" + entry->d_name) == ptyIndex)
            farEnd = true;
    }
    ::closedir(folder);
    return holds && !farEnd;
}

std::string CommandName(const std::string &processFolder)
{
    std::ifstream comm(processFolder + "/comm");
    std::string name;
    std::getline(comm, name);
    return name.empty() ? std::string("?") : name;
}

}  // namespace

std::vector<DeviceHolder> OtherDeviceHolders(const std::string &path, const std::string &procRoot)
{
    std::vector<DeviceHolder> holders;
    struct stat device {};
    if (path.empty() || ::stat(path.c_str(), &device) != 0)
        return holders;
    DIR *proc = ::opendir(procRoot.c_str());
    if (!proc)
        return holders;
    const pid_t self = ::getpid();
    while (const dirent *entry = ::readdir(proc)) {
        char *end = nullptr;
        const long pid = std::strtol(entry->d_name, &end, 10);
        if (pid <= 0 || *end != '\0' || pid == self)
            continue;
        const std::string processFolder = procRoot + '/' + entry->d_name;
        if (HoldsAsRival(processFolder, device))
            holders.push_back({pid_t(pid), CommandName(processFolder)});
    }
    ::closedir(proc);
    std::sort(holders.begin(), holders.end(),
              [](const DeviceHolder &a, const DeviceHolder &b) { return a.pid < b.pid; });
    return holders;
}

QString HolderSentence(const QString &portName, const std::vector<DeviceHolder> &holders)
{
    if (holders.empty())
        return QString();
    QStringList programs;
    for (const DeviceHolder &holder : holders)
        programs << QCoreApplication::translate("DeviceHolders", "%1 (pid %2)")
                        .arg(QString::fromStdString(holder.name))
                        .arg(holder.pid);
    return QCoreApplication::translate("DeviceHolders", "%1 is also open in %2.")
        .arg(portName, programs.join(QCoreApplication::translate("DeviceHolders", " and ")));
}

AccessRemedy AccessRemedyFor(unsigned mode, unsigned gid, const std::string &groupName)
{
    if (mode == 0)
        return AccessRemedy::AskAdministrator;
    const bool groupReadsAndWrites = (mode & S_IRGRP) && (mode & S_IWGRP);
    // Joining root's group would hand out far more than one port, and a group
    // that may not write the device does not help either.
    if (groupReadsAndWrites && gid != 0 && !groupName.empty())
        return AccessRemedy::JoinGroup;
    return AccessRemedy::InstallDeviceRule;
}

std::string DeviceRulePath(const std::string &programFolder)
{
    constexpr const char *kRuleUnderPrefix = "share/doc/talvor/60-talvor-serial.rules";
    char resolved[PATH_MAX];
    if (!programFolder.empty() &&
        ::realpath((programFolder + "/../" + kRuleUnderPrefix).c_str(), resolved) != nullptr)
        return resolved;
    return std::string("/usr/") + kRuleUnderPrefix;
}

std::vector<std::string> DeviceRuleCommands(const std::string &rulePath)
{
    return {"sudo cp " + rulePath + " /etc/udev/rules.d/",
            "sudo udevadm control --reload-rules && sudo udevadm trigger --subsystem-match=tty"};
}

}  // namespace platform
