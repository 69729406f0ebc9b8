#pragma once
// Where the tool finds its serial ports: the hardware ports the system knows,
// then virtual ports, published as symbolic links to pseudo-terminals in one
// folder (the simulated reader puts its link there). Any local user may write
// to that folder, so only links owned by the user running the tool (or by
// root) that lead to a character device count.

#include <QString>
#include <QHash>
#include <QStringList>
#include <functional>
#include <optional>
#include <vector>
#include <sys/types.h>

namespace platform {

inline const QString kVirtualPortFolder = QStringLiteral("/tmp/talvor-ports");
// Longest port name the tool accepts.
inline constexpr int kMaxPortNameLength = 15;

struct PortEntry {
    QString devicePath;  // what is opened, e.g. /dev/ttyUSB0 or /tmp/talvor-ports/talvor-sim
    QString portName;    // what the user sees and the ini file keeps, e.g. ttyUSB0
    QString details;     // USB converters: description and serial number, for a tooltip
};

class PortDirectory {
public:
    using HardwareSource = std::function<QStringList()>;
    // Details by hardware port name, for the ports that have any.
    using DetailsSource = std::function<QHash<QString, QString>()>;

    // hardware lists hardware port names (default: the system's serial ports),
    // details describes them (default: the system's USB converters).
    explicit PortDirectory(QString virtualFolder = kVirtualPortFolder,
                           HardwareSource hardware = SystemSerialPorts(),
                           DetailsSource details = SystemPortDetails());

    // The ports present, hardware first in the system's order, then the virtual
    // ports sorted by name; nullopt when no source could be read at all (no
    // hardware port and no virtual folder).
    std::optional<std::vector<PortEntry>> Enumerate() const;
    // The device to open for a port name: a virtual port's link when one of that
    // name may be used, else "/dev/" + name.
    QString DevicePathFor(const QString &portName) const;

    const QString &VirtualFolder() const { return virtualFolder_; }
    static HardwareSource SystemSerialPorts();
    static DetailsSource SystemPortDetails();
    // A link in the virtual folder the tool may follow: owned by this user or
    // root, and leading to a character device.
    static bool TrustedVirtualPort(const QString &linkPath);
    // The same as seen by another user.
    static bool TrustedVirtualPort(const QString &linkPath, uid_t user);

private:
    QString virtualFolder_;
    HardwareSource hardware_;
    DetailsSource details_;
};

// A USB serial converter as the system describes it; ids in four hex digits.
struct UsbConverter {
    QString vendorId;
    QString productId;
    QString description;
    QString serialNumber;
};
// The system's serial ports that have a USB vendor id, by port name.
QHash<QString, UsbConverter> UsbConverters();

// The serial number of the USB converter behind a system port, for the
// service journal; empty for a virtual port's link and for ports that are
// no USB converter.
QString UsbConverterSerial(const QString &portName, const QString &devicePath);

}  // namespace platform
