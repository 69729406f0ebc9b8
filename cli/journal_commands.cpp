// `journal`: the service journal's entries, newest first, as a table, JSON
// or CSV; `report`: one entry's service report as a PDF, drawn by
// talvor-report (the command line itself links no Qt Gui).

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <cstdio>

#include "cli/cli_common.h"
#include "cli/cli_texts.h"
#include "cli/commands.h"

namespace cli {

namespace {

const QString kJournalSyntax =
    QStringLiteral("[--serial N] [--port P] [--since DATE] [--until DATE] [--kind KIND] [--result RESULT] "
                   "[--limit N] [--failed] [--json | --csv] [--server]");

// What the entries' ids start with in the table: enough for `report`.
constexpr int kShortIdLength = 8;

// A day (from its start, local time) or an ISO date-time (local time unless it
// names its zone); invalid when it is neither. As an end, a day takes in the
// whole day: it ends where the next day starts.
QDateTime TimeOf(const QString &text, bool dayEnds = false)
{
    const QDate day = QDate::fromString(text, QStringLiteral("yyyy-MM-dd"));
    if (day.isValid())
        return dayEnds ? day.addDays(1).startOfDay() : day.startOfDay();
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
        return CliJournal::tr("unfinished");
    if (entry.succeeded || entry.errorLines.isEmpty())
        return entry.outcome;
    return QStringLiteral("%1: %2").arg(entry.outcome, entry.errorLines.join(QStringLiteral(" ")));
}

void PrintTable(const std::vector<JournalEntry> &entries)
{
    if (entries.empty()) {
        PrintLine(CliJournal::tr("No journal entries."));
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
    PrintLine(row(CliJournal::tr("ENTRY"), CliJournal::tr("STARTED (UTC)"), CliJournal::tr("KIND"),
                  CliJournal::tr("PORT"), CliJournal::tr("SERIAL"), CliJournal::tr("FIRMWARE"),
                  CliJournal::tr("RESULT")));
    for (const JournalEntry &entry : entries)
        PrintLine(row(entry.id.left(kShortIdLength),
                      entry.started.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
                      KindId(entry.kind).replace(QLatin1Char('_'), QLatin1Char(' ')), entry.port,
                      entry.readerSerial ? QString::number(*entry.readerSerial) : QStringLiteral("-"),
                      FirmwareColumn(entry), ResultColumn(entry)));
}

// A settings record's bytes in hex, as `settings get` shows them.
QString RecordText(const QByteArray &record)
{
    return QString::fromLatin1(record.toHex(' '));
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

// One entry, everything it holds, a line a field.
void PrintEntry(const JournalEntry &entry)
{
    const auto line = [](const char *label, const QString &value) {
        if (!value.isEmpty())
            PrintLine(QStringLiteral("%1  %2").arg(CliJournal::tr(label), -18).arg(value));
    };
    const auto time = [](const QDateTime &at) {
        return at.isValid() ? at.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss 'UTC'")) : QString();
    };
    const bool update = entry.kind == JournalEntry::Kind::Update;
    line(QT_TRANSLATE_NOOP("CliJournal", "entry"), entry.id);
    line(QT_TRANSLATE_NOOP("CliJournal", "kind"), KindId(entry.kind).replace(QLatin1Char('_'), QLatin1Char(' ')));
    line(QT_TRANSLATE_NOOP("CliJournal", "result"), ResultColumn(entry));
    line(QT_TRANSLATE_NOOP("CliJournal", "started"), time(entry.started));
    line(QT_TRANSLATE_NOOP("CliJournal", "ended"), time(entry.ended));
    if (entry.finished)
        line(QT_TRANSLATE_NOOP("CliJournal", "duration"),
             CliJournal::tr("%1 s").arg(double(entry.durationMs) / 1000, 0, 'f', 1));
    line(QT_TRANSLATE_NOOP("CliJournal", "technician"), entry.TechnicianShown());
    line(QT_TRANSLATE_NOOP("CliJournal", "site"), entry.site);
    line(QT_TRANSLATE_NOOP("CliJournal", "customer"), entry.customer);
    line(QT_TRANSLATE_NOOP("CliJournal", "note"), entry.note);
    line(QT_TRANSLATE_NOOP("CliJournal", "host"), entry.host);
    line(QT_TRANSLATE_NOOP("CliJournal", "user"), entry.user);
    line(QT_TRANSLATE_NOOP("CliJournal", "tool version"), entry.toolVersion);
    line(QT_TRANSLATE_NOOP("CliJournal", "port"), entry.port);
    line(QT_TRANSLATE_NOOP("CliJournal", "converter serial"), entry.converterSerial);
    line(QT_TRANSLATE_NOOP("CliJournal", "reader serial"),
         entry.readerSerial ? QString::number(*entry.readerSerial) : QString());
    line(QT_TRANSLATE_NOOP("CliJournal", "boot loader"),
         update && !entry.loaderAfter.isEmpty()
             ? QStringLiteral("%1 -> %2").arg(OrDash(entry.loaderBefore), entry.loaderAfter)
             : entry.loaderBefore);
    line(QT_TRANSLATE_NOOP("CliJournal", "firmware"), update ? FirmwareColumn(entry) : entry.firmwareBefore);
    if (update) {
        line(QT_TRANSLATE_NOOP("CliJournal", "image"), entry.imageName);
        line(QT_TRANSLATE_NOOP("CliJournal", "image size"),
             CliJournal::tr("%1 bytes").arg(entry.imageSize));
        line(QT_TRANSLATE_NOOP("CliJournal", "image SHA-256"), entry.imageSha256);
        line(QT_TRANSLATE_NOOP("CliJournal", "image text"), entry.imageDescription);
        line(QT_TRANSLATE_NOOP("CliJournal", "blocks"),
             QStringLiteral("%1/%2").arg(entry.blocksSent).arg(entry.blocksTotal));
        line(QT_TRANSLATE_NOOP("CliJournal", "boot attempts"), QString::number(entry.bootAttempts));
    } else {
        line(QT_TRANSLATE_NOOP("CliJournal", "settings before"), RecordText(entry.settingsBefore));
        line(QT_TRANSLATE_NOOP("CliJournal", "settings after"), RecordText(entry.settingsAfter));
        line(QT_TRANSLATE_NOOP("CliJournal", "changed fields"), entry.changedFields.join(QStringLiteral(", ")));
    }
    for (const QString &error : entry.errorLines)
        line(QT_TRANSLATE_NOOP("CliJournal", "reader said"), error);
}

int ShowEntry(const QStringList &arguments)
{
    CommandParser command(QStringLiteral("journal show"), QStringLiteral("ENTRY [--json]"),
                          CliJournal::tr("One journal entry, everything it holds. ENTRY is the entry's id or a "
                                         "unique\nstart of it (`talvor-cli journal` shows them)."),
                          kUsesJournal);
    const QCommandLineOption json(QStringLiteral("json"),
                                  CliJournal::tr("The entry's JSON object."));
    command.Parser().addOption(json);
    if (const auto status = command.Parse(arguments, 1, 1))
        return *status;
    Journal journal(command.TakeSetting().journal);
    // Unreadable first, so a missing entry is the user's word, not the journal's trouble.
    QString error;
    JournalFilter newest;
    newest.limit = 1;
    journal.Query(newest, &error);
    if (!error.isEmpty()) {
        PrintError(QStringLiteral("talvor-cli journal show: %1").arg(error));
        return kJournalUnavailable;
    }
    const std::optional<JournalEntry> entry = journal.Find(command.Parser().positionalArguments().constFirst(), &error);
    if (!entry) {
        PrintError(QStringLiteral("talvor-cli journal show: %1").arg(error));
        return kBadArguments;
    }
    if (command.Parser().isSet(json))
        WriteOut(QJsonDocument(entry->ToJson()).toJson(QJsonDocument::Indented));
    else
        PrintEntry(*entry);
    return kOk;
}

}  // namespace

int RunJournal(const QStringList &arguments)
{
    if (!arguments.isEmpty() && arguments.constFirst() == QLatin1String("show"))
        return ShowEntry(arguments.mid(1));
    CommandParser command(QStringLiteral("journal"), kJournalSyntax,
                          CliJournal::tr("The service journal's entries, newest first: every firmware update, "
                                         "settings\nwrite and settings read, from the window and the command "
                                         "line.\n`talvor-cli journal show ENTRY` shows one entry whole."),
                          kUsesJournal);
    const QCommandLineOption serial(QStringLiteral("serial"),
                                    CliJournal::tr("Only the reader with this serial number."), QStringLiteral("n"));
    const QCommandLineOption port(QStringLiteral("port"), CliJournal::tr("Only jobs on this port."),
                                  QStringLiteral("p"));
    const QCommandLineOption since(QStringLiteral("since"),
                                   CliJournal::tr("Only jobs started at or after this day (YYYY-MM-DD) or ISO "
                                                  "date-time (local time unless it names its zone)."),
                                   QStringLiteral("date"));
    const QCommandLineOption until(QStringLiteral("until"),
                                   CliJournal::tr("Only jobs started before this ISO date-time, or up to the end "
                                                  "of this day (YYYY-MM-DD)."),
                                   QStringLiteral("date"));
    const QCommandLineOption kind(QStringLiteral("kind"),
                                  CliJournal::tr("Only jobs of this kind: update, settings_write or settings_read."),
                                  QStringLiteral("kind"));
    const QCommandLineOption result(QStringLiteral("result"),
                                    CliJournal::tr("Only jobs that ended so: succeeded, failed (finished and "
                                                   "failed) or unfinished (cut short, or still running)."),
                                    QStringLiteral("result"));
    const QCommandLineOption limit(QStringLiteral("limit"), CliJournal::tr("Only the newest N entries."),
                                   QStringLiteral("n"));
    const QCommandLineOption failed(QStringLiteral("failed"),
                                    CliJournal::tr("Only jobs that failed or were cut short."));
    const QCommandLineOption json(QStringLiteral("json"), CliJournal::tr("One JSON array of the entries."));
    const QCommandLineOption csv(QStringLiteral("csv"), CliJournal::tr("CSV: a header line and one row per entry."));
    const QCommandLineOption server(QStringLiteral("server"),
                                    CliJournal::tr("List from the journal server instead of the local file."));
    command.Parser().addOptions({serial, port, since, until, kind, result, limit, failed, json, csv, server});
    if (const auto status = command.Parse(arguments, 0, 0))
        return *status;
    const QCommandLineParser &parser = command.Parser();
    const auto refuse = [](const QString &text) {
        PrintError(QStringLiteral("talvor-cli journal: %1").arg(text));
        return int(kBadArguments);
    };

    JournalFilter filter;
    if (parser.isSet(serial)) {
        bool ok = false;
        const uint number = parser.value(serial).toUInt(&ok);
        if (!ok || number > 0xFFFF)
            return refuse(CliJournal::tr("--serial takes a number from 0 to 65535."));
        filter.serial = uint16_t(number);
    }
    filter.port = parser.value(port);
    if (parser.isSet(since)) {
        filter.since = TimeOf(parser.value(since));
        if (!filter.since.isValid())
            return refuse(CliJournal::tr("--since takes YYYY-MM-DD or an ISO date-time (2026-12-08T10:00:00)."));
    }
    if (parser.isSet(until)) {
        filter.until = TimeOf(parser.value(until), true);
        if (!filter.until.isValid())
            return refuse(CliJournal::tr("--until takes YYYY-MM-DD or an ISO date-time (2026-12-08T10:00:00)."));
    }
    if (parser.isSet(kind)) {
        filter.kind = KindById(parser.value(kind));
        if (!filter.kind)
            return refuse(CliJournal::tr("--kind takes update, settings_write or settings_read."));
    }
    if (parser.isSet(result)) {
        filter.result = JobResultById(parser.value(result));
        if (!filter.result)
            return refuse(CliJournal::tr("--result takes succeeded, failed or unfinished."));
    }
    if (parser.isSet(limit)) {
        bool ok = false;
        filter.limit = parser.value(limit).toInt(&ok);
        if (!ok || filter.limit < 1)
            return refuse(CliJournal::tr("--limit takes a number of entries, 1 or more."));
    }
    filter.failedOnly = parser.isSet(failed);
    if (parser.isSet(json) && parser.isSet(csv))
        return refuse(CliJournal::tr("give --json or --csv, not both."));

    const JournalOptions options = command.TakeSetting().journal;
    const bool fromServer = parser.isSet(server);
    if (fromServer && options.server.isEmpty())
        return refuse(CliJournal::tr("no journal server is named (--journal, or Server= in section [Journal] "
                                     "of com.ini)."));
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
                          CliJournal::tr("Writes the one-page service report of a journal entry as a PDF, "
                                         "through\ntalvor-report. ENTRY is the entry's id or a unique start "
                                         "of it (`talvor-cli journal`\nshows them)."),
                          kUsesJournal);
    const QCommandLineOption output({QStringLiteral("o"), QStringLiteral("output")},
                                    CliJournal::tr("The PDF to write."), QStringLiteral("file"));
    const QCommandLineOption logo(QStringLiteral("logo"),
                                  CliJournal::tr("An image for the head of the page (default: Logo= in [Report])."),
                                  QStringLiteral("file"));
    command.Parser().addOptions({output, logo});
    if (const auto status = command.Parse(arguments, 1, 1))
        return *status;
    if (!command.Parser().isSet(output)) {
        PrintError(CliJournal::tr("talvor-cli report: give -o FILE.pdf. See --help."));
        return kBadArguments;
    }
    const JournalOptions options = command.TakeSetting().journal;
    const QString program = ReportProgram();
    if (program.isEmpty()) {
        PrintError(CliJournal::tr("talvor-cli report: talvor-report is neither beside talvor-cli nor on the PATH."));
        return kJournalUnavailable;
    }
    // The journal as this program sees it, whatever talvor-report's own ini file says.
    QProcess report;
    report.setProcessChannelMode(QProcess::ForwardedChannels);
    // talvor-report's display layer wants a runtime folder and warns without
    // one (cron, su, ssh): it gets a private one of its own for its run.
    QTemporaryDir runtime;
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR") && runtime.isValid()) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
        report.setProcessEnvironment(environment);
    }
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
