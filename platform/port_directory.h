#pragma once
// Where the tool finds its serial ports: the hardware ports the system knows,
// then virtual ports, published as symbolic links to pseudo-terminals in one
// folder (the simulated reader puts its link there).

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>
#include <vector>

namespace platform {

inline const QString kVirtualPortFolder = QStringLiteral("/tmp/talvor-ports");
// Longest port name the tool accepts.
inline constexpr int kMaxPortNameLength = 15;

struct PortEntry {
    QString devicePath;  // what is opened, e.g. /dev/ttyUSB0 or /tmp/talvor-ports/talvor-sim
    QString portName;    // what the user sees and the ini file keeps, e.g. ttyUSB0
};

class PortDirectory {
public:
    using HardwareSource = std::function<QStringList()>;

    // hardware lists hardware port names (default: the system's serial ports).
    explicit PortDirectory(QString virtualFolder = kVirtualPortFolder,
                           HardwareSource hardware = SystemSerialPorts());

    // The ports present, hardware first in the system's order, then the virtual
    // ports sorted by name; nullopt when no source could be read at all (no
    // hardware port and no virtual folder).
    std::optional<std::vector<PortEntry>> Enumerate() const;
    // The device to open for a port name: a virtual port's link when one of that
    // name exists, else "/dev/" + name.
    QString DevicePathFor(const QString &portName) const;

    const QString &VirtualFolder() const { return virtualFolder_; }
    static HardwareSource SystemSerialPorts();

private:
    QString virtualFolder_;
    HardwareSource hardware_;
};

}  // namespace platform
