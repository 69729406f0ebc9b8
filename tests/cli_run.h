#pragma once
// talvor-cli run as a program by a test: how a run ended.

#include <QProcess>
#include <QString>
#include <gtest/gtest.h>

struct Finished {
    int status = -1;
    QString out;
    QString err;
};

// Waits up to ms for the program to end (killing it after), then takes its
// exit status and output; a crash or a hang fails the test.
inline Finished WaitFinished(QProcess &process, int ms)
{
    Finished run;
    if (!process.waitForFinished(ms)) {
        process.kill();
        process.waitForFinished();
        ADD_FAILURE() << "talvor-cli did not end";
    }
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit) << "talvor-cli crashed";
    run.status = process.exitCode();
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}
