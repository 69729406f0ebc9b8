#include "app/command_line.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <cstdio>

namespace {

// Options QApplication takes itself (with a value, then without).
const char *const kQtValueOptions[] = {"platform", "platformpluginpath", "platformtheme", "plugin",
                                       "qwindowgeometry", "qwindowicon", "qwindowtitle", "style",
                                       "stylesheet", "display", "geometry", "title", "name"};
const char *const kQtSwitches[] = {"reverse", "session", "widgetcount", "nograb", "dograb", "sync",
                                   "visual"};

void AddHidden(QCommandLineParser &parser, const QString &name, const QString &valueName)
{
    QCommandLineOption option(name, QString(), valueName);
    option.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOption(option);
}

}  // namespace

std::optional<int> HandleCommandLine(int argc, char *argv[])
{
    QCoreApplication core(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("talvor"));

    QCommandLineParser parser;
    // Qt's own options are single-dash words ("-platform offscreen").
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setApplicationDescription(
        QStringLiteral("Service tool for TALVOR IV METAL card readers on a serial port: firmware\n"
                       "update, device settings and monitoring. Without options it opens its window."));
    // Our own help and version options: the built-in ones bring --help-all,
    // which would list Qt's options and then open the window.
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help and end."));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Show the version and end."));
    parser.addOption(help);
    parser.addOption(version);
    for (const char *name : kQtValueOptions)
        AddHidden(parser, QString::fromLatin1(name), QStringLiteral("value"));
    for (const char *name : kQtSwitches)
        AddHidden(parser, QString::fromLatin1(name), QString());

    if (!parser.parse(QCoreApplication::arguments())) {
        std::fprintf(stderr, "talvor: %s See --help.\n", qPrintable(parser.errorText()));
        return 2;
    }
    if (!parser.positionalArguments().isEmpty()) {
        std::fprintf(stderr, "talvor: unexpected argument %s. See --help.\n",
                     qPrintable(parser.positionalArguments().constFirst()));
        return 2;
    }
    if (parser.isSet(help)) {
        std::fputs(qPrintable(parser.helpText()), stdout);
        return 0;
    }
    if (parser.isSet(version)) {
        std::printf("talvor %s\n", TALVOR_VERSION);
        return 0;
    }
    return std::nullopt;
}
