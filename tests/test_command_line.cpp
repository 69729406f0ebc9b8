// The talvor program's command line, run as a user runs it from a terminal
// with no display at all: help and version answer, anything unknown is
// refused with status 2, and none of it needs the window system.
#include <QProcess>
#include <QProcessEnvironment>
#include <gtest/gtest.h>

namespace {

struct Finished {
    int status = -1;
    QString out;
    QString err;
};

Finished RunHeadless(const QStringList &arguments)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        environment.remove(QString::fromLatin1(name));
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(TALVOR_PROGRAM), arguments);
    Finished run;
    if (!process.waitForFinished(30000)) {
        process.kill();
        process.waitForFinished();
        ADD_FAILURE() << "talvor did not end";
        return run;
    }
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit) << "talvor crashed";
    run.status = process.exitCode();
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

struct Case {
    const char *name;
    QStringList arguments;
    int status;
    QStringList inOut;  // texts standard output must hold; none: it stays empty
    QStringList inErr;  // texts standard error must hold; none: it stays empty
};

const QString kVersionLine = QStringLiteral("talvor " TALVOR_VERSION "\n");

class CommandLine : public ::testing::TestWithParam<Case> {};

TEST_P(CommandLine, AnswersWithoutADisplay)
{
    const Case &c = GetParam();
    const Finished run = RunHeadless(c.arguments);
    EXPECT_EQ(run.status, c.status) << run.err.toStdString();
    for (const QString &text : c.inOut)
        EXPECT_TRUE(run.out.contains(text)) << "stdout lacks " << text.toStdString() << ":\n" << run.out.toStdString();
    for (const QString &text : c.inErr)
        EXPECT_TRUE(run.err.contains(text)) << "stderr lacks " << text.toStdString() << ":\n" << run.err.toStdString();
    if (c.inOut.isEmpty()) {
        EXPECT_TRUE(run.out.isEmpty()) << run.out.toStdString();
    }
    if (c.inErr.isEmpty()) {
        EXPECT_TRUE(run.err.isEmpty()) << run.err.toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Talvor, CommandLine,
    ::testing::Values(
        Case{"Help", {"--help"}, 0, {"Usage:", "-h, --help", "-v, --version", "TALVOR IV"}, {}},
        Case{"ShortHelp", {"-h"}, 0, {"Usage:", "--version"}, {}},
        Case{"Version", {"--version"}, 0, {kVersionLine}, {}},
        Case{"ShortVersion", {"-v"}, 0, {kVersionLine}, {}},
        // Qt's own window-system options pass; they are not listed as ours.
        Case{"QtOptionPassesThrough", {"-platform", "offscreen", "--version"}, 0, {kVersionLine}, {}},
        Case{"UnknownLongOption", {"--frobnicate"}, 2, {}, {"frobnicate", "--help"}},
        Case{"UnknownShortOption", {"-x"}, 2, {}, {"'x'"}},
        Case{"OptionValueOnASwitch", {"--version=2"}, 2, {}, {"version"}},
        Case{"StrayArgument", {"firmware.rom"}, 2, {}, {"firmware.rom"}},
        Case{"UnknownBeforeHelp", {"--frobnicate", "--help"}, 2, {}, {"frobnicate"}}),
    [](const ::testing::TestParamInfo<Case> &info) { return std::string(info.param.name); });

TEST(CommandLine, HelpHidesQtOptions)
{
    const Finished run = RunHeadless({QStringLiteral("--help")});
    EXPECT_FALSE(run.out.contains(QStringLiteral("platform"))) << run.out.toStdString();
    EXPECT_FALSE(run.out.contains(QStringLiteral("--help-all"))) << run.out.toStdString();
}

}  // namespace
