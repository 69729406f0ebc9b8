#include "cli/port_watch.h"

#include <cerrno>
#include <poll.h>

#ifdef TALVOR_HAVE_LIBUDEV
#include <libudev.h>
#endif

namespace cli {

PortWatch::PortWatch(const QString &virtualFolder) : directory_(virtualFolder)
{
#ifdef TALVOR_HAVE_LIBUDEV
    udev_ = udev_new();
    if (udev_)
        monitor_ = udev_monitor_new_from_netlink(udev_, "udev");
    if (monitor_ && (udev_monitor_filter_add_match_subsystem_devtype(monitor_, "tty", nullptr) < 0 ||
                     udev_monitor_enable_receiving(monitor_) < 0)) {
        udev_monitor_unref(monitor_);
        monitor_ = nullptr;
    }
#endif
    std::vector<platform::PortEntry> entries;
    known_ = Present(entries);
}

PortWatch::~PortWatch()
{
#ifdef TALVOR_HAVE_LIBUDEV
    if (monitor_)
        udev_monitor_unref(monitor_);
    if (udev_)
        udev_unref(udev_);
#endif
}

QSet<QString> PortWatch::Present(std::vector<platform::PortEntry> &entries) const
{
    entries = directory_.Enumerate().value_or(std::vector<platform::PortEntry>{});
    QSet<QString> names;
    for (const platform::PortEntry &entry : entries)
        names.insert(entry.portName);
    return names;
}

std::vector<platform::PortEntry> PortWatch::WaitForNewPorts(int timeoutMs)
{
#ifdef TALVOR_HAVE_LIBUDEV
    if (monitor_) {
        pollfd wake{udev_monitor_get_fd(monitor_), POLLIN, 0};
        if (::poll(&wake, 1, timeoutMs) > 0) {
            // Only that something changed counts; the port list says what.
            while (udev_device *device = udev_monitor_receive_device(monitor_))
                udev_device_unref(device);
        }
    } else
#endif
    {
        ::poll(nullptr, 0, timeoutMs);
    }

    std::vector<platform::PortEntry> entries;
    const QSet<QString> present = Present(entries);
    std::vector<platform::PortEntry> appeared;
    for (const platform::PortEntry &entry : entries) {
        if (!known_.contains(entry.portName))
            appeared.push_back(entry);
    }
    known_ = present;
    return appeared;
}

}  // namespace cli
