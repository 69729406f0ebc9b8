#include "core/line/port_directory.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSerialPortInfo>

#include <sys/stat.h>
#include <unistd.h>

namespace platform {

PortDirectory::PortDirectory(QString virtualFolder, HardwareSource hardware, DetailsSource details)
    : virtualFolder_(std::move(virtualFolder)), hardware_(std::move(hardware)), details_(std::move(details))
{
}

PortDirectory::DetailsSource PortDirectory::SystemPortDetails()
{
    return [] {
        QHash<QString, QString> details;
        const QHash<QString, UsbConverter> converters = UsbConverters();
        for (auto it = converters.cbegin(); it != converters.cend(); ++it) {
            QStringList lines;
            if (!it->description.isEmpty())
                lines << it->description;
            if (!it->serialNumber.isEmpty())
                lines << QCoreApplication::translate("PortDirectory", "Serial number: %1").arg(it->serialNumber);
            if (!lines.isEmpty())
                details.insert(it.key(), lines.join(QLatin1Char('\n')));
        }
        return details;
    };
}

bool PortDirectory::TrustedVirtualPort(const QString &linkPath)
{
    return TrustedVirtualPort(linkPath, ::getuid());
}

bool PortDirectory::TrustedVirtualPort(const QString &linkPath, uid_t user)
{
    const QByteArray path = QFile::encodeName(linkPath);
    struct stat link {};
    if (::lstat(path.constData(), &link) != 0 || !S_ISLNK(link.st_mode))
        return false;
    if (link.st_uid != user && link.st_uid != 0)
        return false;
    // A stale link (its simulator gone) leads nowhere and is not offered either.
    struct stat target {};
    return ::stat(path.constData(), &target) == 0 && S_ISCHR(target.st_mode);
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
    const QHash<QString, QString> details = details_ && !hardware.isEmpty() ? details_() : QHash<QString, QString>();
    for (const QString &name : hardware)
        ports.push_back({QStringLiteral("/dev/") + name, name, details.value(name)});

    const QDir folder(virtualFolder_);
    if (!folder.exists())
        return ports.empty() ? std::nullopt : std::optional(ports);

    const QFileInfoList links = folder.entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot,
                                                     QDir::Name);
    for (const QFileInfo &link : links) {
        if (!TrustedVirtualPort(link.absoluteFilePath()))
            continue;
        ports.push_back({link.absoluteFilePath(), link.fileName(), QString()});
    }
    return ports;
}

QString PortDirectory::DevicePathFor(const QString &portName) const
{
    if (!portName.isEmpty() && !portName.contains(QLatin1Char('/'))) {
        const QString link = QDir(virtualFolder_).filePath(portName);
        if (TrustedVirtualPort(link))
            return QFileInfo(link).absoluteFilePath();
    }
    return QStringLiteral("/dev/") + portName;
}

QHash<QString, UsbConverter> UsbConverters()
{
    const auto hex4 = [](quint16 id) { return QStringLiteral("%1").arg(id, 4, 16, QLatin1Char('0')); };
    QHash<QString, UsbConverter> converters;
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts()) {
        if (!info.hasVendorIdentifier())
            continue;  // not a USB converter
        converters.insert(info.portName(), {hex4(info.vendorIdentifier()), hex4(info.productIdentifier()),
                                            info.description(), info.serialNumber()});
    }
    return converters;
}

QString UsbConverterSerial(const QString &portName, const QString &devicePath)
{
    // A virtual port's link is not a converter, whatever its name.
    if (!devicePath.startsWith(QLatin1String("/dev/")))
        return QString();
    return UsbConverters().value(portName).serialNumber;
}

}  // namespace platform
