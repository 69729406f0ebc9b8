// Why a port does not open, and who else holds it: the system's error turned
// into a cause, the cause into the box text, and the other programs found
// through /proc.

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <pty.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <string>

#include "gui/application.h"
#include "gui/port_open_text.h"
#include "holder_process.h"
#include "pty_pair.h"
#include "core/line/device_holders.h"
#include "core/line/serial_device.h"

namespace {

using platform::DeviceHolder;
using platform::OpenFailure;
using Cause = platform::OpenFailureCause;

TEST(OpenFailureCause, FollowsTheSystemError)
{
    const struct { int error; Cause cause; } table[] = {
        {EACCES, Cause::PermissionDenied}, {EPERM, Cause::PermissionDenied},
        {ENOENT, Cause::NoSuchDevice},     {ENODEV, Cause::NoSuchDevice},
        {ENXIO, Cause::NoSuchDevice},      {ENAMETOOLONG, Cause::NameTooLong},
        {EBUSY, Cause::Busy},              {EWOULDBLOCK, Cause::Busy},
        {ENOTTY, Cause::NotADevice},       {EIO, Cause::Other},
    };
    for (const auto &row : table)
        EXPECT_EQ(platform::OpenFailureCauseFor(row.error), row.cause) << std::strerror(row.error);
}

TEST(AccessRemedy, GroupMembershipOnlyWhenTheGroupMayReadAndWriteAndIsNotRoot)
{
    using Remedy = platform::AccessRemedy;
    const struct { const char *device; unsigned mode; unsigned gid; const char *group; Remedy remedy; } table[] = {
        {"crw-rw---- root dialout", 020660, 20, "dialout", Remedy::JoinGroup},
        {"crw-rw---- root 1234 (no name)", 020660, 1234, "1234", Remedy::JoinGroup},
        {"crw------- root root", 020600, 0, "root", Remedy::InstallDeviceRule},
        {"crw-rw---- root root", 020660, 0, "root", Remedy::InstallDeviceRule},
        {"crw-r----- root dialout", 020640, 20, "dialout", Remedy::InstallDeviceRule},
        {"crw--w---- root tty", 020620, 5, "tty", Remedy::InstallDeviceRule},
        {"not looked at", 0, 0, "", Remedy::AskAdministrator},
    };
    for (const auto &row : table)
        EXPECT_EQ(platform::AccessRemedyFor(row.mode, row.gid, row.group), row.remedy) << row.device;
}

TEST(AccessRemedy, DeviceRuleFoundUnderTheProgramsPrefixElseWhereThePackagePutsIt)
{
    QTemporaryDir prefix;
    const std::string bin = prefix.filePath(QStringLiteral("bin")).toStdString();
    EXPECT_EQ(platform::DeviceRulePath(bin), "/usr/share/doc/talvor/60-talvor-serial.rules");
    ASSERT_TRUE(QDir(prefix.path()).mkpath(QStringLiteral("bin")));
    ASSERT_TRUE(QDir(prefix.path()).mkpath(QStringLiteral("share/doc/talvor")));
    const QString rule = prefix.filePath(QStringLiteral("share/doc/talvor/60-talvor-serial.rules"));
    ASSERT_TRUE(QFile(rule).open(QIODevice::WriteOnly));
    EXPECT_EQ(platform::DeviceRulePath(bin), QFileInfo(rule).canonicalFilePath().toStdString());
}

struct TextCase {
    const char *name;
    const char *portName;
    OpenFailure failure;
    std::vector<DeviceHolder> holders;
    std::vector<const char *> says;  // each in the text, in this order
    const char *never = nullptr;     // nowhere in the text
};

void PrintTo(const TextCase &c, std::ostream *os) { *os << c.name; }

class OpenFailureText : public ::testing::TestWithParam<TextCase> {};

TEST_P(OpenFailureText, KeepsTheKnownFirstLineThenSaysWhyAndWhatToDo)
{
    const TextCase &c = GetParam();
    const QString text = PortOpenFailureText(QString::fromUtf8(c.portName),
                                             QStringLiteral("/dev/") + QString::fromUtf8(c.portName), c.failure,
                                             c.holders, QStringLiteral("alice"));
    EXPECT_TRUE(text.startsWith(QStringLiteral("The COM port is busy!\n\n"))) << text.toStdString();
    int from = 0;
    for (const char *words : c.says) {
        const int at = text.indexOf(QString::fromUtf8(words), from);
        EXPECT_GE(at, from) << "missing \"" << words << "\" in: " << text.toStdString();
        from = std::max(at, from);
    }
    if (c.never != nullptr) {
        EXPECT_FALSE(text.contains(QString::fromUtf8(c.never))) << text.toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Causes, OpenFailureText,
    ::testing::Values(
        TextCase{"permission_with_group", "ttyUSB0",
                 {Cause::PermissionDenied, "dialout", "cannot open /dev/ttyUSB0: Permission denied", 020660, 20},
                 {},
                 {"You may not open /dev/ttyUSB0", "group dialout", "sudo usermod -aG dialout alice",
                  "log in again", "(cannot open /dev/ttyUSB0: Permission denied)"},
                 "udev"},
        // crw------- root root: joining root's group is no advice.
        TextCase{"permission_root_only", "ttyUSB0",
                 {Cause::PermissionDenied, "root", "", 020600, 0},
                 {},
                 {"You may not open /dev/ttyUSB0, and no group of users may read and write it",
                  "sudo cp /usr/share/doc/talvor/60-talvor-serial.rules /etc/udev/rules.d/",
                  "sudo udevadm control --reload-rules && sudo udevadm trigger --subsystem-match=tty",
                  "plug it in again", "sudo usermod -aG dialout alice", "log in again"},
                 "-aG root"},
        TextCase{"permission_group_unknown", "ttyS0", {Cause::PermissionDenied, "", ""}, {}, {"Ask the administrator"}},
        TextCase{"no_such_device", "ttyUSB1",
                 {Cause::NoSuchDevice, "", "cannot open /dev/ttyUSB1: No such file or directory"},
                 {},
                 {"ttyUSB1 is not there", "unplugged", "Plug it in", "choose the port again"}},
        TextCase{"name_too_long", "a-name-of-16-chr", {Cause::NameTooLong, "", ""}, {},
                 {"a-name-of-16-chr is too long", "at most 15 characters", "Choose another port"}},
        TextCase{"busy_with_holder", "ttyUSB0", {Cause::Busy, "", "device is in use"}, {{812, "ModemManager"}},
                 {"ttyUSB0 is also open in ModemManager (pid 812).", "Close that program"}},
        TextCase{"busy_with_two_holders", "ttyUSB0", {Cause::Busy, "", ""}, {{812, "ModemManager"}, {900, "cat"}},
                 {"ttyUSB0 is also open in ModemManager (pid 812) and cat (pid 900)."}},
        TextCase{"busy_holder_unseen", "ttyUSB0", {Cause::Busy, "", ""}, {}, {"Another program holds ttyUSB0"}},
        TextCase{"not_a_device", "talvor-sim", {Cause::NotADevice, "", ""}, {}, {"not lead to a serial port"}},
        TextCase{"no_port_chosen", "", {Cause::Other, "", ""}, {}, {"No port was chosen"}}),
    [](const auto &info) { return std::string(info.param.name); });

// The tool's own words around the system's reason follow the language.
TEST(OpenFailureTextInRussian, TheFailedOpenLineIsTranslated)
{
    const Translations russian(QLocale(QLocale::Russian, QLocale::Russia));
    ASSERT_TRUE(russian.Installed());
    const QString text = PortOpenFailureText(
        QStringLiteral("ttyUSB0"), QStringLiteral("/dev/ttyUSB0"),
        {Cause::NoSuchDevice, "", "cannot open /dev/ttyUSB0: No such file or directory"}, {}, QStringLiteral("alice"));
    EXPECT_TRUE(text.endsWith(QString::fromUtf8("(не удаётся открыть /dev/ttyUSB0: No such file or directory)")))
        << text.toStdString();
}

// The causes that can be provoked for real, also as root (where a device
// without permission bits still opens).
class RealOpenFailure : public ::testing::Test {
protected:
    void SetUp() override
    {
        char folderTemplate[] = "/tmp/talvor-open-failure-XXXXXX";
        ASSERT_NE(::mkdtemp(folderTemplate), nullptr);
        folder = folderTemplate;
        ASSERT_GE(pty.master, 0);
        slavePath = pty.slave;
    }
    void TearDown() override
    {
        for (const std::string &file : made)
            ::unlink(file.c_str());
        ::rmdir(folder.c_str());
    }
    std::string Link(const std::string &name, const std::string &target)
    {
        const std::string path = folder + "/" + name;
        EXPECT_EQ(::symlink(target.c_str(), path.c_str()), 0);
        made.push_back(path);
        return path;
    }
    OpenFailure Open(const std::string &path)
    {
        platform::SerialDevice device;
        EXPECT_FALSE(device.open(path));
        EXPECT_FALSE(device.isOpen());
        return device.openFailure();
    }

    std::string folder;
    PtyPair pty;
    std::string slavePath;
    std::vector<std::string> made;
};

TEST_F(RealOpenFailure, VanishedLineTooLongNameHeldDeviceAndNonDeviceEachGiveTheirCause)
{
    // A converter unplugged: the link is left pointing at nothing.
    const std::string vanished = Link("vanished", folder + "/gone");
    OpenFailure failure = Open(vanished);
    EXPECT_EQ(failure.cause, Cause::NoSuchDevice);
    EXPECT_NE(failure.systemText.find("No such file"), std::string::npos) << failure.systemText;

    failure = Open("/dev/" + std::string(300, 'x'));
    EXPECT_EQ(failure.cause, Cause::NameTooLong) << failure.systemText;

    platform::SerialDevice holder;
    ASSERT_TRUE(holder.open(slavePath)) << holder.errorText();
    EXPECT_EQ(Open(slavePath).cause, Cause::Busy);
    holder.close();

    const std::string file = folder + "/plain-file";
    ::close(::open(file.c_str(), O_CREAT | O_WRONLY, 0600));
    made.push_back(file);
    EXPECT_EQ(Open(Link("to-a-file", file)).cause, Cause::NotADevice);

    platform::SerialDevice device;
    ASSERT_TRUE(device.open(slavePath)) << device.errorText();
    EXPECT_EQ(device.openFailure().cause, Cause::None);
}

TEST_F(RealOpenFailure, HoldersAreFoundThroughProcByTheDeviceBehindTheLink)
{
    const std::string link = Link("held", slavePath);
    // This process's own descriptors are not "another program".
    platform::SerialDevice mine;
    ASSERT_TRUE(mine.open(link)) << mine.errorText();
    EXPECT_TRUE(platform::OtherDeviceHolders(link).empty());
    mine.close();

    HolderProcess other(slavePath);
    ASSERT_TRUE(other.Holding());
    const pid_t pid = other.Pid();
    const std::vector<DeviceHolder> expected{{pid, HolderProcess::kName}};
    EXPECT_EQ(platform::OtherDeviceHolders(link), expected);
    EXPECT_EQ(platform::OtherDeviceHolders(slavePath), expected);
    EXPECT_EQ(platform::HolderSentence(QStringLiteral("held"), platform::OtherDeviceHolders(link)),
              QStringLiteral("held is also open in port-holder (pid %1).").arg(pid));

    // Another pseudo-terminal is not this one.
    const PtyPair otherPty;
    EXPECT_TRUE(platform::OtherDeviceHolders(otherPty.slave).empty());

    other.LetGo();
    EXPECT_TRUE(platform::OtherDeviceHolders(link).empty());
    EXPECT_TRUE(platform::OtherDeviceHolders(folder + "/absent").empty());
}

TEST_F(RealOpenFailure, FarEndOfAPseudoTerminalIsTheReaderNotARival)
{
    // A simulated reader holds the master side and keeps the slave open too.
    int ready[2], go[2];
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(go), 0);
    const pid_t reader = ::fork();
    if (reader == 0) {
        ::close(ready[0]);
        ::close(go[1]);
        int readerMaster = -1, readerSlave = -1;
        char name[256] = {};
        if (::openpty(&readerMaster, &readerSlave, name, nullptr, nullptr) != 0)
            name[0] = 0;
        (void)!::write(ready[1], name, sizeof name);
        char c;
        (void)!::read(go[0], &c, 1);
        ::_exit(0);
    }
    ::close(ready[1]);
    ::close(go[0]);
    char name[256] = {};
    ASSERT_EQ(::read(ready[0], name, sizeof name), ssize_t(sizeof name));
    ::close(ready[0]);
    const std::string readerSlave = name;
    ASSERT_FALSE(readerSlave.empty());

    EXPECT_TRUE(platform::OtherDeviceHolders(readerSlave).empty());
    {
        HolderProcess rival(readerSlave);
        ASSERT_TRUE(rival.Holding());
        const std::vector<DeviceHolder> expected{{rival.Pid(), HolderProcess::kName}};
        EXPECT_EQ(platform::OtherDeviceHolders(readerSlave), expected);
    }
    ::close(go[1]);
    int status = 0;
    ::waitpid(reader, &status, 0);
}

}  // namespace
