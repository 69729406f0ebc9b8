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
#include <functional>
#include <string>
#include <unistd.h>

#include "gui/application.h"
#include "pty_pair.h"
#include "wait_until.h"
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

// A bare pseudo-terminal published as a link in folder: a port that opens
// and on which nothing answers.
class VirtualPort {
public:
    VirtualPort(const QString &folder, const QString &name) : link_(folder + QLatin1Char('/') + name)
    {
        EXPECT_GE(pty_.master, 0);
        EXPECT_TRUE(QFile::link(QString::fromStdString(pty_.slave), link_));
    }
    ~VirtualPort() { QFile::remove(link_); }
    VirtualPort(const VirtualPort &) = delete;
    VirtualPort &operator=(const VirtualPort &) = delete;
    const QString &Link() const { return link_; }

private:
    PtyPair pty_;
    QString link_;
};

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
    EXPECT_TRUE(WaitUntil([&app] { return !app.form1->UpdateRunning(); }, kUpdateEndMs));
    probe.stop();
    return clock.elapsed();
}

}  // namespace test_app
