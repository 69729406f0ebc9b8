#include "gui/setup.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QSettings>

#include "core/line/ini_file.h"
#include "core/line/network_line.h"
#include "gui/message_box.h"

namespace {

const QString kSection = QStringLiteral("ComPort");
const QString kKey = QStringLiteral("Com");
const QString kNetworkPorts = QStringLiteral("NetworkPorts");

void ShowPortsMissing()
{
    platform::MessageBoxRequest box;
    box.caption = QCoreApplication::translate("TSetup", "Error");
    box.text = QCoreApplication::translate("TSetup", "The COM ports are missing!!!");
    box.icon = platform::BoxIcon::Error;
    platform::ShowMessageBox(box);
}

}  // namespace

TSetup::TSetup(const QString &appDir, std::shared_ptr<const platform::PortDirectory> directory)
    : AppDir(appDir.endsWith(QLatin1Char('/')) ? appDir : appDir + QLatin1Char('/')),
      IniPath(AppDir + QStringLiteral("com.ini")),
      Directory(std::move(directory))
{
    const bool iniExists = QFileInfo::exists(IniPath);
    ReadPortList();
    if (iniExists)
        LoadChoice();
    else
        WriteDefaultChoice();
}

void TSetup::ReadPortList()
{
    if (!RefreshList())
        ShowPortsMissing();
}

void TSetup::RefreshPortList()
{
    RefreshList();
}

bool TSetup::RefreshList()
{
    ValueNames.clear();
    PortList.clear();
    PortDetails.clear();
    const auto ports = Directory->Enumerate();
    if (!ports)
        return false;
    for (const platform::PortEntry &port : *ports) {
        ValueNames << port.devicePath;
        PortList << port.portName;
        PortDetails << port.details;
    }
    for (const NetworkPort &port : ReadNetworkPorts()) {
        ValueNames << port.name;
        PortList << port.name;
        PortDetails << QCoreApplication::translate("TSetup", "A serial port on the network");
    }
    return true;
}

void TSetup::LoadChoice()
{
    PortName = platform::ReadIniString(IniPath, kSection, kKey, QString());
    if (PortList.isEmpty()) {
        ShowPortsMissing();
        return;
    }
    if (PortList.contains(PortName, Qt::CaseSensitive))
        return;
    platform::MessageBoxRequest box;
    box.caption = QCoreApplication::translate("TSetup", "Warning");
    box.text = QCoreApplication::translate("TSetup",
                                           "The previously selected %1 on the computer does not exist.\n"
                                           "Select another COM port.")
                   .arg(PortName);
    box.icon = platform::BoxIcon::Warning;
    platform::ShowMessageBox(box);
}

void TSetup::WriteDefaultChoice()
{
    PortName = QStringLiteral("COM1");
    platform::WriteIniString(IniPath, kSection, kKey, PortName);
}

void TSetup::SaveChoice()
{
    platform::WriteIniString(IniPath, kSection, kKey, PortName);
}

QString TSetup::DevicePathFor(const QString &portName) const
{
    if (platform::IsNetworkPortName(portName.toStdString()))
        return portName;
    return Directory->DevicePathFor(portName);
}

std::vector<TSetup::NetworkPort> TSetup::ReadNetworkPorts() const
{
    std::vector<NetworkPort> ports;
    QSettings ini(IniPath, QSettings::IniFormat);
    const int count = ini.beginReadArray(kNetworkPorts);
    for (int i = 0; i < count; ++i) {
        ini.setArrayIndex(i);
        const QString name = ini.value(QStringLiteral("Name")).toString();
        if (platform::IsNetworkPortName(name.toStdString()))
            ports.push_back({name, ini.value(QStringLiteral("Patience"), 0.0).toDouble()});
    }
    ini.endArray();
    return ports;
}

void TSetup::AddNetworkPort(const QString &name)
{
    std::vector<NetworkPort> ports = ReadNetworkPorts();
    for (const NetworkPort &port : ports) {
        if (port.name == name)
            return;
    }
    ports.push_back({name, 0});
    QSettings ini(IniPath, QSettings::IniFormat);
    ini.beginWriteArray(kNetworkPorts, int(ports.size()));
    for (int i = 0; i < int(ports.size()); ++i) {
        ini.setArrayIndex(i);
        ini.setValue(QStringLiteral("Name"), ports[size_t(i)].name);
        ini.setValue(QStringLiteral("Patience"), ports[size_t(i)].patience);
    }
    ini.endArray();
    ini.sync();
    RefreshList();
}

double TSetup::PatienceFor(const QString &portName) const
{
    for (const NetworkPort &port : ReadNetworkPorts()) {
        if (port.name == portName)
            return port.patience;
    }
    return 0;
}
