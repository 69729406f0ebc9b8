#include "cli/cli_common.h"

#include "core/line/network_line.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSet>
#include <cstdio>
#include <mutex>

#include "core/journal/report_preferences.h"
#include "core/line/device_holders.h"
#include "core/line/ini_file.h"
#include "core/line/port_directory.h"
#include "core/line/serial_device.h"

namespace cli {

namespace {

// Lines from several threads never interleave.
std::mutex &OutputLock()
{
    static std::mutex lock;
    return lock;
}

void Write(FILE *stream, const QByteArray &bytes)
{
    const std::lock_guard<std::mutex> hold(OutputLock());
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

QString PermissionRemedy(const QString &devicePath, const platform::OpenFailure &failure)
{
    switch (platform::AccessRemedyFor(failure.deviceMode, failure.deviceGid, failure.deviceGroup)) {
    case platform::AccessRemedy::JoinGroup:
        return CliCommon::tr("you may not open %1: only members of the group %2 may "
                             "(sudo usermod -aG %2 $USER, then log in again)")
            .arg(devicePath, QString::fromStdString(failure.deviceGroup));
    case platform::AccessRemedy::InstallDeviceRule: {
        const auto commands = platform::DeviceRuleCommands(
            platform::DeviceRulePath(QCoreApplication::applicationDirPath().toStdString()));
        return CliCommon::tr("you may not open %1, and no group of users may read and write it; "
                             "the tool's device rule gives USB serial converters to the group %2 "
                             "(%3 && %4, plug the converter in again, then sudo usermod -aG %2 $USER "
                             "and log in again)")
            .arg(devicePath, QString::fromLatin1(platform::kDeviceRuleGroup), QString::fromStdString(commands[0]),
                 QString::fromStdString(commands[1]));
    }
    case platform::AccessRemedy::AskAdministrator:
        break;
    }
    return CliCommon::tr("you may not open %1: ask the administrator for access to it").arg(devicePath);
}

}  // namespace

void CommonOptions::AddTo(QCommandLineParser &parser)
{
    lockPrefix.setFlags(QCommandLineOption::HiddenFromHelp);
    timeScale.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOption(portFolder);
    parser.addOption(lockPrefix);
    parser.addOption(timeScale);
    parser.addOption(patience);
}

void JournalCommandOptions::AddTo(QCommandLineParser &parser)
{
    parser.addOption(database);
    parser.addOption(server);
}

QString IniPath()
{
    return platform::IniFolder(QCoreApplication::applicationDirPath()) + QStringLiteral("com.ini");
}

void JobDetailsOptions::AddTo(QCommandLineParser &parser)
{
    site.setDescription(CliCommon::tr("Where the job is done, for its journal entry."));
    customer.setDescription(CliCommon::tr("For whom, for its journal entry."));
    note.setDescription(CliCommon::tr("A word on the job, for its journal entry."));
    parser.addOptions({site, customer, note});
}

JobDetails JobDetailsOptions::Take(const QCommandLineParser &parser) const
{
    JobDetails details;
    details.technician = ReadReportPreferences(IniPath()).technician;
    details.site = parser.value(site);
    details.customer = parser.value(customer);
    details.note = parser.value(note);
    return details;
}

JournalOptions JournalCommandOptions::Take(const QCommandLineParser &parser) const
{
    JournalOptions options = Journal::OptionsFromIni(IniPath());
    if (parser.isSet(database))
        options.path = parser.value(database);
    else if (!qEnvironmentVariableIsEmpty("TALVOR_JOURNAL_DATABASE"))
        options.path = qEnvironmentVariable("TALVOR_JOURNAL_DATABASE");
    // An empty --journal '' turns off a server com.ini names.
    if (parser.isSet(server))
        options.server = parser.value(server);
    return options;
}

CommandParser::CommandParser(const QString &command, const QString &syntax, const QString &description, int uses)
    : command_(command), syntax_(syntax), uses_(uses)
{
    parser_.setApplicationDescription(description);
    parser_.addOption(help_);
    if (uses_ & kUsesPorts)
        common_.AddTo(parser_);
    if (uses_ & kUsesJournal)
        journal_.AddTo(parser_);
    if (uses_ & kRecordsJobs)
        details_.AddTo(parser_);
}

std::optional<int> CommandParser::Parse(const QStringList &arguments, int minPositional, int maxPositional)
{
    const QString usage = QStringLiteral("talvor-cli %1").arg(command_);
    if (!parser_.parse(QStringList{usage} + arguments)) {
        PrintError(CliCommon::tr("talvor-cli %1: %2 See --help.").arg(command_, parser_.errorText()));
        return kBadArguments;
    }
    if (parser_.isSet(help_)) {
        // The parser's usage line names the program only.
        QString text = parser_.helpText();
        const qsizetype lineEnd = text.indexOf(QLatin1Char('\n'));
        text.replace(0, lineEnd, CliCommon::tr("Usage: %1 %2").arg(usage, syntax_));
        std::fputs(qPrintable(text), stdout);
        return kOk;
    }
    const qsizetype count = parser_.positionalArguments().size();
    if (count < minPositional || (maxPositional >= 0 && count > maxPositional)) {
        PrintError(CliCommon::tr("talvor-cli %1: expected %2. See --help.").arg(command_, syntax_));
        return kBadArguments;
    }
    if ((uses_ & kUsesPorts) && parser_.isSet(common_.timeScale)) {
        bool ok = false;
        const double scale = parser_.value(common_.timeScale).toDouble(&ok);
        if (!ok || scale <= 0 || scale > 1) {
            PrintError(CliCommon::tr("talvor-cli %1: --time-scale takes a factor above 0, at most 1.").arg(command_));
            return kBadArguments;
        }
        platform::SetTimeoutScaleForTests(scale);
    }
    if ((uses_ & kUsesPorts) && parser_.isSet(common_.patience)) {
        bool ok = false;
        const double patience = parser_.value(common_.patience).toDouble(&ok);
        if (!ok || patience < 1 || patience > 20) {
            PrintError(CliCommon::tr("talvor-cli %1: --patience takes a factor from 1 to 20.").arg(command_));
            return kBadArguments;
        }
    }
    return std::nullopt;
}

Setting CommandParser::TakeSetting() const
{
    Setting setting;
    if (uses_ & kUsesPorts) {
        if (parser_.isSet(common_.portFolder))
            setting.portFolder = parser_.value(common_.portFolder);
        else if (qEnvironmentVariableIsSet("TALVOR_PORT_FOLDER"))
            setting.portFolder = qEnvironmentVariable("TALVOR_PORT_FOLDER");
        else
            setting.portFolder = platform::kVirtualPortFolder;
        setting.lockPrefix = parser_.value(common_.lockPrefix).toStdString();
        if (parser_.isSet(common_.patience))
            setting.patience = parser_.value(common_.patience).toDouble();
    }
    if (uses_ & kUsesJournal)
        setting.journal = journal_.Take(parser_);
    if (uses_ & kRecordsJobs)
        setting.details = details_.Take(parser_);
    return setting;
}

PortChoice ResolvePort(const QString &given, const QString &portFolder)
{
    PortChoice choice;
    if (platform::IsNetworkPortName(given.toStdString())) {
        // A network port is opened by its name, which the journal keeps as written.
        choice = {given, given, QString()};
        return choice;
    }
    if (given.startsWith(QLatin1Char('/'))) {
        choice = {QFileInfo(given).fileName(), given, QString()};
    } else {
        const platform::PortDirectory directory(portFolder, [] { return QStringList(); },
                                                [] { return QHash<QString, QString>(); });
        choice = {given, directory.DevicePathFor(given), QString()};
    }
    choice.converterSerial = platform::UsbConverterSerial(choice.name, choice.devicePath);
    return choice;
}

ReaderSnapshot AskReader(const Session &session, int timeoutMs)
{
    constexpr int kStepMs = 50;
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        const ReaderSnapshot reader = session.WaitForReader(kStepMs);
        if (reader.state != ReaderSnapshot::State::Waiting || clock.elapsed() >= timeoutMs)
            return reader;
    }
}

void TellJournalTrouble(const JournalStatus &status)
{
    static std::mutex lock;
    static QSet<QString> told;
    bool tell = !status.notice.isEmpty();
    if (tell) {
        const std::lock_guard<std::mutex> hold(lock);
        tell = !told.contains(status.notice);
        told.insert(status.notice);
    }
    if (tell)
        PrintError(QStringLiteral("talvor-cli: ") + status.notice);
    // Its only copy is this program's: the output keeps it.
    if (status.unkept)
        PrintError(CliCommon::tr("talvor-cli: the journal entry: ") +
                   QString::fromUtf8(QJsonDocument(status.unkept->ToJson()).toJson(QJsonDocument::Compact)));
}

QString OpenFailureText(const PortChoice &port, const Session::OpenResult &result)
{
    if (!result.lockFailure.isEmpty())
        return CliCommon::tr("%1: the port's lock cannot be made: %2").arg(port.name, result.lockFailure);
    using Cause = platform::OpenFailureCause;
    const platform::OpenFailure &failure = result.failure;
    QString why;
    switch (failure.cause) {
    case Cause::PermissionDenied:
        why = PermissionRemedy(port.devicePath, failure);
        break;
    case Cause::NoSuchDevice:
        why = CliCommon::tr("%1 is not there: the converter may be unplugged").arg(port.devicePath);
        break;
    case Cause::NameTooLong:
        why = CliCommon::tr("the port name is longer than %1 characters").arg(platform::kMaxPortNameLength);
        break;
    case Cause::Busy: {
        if (platform::IsNetworkPortName(port.devicePath.toStdString())) {
            why = CliCommon::tr("the far port is in use by another connection");
            break;
        }
        const auto holders = platform::OtherDeviceHolders(port.devicePath.toStdString());
        why = holders.empty() ? CliCommon::tr("another program holds it")
                              : platform::HolderSentence(port.name, holders).chopped(1);
        break;
    }
    case Cause::NotADevice:
        why = CliCommon::tr("%1 does not lead to a serial port").arg(port.devicePath);
        break;
    case Cause::HostNotFound:
        why = CliCommon::tr("the host %1 is not found: check its name")
                  .arg(QString::fromStdString(platform::ParseNetworkAddress(port.devicePath.toStdString()).host));
        break;
    case Cause::ConnectionRefused: {
        const platform::NetworkAddress address = platform::ParseNetworkAddress(port.devicePath.toStdString());
        why = CliCommon::tr("%1 refused the connection: nothing takes connections on its port %2 "
                            "(is the device server or ser2net running, and is it the right port?)")
                  .arg(QString::fromStdString(address.host))
                  .arg(address.port);
        break;
    }
    case Cause::SettingRefused:
        why = CliCommon::tr("the far end refused the reader's line settings (19200 baud, 8 data bits, no parity, "
                            "1 stop bit)");
        break;
    case Cause::Other:
    case Cause::None:
        why = CliCommon::tr("%1 could not be opened").arg(port.devicePath);
        break;
    }
    QString text = QStringLiteral("%1: %2").arg(port.name, why);
    if (!failure.systemText.empty() &&
        (failure.cause != Cause::Busy || platform::IsNetworkPortName(port.devicePath.toStdString())))
        text += QStringLiteral(" (%1)").arg(QString::fromStdString(failure.systemText));
    return text;
}

OpenedSession OpenSession(const PortChoice &port, const Setting &setting, SessionObserver *observer, bool monitor)
{
    Session::Options options;
    options.lockPrefix = setting.lockPrefix;
    options.observer = observer;
    options.monitor = monitor;
    options.patience = setting.patience;
    Session::OpenResult result = Session::Open(port.name, port.devicePath, options);
    OpenedSession opened;
    if (result.session)
        opened.session = std::move(result.session);
    else
        opened.failure = OpenFailureText(port, result);
    return opened;
}

QString VersionText(const device_info::Version &version)
{
    return QStringLiteral("%1.%2").arg(version.major).arg(version.minor);
}

QString FirmwareText(const ReaderSnapshot &snapshot)
{
    if (!snapshot.info || !snapshot.info->firmware)
        return QString();
    return VersionText(*snapshot.info->firmware);
}

QString SerialText(const ReaderSnapshot &snapshot)
{
    if (!snapshot.info || !snapshot.info->serialNumber)
        return QString();
    return QString::number(*snapshot.info->serialNumber);
}

void PrintLine(const QString &line)
{
    Write(stdout, line.toUtf8());
}

void PrintError(const QString &line)
{
    Write(stderr, line.toUtf8());
}

void PrintJsonLine(const QJsonObject &object)
{
    Write(stdout, QJsonDocument(object).toJson(QJsonDocument::Compact));
}

}  // namespace cli
