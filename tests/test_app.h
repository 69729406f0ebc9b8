#pragma once
// What the window-level tests share: the tool's options for a test run, and a
// bare virtual port (a pseudo-terminal published as a link) to open and hold.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>
#include <QString>
#include <QStringList>
#include <gtest/gtest.h>
#include <pty.h>
#include <functional>
#include <string>
#include <unistd.h>

#include "gui/application.h"
#include "gui/main_window.h"
#include "ui_main_window.h"

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
    options.journalPath = iniFolder + QStringLiteral("/journal.db");
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

// Waits until done() holds or ms have passed, handling the window's events.
inline bool WaitFor(const std::function<bool()> &done, int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return done();
}

// "Specify the firmware file:" with path as the user's pick.
inline void ChooseFile(TalvorApp &app, const QString &path)
{
    TOpenDialog::SetChooserForTests([path](QWidget *, const QString &) { return path; });
    app.form1->ui->Button21->click();
}

// Longer than any update a test runs (a whole countdown against a silent line).
constexpr int kUpdateEndMs = 240000;

// Presses "Load program" and waits until the window has taken the update's
// end, calling step from a timer on the GUI thread meanwhile; returns how long
// the update took in milliseconds.
inline qint64 LoadProgram(TalvorApp &app, const std::function<void()> &step = {})
{
    QTimer probe;
    probe.setInterval(0);
    if (step) {
        QObject::connect(&probe, &QTimer::timeout, step);
        probe.start();
    }
    EXPECT_TRUE(app.form1->ui->Button22->isEnabled());
    QElapsedTimer clock;
    clock.start();
    app.form1->ui->Button22->click();
    EXPECT_TRUE(WaitFor([&app] { return !app.form1->UpdateRunning(); }, kUpdateEndMs));
    probe.stop();
    return clock.elapsed();
}

}  // namespace test_app
