#include "gui/port_open_text.h"

#include <QCoreApplication>
#include <QRegularExpression>
#include <pwd.h>
#include <unistd.h>

#include "core/line/network_line.h"
#include "core/line/port_directory.h"

namespace {

using Cause = platform::OpenFailureCause;

// The texts' context in the translation.
struct PortOpenText {
    Q_DECLARE_TR_FUNCTIONS(PortOpenText)
};

QString PermissionRemedy(const QString &devicePath, const platform::OpenFailure &failure, const QString &userName)
{
    switch (platform::AccessRemedyFor(failure.deviceMode, failure.deviceGid, failure.deviceGroup)) {
    case platform::AccessRemedy::JoinGroup:
        return PortOpenText::tr("You may not open %1: only members of the group %2 may.\n"
                                "Add yourself to it with\n"
                                "    sudo usermod -aG %2 %3\n"
                                "then log out and log in again: the new group counts from the next login.")
            .arg(devicePath, QString::fromStdString(failure.deviceGroup), userName);
    case platform::AccessRemedy::InstallDeviceRule: {
        const auto commands = platform::DeviceRuleCommands(
            platform::DeviceRulePath(QCoreApplication::applicationDirPath().toStdString()));
        return PortOpenText::tr("You may not open %1, and no group of users may read and write it.\n"
                                "The tool's device rule gives USB serial converters to the group %2. "
                                "Install it with\n"
                                "    %3\n"
                                "    %4\n"
                                "then unplug the converter and plug it in again, add yourself to the group with\n"
                                "    sudo usermod -aG %2 %5\n"
                                "and log out and log in again.")
            .arg(devicePath, QString::fromLatin1(platform::kDeviceRuleGroup),
                 QString::fromStdString(commands[0]), QString::fromStdString(commands[1]), userName);
    }
    case platform::AccessRemedy::AskAdministrator:
        break;
    }
    return PortOpenText::tr("You may not open %1. Ask the administrator for access to it.").arg(devicePath);
}

QString CauseAndRemedy(const QString &portName, const QString &devicePath, const platform::OpenFailure &failure,
                       const std::vector<platform::DeviceHolder> &holders, const QString &userName)
{
    if (portName.isEmpty())
        return PortOpenText::tr("No port was chosen. Press \"Open\" and choose one from the list.");
    switch (failure.cause) {
    case Cause::PermissionDenied:
        return PermissionRemedy(devicePath, failure, userName);
    case Cause::NoSuchDevice:
        return PortOpenText::tr("%1 is not there: the converter may be unplugged.\n"
                                "Plug it in, or press \"Open\" and choose the port again.")
            .arg(portName);
    case Cause::NameTooLong:
        return PortOpenText::tr("The port name %1 is too long: the tool takes names of at most %2 characters.\n"
                                "Choose another port.")
            .arg(portName)
            .arg(platform::kMaxPortNameLength);
    case Cause::Busy:
        if (platform::IsNetworkPortName(portName.toStdString()))
            return PortOpenText::tr("The far port %1 is in use by another connection. Close that one first.")
                .arg(portName);
        if (holders.empty())
            return PortOpenText::tr("Another program holds %1. Close it, or choose another port.").arg(portName);
        return platform::HolderSentence(portName, holders) +
               PortOpenText::tr("\nClose that program, or choose another port.");
    case Cause::NotADevice:
        return PortOpenText::tr("%1 does not lead to a serial port. Choose another port.").arg(portName);
    case Cause::HostNotFound:
        return PortOpenText::tr("The host %1 is not found. Check its name.")
            .arg(QString::fromStdString(platform::ParseNetworkAddress(portName.toStdString()).host));
    case Cause::ConnectionRefused: {
        const platform::NetworkAddress address = platform::ParseNetworkAddress(portName.toStdString());
        return PortOpenText::tr("%1 refused the connection: nothing takes connections on its port %2.\n"
                                "Check that the device server or ser2net runs and that the port is right.")
            .arg(QString::fromStdString(address.host))
            .arg(address.port);
    }
    case Cause::SettingRefused:
        return PortOpenText::tr("The far end refused the reader's line settings (19200 baud, 8 data bits, "
                                "no parity, 1 stop bit).");
    case Cause::Other:
    case Cause::None:
        break;
    }
    return PortOpenText::tr("%1 could not be opened. Check the converter, or choose another port.").arg(portName);
}

// The system's words for the failure: the tool's own part in the user's
// language, the system's reason as the system gave it.
QString SystemText(const std::string &text)
{
    static const QRegularExpression cannotOpen(QStringLiteral("^cannot open (\\S+): (.*)$"),
                                               QRegularExpression::DotMatchesEverythingOption);
    const QString system = QString::fromStdString(text);
    const QRegularExpressionMatch match = cannotOpen.match(system);
    if (!match.hasMatch())
        return system;
    return PortOpenText::tr("cannot open %1: %2").arg(match.captured(1), match.captured(2));
}

}  // namespace

QString PortOpenFailureText(const QString &portName, const QString &devicePath,
                            const platform::OpenFailure &failure,
                            const std::vector<platform::DeviceHolder> &holders, const QString &userName)
{
    QString text = PortBusyText() + QStringLiteral("\n\n") +
                   CauseAndRemedy(portName, devicePath, failure, holders, userName);
    if (!failure.systemText.empty())
        text += QStringLiteral("\n\n(%1)").arg(SystemText(failure.systemText));
    return text;
}

platform::MessageBoxRequest HeldPortQuestion(const QString &portName,
                                             const std::vector<platform::DeviceHolder> &holders)
{
    platform::MessageBoxRequest box;
    box.caption = PortOpenText::tr("Warning");
    box.icon = platform::BoxIcon::Warning;
    box.buttons = platform::BoxButtons::OkCancel;
    box.okText = PortOpenText::tr("Open anyway");
    box.cancelText = PortOpenText::tr("Cancel");
    box.text = platform::HolderSentence(portName, holders) +
               PortOpenText::tr("\nThat program may take the reader's answers, and the tool would then see none.\n"
                                "Open the port anyway?");
    return box;
}

QString CurrentUserName()
{
    if (const passwd *user = ::getpwuid(::getuid()))
        return QString::fromLocal8Bit(user->pw_name);
    return QStringLiteral("$USER");
}
