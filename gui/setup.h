#pragma once
// Which serial ports the computer has, and which one the user chose last
// (kept in "com.ini" so that the choice survives a restart).

#include <QString>
#include <QStringList>
#include <memory>
#include <vector>

#include "core/line/port_directory.h"

class TSetup {
public:
    // Reads the port list; then loads the saved choice when the ini file exists,
    // or writes the default choice (COM1) when it does not. appDir is the
    // folder of the ini file.
    TSetup(const QString &appDir, std::shared_ptr<const platform::PortDirectory> directory);

    void ReadPortList();
    // Reads the list afresh (a converter plugged in since), without the
    // start-up warning when no source can be read.
    void RefreshPortList();
    void LoadChoice();
    void WriteDefaultChoice();
    void SaveChoice();

    // The device to open for a port name of the list; a network port's name is its own path.
    QString DevicePathFor(const QString &portName) const;
    // Network ports ("rfc2217://HOST:PORT", "tcp://HOST:PORT") the user added:
    // remembered in the ini file and listed after the local ports.
    void AddNetworkPort(const QString &name);
    // A network port's read time-outs factor as the ini file gives it; 0: its default.
    double PatienceFor(const QString &portName) const;

    QString AppDir;
    QString IniPath;
    QString PortName;
    std::shared_ptr<const platform::PortDirectory> Directory;

    QStringList PortList;
    QStringList ValueNames;
    // What a port is, by PortList's order: a USB converter's description and
    // serial number; empty when nothing is known.
    QStringList PortDetails;

private:
    struct NetworkPort {
        QString name;
        double patience = 0;
    };
    std::vector<NetworkPort> ReadNetworkPorts() const;
    // Fills the lists from the directory; false when no source could be read.
    bool RefreshList();
};
