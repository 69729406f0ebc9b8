// `settings get | set | diff`: the reader's settings record as named fields,
// through the settings window's field rules. Each is kept in the service
// journal: get and diff as a settings read, set as a settings write.

#include <QFile>
#include <QJsonDocument>
#include <QScopeGuard>
#include <variant>

#include "cli/cli_common.h"
#include "cli/cli_texts.h"
#include "cli/commands.h"
#include "core/protocol/settings_file.h"
#include "core/journal/job_journal.h"

namespace cli {

// The settings file is the core's, shared with the settings window.
using namespace settings_file;

namespace {

using settings_fields::Field;

const QString kSyntaxGet = QStringLiteral("get -p PORT [-o FILE] [--json]");
const QString kSyntaxSet = QStringLiteral("set -p PORT (FILE | NAME=VALUE ...)");
const QString kSyntaxDiff = QStringLiteral("diff -p PORT FILE");

// What became of a settings request (or write) that got no good reply.
QString FailureText(SettingsFailure failure, bool write)
{
    switch (failure) {
    case SettingsFailure::BadChecksum:
        return write ? CliSettings::tr("the reader answered the settings write with a bad checksum")
                     : CliSettings::tr("the reader answered the settings request with a bad checksum");
    case SettingsFailure::ShortReply:
        return write ? CliSettings::tr("the reader answered the settings write with part of a reply")
                     : CliSettings::tr("the reader answered the settings request with part of a reply");
    case SettingsFailure::PortVanished:
        return write ? CliSettings::tr("the port vanished during the settings write")
                     : CliSettings::tr("the port vanished during the settings request");
    case SettingsFailure::ConnectionDropped:
        return write ? CliSettings::tr("the connection dropped during the settings write")
                     : CliSettings::tr("the connection dropped during the settings request");
    case SettingsFailure::None:
    case SettingsFailure::NoAnswer: break;
    }
    return write ? CliSettings::tr("the reader did not answer the settings write")
                 : CliSettings::tr("the reader did not answer the settings request");
}

void PrintRefusal(const QString &command, const settings_fields::Refusal &refusal)
{
    PrintError(CliSettings::tr("talvor-cli settings %1: %2").arg(command, refusal.text));
    if (!refusal.allowed.isEmpty())
        PrintError(CliSettings::tr("allowed: %1").arg(refusal.allowed.join(QStringLiteral(", "))));
    // The reader does not report its model; the keypad's fields need it named.
    if (refusal.text.contains(QLatin1String("cannot be changed")))
        PrintError(CliSettings::tr("The device type is taken as \"TalvorIV-M ETH\" unless device_type=... "
                                   "comes first."));
}

std::optional<SettingsFile> ReadSettingsFile(const QString &command, const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        PrintError(CliSettings::tr("talvor-cli settings %1: cannot read %2: %3").arg(command, path, file.errorString()));
        return std::nullopt;
    }
    settings_fields::Refusal refusal;
    auto parsed = ParseSettingsFile(file.readAll(), refusal);
    if (!parsed) {
        refusal.text = QStringLiteral("%1: %2").arg(path, refusal.text);
        PrintRefusal(command, refusal);
    }
    return parsed;
}

// The port's session and the record the reader holds, or the exit status.
struct ReaderRecord {
    std::unique_ptr<Session> session;
    SettingsRecord record{};
    int failure = kOk;
};

// Opens the port, begins the job's journal entry once it is open, and reads
// the reader's record. A read's entry ends with the read, a write's stays open.
ReaderRecord ReadReader(const PortChoice &port, const Setting &setting, JobJournal &jobs, JournalEntry::Kind kind)
{
    ReaderRecord reader;
    OpenedSession opened = OpenSession(port, setting);
    if (!opened.session) {
        PrintError(opened.failure);
        reader.failure = kPortNotOpened;
        return reader;
    }
    const ReaderSnapshot before = AskReader(*opened.session, kAskReaderMs);
    TellJournalTrouble(jobs.BeginSettings(kind, port.name, port.converterSerial, before, std::nullopt));
    const SettingsResult read = opened.session->ReadSettings().get();
    if (!read.answered || kind == JournalEntry::Kind::SettingsRead)
        TellJournalTrouble(jobs.EndSettings(read, before, {FailureText(read.failure, false)}));
    if (!read.answered) {
        PrintError(QStringLiteral("%1: %2").arg(port.name, FailureText(read.failure, false)));
        reader.failure = kNoAnswer;
        return reader;
    }
    reader.session = std::move(opened.session);
    reader.record = read.record;
    return reader;
}

struct Parsed {
    Setting setting;
    PortChoice port;
    QStringList positional;
    bool json = false;
    QString output;
};

// The sub-command's own parser; the exit status when it should end now.
std::variant<int, Parsed> ParseSettingsCommand(const QString &name, const QString &syntax,
                                                const QString &description, const QStringList &arguments,
                                                int minPositional, int maxPositional)
{
    CommandParser command(QStringLiteral("settings ") + name, syntax.mid(syntax.indexOf(QLatin1Char(' ')) + 1),
                          description, kUsesPorts | kUsesJournal | kRecordsJobs);
    const QCommandLineOption port({QStringLiteral("p"), QStringLiteral("port")},
                                  CliSettings::tr("Port name or device path."), QStringLiteral("port"));
    const QCommandLineOption output({QStringLiteral("o"), QStringLiteral("output")},
                                    CliSettings::tr("Write the settings file here."), QStringLiteral("file"));
    const QCommandLineOption json(QStringLiteral("json"),
                                  CliSettings::tr("The settings file's JSON on standard output."));
    command.Parser().addOption(port);
    if (name == QLatin1String("get"))
        command.Parser().addOptions({output, json});
    if (const auto status = command.Parse(arguments, minPositional, maxPositional))
        return *status;
    if (command.Parser().values(port).size() != 1) {
        PrintError(CliSettings::tr("talvor-cli settings %1: give one -p PORT. See --help.").arg(name));
        return int(kBadArguments);
    }
    Parsed parsed;
    parsed.setting = command.TakeSetting();
    parsed.port = ResolvePort(command.Parser().value(port), parsed.setting.portFolder);
    parsed.positional = command.Parser().positionalArguments();
    if (name == QLatin1String("get")) {
        parsed.json = command.Parser().isSet(json);
        parsed.output = command.Parser().value(output);
    }
    return parsed;
}

int Get(const QStringList &arguments)
{
    const auto parsed = ParseSettingsCommand(
        QStringLiteral("get"), kSyntaxGet,
        CliSettings::tr("Reads the reader's settings: named fields with their values in words, and the\n"
                        "raw 9 bytes. A value a field does not know is shown as its byte (\"0xFF, not a\n"
                        "known value\"). -o writes them as a settings file that `settings set` takes."),
        arguments, 0, 0);
    if (const int *status = std::get_if<int>(&parsed))
        return *status;
    const Parsed &p = std::get<Parsed>(parsed);
    Journal journal(p.setting.journal);
    const auto closeJournal = qScopeGuard([&journal] { TellJournalTrouble(journal.Close()); });
    JobJournal jobs(journal);
    jobs.SetDetails(p.setting.details);
    const ReaderRecord reader = ReadReader(p.port, p.setting, jobs, JournalEntry::Kind::SettingsRead);
    if (reader.failure != kOk)
        return reader.failure;

    const QByteArray json = QJsonDocument(SettingsToJson(reader.record)).toJson(QJsonDocument::Indented);
    if (!p.output.isEmpty()) {
        QFile file(p.output);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(json) != json.size() ||
            !file.flush()) {
            PrintError(CliSettings::tr("talvor-cli settings get: cannot write %1: %2").arg(p.output, file.errorString()));
            return kBadArguments;
        }
    }
    if (p.json) {
        PrintLine(QString::fromUtf8(json).trimmed());
        return kOk;
    }
    for (const settings_fields::FieldInfo &info : settings_fields::AllFields()) {
        if (info.byte >= 0)
            PrintLine(
                QStringLiteral("%1  %2").arg(FieldId(info.field), -22).arg(ShownValue(reader.record, info.field)));
    }
    PrintLine(QStringLiteral("%1  %2").arg(QStringLiteral("raw"), -22).arg(RecordHex(reader.record)));
    if (!p.output.isEmpty())
        PrintLine(CliSettings::tr("%1: settings written to %2").arg(p.port.name, p.output));
    return kOk;
}

int Set(const QStringList &arguments)
{
    const auto parsed = ParseSettingsCommand(
        QStringLiteral("set"), kSyntaxSet,
        CliSettings::tr("Writes settings to the reader, from a settings file or as NAME=VALUE words, and\n"
                        "reads them back. A value a field does not allow is refused before anything\n"
                        "is written; the fields that will change are listed first, and nothing is\n"
                        "written when none will. Names and values: `talvor-cli settings get`."),
        arguments, 1, -1);
    if (const int *status = std::get_if<int>(&parsed))
        return *status;
    const Parsed &p = std::get<Parsed>(parsed);

    const bool fromFile = p.positional.size() == 1 && !p.positional.constFirst().contains(QLatin1Char('='));
    std::optional<SettingsFile> file;
    if (fromFile) {
        file = ReadSettingsFile(QStringLiteral("set"), p.positional.constFirst());
        if (!file)
            return kBadArguments;
    } else {
        // Names and values first; the rules need the reader's record.
        for (const QString &words : p.positional) {
            settings_fields::Refusal refusal;
            if (!settings_fields::ParseAssignment(words, &refusal)) {
                PrintRefusal(QStringLiteral("set"), refusal);
                return kBadArguments;
            }
        }
    }

    Journal journal(p.setting.journal);
    const auto closeJournal = qScopeGuard([&journal] { TellJournalTrouble(journal.Close()); });
    JobJournal jobs(journal);
    jobs.SetDetails(p.setting.details);
    const ReaderRecord reader = ReadReader(p.port, p.setting, jobs, JournalEntry::Kind::SettingsWrite);
    if (reader.failure != kOk)
        return reader.failure;
    settings_fields::Refusal refusal;
    const std::optional<SettingsRecord> target = fromFile
                                                     ? RecordForFile(*file, reader.record, refusal)
                                                     : RecordForAssignments(p.positional, reader.record, refusal);
    if (!target) {
        TellJournalTrouble(jobs.EndSettingsUnwritten(reader.record, false, QStringLiteral("refused"), {refusal.text}));
        PrintRefusal(QStringLiteral("set"), refusal);
        PrintError(CliSettings::tr("%1: nothing was written").arg(p.port.name));
        return kBadArguments;
    }
    if (*target == reader.record) {
        TellJournalTrouble(jobs.EndSettingsUnwritten(reader.record, true, QStringLiteral("unchanged")));
        PrintLine(CliSettings::tr("%1: the reader holds these settings already; nothing was written").arg(p.port.name));
        return kOk;
    }

    // What will change, before anything is sent.
    for (Field field : settings_fields::FieldsThatDiffer(reader.record, *target))
        PrintLine(CliSettings::tr("%1: will change %2: %3 -> %4")
                      .arg(p.port.name, FieldId(field), ShownValue(reader.record, field), ShownValue(*target, field)));

    const SettingsResult written = reader.session->WriteSettings(*target).get();
    jobs.SetSettingsAim(reader.record, *target);
    TellJournalTrouble(jobs.EndSettings(written, reader.session->Reader(), {FailureText(written.failure, true)}));
    if (!written.answered) {
        PrintError(QStringLiteral("%1: %2").arg(p.port.name, FailureText(written.failure, true)));
        return kNoAnswer;
    }
    const std::vector<Field> notTaken = settings_fields::FieldsThatDiffer(*target, written.record);
    for (Field field : notTaken)
        PrintError(CliSettings::tr("%1: not taken %2: asked %3, the reader holds %4")
                       .arg(p.port.name, FieldId(field), ShownValue(*target, field), ShownValue(written.record, field)));
    PrintLine(CliSettings::tr("%1: raw %2").arg(p.port.name, RecordHex(written.record)));
    return notTaken.empty() ? kOk : kDiffers;
}

int Diff(const QStringList &arguments)
{
    const auto parsed = ParseSettingsCommand(
        QStringLiteral("diff"), kSyntaxDiff,
        CliSettings::tr("Lists the fields in which the reader's settings differ from a settings file.\n"
                        "Exit status 0 when none differ, 1 when some do."),
        arguments, 1, 1);
    if (const int *status = std::get_if<int>(&parsed))
        return *status;
    const Parsed &p = std::get<Parsed>(parsed);
    const std::optional<SettingsFile> file = ReadSettingsFile(QStringLiteral("diff"), p.positional.constFirst());
    if (!file)
        return kBadArguments;
    Journal journal(p.setting.journal);
    const auto closeJournal = qScopeGuard([&journal] { TellJournalTrouble(journal.Close()); });
    JobJournal jobs(journal);
    jobs.SetDetails(p.setting.details);
    const ReaderRecord reader = ReadReader(p.port, p.setting, jobs, JournalEntry::Kind::SettingsRead);
    if (reader.failure != kOk)
        return reader.failure;
    settings_fields::Refusal refusal;
    const std::optional<SettingsRecord> target = RecordForFile(*file, reader.record, refusal);
    if (!target) {
        PrintRefusal(QStringLiteral("diff"), refusal);
        return kBadArguments;
    }
    const std::vector<Field> differ = settings_fields::FieldsThatDiffer(reader.record, *target);
    for (Field field : differ)
        PrintLine(CliSettings::tr("%1: reader %2, file %3")
                      .arg(FieldId(field), ShownValue(reader.record, field), ShownValue(*target, field)));
    return differ.empty() ? kOk : kDiffers;
}

}  // namespace

int RunSettings(const QStringList &arguments)
{
    const QString sub = arguments.isEmpty() ? QString() : arguments.constFirst();
    const QStringList rest = arguments.mid(1);
    if (sub == QLatin1String("get"))
        return Get(rest);
    if (sub == QLatin1String("set"))
        return Set(rest);
    if (sub == QLatin1String("diff"))
        return Diff(rest);
    if (sub == QLatin1String("--help") || sub == QLatin1String("-h")) {
        PrintLine(CliSettings::tr("Usage: talvor-cli settings %1\n       talvor-cli settings %2\n"
                                  "       talvor-cli settings %3\n"
                                  "Each has its own --help.")
                      .arg(kSyntaxGet, kSyntaxSet, kSyntaxDiff));
        return kOk;
    }
    PrintError(CliSettings::tr("talvor-cli settings: give get, set or diff. See talvor-cli settings --help."));
    return kBadArguments;
}

}  // namespace cli
