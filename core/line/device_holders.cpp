#include "core/line/device_holders.h"

#include <QStringList>
#include <algorithm>
#include <cstdlib>
#include <fstream>

#include <dirent.h>
#include <sys/stat.h>
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

bool HasOpen(const std::string &fdFolder, const struct stat &device)
{
    DIR *folder = ::opendir(fdFolder.c_str());
    if (!folder)
        return false;  // gone meanwhile, or not ours to look at
    bool found = false;
    while (const dirent *entry = ::readdir(folder)) {
        if (entry->d_name[0] == '.')
            continue;
        struct stat st {};
        if (::stat((fdFolder + '/' + entry->d_name).c_str(), &st) == 0 && SameFile(st, device)) {
            found = true;
            break;
        }
    }
    ::closedir(folder);
    return found;
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
        if (HasOpen(processFolder + "/fd", device))
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
        programs << QStringLiteral("%1 (pid %2)").arg(QString::fromStdString(holder.name)).arg(holder.pid);
    return QStringLiteral("%1 is also open in %2.").arg(portName, programs.join(QStringLiteral(" and ")));
}

}  // namespace platform
