#pragma once
// Ports that appear while a station runs: a converter plugged in, a virtual
// port's link created. udev tells at once when a tty device is added (where
// libudev is there to listen); the port list is read again at every wake and
// at least twice a second, which also covers the virtual folder and machines
// without udev.

#include <QSet>
#include <QString>
#include <vector>

#include "core/line/port_directory.h"

struct udev;
struct udev_monitor;

namespace cli {

class PortWatch {
public:
    explicit PortWatch(const QString &virtualFolder);
    ~PortWatch();
    PortWatch(const PortWatch &) = delete;
    PortWatch &operator=(const PortWatch &) = delete;

    // True when udev reports added devices to this process.
    bool ListensToUdev() const { return monitor_ != nullptr; }
    // Waits up to timeoutMs for udev, then reads the port list: the ports
    // that were not there at the last look. Ports present when the watch
    // began are not new; a port that went away and came back is.
    std::vector<platform::PortEntry> WaitForNewPorts(int timeoutMs);

private:
    QSet<QString> Present(std::vector<platform::PortEntry> &entries) const;

    platform::PortDirectory directory_;
    QSet<QString> known_;
    ::udev *udev_ = nullptr;
    ::udev_monitor *monitor_ = nullptr;
};

}  // namespace cli
