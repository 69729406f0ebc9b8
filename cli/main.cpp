// talvor-cli: the readers from a shell. Firmware updates on many ports at
// once, a station that updates each reader as it is plugged in, the settings
// as files, the service journal of every job, with exit codes and JSON output
// for scripts. No window system.

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <cstdio>

#include "cli/cli_common.h"
#include "cli/cli_texts.h"
#include "cli/cli_texts.h"
#include "cli/commands.h"

namespace {

const char kHelp[] = QT_TRANSLATE_NOOP(
    "CliMain",
    "Usage: talvor-cli [-h|--help] [-v|--version] COMMAND [options]\n"
    "The TALVOR IV service tool for scripts and production lines.\n"
    "\n"
    "Commands (each has its own --help):\n"
    "  ports [--json]                          serial ports, their converters and holders\n"
    "  info -p PORT [--wait SECONDS] [--json]  what the reader says about itself\n"
    "  update -p PORT [-p PORT ...] IMAGE [--json]\n"
    "                                          firmware update, all readers at once\n"
    "  update --station IMAGE [--json]         update each reader whose port appears\n"
    "  settings get -p PORT [-o FILE] [--json] the settings as named fields\n"
    "  settings set -p PORT (FILE | NAME=VALUE ...)\n"
    "                                          write settings, read them back\n"
    "  settings diff -p PORT FILE              what differs between reader and file\n"
    "  journal [--serial N] [--port P] [--since DATE] [--until DATE] [--kind KIND]\n"
    "          [--result RESULT] [--limit N] [--failed] [--json | --csv] [--server]\n"
    "                                          the service journal, newest first\n"
    "  journal show ENTRY [--json]             one entry, everything it holds\n"
    "  report ENTRY -o FILE.pdf                an entry's service report\n"
    "  config [technician NAME | logo FILE]    the technician's preferences\n"
    "\n"
    "Options of every command that opens a port:\n"
    "  --port-folder DIR   folder of the virtual ports (default $TALVOR_PORT_FOLDER\n"
    "                      or /tmp/talvor-ports)\n"
    "Options of update and settings:\n"
    "  --site TEXT, --customer TEXT, --note TEXT\n"
    "                      where, for whom, and a word on the job, for its journal entry\n"
    "Options of update, settings, journal and report:\n"
    "  --database FILE     the service journal's SQLite file (default\n"
    "                      $TALVOR_JOURNAL_DATABASE, Database= in com.ini, or\n"
    "                      ~/.local/share/talvor/journal.db)\n"
    "  --journal CONNECTION  the team's journal server, a PostgreSQL connection\n"
    "                      string (default Server= in com.ini)\n"
    "\n"
    "Exit status: 0 success, 1 settings differ or not taken, 2 bad arguments,\n"
    "3 image invalid, 4 port not opened, 5 no answer or no boot loader,\n"
    "6 reader error, 7 interrupted, 8 journal not readable, talvor-report\n"
    "not run or com.ini not written; report passes on talvor-report's status.\n");

// In the user's language (LC_ALL, LC_MESSAGES, LANG), when the tool has its
// texts: the command line's own, the engine's (shared with the window) and
// Qt's (the option parser's errors), the last only when installed.
void LoadTranslations(QCoreApplication &application)
{
    const QLocale locale = QLocale::system();
    const std::pair<const char *, QString> files[] = {
        {"talvor_cli", QStringLiteral(":/i18n")},
        {"talvor", QStringLiteral(":/i18n")},
        {"qtbase", QLibraryInfo::path(QLibraryInfo::TranslationsPath)},
    };
    for (const auto &[name, folder] : files) {
        auto *translator = new QTranslator(&application);
        if (translator->load(locale, QString::fromLatin1(name), QStringLiteral("_"), folder))
            QCoreApplication::installTranslator(translator);
        else
            delete translator;
    }
}

}  // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("talvor-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TALVOR_VERSION));
    LoadTranslations(application);

    const QStringList arguments = QCoreApplication::arguments().mid(1);
    const QString first = arguments.isEmpty() ? QString() : arguments.constFirst();
    const QStringList rest = arguments.mid(1);
    if (first == QLatin1String("-h") || first == QLatin1String("--help")) {
        std::fputs(qPrintable(CliMain::tr(kHelp)), stdout);
        return cli::kOk;
    }
    if (first == QLatin1String("-v") || first == QLatin1String("--version")) {
        std::printf("talvor-cli %s\n", TALVOR_VERSION);
        return cli::kOk;
    }
    if (first == QLatin1String("ports"))
        return cli::RunPorts(rest);
    if (first == QLatin1String("info"))
        return cli::RunInfo(rest);
    if (first == QLatin1String("update"))
        return cli::RunUpdate(rest);
    if (first == QLatin1String("settings"))
        return cli::RunSettings(rest);
    if (first == QLatin1String("journal"))
        return cli::RunJournal(rest);
    if (first == QLatin1String("report"))
        return cli::RunReport(rest);
    if (first == QLatin1String("config"))
        return cli::RunConfig(rest);
    const QString why = first.isEmpty() ? CliMain::tr("give a command. See talvor-cli --help.")
                                        : CliMain::tr("unknown command %1. See talvor-cli --help.").arg(first);
    cli::PrintError(QStringLiteral("talvor-cli: %1").arg(why));
    return cli::kBadArguments;
}
