#pragma once
// What the window-level tests share: the tool's options for a test run, and a
// bare virtual port (a pseudo-terminal published as a link) to open and hold.

#include <QFile>
#include <QString>
#include <QStringList>
#include <gtest/gtest.h>
#include <pty.h>
#include <string>
#include <unistd.h>

#include "app/application.h"

namespace test_app {

// The tool with its ini file and port folder in test folders, no hardware
// ports, and a port lock of its own (never the product's "COMpBusy").
inline AppOptions Options(const QString &iniFolder, const QString &portFolder, const std::string &lockName)
{
    AppOptions options;
    options.iniFolder = iniFolder;
    options.virtualPortFolder = portFolder;
    options.hardwarePorts = [] { return QStringList(); };
    options.portLockName = lockName;
    return options;
}

class VirtualPort {
public:
    VirtualPort(const QString &folder, const QString &name)
    {
        char slaveName[64] = {};
        EXPECT_EQ(openpty(&master_, &slave_, slaveName, nullptr, nullptr), 0);
        link_ = folder + QLatin1Char('/') + name;
        EXPECT_TRUE(QFile::link(QString::fromLocal8Bit(slaveName), link_));
    }
    ~VirtualPort()
    {
        QFile::remove(link_);
        ::close(slave_);
        ::close(master_);
    }
    VirtualPort(const VirtualPort &) = delete;
    VirtualPort &operator=(const VirtualPort &) = delete;
    const QString &Link() const { return link_; }

private:
    int master_ = -1;
    int slave_ = -1;
    QString link_;
};

}  // namespace test_app
