// talvor-cli as a user runs it, against simulated readers on
// pseudo-terminals in a folder of the test's own: exit codes, an invalid
// image that touches no reader, two readers at once with one failing, a port
// another command holds, Ctrl-C in the middle, the settings copied from one
// reader to another, a refused value that writes nothing, the station
// picking up a reader that appears after it started, and the service journal
// that every job leaves behind (locally, on a PostgreSQL server, as a report).

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QFileInfo>
#include <QHash>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <csignal>
#include <sys/stat.h>
#include <functional>
#include <memory>
#include <thread>

#include "cli_run.h"
#include "firmware_images.h"
#include "pg_cluster.h"
#include "sim/boot_loader.h"
#include "sim/device_info.h"
#include "sim/settings_store.h"
#include "sim/simulated_reader.h"

namespace {

constexpr int kRunMs = 60000;

struct Reader {
    std::unique_ptr<sim::SimulatedReader> line;
    std::shared_ptr<sim::BootLoader> boot;
    std::shared_ptr<sim::SettingsStore> store;

    Reader(const QString &folder, const char *name, sim::BootLoaderOptions bootOptions = {},
           sim::SettingsStore::Options storeOptions = {}, uint32_t baud = 0, sim::ReaderState state = {})
    {
        sim::Options options;
        options.folder = folder.toStdString();
        options.linkName = name;
        options.baud = baud;
        options.state = state;
        line = std::make_unique<sim::SimulatedReader>(options);
        boot = std::make_shared<sim::BootLoader>(bootOptions);
        store = std::make_shared<sim::SettingsStore>(storeOptions);
        line->AddResponder(std::make_shared<sim::DeviceInfo>());
        line->AddResponder(boot);
        line->AddResponder(store);
        boot->AttachLine(line.get());
        EXPECT_TRUE(line->Start()) << line->ErrorText();
    }
};

struct Image {
    QByteArray bytes;
    QString path;
    std::vector<uint8_t> Section() const { return test_images::Expected(bytes, bytes.size(), 0, bytes.size()); }
};

class Cli : public ::testing::Test {
protected:
    QTemporaryDir ports;
    QTemporaryDir files;
    const QString lockPrefix = QStringLiteral("test-cli-%1").arg(::getpid());
    // Another copy keeps its com.ini beside it (`config`).
    QString program = QStringLiteral(TALVOR_CLI_PROGRAM);
    // The user's locale; the texts tests look for are English.
    QString locale = QStringLiteral("C.UTF-8");

    void TearDown() override
    {
        // The per-port locks of this run, whatever their names.
        for (const QString &name : QDir(QStringLiteral("/dev/shm")).entryList({QStringLiteral("*") + lockPrefix + "*"}))
            QFile::remove(QStringLiteral("/dev/shm/") + name);
    }

    QStringList WithFolder(QStringList arguments) const
    {
        const bool opensPorts = arguments.size() > 1 && arguments.constFirst() != QLatin1String("journal") &&
                                arguments.constFirst() != QLatin1String("report") &&
                                arguments.constFirst() != QLatin1String("config");
        if (opensPorts)
            arguments << QStringLiteral("--port-folder") << ports.path() << QStringLiteral("--lock-prefix")
                      << lockPrefix;
        return arguments;
    }

    void Start(QProcess &process, const QStringList &arguments) const
    {
        // A journal of this test's own; talvor-report found on the PATH, as
        // for a program that is not installed beside it.
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("TALVOR_JOURNAL_DATABASE"), files.filePath(QStringLiteral("journal.db")));
        // The spool of a journal that cannot be written, too.
        environment.insert(QStringLiteral("XDG_STATE_HOME"), files.filePath(QStringLiteral("state")));
        environment.remove(QStringLiteral("XDG_RUNTIME_DIR"));
        environment.remove(QStringLiteral("LANGUAGE"));
        environment.insert(QStringLiteral("LC_ALL"), locale);
        environment.insert(QStringLiteral("PATH"), QFileInfo(QStringLiteral(TALVOR_REPORT_PROGRAM)).path() +
                                                       QLatin1Char(':') + environment.value(QStringLiteral("PATH")));
        process.setProcessEnvironment(environment);
        process.start(program, WithFolder(arguments));
        ASSERT_TRUE(process.waitForStarted());
    }

    // Run as from cron or ssh, without XDG_RUNTIME_DIR: nothing warns of it.
    static Finished Wait(QProcess &process)
    {
        Finished run = WaitFinished(process, kRunMs);
        EXPECT_FALSE(run.err.contains(QStringLiteral("XDG_RUNTIME_DIR"))) << run.err.toStdString();
        return run;
    }

    // A run's exit status, and words it said on stdout or stderr.
    void ExpectRunSays(const QStringList &arguments, int status, const QString &said) const
    {
        const Finished run = Run(arguments);
        EXPECT_EQ(run.status, status) << arguments.join(' ').toStdString() << "\n" << run.err.toStdString();
        EXPECT_TRUE((run.out + run.err).contains(said))
            << arguments.join(' ').toStdString() << " did not say " << said.toStdString() << ":\n"
            << (run.out + run.err).toStdString();
    }

    Finished Run(const QStringList &arguments) const
    {
        QProcess process;
        Start(process, arguments);
        return Wait(process);
    }

    Image MakeImage(int sectionSize) const
    {
        Image image;
        const QByteArray description = "TALVOR test firmware 7.1";
        image.bytes = test_images::Image(test_images::SectionBytes(sectionSize - int(description.size()) - 8),
                                         description);
        image.path = files.filePath(QStringLiteral("image-%1.rom").arg(sectionSize));
        EXPECT_TRUE(test_images::Write(image.path, image.bytes));
        return image;
    }

    static sim::BootLoaderOptions Boot(const Image &image)
    {
        sim::BootLoaderOptions options;
        options.sectionSize = uint32_t(image.bytes.size());
        options.newFirmwareMajor = 7;
        options.newFirmwareMinor = 1;
        return options;
    }

    static sim::ReaderState State(uint16_t serial, uint8_t firmwareMinor)
    {
        sim::ReaderState state;
        state.serialNumber = serial;
        state.firmwareMinor = firmwareMinor;
        return state;
    }

    // `journal --json` with the arguments given: the entries, newest first.
    QJsonArray JournalEntries(const QStringList &arguments = {}) const
    {
        const Finished run = Run(QStringList{QStringLiteral("journal"), QStringLiteral("--json")} + arguments);
        EXPECT_EQ(run.status, 0) << run.err.toStdString();
        return QJsonDocument::fromJson(run.out.toUtf8()).array();
    }

    // Two readers updated at once, the one with serial number 202 failing
    // with a reader error, then a setting changed on 201.
    void UpdateTwoAndChangeOne(const QStringList &journal = {}) const
    {
        const Image image = MakeImage(4096);
        sim::BootLoaderOptions failing = Boot(image);
        failing.errorAtBlock = 20;
        failing.errorCode = 1;
        Reader good(ports.path(), "cli-good", Boot(image), {}, 0, State(201, 4));
        Reader bad(ports.path(), "cli-bad", failing, {}, 0, State(202, 1));
        Finished run = Run(QStringList{"update", "-p", "cli-good", "-p", "cli-bad", image.path} + journal);
        EXPECT_EQ(run.status, 6) << run.err.toStdString();
        run = Run(QStringList{"settings", "set", "-p", "cli-good", "red_led_level=1"} + journal);
        EXPECT_EQ(run.status, 0) << run.err.toStdString();
    }

    // What UpdateTwoAndChangeOne leaves, in any order: the updates began together.
    static void ExpectTheThreeJobs(const QJsonArray &entries)
    {
        QStringList jobs;
        for (const QJsonValue &value : entries) {
            const QJsonObject entry = value.toObject();
            EXPECT_TRUE(entry.value("finished").toBool());
            jobs << QStringLiteral("%1 %2 %3 %4->%5 %6 %7")
                        .arg(entry.value("kind").toString(), entry.value("port").toString())
                        .arg(entry.value("reader_serial").toInt())
                        .arg(entry.value("firmware_before").toString(), entry.value("firmware_after").toString(),
                             entry.value("outcome").toString(),
                             entry.value("error_lines").toVariant().toStringList().join(','));
            if (entry.value("kind") == "settings_write") {
                EXPECT_EQ(entry.value("changed_fields").toArray(), QJsonArray{"red_led_level"});
            } else {
                // 4096 bytes in the boot loader's blocks of 66: all of them, or
                // those before the one it refused.
                const int total = entry.value("blocks_total").toInt();
                EXPECT_EQ(total, 63);
                EXPECT_EQ(entry.value("blocks_sent").toInt(), entry.value("outcome") == "completed" ? total : 19);
            }
        }
        jobs.sort();
        EXPECT_EQ(jobs, (QStringList{"settings_write cli-good 201 7.1-> written ",
                                     "update cli-bad 202 6.1->6.1 reader error Did not match the model!",
                                     "update cli-good 201 6.4->7.1 completed "}));
        ASSERT_FALSE(entries.isEmpty());
        EXPECT_EQ(entries.first().toObject().value("kind").toString(), "settings_write") << "not newest first";
    }
};

// Reads standard output line by line until one holds text; false after kRunMs.
bool WaitForLine(QProcess &process, const QString &text, QString *seen = nullptr)
{
    QString all;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < kRunMs) {
        while (process.canReadLine()) {
            const QString line = QString::fromUtf8(process.readLine());
            all += line;
            if (line.contains(text)) {
                if (seen)
                    *seen = all;
                return true;
            }
        }
        if (process.state() != QProcess::Running)
            break;
        process.waitForReadyRead(100);
    }
    if (seen)
        *seen = all;
    return false;
}

std::vector<QJsonObject> JsonLines(const QString &out)
{
    std::vector<QJsonObject> objects;
    for (const QString &line : out.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        objects.push_back(QJsonDocument::fromJson(line.toUtf8()).object());
    return objects;
}

QString LineWith(const QString &out, const QString &text)
{
    for (const QString &line : out.split(QLatin1Char('\n')))
        if (line.contains(text))
            return line;
    return QString();
}

// The keys and JSON types the manual page gives each command's --json: one
// table per ".SS" title of its JSON OUTPUT section, a line "PATH TYPE|TYPE ...".
struct JsonKey {
    QString path;  // a.b, a[], * for any key
    QStringList types;
    bool optional = false;
};
using JsonTables = QHash<QString, std::vector<JsonKey>>;

JsonTables ManualJsonTables()
{
    QFile page(QStringLiteral(TALVOR_CLI_MAN));
    EXPECT_TRUE(page.open(QIODevice::ReadOnly));
    JsonTables tables;
    QString title;
    bool inSection = false, inTable = false;
    for (QString line : QString::fromUtf8(page.readAll()).split(QLatin1Char('\n'))) {
        line.replace(QStringLiteral("\\-"), QStringLiteral("-"));
        if (line.startsWith(QLatin1String(".SH")))
            inSection = line == QLatin1String(".SH JSON OUTPUT");
        else if (inSection && line.startsWith(QLatin1String(".SS")))
            title = line.mid(4).remove(QLatin1Char('"'));
        else if (inSection && (line == QLatin1String(".nf") || line == QLatin1String(".fi")))
            inTable = line == QLatin1String(".nf");
        else if (inTable && !line.isEmpty() && !line.at(0).isSpace()) {
            const QStringList words = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
            JsonKey key{words.value(0), words.value(1).split(QLatin1Char('|')), words.value(0).endsWith('?')};
            if (key.optional)
                key.path.chop(1);
            tables[title].push_back(key);
        }
    }
    return tables;
}

QString JsonType(const QJsonValue &value)
{
    switch (value.type()) {
    case QJsonValue::String: return QStringLiteral("string");
    case QJsonValue::Double: return QStringLiteral("number");
    case QJsonValue::Bool: return QStringLiteral("boolean");
    case QJsonValue::Array: return QStringLiteral("array");
    case QJsonValue::Object: return QStringLiteral("object");
    default: return QStringLiteral("null");
    }
}

const JsonKey *KeyAt(const std::vector<JsonKey> &table, const QString &path)
{
    for (const JsonKey &key : table) {
        if (key.path == path)
            return &key;
    }
    const QString any = path.left(path.lastIndexOf(QLatin1Char('.')) + 1) + QLatin1Char('*');
    for (const JsonKey &key : table) {
        if (key.path == any)
            return &key;
    }
    return nullptr;
}

// Every value at a documented key of a documented type; every key the table
// does not mark optional present in each object that has keys documented.
// root: the value is the whole output, named by path (update's lines by their event).
void ExpectAsDocumented(const std::vector<JsonKey> &table, const QJsonValue &value, const QString &path,
                        const std::string &where, bool root = false)
{
    const JsonKey *key = KeyAt(table, path);
    if (!path.isEmpty() && !root) {
        ASSERT_NE(key, nullptr) << where << ": " << path.toStdString() << " is not in the manual page";
        EXPECT_TRUE(key->types.contains(JsonType(value)))
            << where << ": " << path.toStdString() << " is " << JsonType(value).toStdString();
    }
    if (key && key->path.endsWith(QLatin1Char('*')))
        return;
    const QString prefix = path.isEmpty() ? QString() : path + QLatin1Char('.');
    if (value.isArray()) {
        for (const QJsonValue &element : value.toArray())
            ExpectAsDocumented(table, element, path + QStringLiteral("[]"), where);
    } else if (value.isObject()) {
        const QJsonObject object = value.toObject();
        for (auto it = object.begin(); it != object.end(); ++it)
            ExpectAsDocumented(table, it.value(), prefix + it.key(), where);
        for (const JsonKey &documented : table) {
            const QString name = documented.path.mid(prefix.size());
            if (documented.path.startsWith(prefix) && !documented.optional && !name.contains(QLatin1Char('.')) &&
                !name.contains(QLatin1Char('[')) && name != QLatin1String("*")) {
                EXPECT_TRUE(object.contains(name)) << where << ": " << (prefix + name).toStdString() << " missing";
            }
        }
    }
}

TEST_F(Cli, ExitCodesWithoutAReader)
{
    const Image good = MakeImage(1024);
    const QString shortFile = files.filePath(QStringLiteral("short.rom"));
    ASSERT_TRUE(test_images::Write(shortFile, "abc"));
    struct Row {
        QStringList arguments;
        int status;
        QString said;  // in stdout or stderr
    };
    const Row rows[] = {
        {{}, 2, "give a command"},
        {{"frobnicate"}, 2, "unknown command frobnicate"},
        {{"--version"}, 0, "talvor-cli " TALVOR_VERSION},
        {{"update", good.path}, 2, "--station"},
        {{"update", "-p", "a", "-p", "a", good.path}, 2, "named twice"},
        {{"update", "-p", "a", "--station", good.path}, 2, "either"},
        {{"update", "-p", "absent", shortFile}, 3, "not valid"},
        {{"update", "-p", "absent", files.filePath("missing.rom")}, 3, "missing.rom"},
        {{"update", "-p", "absent", good.path}, 4, "absent: "},
        {{"info", "-p", "absent"}, 4, "absent"},
        {{"settings", "get", "-p", "absent"}, 4, "absent"},
        {{"settings", "set", "-p", "absent", "interface=Bluetooth"}, 2, "iButton"},
        {{"settings", "diff", "-p", "absent", files.filePath("none.json")}, 2, "cannot read"},
    };
    for (const Row &row : rows)
        ExpectRunSays(row.arguments, row.status, row.said);
    EXPECT_TRUE(JournalEntries().isEmpty()) << "a job that opened no port was recorded";
}

TEST_F(Cli, ReaderAnswersAndListsItself)
{
    const Image image = MakeImage(2048);
    sim::BootLoaderOptions never = Boot(image);
    never.bootAfterAttempts = sim::BootLoaderOptions::kNever;
    Reader good(ports.path(), "cli-good", Boot(image));
    Reader noLoader(ports.path(), "cli-noloader", never);
    struct Row {
        QStringList arguments;
        int status;
        QStringList said;
    };
    const Row rows[] = {
        {{"ports", "--json"}, 0, {"\"name\":\"cli-good\"", "\"device\":\"" + ports.filePath("cli-good") + "\""}},
        {{"info", "-p", "cli-good", "--json"}, 0, {"\"state\":\"ready\"", "\"serial_number\":12345", "\"6.4\""}},
        {{"info", "-p", ports.filePath("cli-good")}, 0, {"Device is ready", "12345"}},
        // A whole countdown of boot entry requests, on short line time-outs.
        {{"update", "-p", "cli-noloader", image.path, "--time-scale", "0.02"}, 5, {"no boot loader answered"}},
        {{"update", "-p", "cli-good", image.path}, 0, {"6.4", "7.1", "completed"}},
    };
    for (const Row &row : rows) {
        const Finished run = Run(row.arguments);
        EXPECT_EQ(run.status, row.status) << row.arguments.join(' ').toStdString() << "\n" << run.err.toStdString();
        for (const QString &text : row.said)
            EXPECT_TRUE(run.out.contains(text)) << row.arguments.join(' ').toStdString() << " lacks "
                                                << text.toStdString() << ":\n" << run.out.toStdString();
    }
    EXPECT_EQ(good.boot->Received(), image.Section());
}

TEST_F(Cli, InvalidImageTouchesNoReader)
{
    Reader a(ports.path(), "cli-a");
    Reader b(ports.path(), "cli-b");
    // A section larger than the file.
    const QString bad = files.filePath(QStringLiteral("bad.rom"));
    ASSERT_TRUE(test_images::Write(bad, test_images::SectionBytes(500) + test_images::Trailer(0, 4000)));
    // Opening a FIFO would wait for a writer for ever.
    const QString fifo = files.filePath(QStringLiteral("fifo.rom"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const QString folder = files.filePath(QStringLiteral("folder.rom"));
    ASSERT_TRUE(QDir().mkdir(folder));
    const std::pair<QString, QString> rows[] = {
        {bad, "is larger than the file"},
        {fifo, fifo + " is not a regular file"},
        {folder, folder + " is not a regular file"},
        {"/dev/null", "/dev/null is not a regular file"},
    };
    for (const auto &[path, said] : rows) {
        const Finished run = Run({"update", "-p", "cli-a", "-p", "cli-b", path});
        EXPECT_EQ(run.status, 3) << run.err.toStdString();
        EXPECT_TRUE(run.err.contains(said)) << run.err.toStdString();
    }
    EXPECT_EQ(a.line->Requests(), 0u);
    EXPECT_EQ(b.line->Requests(), 0u);
}

TEST_F(Cli, ImageOverwrittenDuringTheTransferIsNotSent)
{
    const Image image = MakeImage(4096);
    // Paced as a real line, so most blocks are still to come when the file changes.
    Reader reader(ports.path(), "cli-slow", Boot(image), {}, 19200);
    QProcess process;
    Start(process, {"update", "-p", "cli-slow", image.path, "--json"});
    ASSERT_TRUE(WaitForLine(process, "\"event\":\"progress\""));
    // As `cat other.rom > image.rom` would.
    const QByteArray other = test_images::Image(QByteArray(4096 - 17, '\x5A'), "other 9.9");
    ASSERT_EQ(other.size(), image.bytes.size());
    ASSERT_TRUE(test_images::Write(image.path, other));
    const Finished run = Wait(process);
    EXPECT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_EQ(reader.boot->Received(), image.Section());
    const QJsonArray entries = JournalEntries();
    ASSERT_EQ(entries.size(), 1);
    EXPECT_EQ(entries.first().toObject().value("image_sha256").toString(),
              QString::fromLatin1(QCryptographicHash::hash(image.bytes, QCryptographicHash::Sha256).toHex()));
}

TEST_F(Cli, TwoReadersAtOnceOneFailing)
{
    const Image image = MakeImage(4096);
    sim::BootLoaderOptions failing = Boot(image);
    failing.errorAtBlock = 20;
    failing.errorCode = 1;
    Reader good(ports.path(), "cli-good", Boot(image));
    Reader bad(ports.path(), "cli-bad", failing);

    const Finished run = Run({"update", "-p", "cli-good", "-p", "cli-bad", image.path});
    EXPECT_EQ(run.status, 6) << run.out.toStdString() << run.err.toStdString();
    EXPECT_EQ(good.boot->Received(), image.Section());
    EXPECT_TRUE(good.boot->Record().completed);
    // The failing one got correct bytes up to its error.
    const sim::BootLoaderRecord record = bad.boot->Record();
    EXPECT_FALSE(record.completed);
    ASSERT_GE(record.received.size(), 19u);
    const std::vector<uint8_t> received = bad.boot->Received();
    const std::vector<uint8_t> section = image.Section();
    for (const sim::BlockRequest &block : record.received)
        EXPECT_TRUE(std::equal(section.begin() + block.offset, section.begin() + block.offset + block.count,
                               received.begin() + block.offset))
            << "block at " << block.offset;

    const QString goodLine = LineWith(run.out.section(QStringLiteral("PORT"), 1), "cli-good");
    const QString badLine = LineWith(run.out.section(QStringLiteral("PORT"), 1), "cli-bad");
    EXPECT_TRUE(goodLine.contains("completed") && goodLine.contains("7.1")) << run.out.toStdString();
    EXPECT_TRUE(badLine.contains("reader error") && badLine.contains("Did not match the model!"))
        << run.out.toStdString();
    // The failed reader answers the monitor from its old firmware again.
    EXPECT_TRUE(run.out.contains("Reader 12345 on cli-bad: running firmware 6.4")) << run.out.toStdString();
    EXPECT_FALSE(run.out.contains("left in its boot loader")) << run.out.toStdString();
}

TEST_F(Cli, HeldPortIsRefusedAndInterruptNamesTheReaderLeftInItsBootLoader)
{
    const Image image = MakeImage(16384);
    // Paced as a real line, so the transfer is still running when the signal comes.
    Reader reader(ports.path(), "cli-slow", Boot(image), {}, 19200);
    QProcess process;
    Start(process, {"update", "-p", "cli-slow", image.path, "--json"});
    ASSERT_TRUE(WaitForLine(process, "\"event\":\"progress\""));
    // Meanwhile the port is this command's alone, and a second one is told who holds it.
    const Finished second = Run({"info", "-p", "cli-slow"});
    EXPECT_EQ(second.status, 4);
    EXPECT_TRUE(second.err.contains("talvor-cli (pid " + QString::number(process.processId()) + ")"))
        << second.err.toStdString();
    ::kill(pid_t(process.processId()), SIGINT);
    const Finished run = Wait(process);
    EXPECT_EQ(run.status, 7) << run.err.toStdString();
    EXPECT_FALSE(reader.boot->Record().completed);
    const std::vector<QJsonObject> events = JsonLines(run.out);
    ASSERT_FALSE(events.empty());
    const QJsonObject summary = events.back();
    EXPECT_EQ(summary.value("event").toString(), "summary");
    EXPECT_EQ(summary.value("left_in_boot_loader").toArray().first().toString(), "cli-slow") << run.out.toStdString();
    const QJsonArray entries = JournalEntries();
    ASSERT_EQ(entries.size(), 1);
    EXPECT_TRUE(entries.first().toObject().value("finished").toBool());
    EXPECT_EQ(entries.first().toObject().value("outcome").toString(), "interrupted");
}

TEST_F(Cli, SettingsCopiedFromOneReaderToAnother)
{
    // Wiegand, 42 bits, button format hid-00, keyboard backlight always on.
    const SettingsRecord source = {1, 1, 0, 1, 2, 1, 1, 1, 4};
    const SettingsRecord other = kDefaultSettingsRecord;
    sim::SettingsStore::Options a, b;
    a.record = source;
    b.record = other;
    Reader readerA(ports.path(), "cli-a", {}, a);
    Reader readerB(ports.path(), "cli-b", {}, b);
    const QString file = files.filePath(QStringLiteral("a.json"));

    Finished run = Run({"settings", "get", "-p", "cli-a", "-o", file});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    QFile written(file);
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    const QJsonObject json = QJsonDocument::fromJson(written.readAll()).object();
    EXPECT_EQ(json.value("format").toInt(), 1);
    EXPECT_EQ(json.value("fields").toObject().value("interface").toString(), "Wiegand");
    EXPECT_EQ(json.value("fields").toObject().value("button_format").toString(), "hid-00 (4 bits)");
    EXPECT_EQ(json.value("raw").toString(), "01 01 00 01 02 01 01 01 04");

    run = Run({"settings", "diff", "-p", "cli-b", file});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.out.contains("interface: reader \"Selected by cable connection\", file \"Wiegand\""))
        << run.out.toStdString();

    run = Run({"settings", "set", "-p", "cli-b", file});
    EXPECT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_TRUE(run.out.contains("cli-b: will change keyboard_backlight: \"0% -:- 100%\" -> \"Always ON\""))
        << run.out.toStdString();
    EXPECT_EQ(readerB.store->Record(), source);

    run = Run({"settings", "diff", "-p", "cli-b", file});
    EXPECT_EQ(run.status, 0) << run.out.toStdString();
    EXPECT_TRUE(run.out.isEmpty());
}

TEST_F(Cli, RefusedValuesWriteNothingAndFieldsNotTakenAreNamed)
{
    sim::SettingsStore::Options wiegand;
    wiegand.record = {0, 0, 0, 0, 0, 1, 0, 1, 0};
    sim::SettingsStore::Options refusing = wiegand;
    refusing.refusedBits = {0, 0, 0, 0, 0, 0, 1, 0, 0};  // the Wiegand card length
    Reader reader(ports.path(), "cli-r", {}, wiegand);
    Reader stubborn(ports.path(), "cli-s", {}, refusing);
    const QString edited = files.filePath(QStringLiteral("edited.json"));
    ASSERT_TRUE(test_images::Write(edited, R"({"format":1,"fields":{"one_time_sending":"ON"}})"));
    struct Row {
        QStringList arguments;
        int status;
        QString said;
    };
    const Row rows[] = {
        {{"settings", "set", "-p", "cli-r", "interface=Bluetooth"}, 2, "allowed: 2 = iButton, 0 = Selected"},
        // Disabled with a Wiegand interface, as in the window.
        {{"settings", "set", "-p", "cli-r", "one_time_sending=ON"}, 2, "cannot be changed"},
        {{"settings", "set", "-p", "cli-r", edited}, 2, "the rules make it \"OFF\""},
        {{"settings", "set", "-p", "cli-r", "wiegand_card_length=42 bits", "nosuch=1"}, 2, "no setting \"nosuch\""},
    };
    for (const Row &row : rows) {
        const Finished run = Run(row.arguments);
        EXPECT_EQ(run.status, row.status) << row.arguments.join(' ').toStdString();
        EXPECT_TRUE(run.err.contains(row.said)) << run.err.toStdString();
    }
    EXPECT_EQ(reader.store->Writes(), 0u);
    EXPECT_EQ(reader.store->Record(), wiegand.record);

    const Finished run = Run({"settings", "set", "-p", "cli-s", "wiegand_card_length=42 bits", "red_led_level=1"});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.err.contains("not taken wiegand_card_length: asked \"42 bits\", the reader holds \"26 bits\""))
        << run.err.toStdString();
    EXPECT_TRUE(run.out.contains("will change red_led_level")) << run.out.toStdString();
}

TEST_F(Cli, RecordsOfUnknownValuesComeBackUnchanged)
{
    sim::SettingsStore::Options zeros, ff;
    ff.record.fill(0xFF);
    Reader readerZeros(ports.path(), "cli-00", {}, zeros);
    Reader readerFF(ports.path(), "cli-ff", {}, ff);
    for (const auto &[name, reader] : {std::pair{"cli-00", &readerZeros}, std::pair{"cli-ff", &readerFF}}) {
        const QString file = files.filePath(QStringLiteral("%1.json").arg(name));
        ASSERT_EQ(Run({"settings", "get", "-p", name, "-o", file}).status, 0);
        Finished run = Run({"settings", "diff", "-p", name, file});
        EXPECT_EQ(run.status, 0) << run.out.toStdString();
        EXPECT_TRUE(run.out.isEmpty()) << run.out.toStdString();
        run = Run({"settings", "set", "-p", name, file});
        EXPECT_EQ(run.status, 0) << run.err.toStdString();
        EXPECT_TRUE(run.out.contains("nothing was written")) << run.out.toStdString();
        EXPECT_EQ(reader->store->Writes(), 0u) << name;
    }
    // A named value changes its own byte only, and is told before it is written.
    const Finished run = Run({"settings", "set", "-p", "cli-ff", "red_led_level=0"});
    EXPECT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_EQ(run.out.split('\n').first(), "cli-ff: will change red_led_level: \"0xFF, not a known value\" -> \"0\"");
    SettingsRecord written = ff.record;
    written[1] = 0;
    EXPECT_EQ(readerFF.store->Record(), written);
}

TEST_F(Cli, SettingsFailuresSayWhatHappened)
{
    struct Row {
        const char *name;
        std::function<void(Reader &)> spoil;
        QString said;
        const char *outcome;  // in the journal
    };
    const Row rows[] = {
        {"cli-silent", [](Reader &r) { r.store->SetSilent(true); },
         "the reader did not answer the settings request", "no answer"},
        {"cli-crc", [](Reader &r) { r.store->SetWrongCrc(true); },
         "the reader answered the settings request with a bad checksum", "bad checksum"},
        {"cli-gone",
         [](Reader &r) {
             sim::Faults faults;
             faults.vanish = sim::kAlways;
             r.line->SetFaults(faults);
         },
         "the port vanished during the settings request", "port vanished"},
    };
    for (const Row &row : rows) {
        Reader reader(ports.path(), row.name);
        row.spoil(reader);
        const Finished run = Run({"settings", "get", "-p", row.name});
        EXPECT_EQ(run.status, 5) << row.name;
        EXPECT_TRUE(run.err.contains(QStringLiteral("%1: %2").arg(row.name, row.said))) << run.err.toStdString();
        const QJsonArray entries = JournalEntries();
        ASSERT_FALSE(entries.isEmpty());
        EXPECT_EQ(entries.first().toObject().value("outcome").toString(), row.outcome) << row.name;
    }
}

TEST_F(Cli, StationUpdatesAReaderThatAppearsAfterItStarted)
{
    const Image image = MakeImage(2048);
    Reader present(ports.path(), "cli-present", Boot(image));
    QProcess station;
    Start(station, {"update", "--station", image.path, "--json"});
    ASSERT_TRUE(WaitForLine(station, "\"event\":\"watching\""));

    Reader plugged(ports.path(), "cli-plugged", Boot(image));
    QString seen;
    ASSERT_TRUE(WaitForLine(station, "\"event\":\"result\"", &seen));
    EXPECT_TRUE(seen.contains("\"event\":\"appeared\"")) << seen.toStdString();
    ::kill(pid_t(station.processId()), SIGINT);
    const Finished run = Wait(station);
    EXPECT_EQ(run.status, 0) << run.err.toStdString();

    EXPECT_EQ(plugged.boot->Received(), image.Section());
    EXPECT_EQ(present.line->Requests(), 0u) << "a reader present at the start was updated";
    const QJsonObject summary = JsonLines(run.out).back();
    EXPECT_EQ(summary.value("succeeded").toInt(), 1) << run.out.toStdString();
    EXPECT_EQ(summary.value("failed").toInt(), 0);
}

// A reader unplugged mid-transfer, plugged in again and updated: the
// station's summary has it running its new firmware, not in its boot loader.
TEST_F(Cli, StationTellsTheLastStateOfEachReader)
{
    const Image image = MakeImage(2048);
    sim::BootLoaderOptions unplugged = Boot(image);
    unplugged.unplugAtBlock = 5;
    QProcess station;
    Start(station, {"update", "--station", image.path, "--json"});
    ASSERT_TRUE(WaitForLine(station, "\"event\":\"watching\""));
    Reader reader(ports.path(), "cli-st", unplugged, {}, 0, State(301, 4));
    sim::Faults faults;
    faults.comeBackAfterMs = 2000;  // long enough for the station to see the port gone
    reader.line->SetFaults(faults);

    QString seen;
    ASSERT_TRUE(WaitForLine(station, "\"event\":\"result\"", &seen));
    const QJsonObject vanished = QJsonDocument::fromJson(LineWith(seen, "\"event\":\"result\"").toUtf8()).object();
    EXPECT_EQ(vanished.value("result").toString(), "port_vanished") << seen.toStdString();
    EXPECT_EQ(vanished.value("reader_now").toString(), "boot_loader");
    reader.boot->SetOptions(Boot(image));
    ASSERT_TRUE(WaitForLine(station, "\"event\":\"result\"", &seen));
    EXPECT_TRUE(seen.contains("\"result\":\"completed\"")) << seen.toStdString();
    ::kill(pid_t(station.processId()), SIGINT);
    const Finished run = Wait(station);
    EXPECT_EQ(run.status, 0) << run.err.toStdString();

    const QJsonObject summary = JsonLines(run.out).back();
    EXPECT_EQ(summary.value("failed").toInt(), 1) << run.out.toStdString();
    EXPECT_EQ(summary.value("left_in_boot_loader").toArray(), QJsonArray());
    const QJsonArray readers = summary.value("readers").toArray();
    ASSERT_EQ(readers.size(), 1);
    EXPECT_EQ(readers[0].toObject().value("reader_now").toString(), "firmware");
    EXPECT_EQ(readers[0].toObject().value("firmware_now").toString(), "7.1");
}

TEST_F(Cli, JournalKeepsEveryJobWithTheReadersVersionsAndFilters)
{
    UpdateTwoAndChangeOne();
    ExpectTheThreeJobs(JournalEntries());

    struct Row {
        QStringList filter;
        int entries;
    };
    const QString tomorrow = QDate::currentDate().addDays(1).toString(Qt::ISODate);
    const Row rows[] = {
        {{"--serial", "202"}, 1},
        {{"--port", "cli-good"}, 2},
        {{"--failed"}, 1},
        {{"--since", "2000-01-01"}, 3},
        {{"--since", tomorrow}, 0},
        {{"--since", QDateTime::currentDateTimeUtc().addSecs(3600).toString(Qt::ISODate)}, 0},
        // A day as an end takes in the whole day; a date-time is exclusive.
        {{"--until", QDate::currentDate().toString(Qt::ISODate)}, 3},
        {{"--until", QDate::currentDate().addDays(-1).toString(Qt::ISODate)}, 0},
        {{"--until", QDateTime::currentDateTimeUtc().addSecs(-3600).toString(Qt::ISODate)}, 0},
        {{"--kind", "update"}, 2},
        {{"--kind", "settings_write", "--serial", "201"}, 1},
        {{"--result", "failed"}, 1},
        {{"--result", "succeeded"}, 2},
        {{"--result", "unfinished"}, 0},
        {{"--limit", "1"}, 1},
    };
    for (const Row &row : rows)
        EXPECT_EQ(JournalEntries(row.filter).size(), row.entries) << row.filter.join(' ').toStdString();
    EXPECT_EQ(JournalEntries({"--limit", "1"}).first().toObject().value("kind"), "settings_write");
    const Finished table = Run({"journal", "--serial", "201"});
    EXPECT_TRUE(LineWith(table.out, "update").contains("6.4 -> 7.1")) << table.out.toStdString();
    for (const QStringList &bad : {QStringList{"--since", "yesterday"}, {"--until", "2026-13-01"}, {"--kind", "read"},
                                   {"--result", "ok"}, {"--limit", "0"}, {"--limit", "x"}}) {
        const Finished run = Run(QStringList{"journal"} + bad);
        EXPECT_EQ(run.status, 2) << bad.join(' ').toStdString();
        EXPECT_TRUE(run.err.contains(bad.first())) << run.err.toStdString();
    }

    // One entry whole, by the start of its id.
    const QJsonObject failed = JournalEntries({"--result", "failed"}).first().toObject();
    const QString id = failed.value("id").toString();
    Finished show = Run({"journal", "show", id.left(8)});
    EXPECT_EQ(show.status, 0) << show.err.toStdString();
    for (const QString &text : {id, QStringLiteral("cli-bad"), QStringLiteral("202"),
                                QStringLiteral("Did not match the model!"), QStringLiteral("6.1 -> 6.1")})
        EXPECT_TRUE(show.out.contains(text)) << text.toStdString() << " not in:\n" << show.out.toStdString();
    show = Run({"journal", "show", id, "--json"});
    EXPECT_EQ(QJsonDocument::fromJson(show.out.toUtf8()).object(), failed);
    for (const QString &unknown : {QStringLiteral("ffffffff"), QStringLiteral("x")}) {
        show = Run({"journal", "show", unknown});
        EXPECT_EQ(show.status, 2) << unknown.toStdString();
        EXPECT_TRUE(show.err.contains(unknown)) << show.err.toStdString();
    }
}

// The technician set once, the site, customer and note given per job: each
// job's entry keeps them, updates and settings alike.
TEST_F(Cli, JobsCarryTheTechnicianAndWhatTheCommandTells)
{
    // A copy of its own, so com.ini is this test's.
    program = files.filePath(QStringLiteral("talvor-cli"));
    ASSERT_TRUE(QFile::copy(QStringLiteral(TALVOR_CLI_PROGRAM), program));
    const Image image = MakeImage(2048);
    Reader reader(ports.path(), "cli-a", Boot(image));
    ASSERT_EQ(Run({"config", "technician", "Anna Kovac"}).status, 0);
    EXPECT_TRUE(Run({"config"}).out.contains("Anna Kovac"));
    EXPECT_EQ(Run({"config", "logo", files.filePath("none.png")}).status, 2);
    EXPECT_EQ(Run({"config", "colour", "red"}).status, 2);

    const QStringList details = {"--site", "Plant 3", "--customer", "Acme", "--note", "door 4"};
    ASSERT_EQ(Run(QStringList{"update", "-p", "cli-a", image.path} + details).status, 0);
    ASSERT_EQ(Run(QStringList{"settings", "get", "-p", "cli-a"} + details).status, 0);
    ASSERT_EQ(Run({"config", "technician", ""}).status, 0);
    EXPECT_TRUE(Run({"config"}).out.contains("(not set)"));
    ASSERT_EQ(Run({"settings", "get", "-p", "cli-a"}).status, 0);

    const QJsonArray entries = JournalEntries();
    ASSERT_EQ(entries.size(), 3);
    QStringList seen;
    for (const QJsonValue &value : entries) {
        const QJsonObject entry = value.toObject();
        seen << QStringList{entry.value("kind").toString(), entry.value("technician").toString(),
                            entry.value("site").toString(), entry.value("customer").toString(),
                            entry.value("note").toString()}
                    .join('|');
    }
    EXPECT_EQ(seen, (QStringList{"settings_read||||", "settings_read|Anna Kovac|Plant 3|Acme|door 4",
                                 "update|Anna Kovac|Plant 3|Acme|door 4"}));
}

TEST_F(Cli, AJournalThatCannotBeWrittenStopsNoJobAndLosesNoEntry)
{
    const Image image = MakeImage(2048);
    Reader a(ports.path(), "cli-a", Boot(image));
    Reader b(ports.path(), "cli-b", Boot(image));
    // A folder that cannot be made: its parent is a file.
    const QString plain = files.filePath(QStringLiteral("plain"));
    ASSERT_TRUE(test_images::Write(plain, "x"));
    const QStringList database = {"--database", plain + "/journal.db"};

    // Nor can the spool be kept: the result carries the entry.
    const QString state = files.filePath(QStringLiteral("state"));
    ASSERT_TRUE(test_images::Write(state, "x"));
    Finished run = Run(QStringList{"update", "-p", "cli-a", image.path, "--json"} + database);
    EXPECT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_TRUE(run.err.contains(QStringLiteral("lost when the program ends"))) << run.err.toStdString();
    QJsonObject kept;
    for (const QString &line : run.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QJsonObject event = QJsonDocument::fromJson(line.toUtf8()).object();
        if (event.value("event").toString() == QLatin1String("result"))
            kept = event.value("journal_entry").toObject();
    }
    EXPECT_EQ(kept.value("outcome").toString(), "completed") << run.out.toStdString();
    ASSERT_TRUE(QFile::remove(state));

    run = Run(QStringList{"update", "-p", "cli-a", "-p", "cli-b", image.path} + database);
    EXPECT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_EQ(run.err.count(QStringLiteral("cannot be written")), 1) << run.err.toStdString();
    EXPECT_TRUE(run.err.contains(state + QStringLiteral("/talvor/spool"))) << run.err.toStdString();
    EXPECT_EQ(b.boot->Received(), image.Section());

    // The journal writable again: the next program moves both updates in, once.
    ASSERT_TRUE(QFile::remove(plain));
    for (int program = 0; program < 2; ++program) {
        QStringList ports;
        for (const QJsonValue &entry : JournalEntries(database)) {
            ports << entry.toObject().value("port").toString();
            EXPECT_EQ(entry.toObject().value("outcome").toString(), "completed");
        }
        ports.sort();
        EXPECT_EQ(ports, (QStringList{"cli-a", "cli-b"})) << "program " << program;
    }
}

TEST_F(Cli, JournalEntriesReachTheServerItNames)
{
    if (PgCluster::BinFolder().isEmpty()) {
        if (qEnvironmentVariableIsSet("TALVOR_REQUIRE_POSTGRES"))
            FAIL() << "TALVOR_REQUIRE_POSTGRES is set, but no PostgreSQL server is installed";
        GTEST_SKIP() << "no PostgreSQL server installed (Debian package postgresql)";
    }
    PgCluster cluster;
    ASSERT_TRUE(cluster.Failure().isEmpty()) << cluster.Failure().toStdString();
    const QStringList journal = {"--journal", cluster.ConnectionString()};
    UpdateTwoAndChangeOne(journal);
    const QJsonArray onServer = JournalEntries(QStringList{"--server"} + journal);
    ExpectTheThreeJobs(onServer);
    QStringList serverIds, localIds;
    for (const QJsonValue &entry : onServer)
        serverIds << entry.toObject().value("id").toString();
    for (const QJsonValue &entry : JournalEntries())
        localIds << entry.toObject().value("id").toString();
    serverIds.sort();
    localIds.sort();
    EXPECT_EQ(serverIds, localIds);
}

TEST_F(Cli, ReportOfAnEntryNamesItsReader)
{
    Reader reader(ports.path(), "cli-a", {}, {}, 0, State(4321, 4));
    ASSERT_EQ(Run({"settings", "get", "-p", "cli-a"}).status, 0);
    const QJsonArray entries = JournalEntries();
    ASSERT_EQ(entries.size(), 1);
    EXPECT_EQ(entries.first().toObject().value("kind").toString(), "settings_read");
    const QString pdf = files.filePath(QStringLiteral("report.pdf"));
    const Finished run = Run({"report", entries.first().toObject().value("id").toString().left(8), "-o", pdf});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    QProcess text;
    text.start(QStringLiteral("pdftotext"), {pdf, QStringLiteral("-")});
    ASSERT_TRUE(text.waitForFinished(60000));
    EXPECT_TRUE(text.readAllStandardOutput().contains("4321"));
    // talvor-report's own status and message come through.
    const Finished unknown = Run({"report", "ffffffff", "-o", pdf + "2"});
    EXPECT_EQ(unknown.status, 1);
    EXPECT_TRUE(unknown.err.contains("talvor-report: ")) << unknown.err.toStdString();
}

}  // namespace

namespace {

// In Russian: the command line's texts, the engine's, but never the JSON.
TEST_F(Cli, SpeaksTheUsersLanguageButNotInJson)
{
    Reader reader(ports.path(), "cli-a");
    locale = QStringLiteral("ru_RU.UTF-8");
    struct Row {
        QStringList arguments;
        int status;
        QString said;  // in stdout or stderr
    };
    const Row rows[] = {
        {{"--help"}, 0, "Использование: talvor-cli"},
        {{"frobnicate"}, 2, "неизвестная команда frobnicate"},
        {{"journal", "--kind", "read"}, 2, "--kind принимает update"},
        {{"info", "-p", "cli-a"}, 0, "серийный номер 12345"},
        {{"info", "-p", "cli-a"}, 0, "Устройство готово"},
        {{"info", "-p", "cli-a", "--json"}, 0, "\"state\":\"ready\""},
        {{"journal"}, 0, "В журнале нет записей."},
    };
    for (const Row &row : rows)
        ExpectRunSays(row.arguments, row.status, row.said);
}

TEST_F(Cli, JsonOutputHoldsTheKeysAndTypesItsManualPageNames)
{
    const JsonTables tables = ManualJsonTables();
    for (const char *title : {"ports --json", "info --json", "update --json", "settings get --json",
                              "journal --json", "journal show --json"})
        ASSERT_TRUE(tables.contains(QString::fromLatin1(title))) << title << " is not in the manual page";
    const Image image = MakeImage(2048);
    Reader reader(ports.path(), "cli-a", Boot(image), {}, 0, State(4321, 4));
    const auto single = [&](const QString &title, const QStringList &arguments) {
        const Finished run = Run(arguments);
        EXPECT_EQ(run.status, 0) << run.err.toStdString();
        const QJsonDocument document = QJsonDocument::fromJson(run.out.toUtf8());
        ExpectAsDocumented(tables.value(title),
                           document.isArray() ? QJsonValue(document.array()) : QJsonValue(document.object()), QString(),
                           title.toStdString());
    };
    single("ports --json", {"ports", "--json"});
    single("info --json", {"info", "-p", "cli-a", "--json"});
    single("settings get --json", {"settings", "get", "-p", "cli-a", "--json"});

    const Finished update = Run({"update", "-p", "cli-a", image.path, "--json"});
    EXPECT_EQ(update.status, 0) << update.err.toStdString();
    QStringList events;
    for (const QJsonObject &event : JsonLines(update.out)) {
        events << event.value("event").toString();
        ExpectAsDocumented(tables.value("update --json"), event, events.back(), "update --json", true);
    }
    EXPECT_EQ(events.first(), "image");
    EXPECT_EQ(events.last(), "summary");
    EXPECT_TRUE(events.contains("result") && events.contains("reader") && events.contains("progress"));

    // The journal's entries, in the list and alone, as `journal show --json` has them.
    const QJsonArray entries = JournalEntries();
    ASSERT_EQ(entries.size(), 2);
    const std::vector<JsonKey> list = tables.value("journal --json");
    const JsonKey *element = KeyAt(list, QStringLiteral("[]"));
    ASSERT_NE(element, nullptr);
    for (const QJsonValue &entry : entries) {
        EXPECT_TRUE(element->types.contains(JsonType(entry)));
        ExpectAsDocumented(tables.value("journal show --json"), entry, QString(), "journal --json");
        single("journal show --json", {"journal", "show", entry.toObject().value("id").toString(), "--json"});
    }
}

}  // namespace
