#include "platform/port_directory.h"

#include <QDir>
#include <QFileInfo>
#include <QSerialPortInfo>

namespace platform {

PortDirectory::PortDirectory(QString virtualFolder, HardwareSource hardware)
    : virtualFolder_(std::move(virtualFolder)), hardware_(std::move(hardware))
{
}

PortDirectory::HardwareSource PortDirectory::SystemSerialPorts()
{
    return [] {
        QStringList names;
        for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts())
            names << info.portName();
        return names;
    };
}

std::optional<std::vector<PortEntry>> PortDirectory::Enumerate() const
{
    std::vector<PortEntry> ports;
    const QStringList hardware = hardware_ ? hardware_() : QStringList();
    for (const QString &name : hardware)
        ports.push_back({QStringLiteral("/dev/") + name, name});

    const QDir folder(virtualFolder_);
    if (!folder.exists())
        return ports.empty() ? std::nullopt : std::optional(ports);

    // A stale link (its simulator gone) points nowhere and is not offered.
    const QFileInfoList links = folder.entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot,
                                                     QDir::Name);
    for (const QFileInfo &link : links) {
        if (!link.isSymLink() || !QFileInfo::exists(link.symLinkTarget()))
            continue;
        ports.push_back({link.absoluteFilePath(), link.fileName()});
    }
    return ports;
}

QString PortDirectory::DevicePathFor(const QString &portName) const
{
    if (!portName.isEmpty() && !portName.contains(QLatin1Char('/'))) {
        const QFileInfo link(QDir(virtualFolder_).filePath(portName));
        if (link.isSymLink())
            return link.absoluteFilePath();
    }
    return QStringLiteral("/dev/") + portName;
}

}  // namespace platform
