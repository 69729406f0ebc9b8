#pragma once
// What every talvor-cli command shares: the exit codes, the options that say
// where ports are found and how their locks are named, where the service
// journal is kept, a port named on the command line, and one line of output
// at a time.

#include <QCommandLineParser>
#include <QHash>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>
#include <string>

#include "cli/cli_texts.h"
#include "core/session/session.h"
#include "core/journal/journal.h"

namespace cli {

// The process's exit status; the README lists them.
enum ExitCode : int {
    kOk = 0,
    kDiffers = 1,        // settings: the reader differs from the file, or did not take a field
    kBadArguments = 2,   // also a refused setting value and an unreadable settings file
    kImageInvalid = 3,
    kPortNotOpened = 4,
    kNoAnswer = 5,       // no boot loader found; the reader did not answer
    kReaderError = 6,    // the boot loader reported an error or fell silent during the transfer
    kInterrupted = 7,
    kJournalUnavailable = 8,  // `journal`, `report`: the journal could not be read; talvor-report not run
};

// Options every command that opens a port takes.
struct CommonOptions {
    QCommandLineOption portFolder{QStringLiteral("port-folder"),
                                  CliCommon::tr("Folder of the virtual ports (default $TALVOR_PORT_FOLDER or "
                                                "/tmp/talvor-ports)."),
                                  QStringLiteral("dir")};
    // For tests: locks of their own, and shorter line time-outs.
    QCommandLineOption lockPrefix{QStringLiteral("lock-prefix"), QString(), QStringLiteral("name"),
                                  QStringLiteral("COMpBusy")};
    QCommandLineOption timeScale{QStringLiteral("time-scale"), QString(), QStringLiteral("factor")};
    QCommandLineOption patience{QStringLiteral("patience"),
                                CliCommon::tr("For network ports (rfc2217://HOST:PORT, tcp://HOST:PORT): the reader's "
                                              "time-outs times this factor, 1 to 20 (default 1 on this machine, "
                                              "3 across the network)."),
                                QStringLiteral("factor")};

    void AddTo(QCommandLineParser &parser);
};

// Options of the commands that record jobs or read the service journal.
struct JournalCommandOptions {
    QCommandLineOption database{QStringLiteral("database"),
                                CliCommon::tr("The service journal's SQLite file (default $TALVOR_JOURNAL_DATABASE, "
                                              "Database= in com.ini, or ~/.local/share/talvor/journal.db)."),
                                QStringLiteral("file")};
    QCommandLineOption server{QStringLiteral("journal"),
                              CliCommon::tr("The team's journal server, a PostgreSQL connection string "
                                            "(default Server= in com.ini)."),
                              QStringLiteral("connection")};

    void AddTo(QCommandLineParser &parser);
    // The options over the environment over com.ini beside the program.
    JournalOptions Take(const QCommandLineParser &parser) const;
};

// What the technician tells of a job: where, for whom, a note. The name comes
// from the preferences (`talvor-cli config technician`).
struct JobDetailsOptions {
    QCommandLineOption site{QStringLiteral("site"), QString(), QStringLiteral("text")};
    QCommandLineOption customer{QStringLiteral("customer"), QString(), QStringLiteral("text")};
    QCommandLineOption note{QStringLiteral("note"), QString(), QStringLiteral("text")};

    void AddTo(QCommandLineParser &parser);
    JobDetails Take(const QCommandLineParser &parser) const;
};

// The tool's ini file, com.ini, as the window finds it.
QString IniPath();

// Where the tool looks for ports, how it names their locks and where it
// keeps its journal, as the options say.
struct Setting {
    QString portFolder;
    std::string lockPrefix;
    double patience = 0;  // 0: the port's default
    JournalOptions journal;
    JobDetails details;  // for the jobs a command records
};

// What a command's parser offers besides --help.
enum CommandUses : int { kUsesPorts = 1, kUsesJournal = 2, kRecordsJobs = 4 };

// A parser for one command: its own --help, the common options.
class CommandParser {
public:
    // command as the user typed it ("settings get"), syntax after it.
    CommandParser(const QString &command, const QString &syntax, const QString &description,
                  int uses = kUsesPorts);
    QCommandLineParser &Parser() { return parser_; }
    // Parses; the exit status when the command should end now (help shown: 0,
    // an error said on stderr: kBadArguments).
    std::optional<int> Parse(const QStringList &arguments, int minPositional, int maxPositional);
    Setting TakeSetting() const;

private:
    QString command_;
    QString syntax_;
    int uses_;
    QCommandLineParser parser_;
    CommonOptions common_;
    JournalCommandOptions journal_;
    JobDetailsOptions details_;
    QCommandLineOption help_{{QStringLiteral("h"), QStringLiteral("help")}, CliCommon::tr("Show this help and end.")};
};

// A port as -p names it: a name in the port list, or a device's absolute path.
struct PortChoice {
    QString name;             // names the locks and the lines of output
    QString devicePath;       // what is opened
    QString converterSerial;  // USB converters: their serial number, when known
};
// The converter's serial number comes from the system's port list.
PortChoice ResolvePort(const QString &given, const QString &portFolder);

// Opens a session on the port; on failure says why on stderr (or as a JSON
// object) and returns nothing.
struct OpenedSession {
    std::unique_ptr<Session> session;
    QString failure;  // why it did not open, one line
};
OpenedSession OpenSession(const PortChoice &port, const Setting &setting, SessionObserver *observer = nullptr,
                          bool monitor = true);

// The reader as the monitor's first polls find it: an answer, or a silent
// poll, or what is known after timeoutMs.
ReaderSnapshot AskReader(const Session &session, int timeoutMs);
// A reader answers within a poll or two; a silent one (already in its boot
// loader, say) is given up on after one silent poll, well before this.
inline constexpr int kAskReaderMs = 3000;

// A journal trouble on stderr, each only once in the program's life (every
// thread's journal tells of the same file); an entry that neither the journal
// nor its spool could keep, whole, each time.
void TellJournalTrouble(const JournalStatus &status);

// "ttyUSB0: another program holds it ..." in plain words.
QString OpenFailureText(const PortChoice &port, const Session::OpenResult &result);

// The reader's versions as texts; empty when unknown.
QString VersionText(const device_info::Version &version);
QString FirmwareText(const ReaderSnapshot &snapshot);
QString SerialText(const ReaderSnapshot &snapshot);

// Output: one line, flushed, so a pipe sees it at once.
void PrintLine(const QString &line);
void PrintError(const QString &line);
void PrintJsonLine(const QJsonObject &object);

}  // namespace cli
