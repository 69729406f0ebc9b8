#pragma once
// What every talvor-cli command shares: the exit codes, the options that say
// where ports are found and how their locks are named, a port named on the
// command line, and one line of output at a time.

#include <QCommandLineParser>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>
#include <string>

#include "core/engine/port_session.h"

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
};

// Options every command that opens a port takes.
struct CommonOptions {
    QCommandLineOption portFolder{QStringLiteral("port-folder"),
                                  QStringLiteral("Folder of the virtual ports (default $TALVOR_PORT_FOLDER or "
                                                 "/tmp/talvor-ports)."),
                                  QStringLiteral("dir")};
    // For tests: locks of their own, and shorter line time-outs.
    QCommandLineOption lockPrefix{QStringLiteral("lock-prefix"), QString(), QStringLiteral("name"),
                                  QStringLiteral("COMpBusy")};
    QCommandLineOption timeScale{QStringLiteral("time-scale"), QString(), QStringLiteral("factor")};

    void AddTo(QCommandLineParser &parser);
};

// Where the tool looks for ports and how it names their locks, as the options say.
struct Setting {
    QString portFolder;
    std::string lockPrefix;
};

// A parser for one command: its own --help, the common options.
class CommandParser {
public:
    // command as the user typed it ("settings get"), syntax after it.
    CommandParser(const QString &command, const QString &syntax, const QString &description);
    QCommandLineParser &Parser() { return parser_; }
    // Parses; the exit status when the command should end now (help shown: 0,
    // an error said on stderr: kBadArguments).
    std::optional<int> Parse(const QStringList &arguments, int minPositional, int maxPositional);
    Setting TakeSetting() const;

private:
    QString command_;
    QString syntax_;
    QCommandLineParser parser_;
    CommonOptions common_;
    QCommandLineOption help_{{QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Show this help and end.")};
};

// A port as -p names it: a name in the port list, or a device's absolute path.
struct PortChoice {
    QString name;        // names the locks and the lines of output
    QString devicePath;  // what is opened
};
PortChoice ResolvePort(const QString &given, const QString &portFolder);

// Opens a session on the port; on failure says why on stderr (or as a JSON
// object) and returns nothing.
struct OpenedSession {
    std::unique_ptr<PortSession> session;
    QString failure;  // why it did not open, one line
};
OpenedSession OpenSession(const PortChoice &port, const Setting &setting, SessionObserver *observer = nullptr,
                          bool monitor = true);

// "ttyUSB0: another program holds it ..." in plain words.
QString OpenFailureText(const PortChoice &port, const PortSession::OpenResult &result);

// The reader's versions as texts; empty when unknown.
QString VersionText(const device_info::Version &version);
QString FirmwareText(const ReaderSnapshot &snapshot);
QString SerialText(const ReaderSnapshot &snapshot);

// Output: one line, flushed, so a pipe sees it at once.
void PrintLine(const QString &line);
void PrintError(const QString &line);
void PrintJsonLine(const QJsonObject &object);

}  // namespace cli
