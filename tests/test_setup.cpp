// The port list, the saved choice in com.ini with its start-up warnings, and
// the chooser dialog.

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/line/ini_file.h"
#include "core/line/port_directory.h"
#include "gui/port_chooser.h"
#include "gui/setup.h"
#include "recorded_boxes.h"
#include "ui_port_chooser.h"

namespace {

const QString kMissing = QStringLiteral("The COM ports are missing!!!");

class SetupTest : public ::testing::Test {
protected:
    QTemporaryDir appDir;
    QTemporaryDir portDir;
    RecordedBoxes boxes;

    QString IniPath() const { return appDir.filePath(QStringLiteral("com.ini")); }

    void WriteIni(const QString &body)
    {
        QFile file(IniPath());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(body.toUtf8());
    }

    QString SavedName() const
    {
        QSettings ini(IniPath(), QSettings::IniFormat);
        return ini.value(QStringLiteral("ComPort/Com")).toString();
    }

    std::shared_ptr<platform::PortDirectory> Ports(QStringList hardware)
    {
        return std::make_shared<platform::PortDirectory>(portDir.path(), [hardware] { return hardware; });
    }

    std::shared_ptr<platform::PortDirectory> NoPortsAtAll()
    {
        return std::make_shared<platform::PortDirectory>(portDir.filePath(QStringLiteral("absent")),
                                                         [] { return QStringList(); });
    }
};

TEST_F(SetupTest, FirstRunWritesCom1WithoutWarning)
{
    TSetup setup(appDir.path(), Ports({"ttyUSB0"}));
    EXPECT_EQ(setup.PortName, "COM1");
    EXPECT_EQ(SavedName(), "COM1");
    EXPECT_EQ(boxes.Count(), 0u);
}

TEST_F(SetupTest, SavedPortPresentLoadsQuietly)
{
    WriteIni("[ComPort]\nCom=ttyS3\n");
    TSetup setup(appDir.path(), Ports({"ttyS1", "ttyS3"}));
    EXPECT_EQ(setup.PortName, "ttyS3");
    EXPECT_EQ(boxes.Count(), 0u);
}

TEST_F(SetupTest, NameDifferingOnlyInCaseWarnsAndIsKept)
{
    WriteIni("[ComPort]\nCom=ttys3\n");
    TSetup setup(appDir.path(), Ports({"ttyS3"}));
    ASSERT_EQ(boxes.Count(), 1u);
    const auto box = boxes.Boxes()[0];
    EXPECT_EQ(box.caption, "Warning");
    EXPECT_EQ(box.icon, platform::BoxIcon::Warning);
    EXPECT_EQ(box.text, "The previously selected ttys3 on the computer does not exist.\nSelect another COM port.");
    EXPECT_EQ(setup.PortName, "ttys3");
}

TEST_F(SetupTest, IniWithoutKeyWarnsWithTwoBlanks)
{
    WriteIni("[ComPort]\n");
    TSetup setup(appDir.path(), Ports({"ttyS0"}));
    ASSERT_EQ(boxes.Count(), 1u);
    EXPECT_EQ(boxes.Texts()[0],
              "The previously selected  on the computer does not exist.\nSelect another COM port.");
    EXPECT_TRUE(setup.PortName.isEmpty());
}

TEST_F(SetupTest, ListKeepsSourceOrderAndDuplicatesThenVirtualPorts)
{
    // A virtual port is a link to a pseudo-terminal in the port folder.
    const QString target = QString::fromLocal8Bit(ttyname(STDIN_FILENO) ? ttyname(STDIN_FILENO) : "/dev/null");
    ASSERT_TRUE(QFile::link(target, portDir.filePath(QStringLiteral("talvor-sim"))));
    TSetup setup(appDir.path(), Ports({"ttyUSB1", "ttyS0", "ttyUSB1"}));
    EXPECT_EQ(setup.PortList, QStringList({"ttyUSB1", "ttyS0", "ttyUSB1", "talvor-sim"}));
    EXPECT_EQ(setup.ValueNames[0], "/dev/ttyUSB1");
    EXPECT_EQ(setup.DevicePathFor("talvor-sim"), portDir.filePath(QStringLiteral("talvor-sim")));
    EXPECT_EQ(setup.DevicePathFor("ttyS0"), "/dev/ttyS0");
}

TEST_F(SetupTest, StaleVirtualLinkIsNotListed)
{
    ASSERT_TRUE(QFile::link(portDir.filePath(QStringLiteral("gone")), portDir.filePath(QStringLiteral("old-sim"))));
    TSetup setup(appDir.path(), Ports({}));
    EXPECT_TRUE(setup.PortList.isEmpty());
}

struct NoPortsCase {
    const char *name;
    bool sourceReadable;
    bool iniExists;
    int missingBoxes;
    const char *portName;
};

class SetupNoPorts : public SetupTest, public ::testing::WithParamInterface<NoPortsCase> {};

TEST_P(SetupNoPorts, ShowsTheBoxesOfTheFailureTable)
{
    const NoPortsCase c = GetParam();
    if (c.iniExists)
        WriteIni("[ComPort]\nCom=ttyS7\n");
    TSetup setup(appDir.path(), c.sourceReadable ? Ports({}) : NoPortsAtAll());
    EXPECT_EQ(boxes.Count(), size_t(c.missingBoxes));
    for (const auto &box : boxes.Boxes()) {
        EXPECT_EQ(box.text, kMissing);
        EXPECT_EQ(box.caption, "Error");
        EXPECT_EQ(box.icon, platform::BoxIcon::Error);
    }
    EXPECT_TRUE(setup.PortList.isEmpty());
    EXPECT_EQ(setup.PortName, c.portName);
}

INSTANTIATE_TEST_SUITE_P(
    Table, SetupNoPorts,
    ::testing::Values(NoPortsCase{"unreadable_with_ini", false, true, 2, "ttyS7"},
                      NoPortsCase{"unreadable_first_run", false, false, 1, "COM1"},
                      NoPortsCase{"empty_with_ini", true, true, 1, "ttyS7"},
                      NoPortsCase{"empty_first_run", true, false, 0, "COM1"}),
    [](const auto &info) { return std::string(info.param.name); });

class ChooserTest : public SetupTest {
protected:
    QString shownCaption = QStringLiteral("untouched");
    std::unique_ptr<TForm2> Chooser(TSetup &setup)
    {
        return std::make_unique<TForm2>(setup, [this](const QString &name) { shownCaption = name; });
    }
    // Runs the dialog modally and lets act() press its buttons.
    int RunModal(TForm2 &dialog, std::function<void(TForm2 &)> act)
    {
        QTimer::singleShot(0, &dialog, [&] { act(dialog); });
        return dialog.exec();
    }
};

TEST_F(ChooserTest, SavedPortIsPreselectedAndOkStoresIt)
{
    WriteIni("[ComPort]\nCom=ttyS3\n");
    TSetup setup(appDir.path(), Ports({"ttyS1", "ttyS3"}));
    auto dialog = Chooser(setup);
    QString shown;
    const int result = RunModal(*dialog, [&](TForm2 &d) {
        shown = d.ui->ComboBox1->currentText();
        d.ui->ComboBox1->setCurrentIndex(0);
        d.ui->Button1->click();
    });
    EXPECT_EQ(shown, "ttyS3");
    EXPECT_EQ(result, QDialog::Accepted);
    EXPECT_EQ(setup.PortName, "ttyS1");
    EXPECT_EQ(SavedName(), "ttyS1");
    EXPECT_EQ(shownCaption, "ttyS1");
}

TEST_F(ChooserTest, AbsentSavedPortSelectsNothingAndOkStoresEmptyName)
{
    WriteIni("[ComPort]\nCom=ttyS9\n");
    TSetup setup(appDir.path(), Ports({"ttyS1", "ttyS3"}));
    auto dialog = Chooser(setup);
    int index = 99;
    const int result = RunModal(*dialog, [&](TForm2 &d) {
        index = d.ui->ComboBox1->currentIndex();
        d.ui->Button1->click();
    });
    EXPECT_EQ(index, -1);
    EXPECT_EQ(result, QDialog::Accepted);
    EXPECT_EQ(setup.PortName, "");
    EXPECT_EQ(SavedName(), "");
    EXPECT_EQ(shownCaption, "");
}

TEST_F(ChooserTest, CancelChangesNothing)
{
    WriteIni("[ComPort]\nCom=ttyS3\n");
    TSetup setup(appDir.path(), Ports({"ttyS1", "ttyS3"}));
    auto dialog = Chooser(setup);
    const int result = RunModal(*dialog, [&](TForm2 &d) {
        d.ui->ComboBox1->setCurrentIndex(0);
        d.ui->Button2->click();
    });
    EXPECT_EQ(result, QDialog::Rejected);
    EXPECT_EQ(setup.PortName, "ttyS3");
    EXPECT_EQ(SavedName(), "ttyS3");
    EXPECT_EQ(shownCaption, "untouched");
}

TEST_F(ChooserTest, ListIsReadAfreshAtEveryShowingWithTheSavedChoiceAndUsbDetails)
{
    WriteIni("[ComPort]\nCom=ttyUSB0\n");
    QStringList hardware{"ttyS0"};
    const auto directory = std::make_shared<platform::PortDirectory>(
        portDir.path(), [&hardware] { return hardware; },
        [] { return QHash<QString, QString>{{"ttyUSB0", "FT232R USB UART\nSerial number: A50285BI"}}; });
    TSetup setup(appDir.path(), directory);
    ASSERT_EQ(boxes.Count(), 1u);  // ttyUSB0 was not plugged in at start
    auto dialog = Chooser(setup);
    QStringList entries;
    QString selected, tooltip, shownTooltip;
    const auto look = [&](TForm2 &d) {
        entries.clear();
        for (int i = 0; i < d.ui->ComboBox1->count(); ++i)
            entries << d.ui->ComboBox1->itemText(i);
        selected = d.ui->ComboBox1->currentText();
        tooltip = d.ui->ComboBox1->itemData(d.ui->ComboBox1->currentIndex(), Qt::ToolTipRole).toString();
        shownTooltip = d.ui->ComboBox1->toolTip();
        d.ui->Button2->click();
    };
    RunModal(*dialog, look);
    EXPECT_EQ(entries, QStringList({"ttyS0", "Network port..."}));
    EXPECT_EQ(selected, "");

    // The converter is plugged in, and a simulator publishes itself.
    hardware << "ttyUSB0";
    ASSERT_TRUE(QFile::link("/dev/null", portDir.filePath(QStringLiteral("talvor-sim"))));
    RunModal(*dialog, look);
    EXPECT_EQ(entries, QStringList({"ttyS0", "ttyUSB0", "talvor-sim", "Network port..."}));
    EXPECT_EQ(selected, "ttyUSB0");
    EXPECT_EQ(tooltip, "FT232R USB UART\nSerial number: A50285BI");
    EXPECT_EQ(shownTooltip, tooltip);
    EXPECT_EQ(setup.PortDetails, QStringList({"", "FT232R USB UART\nSerial number: A50285BI", ""}));

    hardware = QStringList{"ttyS0"};
    RunModal(*dialog, look);
    EXPECT_EQ(entries, QStringList({"ttyS0", "talvor-sim", "Network port..."}));
    EXPECT_EQ(boxes.Count(), 1u) << "re-reading the list warns about nothing";
}

TEST_F(SetupTest, VirtualLinksOfOtherUsersOrToNonDevicesAreIgnored)
{
    // What a link leads to, and who owns it: only our own (or root's) links
    // to character devices are ports.
    QFile plain(portDir.filePath(QStringLiteral("plain")));
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    plain.close();
    ASSERT_EQ(::mkfifo(QFile::encodeName(portDir.filePath(QStringLiteral("fifo"))).constData(), 0600), 0);
    const struct { const char *link; QString target; bool ours; bool listed; } table[] = {
        {"good-sim", QStringLiteral("/dev/null"), true, true},
        {"foreign-sim", QStringLiteral("/dev/null"), false, false},
        {"to-a-file", portDir.filePath(QStringLiteral("plain")), true, false},
        {"to-a-fifo", portDir.filePath(QStringLiteral("fifo")), true, false},
        {"to-a-folder", QStringLiteral("/tmp"), true, false},
    };
    QStringList expected;
    for (const auto &row : table) {
        const QString link = portDir.filePath(QString::fromUtf8(row.link));
        ASSERT_TRUE(QFile::link(row.target, link));
        if (row.listed)
            expected << QString::fromUtf8(row.link);
        if (!row.ours && ::getuid() != 0) {
            // Only root can hand a link to another user; any other user sees
            // the link as a stranger (neither its owner nor root) would.
            EXPECT_FALSE(platform::PortDirectory::TrustedVirtualPort(link, ::getuid() + 1)) << row.link;
            ASSERT_TRUE(QFile::remove(link));
            continue;
        }
        if (!row.ours) {
            const uid_t stranger = 4242;
            ASSERT_EQ(::lchown(QFile::encodeName(link).constData(), stranger, stranger), 0);
        }
        EXPECT_EQ(platform::PortDirectory::TrustedVirtualPort(link), row.listed) << row.link;
        EXPECT_EQ(Ports({})->DevicePathFor(QString::fromUtf8(row.link)),
                  row.listed ? link : QStringLiteral("/dev/") + QString::fromUtf8(row.link))
            << row.link;
    }
    TSetup setup(appDir.path(), Ports({}));
    EXPECT_EQ(setup.PortList, expected);
}

TEST_F(ChooserTest, NetworkPortIsTypedCheckedRememberedAndListedNextTime)
{
    TSetup setup(appDir.path(), Ports({}));
    auto dialog = Chooser(setup);
    // What the user types, in turn: a name that is no network port, then one.
    QStringList typed{"ttyUSB9", "rfc2217://door-3.example:4001"};
    TForm2::SetNetworkPortAskerForTests([&typed](QWidget *) { return typed.takeFirst(); });
    const auto chooseNetworkPort = [](TForm2 &d) {
        d.ui->ComboBox1->setCurrentIndex(d.ui->ComboBox1->count() - 1);
        d.ui->Button1->click();
        if (d.isVisible())
            d.ui->Button2->click();
    };
    EXPECT_EQ(RunModal(*dialog, chooseNetworkPort), QDialog::Rejected);
    ASSERT_EQ(boxes.Count(), 1u);
    EXPECT_TRUE(boxes.Texts()[0].startsWith("ttyUSB9 is no network port")) << boxes.Texts()[0].toStdString();
    EXPECT_EQ(RunModal(*dialog, chooseNetworkPort), QDialog::Accepted);
    TForm2::SetNetworkPortAskerForTests({});
    EXPECT_EQ(SavedName(), "rfc2217://door-3.example:4001");
    EXPECT_EQ(setup.DevicePathFor(setup.PortName), "rfc2217://door-3.example:4001");

    // The next start lists it among the ports, chosen.
    TSetup again(appDir.path(), Ports({"ttyS0"}));
    EXPECT_EQ(again.PortList, QStringList({"ttyS0", "rfc2217://door-3.example:4001"}));
    EXPECT_EQ(again.PortName, "rfc2217://door-3.example:4001");
    EXPECT_EQ(again.PatienceFor(again.PortName), 0.0);
}

}  // namespace

TEST(IniFolderTest, InstalledCopyKeepsItsChoiceInTheUsersFolderEvenForRoot)
{
    QTemporaryDir buildFolder;
    EXPECT_FALSE(platform::IsSystemProgramFolder(buildFolder.path()));
    EXPECT_EQ(platform::IniFolder(buildFolder.path()), buildFolder.path() + QLatin1Char('/'));
    for (const char *installed : {"/usr/bin", "/usr/local/bin"}) {
        EXPECT_TRUE(platform::IsSystemProgramFolder(QLatin1String(installed))) << installed;
        EXPECT_TRUE(platform::IniFolder(QLatin1String(installed)).endsWith(QLatin1String("/talvor/")))
            << installed;
    }
}
