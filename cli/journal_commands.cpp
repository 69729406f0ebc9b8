// `journal`: the service journal's entries, newest first, as a table, JSON
// or CSV; `report`: one entry's service report as a PDF, drawn by
// talvor-report (the command line itself links no Qt Gui).

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <cstdio>

#include "cli/cli_common.h"
#include "cli/commands.h"

namespace cli {

namespace {

// What the entries' ids start with in the table: enough for `report`.
constexpr int kShortIdLength = 8;

// A day (from its start, local time) or an ISO date-time (local time unless it
// names its zone); invalid when it is neither.
QDateTime SinceOf(const QString &text)
{
    const QDate day = QDate::fromString(text, QStringLiteral("yyyy-MM-dd"));
    if (day.isValid())
        return day.startOfDay();
    return QDateTime::fromString(text, Qt::ISODateWithMs);
}

QString OrDash(const QString &text)
{
    return text.isEmpty() ? QStringLiteral("-") : text;
}

QString FirmwareColumn(const JournalEntry &entry)
{
    if (entry.kind != JournalEntry::Kind::Update)
        return OrDash(entry.firmwareBefore);
    return QStringLiteral("%1 -> %2").arg(OrDash(entry.firmwareBefore), OrDash(entry.firmwareAfter));
}

QString ResultColumn(const JournalEntry &entry)
{
    if (!entry.finished)
        return QStringLiteral("unfinished");
    if (entry.succeeded || entry.errorLines.isEmpty())
        return entry.outcome;
    return QStringLiteral("%1: %2").arg(entry.outcome, entry.errorLines.join(QStringLiteral(" ")));
}

void PrintTable(const std::vector<JournalEntry> &entries)
{
    if (entries.empty()) {
        PrintLine(QStringLiteral("No journal entries."));
        return;
    }
    const auto row = [](const QString &id, const QString &time, const QString &kind, const QString &port,
                        const QString &serial, const QString &firmware, const QString &result) {
        return QStringLiteral("%1 %2 %3 %4 %5 %6 %7")
            .arg(id, -kShortIdLength)
            .arg(time, -19)
            .arg(kind, -14)
            .arg(port, -15)
            .arg(serial, 6)
            .arg(firmware, -12)
            .arg(result);
    };
    PrintLine(row(QStringLiteral("ENTRY"), QStringLiteral("STARTED (UTC)"), QStringLiteral("KIND"),
                  QStringLiteral("PORT"), QStringLiteral("SERIAL"), QStringLiteral("FIRMWARE"),
                  QStringLiteral("RESULT")));
    for (const JournalEntry &entry : entries)
        PrintLine(row(entry.id.left(kShortIdLength),
                      entry.started.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
                      KindId(entry.kind).replace(QLatin1Char('_'), QLatin1Char(' ')), entry.port,
                      entry.readerSerial ? QString::number(*entry.readerSerial) : QStringLiteral("-"),
                      FirmwareColumn(entry), ResultColumn(entry)));
}

void WriteOut(const QByteArray &bytes)
{
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
}

// Beside talvor-cli, as installed; else on the PATH.
QString ReportProgram()
{
    const QString beside = QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("talvor-report"));
    if (QFileInfo(beside).isExecutable())
        return beside;
    return QStandardPaths::findExecutable(QStringLiteral("talvor-report"));
}

}  // namespace

int RunJournal(const QStringList &arguments)
{
    CommandParser command(QStringLiteral("journal"),
                          QStringLiteral("[--serial N] [--port P] [--since DATE] [--failed] [--json | --csv] "
                                         "[--server]"),
                          QStringLiteral("The service journal's entries, newest first: every firmware update, "
                                         "settings\nwrite and settings read, from the window and the command "
                                         "line."),
                          kUsesJournal);
    const QCommandLineOption serial(QStringLiteral("serial"), QStringLiteral("Only the reader with this serial number."),
                                    QStringLiteral("n"));
    const QCommandLineOption port(QStringLiteral("port"), QStringLiteral("Only jobs on this port."),
                                  QStringLiteral("p"));
    const QCommandLineOption since(QStringLiteral("since"),
                                   QStringLiteral("Only jobs started at or after this day (YYYY-MM-DD) or ISO "
                                                  "date-time (local time unless it names its zone)."),
                                   QStringLiteral("date"));
    const QCommandLineOption failed(QStringLiteral("failed"), QStringLiteral("Only jobs that failed or were cut short."));
    const QCommandLineOption json(QStringLiteral("json"), QStringLiteral("One JSON array of the entries."));
    const QCommandLineOption csv(QStringLiteral("csv"), QStringLiteral("CSV: a header line and one row per entry."));
    const QCommandLineOption server(QStringLiteral("server"),
                                    QStringLiteral("List from the journal server instead of the local file."));
    command.Parser().addOptions({serial, port, since, failed, json, csv, server});
    if (const auto status = command.Parse(arguments, 0, 0))
        return *status;
    const QCommandLineParser &parser = command.Parser();

    JournalFilter filter;
    if (parser.isSet(serial)) {
        bool ok = false;
        const uint number = parser.value(serial).toUInt(&ok);
        if (!ok || number > 0xFFFF) {
            PrintError(QStringLiteral("talvor-cli journal: --serial takes a number from 0 to 65535."));
            return kBadArguments;
        }
        filter.serial = uint16_t(number);
    }
    filter.port = parser.value(port);
    if (parser.isSet(since)) {
        filter.since = SinceOf(parser.value(since));
        if (!filter.since.isValid()) {
            PrintError(QStringLiteral("talvor-cli journal: --since takes YYYY-MM-DD or an ISO date-time "
                                      "(2026-12-08T10:00:00)."));
            return kBadArguments;
        }
    }
    filter.failedOnly = parser.isSet(failed);
    if (parser.isSet(json) && parser.isSet(csv)) {
        PrintError(QStringLiteral("talvor-cli journal: give --json or --csv, not both."));
        return kBadArguments;
    }

    const JournalOptions options = command.TakeSetting().journal;
    const bool fromServer = parser.isSet(server);
    if (fromServer && options.server.isEmpty()) {
        PrintError(QStringLiteral("talvor-cli journal: no journal server is named (--journal, or Server= in "
                                  "section [Journal] of com.ini)."));
        return kBadArguments;
    }
    Journal journal(options);
    QString error;
    const std::vector<JournalEntry> entries =
        fromServer ? journal.QueryServer(filter, &error) : journal.Query(filter, &error);
    if (!error.isEmpty()) {
        PrintError(QStringLiteral("talvor-cli journal: %1").arg(error));
        return kJournalUnavailable;
    }
    if (parser.isSet(json))
        WriteOut(EntriesToJson(entries));
    else if (parser.isSet(csv))
        WriteOut(EntriesToCsv(entries));
    else
        PrintTable(entries);
    return kOk;
}

int RunReport(const QStringList &arguments)
{
    CommandParser command(QStringLiteral("report"), QStringLiteral("ENTRY -o FILE.pdf"),
                          QStringLiteral("Writes the one-page service report of a journal entry as a PDF, "
                                         "through\ntalvor-report. ENTRY is the entry's id or a unique start "
                                         "of it (`talvor-cli journal`\nshows them)."),
                          kUsesJournal);
    const QCommandLineOption output({QStringLiteral("o"), QStringLiteral("output")},
                                    QStringLiteral("The PDF to write."), QStringLiteral("file"));
    const QCommandLineOption logo(QStringLiteral("logo"),
                                  QStringLiteral("An image for the head of the page (default: Logo= in [Report])."),
                                  QStringLiteral("file"));
    command.Parser().addOptions({output, logo});
    if (const auto status = command.Parse(arguments, 1, 1))
        return *status;
    if (!command.Parser().isSet(output)) {
        PrintError(QStringLiteral("talvor-cli report: give -o FILE.pdf. See --help."));
        return kBadArguments;
    }
    const JournalOptions options = command.TakeSetting().journal;
    const QString program = ReportProgram();
    if (program.isEmpty()) {
        PrintError(QStringLiteral("talvor-cli report: talvor-report is neither beside talvor-cli nor on the PATH."));
        return kJournalUnavailable;
    }
    // The journal as this program sees it, whatever talvor-report's own ini file says.
    QProcess report;
    report.setProcessChannelMode(QProcess::ForwardedChannels);
    QStringList reportArguments{command.Parser().positionalArguments().constFirst(), QStringLiteral("-o"),
                                command.Parser().value(output), QStringLiteral("--database"),
                                options.path.isEmpty() ? Journal::DefaultPath() : options.path,
                                QStringLiteral("--journal"), options.server};
    if (command.Parser().isSet(logo))
        reportArguments << QStringLiteral("--logo") << command.Parser().value(logo);
    report.start(program, reportArguments);
    if (!report.waitForStarted(-1) || !report.waitForFinished(-1) || report.exitStatus() != QProcess::NormalExit) {
        PrintError(QStringLiteral("talvor-cli report: %1: %2").arg(program, report.errorString()));
        return kJournalUnavailable;
    }
    return report.exitCode();
}

}  // namespace cli
