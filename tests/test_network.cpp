// Network ports against a real ser2net serving a simulated reader's
// pseudo-terminal, through talvor-cli run as a program: an update and the
// settings byte for byte in both modes, the far line really set to the
// reader's, ser2net killed in the middle of a transfer, and the ports that do
// not open (refused, unknown host, a raw port named as Telnet).

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <memory>
#include <sys/stat.h>

#include "core/line/network_line.h"
#include "core/session/texts.h"
#include "cli_run.h"
#include "firmware_images.h"
#include "gui/port_chooser.h"
#include "recorded_boxes.h"
#include "ser2net_server.h"
#include "sim/boot_loader.h"
#include "sim/device_info.h"
#include "sim/settings_store.h"
#include "sim/simulated_reader.h"
#include "test_app.h"
#include "ui_port_chooser.h"

namespace {

using Mode = Ser2netServer::Mode;

constexpr int kRunMs = 60000;
const char *const kDropped = "The connection dropped: the far port or the network went away!";

class Network : public ::testing::Test {
protected:
    QTemporaryDir ports;
    QTemporaryDir files;
    std::unique_ptr<sim::SimulatedReader> reader;
    std::shared_ptr<sim::BootLoader> boot;
    std::shared_ptr<sim::SettingsStore> store;
    QByteArray image;
    QString imagePath;

    // A reader that hears only a line at 19200 8N1, with an image for its boot loader.
    void StartReader(int sectionSize, uint32_t baud = 0, sim::SettingsStore::Options settings = {})
    {
        const QByteArray description = "TALVOR net firmware 7.1";
        image = test_images::Image(test_images::SectionBytes(sectionSize - int(description.size()) - 8), description);
        imagePath = files.filePath(QStringLiteral("image.rom"));
        ASSERT_TRUE(test_images::Write(imagePath, image));
        sim::Options options;
        options.folder = ports.path().toStdString();
        options.linkName = "net-sim";
        options.baud = baud;
        options.readerLineOnly = true;
        reader = std::make_unique<sim::SimulatedReader>(options);
        sim::BootLoaderOptions bootOptions;
        bootOptions.sectionSize = uint32_t(sectionSize);
        bootOptions.newFirmwareMajor = 7;
        bootOptions.newFirmwareMinor = 1;
        boot = std::make_shared<sim::BootLoader>(bootOptions);
        store = std::make_shared<sim::SettingsStore>(settings);
        reader->AddResponder(std::make_shared<sim::DeviceInfo>());
        reader->AddResponder(boot);
        reader->AddResponder(store);
        boot->AttachLine(reader.get());
        ASSERT_TRUE(reader->Start()) << reader->ErrorText();
        // ser2net runs as nobody under root.
        ASSERT_EQ(::chmod(reader->SlavePath().c_str(), 0666), 0);
    }

    std::unique_ptr<Ser2netServer> Serve(Mode mode, const char *lineSettings)
    {
        auto server = std::make_unique<Ser2netServer>(QString::fromStdString(reader->SlavePath()), mode,
                                                      QString::fromLatin1(lineSettings));
        EXPECT_TRUE(server->Start()) << server->Failure().toStdString();
        return server;
    }

    std::vector<uint8_t> Section() const { return test_images::Expected(image, image.size(), 0, image.size()); }

    void Start(QProcess &process, const QStringList &arguments) const
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("TALVOR_JOURNAL_DATABASE"), files.filePath(QStringLiteral("journal.db")));
        environment.insert(QStringLiteral("XDG_STATE_HOME"), files.filePath(QStringLiteral("state")));
        environment.remove(QStringLiteral("XDG_RUNTIME_DIR"));
        process.setProcessEnvironment(environment);
        process.start(QStringLiteral(TALVOR_CLI_PROGRAM), arguments);
        ASSERT_TRUE(process.waitForStarted());
    }

    static Finished Wait(QProcess &process) { return WaitFinished(process, kRunMs); }

    Finished Run(const QStringList &arguments) const
    {
        QProcess process;
        Start(process, arguments);
        return Wait(process);
    }

    // `settings get` into a file: the record's bytes as the file writes them.
    QString RawSettings(const QString &port) const
    {
        const QString file = files.filePath(QStringLiteral("settings.json"));
        QFile::remove(file);
        const Finished run = Run({"settings", "get", "-p", port, "-o", file});
        EXPECT_EQ(run.status, 0) << run.err.toStdString();
        QFile written(file);
        if (!written.open(QIODevice::ReadOnly))
            return QString();
        return QJsonDocument::fromJson(written.readAll()).object().value("raw").toString();
    }
};

// The result line of `update --json`.
QJsonObject ResultEvent(const QString &out)
{
    for (const QString &line : out.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QJsonObject event = QJsonDocument::fromJson(line.toUtf8()).object();
        if (event.value("event").toString() == "result")
            return event;
    }
    return {};
}

TEST_F(Network, UpdateAndSettingsCrossByteForByteInBothModes)
{
    // Telnet: ser2net opens the line at 9600 and only the tool's request
    // brings it to the reader's 19200, which the reader insists on.
    struct Row {
        Mode mode;
        const char *lineSettings;
    };
    for (const Row &row : {Row{Mode::Rfc2217, "9600n81"}, Row{Mode::RawTcp, "19200n81"}}) {
        SCOPED_TRACE(row.lineSettings);
        sim::SettingsStore::Options settings;
        settings.record = {1, 1, 0, 1, 2, 1, 1, 1, 4};
        StartReader(6000, 0, settings);
        const auto server = Serve(row.mode, row.lineSettings);
        const QString port = server->PortName();

        Finished run = Run({"update", "-p", port, imagePath});
        EXPECT_EQ(run.status, 0) << run.out.toStdString() << run.err.toStdString();
        EXPECT_TRUE(boot->Record().completed);
        EXPECT_EQ(boot->Received(), Section());

        EXPECT_EQ(RawSettings(port), "01 01 00 01 02 01 01 01 04");
        run = Run({"settings", "set", "-p", port, "red_led_level=0"});
        EXPECT_EQ(run.status, 0) << run.out.toStdString() << run.err.toStdString();
        const SettingsRecord written = store->Record();
        EXPECT_EQ(written, (SettingsRecord{1, 0, 0, 1, 2, 1, 1, 1, 4}));
        EXPECT_EQ(reader->Snapshot().droppedBytes, 0u);
    }
}

TEST_F(Network, TheWindowUpdatesThroughAPortTypedInTheChooser)
{
    StartReader(3000);
    const auto server = Serve(Mode::Rfc2217, "9600n81");
    const QString name = server->PortName();
    RecordedBoxes boxes;
    QTemporaryDir iniDir;
    TalvorApp app(test_app::Options(iniDir.path(), ports.path(), "test-network-" + std::to_string(::getpid())));

    // "Open", the chooser's last entry, the name typed, "OK".
    TForm2::SetNetworkPortAskerForTests([&name](QWidget *) { return name; });
    QTimer::singleShot(0, app.form2.get(), [&app] {
        app.form2->ui->ComboBox1->setCurrentIndex(app.form2->ui->ComboBox1->count() - 1);
        app.form2->ui->Button1->click();
    });
    app.form1->ui->Button1->click();
    TForm2::SetNetworkPortAskerForTests({});
    ASSERT_TRUE(app.form1->PortOpen()) << boxes.Texts().join('|').toStdString();
    EXPECT_EQ(app.form1->ui->GroupBox1->title(), name);

    test_app::ChooseFile(app, imagePath);
    test_app::LoadProgram(app);
    TOpenDialog::SetChooserForTests({});
    EXPECT_EQ(app.form1->ui->StaticText2->text(), update_text::Completed());
    EXPECT_EQ(boot->Received(), Section());
    EXPECT_EQ(boxes.Count(), 0u) << boxes.Texts().join('|').toStdString();
}

TEST_F(Network, ReaderDoesNotHearALineLeftAt9600)
{
    // Raw TCP cannot set the far line, so it stays at ser2net's 9600.
    StartReader(1024);
    const auto server = Serve(Mode::RawTcp, "9600n81");
    const Finished run = Run({"info", "-p", server->PortName(), "--time-scale", "0.2"});
    EXPECT_EQ(run.status, 5) << run.out.toStdString() << run.err.toStdString();
    EXPECT_TRUE(run.out.contains("Device no answer")) << run.out.toStdString();
    const sim::Counters counters = reader->Snapshot();
    EXPECT_GT(counters.droppedBytes, 0u);
    EXPECT_EQ(counters.Requests(), 0u);
}

TEST_F(Network, KilledServerDropsTheUpdateAndThePortOpensAgainOnceItIsBack)
{
    // Paced as a real line, so the transfer is under way when ser2net dies.
    StartReader(8192, 19200);
    const auto server = Serve(Mode::Rfc2217, "9600n81");
    QProcess process;
    Start(process, {"update", "-p", server->PortName(), imagePath, "--json"});
    ASSERT_TRUE(reader->WaitForRequests(20, kRunMs));
    server->Kill();
    const Finished run = Wait(process);
    EXPECT_EQ(run.status, 6) << run.out.toStdString() << run.err.toStdString();
    const QJsonObject result = ResultEvent(run.out);
    EXPECT_EQ(result.value("result").toString(), "connection_dropped") << run.out.toStdString();
    EXPECT_EQ(result.value("text").toString(), "the connection dropped during the transfer");
    EXPECT_TRUE(result.value("errors").toArray().contains(QString::fromLatin1(kDropped))) << run.out.toStdString();
    EXPECT_FALSE(boot->Record().completed);

    const Finished journal = Run({"journal", "--json"});
    const QJsonArray entries = QJsonDocument::fromJson(journal.out.toUtf8()).array();
    ASSERT_EQ(entries.size(), 1) << journal.out.toStdString() << journal.err.toStdString();
    EXPECT_EQ(entries.first().toObject().value("outcome").toString(), "connection dropped");
    EXPECT_EQ(entries.first().toObject().value("port").toString(), server->PortName());

    ASSERT_TRUE(server->Start()) << server->Failure().toStdString();
    reader->SetBaud(0);
    const Finished again = Run({"update", "-p", server->PortName(), imagePath});
    EXPECT_EQ(again.status, 0) << again.out.toStdString() << again.err.toStdString();
    EXPECT_EQ(boot->Received(), Section());
}

TEST_F(Network, PortsThatDoNotOpenSayWhy)
{
    StartReader(1024);
    const auto raw = Serve(Mode::RawTcp, "19200n81");
    // A port the kernel handed out and nobody listens on.
    const Ser2netServer unused(QString(), Mode::RawTcp, QString());
    const QString refused = unused.PortName(Mode::Rfc2217);
    struct Row {
        QString port;
        QString said;
    };
    const Row rows[] = {
        {refused, QStringLiteral("127.0.0.1 refused the connection: nothing takes connections on its port %1")
                      .arg(unused.Port())},
        {QStringLiteral("rfc2217://talvor-test.invalid:2217"),
         QStringLiteral("the host talvor-test.invalid is not found: check its name")},
        {raw->PortName(Mode::Rfc2217),
         QStringLiteral("the far end refused the reader's line settings (19200 baud, 8 data bits, no parity, "
                        "1 stop bit)")},
    };
    for (const Row &row : rows) {
        const Finished run = Run({"info", "-p", row.port});
        EXPECT_EQ(run.status, 4) << row.port.toStdString();
        EXPECT_TRUE(run.err.contains(row.port + QStringLiteral(": ") + row.said)) << run.err.toStdString();
    }
    // Nothing reached the reader as a request.
    EXPECT_EQ(reader->Requests(), 0u);

    // A far port another connection holds: ser2net takes the second and closes it again.
    platform::NetworkLine holder;
    ASSERT_TRUE(holder.open(raw->PortName().toStdString(), platform::kReaderLine)) << holder.errorText();
    const Finished second = Run({"info", "-p", raw->PortName()});
    EXPECT_EQ(second.status, 4);
    EXPECT_TRUE(second.err.contains(QStringLiteral("the far port is in use by another connection")))
        << second.err.toStdString();
}

}  // namespace
