// The settings window's file row against simulated readers over
// pseudo-terminals: one reader's settings saved from its window, loaded into
// another reader's window and written there, with the write's read-back
// reported; the reader compared with a file; bad files refused as talvor-cli
// refuses them, changing nothing.

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <unistd.h>

#include "core/protocol/settings_fields.h"
#include "core/protocol/settings_file.h"
#include "gui/application.h"
#include "gui/main_window.h"
#include "gui/settings_window.h"
#include "recorded_boxes.h"
#include "sim/device_info.h"
#include "sim/settings_store.h"
#include "sim/simulated_reader.h"
#include "test_app.h"
#include "ui_settings_window.h"
#include "wait_until.h"

namespace {

using settings_fields::Caption;
using settings_fields::Field;

const SettingsRecord kRecordA = {1, 0, 1, 0, 2, 0, 1, 1, 5};  // Wiegand, keyboard "hid-00 (4 bits)"
const SettingsRecord kRecordB = {0, 1, 0, 1, 0, 1, 0, 2, 1};  // iButton, "5 bytes"

class SettingsFilesTest : public ::testing::Test {
protected:
    QTemporaryDir iniDir;
    QTemporaryDir portDir;
    QTemporaryDir fileDir;
    RecordedBoxes boxes;
    std::shared_ptr<sim::SettingsStore> storeA, storeB;
    std::unique_ptr<sim::SimulatedReader> readerA, readerB;
    std::unique_ptr<TalvorApp> app;
    std::string lockName = "test-settings-files-" + std::to_string(getpid());
    QString chosenPath;
    QString shownFilter;

    std::unique_ptr<sim::SimulatedReader> StartReader(const char *name, std::shared_ptr<sim::SettingsStore> &store,
                                                      const SettingsRecord &record)
    {
        sim::Options options;
        options.folder = portDir.path().toStdString();
        options.linkName = name;
        auto reader = std::make_unique<sim::SimulatedReader>(options);
        reader->AddResponder(std::make_shared<sim::DeviceInfo>());
        sim::SettingsStore::Options storeOptions;
        storeOptions.record = record;
        store = std::make_shared<sim::SettingsStore>(storeOptions);
        reader->AddResponder(store);
        EXPECT_TRUE(reader->Start()) << reader->ErrorText();
        return reader;
    }

    void SetUp() override
    {
        readerA = StartReader("talvor-a", storeA, kRecordA);
        readerB = StartReader("talvor-b", storeB, kRecordB);
        TForm6::SetFileChooserForTests([this](QWidget *, TForm6::FileDialog, const QString &filter) {
            shownFilter = filter;
            return chosenPath;
        });
    }

    void TearDown() override
    {
        CloseWindow();
        TForm6::SetFileChooserForTests({});
        readerA->Stop();
        readerB->Stop();
    }

    // The tool on the reader's port with its settings window open and read.
    void OpenWindowOn(const char *port)
    {
        QFile ini(iniDir.filePath(QStringLiteral("com.ini")));
        ASSERT_TRUE(ini.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ini.write(QByteArray("[ComPort]\nCom=") + port + "\n");
        ini.close();
        app = std::make_unique<TalvorApp>(test_app::Options(iniDir.path(), portDir.path(), lockName));
        app->form1->OpenPort();
        ASSERT_TRUE(app->form1->PortOpen()) << boxes.Texts().join('|').toStdString();
        ASSERT_TRUE(WaitUntil([&] { return app->form1->Reader().answers > 0; }));
        app->form6->show();
        ASSERT_TRUE(WaitUntil([&] { return Answered(); }));
    }

    void CloseWindow()
    {
        if (app && app->form6->isVisible() && ui().Button3->isEnabled()) {
            boxes.AnswerNext(platform::ResultOk);
            ui().Button3->click();
        }
        app.reset();
    }

    TForm6 &form() { return *app->form6; }
    Ui::TForm6 &ui() { return *app->form6->ui; }

    bool Answered()
    {
        return ui().Button1->isEnabled() && ui().Button2->isEnabled() && !form().WriteAwaitingReadBack();
    }

    SettingsRecord ShownInControls()
    {
        form().CollectSettings();
        return form().Exchange.EditedSettings;
    }

    // Chooses path in the next file dialog and presses button.
    void PressWithFile(QPushButton *button, const QString &path)
    {
        chosenPath = path;
        ASSERT_TRUE(button->isEnabled()) << button->objectName().toStdString();
        button->click();
    }

    QString WriteFile(const char *name, const QByteArray &contents)
    {
        const QString path = fileDir.filePath(QString::fromLatin1(name));
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(contents);
        return path;
    }

    // The file talvor-cli would write for record, with some fields changed and no raw bytes.
    static QByteArray EditedFile(const SettingsRecord &record, const QJsonObject &changes)
    {
        QJsonObject top = settings_file::SettingsToJson(record);
        QJsonObject fields = top.value("fields").toObject();
        for (auto it = changes.begin(); it != changes.end(); ++it)
            fields.insert(it.key(), it.value());
        top.insert("fields", fields);
        top.remove("raw");
        return QJsonDocument(top).toJson();
    }

    void WriteAndWait()
    {
        ui().Button1->click();
        ASSERT_TRUE(WaitUntil([&] { return Answered() && ui().Button3->isEnabled(); }));
    }
};

TEST_F(SettingsFilesTest, SavedFromOneReaderLoadedAndWrittenToAnother)
{
    ASSERT_NO_FATAL_FAILURE(OpenWindowOn("talvor-a"));
    const QString saved = fileDir.filePath("a.json");
    PressWithFile(ui().ButtonSaveFile, saved);
    EXPECT_EQ(shownFilter, "Settings files (*.json);;All files (*)");
    QFile file(saved);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray contents = file.readAll();
    // What `talvor-cli settings get -o` writes for the same reader.
    EXPECT_EQ(contents, QJsonDocument(settings_file::SettingsToJson(kRecordA)).toJson(QJsonDocument::Indented));
    EXPECT_TRUE(contents.contains("\"interface\": \"Wiegand\"")) << contents.toStdString();
    CloseWindow();

    ASSERT_NO_FATAL_FAILURE(OpenWindowOn("talvor-b"));
    ASSERT_EQ(ShownInControls(), kRecordB);
    PressWithFile(ui().ButtonLoadFile, saved);
    EXPECT_EQ(ShownInControls(), kRecordA);
    EXPECT_EQ(storeB->Writes(), 0u);  // nothing goes out before "To Device"
    EXPECT_EQ(storeB->Record(), kRecordB);
    EXPECT_TRUE(ui().ButtonSaveFile->isEnabled());

    ASSERT_NO_FATAL_FAILURE(WriteAndWait());
    EXPECT_EQ(storeB->Record(), kRecordA);
    EXPECT_EQ(ui().LabelStatus->text().toStdString(), "Written and verified");
    EXPECT_EQ(boxes.Count(), 0u) << boxes.Texts().join('|').toStdString();

    // A reader that answers the write but keeps its "Temic Only": the status names it.
    SettingsRecord refused{};
    refused[0] = 0x01;
    storeB->SetRefusedBits(refused);
    PressWithFile(ui().ButtonLoadFile, WriteFile("temic-off.json", EditedFile(kRecordA, {{"temic_only", "OFF"}})));
    ASSERT_EQ(ShownInControls()[0], 0);
    ASSERT_NO_FATAL_FAILURE(WriteAndWait());
    EXPECT_EQ(storeB->Record(), kRecordA);
    EXPECT_EQ(ui().LabelStatus->text(), "Not taken by the device: " + Caption(Field::TemicOnly))
        << ui().LabelStatus->text().toStdString();
}

TEST_F(SettingsFilesTest, CompareListsTheFieldsThatDiffer)
{
    ASSERT_NO_FATAL_FAILURE(OpenWindowOn("talvor-a"));
    ui().ComboBox2->setCurrentIndex(1);  // an edit not sent: the reader's record is compared
    const QString differing = WriteFile(
        "differing.json", EditedFile(kRecordA, {{"temic_only", "OFF"}, {"wiegand_card_length", "26 bits"}}));
    PressWithFile(ui().ButtonCompareFile, differing);
    ASSERT_EQ(boxes.Count(), 1u);
    EXPECT_EQ(boxes.Boxes()[0].caption, "Compare with file");
    EXPECT_EQ(boxes.Boxes()[0].text, QString("The device's settings and the file's differ:\r\n"
                                             "%1: device ON, file OFF\r\n%2: device 42 bits, file 26 bits")
                                         .arg(Caption(Field::TemicOnly), Caption(Field::WiegandCardLength)));

    PressWithFile(ui().ButtonCompareFile,
                  WriteFile("same.json", QJsonDocument(settings_file::SettingsToJson(kRecordA)).toJson()));
    ASSERT_EQ(boxes.Count(), 2u);
    EXPECT_EQ(boxes.Boxes()[1].text, "The device's settings and the file's are the same.");
    EXPECT_EQ(ui().ComboBox2->currentIndex(), 1);
    EXPECT_EQ(storeA->Writes(), 0u);
}

TEST_F(SettingsFilesTest, BadFilesAreRefusedAsTheCommandLineDoesAndChangeNothing)
{
    ASSERT_NO_FATAL_FAILURE(OpenWindowOn("talvor-a"));
    struct BadFile {
        const char *name;
        QByteArray contents;
        QString refusal;  // the command line's words after "PATH: "
    };
    const BadFile files[] = {
        {"not-json.json", "interface=Wiegand", "not a settings file: "},
        {"format-2.json", R"({"format": 2, "fields": {}})",
         "settings file format 2 is not known; this version of the tool reads format 1"},
        {"bluetooth.json", R"({"format": 1, "fields": {"interface": "Bluetooth"}})",
         "interface does not allow \"Bluetooth\"\r\nallowed: "},
        {"disagree.json", R"({"format": 1, "fields": {"temic_only": "OFF"}, "raw": "01 00 01 00 02 00 01 01 05"})",
         "the file's fields and its raw bytes disagree: temic_only is \"OFF\", the raw bytes say \"ON\"; "
         "edit one, or leave \"raw\" out"},
    };
    for (const BadFile &bad : files) {
        SCOPED_TRACE(bad.name);
        boxes.Clear();
        const QString path = WriteFile(bad.name, bad.contents);
        PressWithFile(ui().ButtonLoadFile, path);
        ASSERT_EQ(boxes.Count(), 1u);
        EXPECT_EQ(boxes.Boxes()[0].caption, "The settings file is refused");
        EXPECT_TRUE(boxes.Boxes()[0].text.startsWith(path + ": " + bad.refusal)) << boxes.Texts()[0].toStdString();
        EXPECT_EQ(ShownInControls(), kRecordA);
        EXPECT_TRUE(ui().LabelStatus->text().isEmpty()) << ui().LabelStatus->text().toStdString();
    }
    EXPECT_EQ(storeA->Writes(), 0u);
}

// The row scales with the window's other controls.
TEST(SettingsFileRow, ScalesWithTheWindow)
{
    TForm6 form;
    const QRect design = form.ui->ButtonCompareFile->geometry();
    const QRect status = form.ui->LabelStatus->geometry();
    form.SetScreenSizeForTests(QSize(1024, 540));  // half the design height
    form.ScaleToScreen();
    form.SetScreenSizeForTests({});
    auto half = [](const QRect &g) { return QRect(g.x() / 2, g.y() / 2, g.width() / 2, g.height() / 2); };
    for (const auto &[control, designed] : {std::pair<QWidget *, QRect>{form.ui->ButtonCompareFile, design},
                                            std::pair<QWidget *, QRect>{form.ui->LabelStatus, status}}) {
        const QRect expected = half(designed), actual = control->geometry();
        EXPECT_LE((actual.topLeft() - expected.topLeft()).manhattanLength(), 2) << control->objectName().toStdString();
        EXPECT_LE(std::abs(actual.width() - expected.width()) + std::abs(actual.height() - expected.height()), 2)
            << control->objectName().toStdString();
    }
    EXPECT_LE(form.ui->LabelStatus->geometry().bottom(), form.height());
}

}  // namespace
