#include "gui/setup.h"

#include <QCoreApplication>
#include <QFileInfo>

#include "core/line/ini_file.h"
#include "gui/message_box.h"

namespace {

const QString kSection = QStringLiteral("ComPort");
const QString kKey = QStringLiteral("Com");

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
