// talvor-report: the service report of one journal entry as a PDF.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <cstdio>

#include "core/journal/journal.h"
#include "core/journal/report_preferences.h"
#include "core/line/ini_file.h"
#include "report/service_report.h"

namespace {

const char kHelp[] =
    "Usage: talvor-report [options] ENTRY -o FILE.pdf\n"
    "Writes the one-page service report of a service journal entry as a PDF.\n"
    "ENTRY is the entry's id or a unique start of it (at least 4 characters).\n"
    "The page is in Russian when the user's language (LC_ALL, LC_MESSAGES, LANG)\n"
    "is Russian, else in English; times are local, with their offset from UTC.\n"
    "\n"
    "Options:\n"
    "  -o, --output FILE      the PDF to write\n"
    "  --logo FILE            an image for the head of the page (default: Logo=\n"
    "                         in section [Report] of the tool's ini file)\n"
    "  --database FILE        the journal's SQLite file (default: the tool's ini\n"
    "                         file, else ~/.local/share/talvor/journal.db)\n"
    "  --journal CONNECTION   a PostgreSQL connection string; the entry is looked\n"
    "                         up there when the local journal does not have it\n"
    "  --help                 show this help and end\n"
    "  --version              show the version and end\n";

int Usage(const QString &why)
{
    std::fprintf(stderr, "talvor-report: %s\nTry talvor-report --help.\n", qPrintable(why));
    return 2;
}

}  // namespace

int main(int argc, char **argv)
{
    // The report is drawn, never shown: no display is needed.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // Run from cron, su or ssh there is no runtime folder, and the display
    // layer would warn about it on every run: it gets a private one instead.
    QTemporaryDir runtime;
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR") && runtime.isValid()) {
        QFile::setPermissions(runtime.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    }
    QGuiApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);

    QString entryId, output, database, server, logo;
    bool serverGiven = false, logoGiven = false;
    while (!args.isEmpty()) {
        const QString arg = args.takeFirst();
        auto value = [&args, &arg](QString &into) {
            if (args.isEmpty())
                return false;
            into = args.takeFirst();
            return true;
        };
        if (arg == QLatin1String("--help")) {
            std::fputs(kHelp, stdout);
            return 0;
        }
        if (arg == QLatin1String("--version")) {
            std::printf("talvor-report %s\n", TALVOR_VERSION);
            return 0;
        }
        if (arg == QLatin1String("-o") || arg == QLatin1String("--output")) {
            if (!value(output))
                return Usage(arg + QStringLiteral(" needs a file name"));
        } else if (arg == QLatin1String("--database")) {
            if (!value(database))
                return Usage(arg + QStringLiteral(" needs a file name"));
        } else if (arg == QLatin1String("--logo")) {
            if (!value(logo))
                return Usage(arg + QStringLiteral(" needs a file name"));
            logoGiven = true;
        } else if (arg == QLatin1String("--journal")) {
            if (!value(server))
                return Usage(arg + QStringLiteral(" needs a connection string"));
            serverGiven = true;
        } else if (arg.startsWith(QLatin1Char('-')) || !entryId.isEmpty()) {
            return Usage(QStringLiteral("unexpected %1").arg(arg));
        } else {
            entryId = arg;
        }
    }
    if (entryId.isEmpty() || output.isEmpty())
        return Usage(QStringLiteral("give an entry and -o FILE.pdf"));

    const QString iniPath = platform::IniFolder(QCoreApplication::applicationDirPath()) + QStringLiteral("com.ini");
    JournalOptions options = Journal::OptionsFromIni(iniPath);
    if (!database.isEmpty())
        options.path = database;
    if (serverGiven)
        options.server = server;
    Journal journal(options);
    QString error;
    const std::optional<JournalEntry> entry = journal.Find(entryId, &error);
    if (!entry) {
        std::fprintf(stderr, "talvor-report: %s\n", qPrintable(error));
        return 1;
    }
    ReportOptions report;
    report.language = QLocale::system();
    // A logo that cannot be read is left out of the page, not an error.
    report.logoPath = logoGiven ? logo : ReadReportPreferences(iniPath).logoPath;
    if (!WriteServiceReport(*entry, output, report, &error)) {
        std::fprintf(stderr, "talvor-report: %s\n", qPrintable(error));
        return 1;
    }
    return 0;
}
