// The settings window: its controls, that they show the field rules of
// settings_fields, the show and close sequences without a reader, the layout
// scaling, and the settings block CRC.

#include <QComboBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <gtest/gtest.h>
#include <algorithm>
#include <map>

#include "gui/design_fonts.h"
#include "gui/system_colours.h"
#include "recorded_boxes.h"
#include "core/protocol/settings_fields.h"
#include "core/protocol/settings_record.h"
#include "gui/settings_window.h"
#include "ui_settings_window.h"

namespace {

// The settings window without a port: nothing ever answers.
struct Rig {
    TForm6 form;
};

QComboBox *Combo(Ui::TForm6 &ui, int n)
{
    QComboBox *combos[] = {nullptr,        ui.ComboBox1,  ui.ComboBox2,  ui.ComboBox3, ui.ComboBox4,
                           ui.ComboBox5,   ui.ComboBox6,  ui.ComboBox7,  ui.ComboBox8, ui.ComboBox9,
                           ui.ComboBox10,  ui.ComboBox11, ui.ComboBox12, ui.ComboBox13};
    return combos[n];
}

// The field each ComboBoxN shows.
const settings_fields::Field kComboFields[] = {
    settings_fields::Field::Interface,  // no ComboBox0: the radio buttons
    settings_fields::Field::DeviceType,        settings_fields::Field::RedLedLevel,
    settings_fields::Field::GreenLedLevel,     settings_fields::Field::BeepLevel,
    settings_fields::Field::TemicOnly,         settings_fields::Field::KeyboardBacklight,
    settings_fields::Field::IButtonFamilyCode, settings_fields::Field::IButtonCardLength,
    settings_fields::Field::WiegandCardLength, settings_fields::Field::ButtonFormat,
    settings_fields::Field::OneTimeSending,    settings_fields::Field::KeyboardInput,
    settings_fields::Field::ZeroRule};

QRadioButton *Radio(Ui::TForm6 &ui, int n)
{
    QRadioButton *radios[] = {nullptr, ui.RadioButton1, ui.RadioButton2, ui.RadioButton3};
    return radios[n];
}

// A user's choice in a drop-down list: only an enabled list takes it, and
// the list's select handler runs.
void Choose(QComboBox *combo, int index)
{
    ASSERT_TRUE(combo->isEnabled()) << combo->objectName().toStdString();
    combo->setCurrentIndex(index);
    emit combo->activated(index);
}

QColor TitleColour(QWidget *box)
{
    return box->palette().color(QPalette::WindowText);
}

class SettingsWindowTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { platform::InstallDesignFontSubstitutes(); }

    RecordedBoxes boxes;
    std::unique_ptr<Rig> rig = std::make_unique<Rig>();
    TForm6 &form = rig->form;
    Ui::TForm6 &ui = *rig->form.ui;

    // The controls as a fresh showing leaves them, without starting a thread.
    void ResetControlsAsShown()
    {
        ui.ComboBox1->setCurrentIndex(0);
        for (int n = 2; n <= 13; ++n) {
            Combo(ui, n)->setCurrentIndex(-1);
            Combo(ui, n)->setEnabled(true);
        }
        for (int n = 1; n <= 3; ++n) {
            Radio(ui, n)->setAutoExclusive(false);
            Radio(ui, n)->setChecked(false);
            Radio(ui, n)->setAutoExclusive(true);
        }
    }

    void Load(const SettingsRecord &record)
    {
        form.Exchange.ShownSettings = record;
        form.ShowSettings();
    }

    SettingsRecord Collected()
    {
        form.CollectSettings();
        return form.Exchange.EditedSettings;
    }
};

TEST_F(SettingsWindowTest, WindowAndControlsAsDesigned)
{
    EXPECT_EQ(form.windowTitle(), "Setting");
    EXPECT_EQ(form.size(), QSize(778, 566));
    EXPECT_EQ(form.minimumSize(), form.maximumSize());
    EXPECT_FALSE(form.windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(form.windowFlags() & Qt::WindowSystemMenuHint);
    EXPECT_TRUE(form.font().bold());
    EXPECT_EQ(form.font().pixelSize(), 13);
    EXPECT_EQ(form.font().family(), "MS Sans Serif");

    const std::map<QString, QString> captions = {
        {"Button3", "Close"},
        {"Button4", "Default Settings"},
        {"Button1", "To Device"},
        {"Button2", "From Device"},
        {"GroupBox1", "DeviceType"},
        {"GroupBox2", "Ext. control   \"Activ Level\""},
        {"GroupBox3", "Red Led"},
        {"GroupBox4", "Green Led"},
        {"GroupBox5", "Beep"},
        {"GroupBox6", "\"Temic Only\""},
        {"GroupBox7", "Keyboard Backlight Brightness"},
        {"GroupBox8", ""},
        {"GroupBox9", "iButton FC from Keybord"},
        {"GroupBox10", "iButton \"Card\" Length"},
        {"GroupBox11", "Wiegand \"Card\" Length"},
        {"GroupBox12", "Wiegand \"Button\" Format"},
        {"GroupBox13", "\"One Time\" Sending"},
        {"GroupBox14", "Input from Keyboard"},
        {"GroupBox15", "Rule of button ''0\" input in buffer"},
        {"GroupBox16", ""},
        {"Label1", "Interface"},
        {"Label2", "Load Setting"},
        {"RadioButton1", "iButton"},
        {"RadioButton2", "Selected by cable connection"},
        {"RadioButton3", "Wiegand"},
    };
    for (const auto &[name, caption] : captions) {
        QWidget *widget = form.findChild<QWidget *>(name);
        ASSERT_NE(widget, nullptr) << name.toStdString();
        QString text;
        if (auto *box = qobject_cast<QGroupBox *>(widget))
            text = box->title();
        else if (auto *button = qobject_cast<QAbstractButton *>(widget))
            text = button->text();
        else if (auto *label = qobject_cast<QLabel *>(widget))
            text = label->text();
        EXPECT_EQ(text, caption) << name.toStdString();
    }

    const std::map<int, QStringList> items = {
        {1, {"TalvorIV-M ETH", "TalvorIV-M ETH KEYS"}},
        {2, {"0", "1"}},
        {3, {"0", "1"}},
        {4, {"0", "1"}},
        {5, {"OFF", "ON"}},
        {6, {"0% -:- 100%", "Always OFF", "Always ON", "50% -:-100%"}},
        {7, {"0x01", "0x03"}},
        {8, {"3 bytes", "5 bytes"}},
        {9, {"26 bits", "42 bits"}},
        {10, {"hid-09 (8 bits)", "hid-00 (4 bits)", "hid-11 (6 bits)"}},
        {11, {"OFF", "ON"}},
        {12, {"sending full buffer by \"Enter\"", "sending code of pressed button"}},
        {13,
         {"befor: 0000, \"0\"->0x0a, after: 000a", "befor: 0000, \"0\"->0x00, after: 0000",
          "befor: FFFF, \"0\"->0x00, after: FFF0"}},
    };
    for (const auto &[n, texts] : items) {
        QComboBox *combo = Combo(ui, n);
        EXPECT_FALSE(combo->isEditable()) << n;
        QStringList actual;
        for (int i = 0; i < combo->count(); ++i)
            actual << combo->itemText(i);
        EXPECT_EQ(actual, texts) << "ComboBox" << n;
    }
    EXPECT_EQ(ui.ComboBox1->currentIndex(), 0);
    EXPECT_FALSE(ui.ComboBox6->isEnabled());

    EXPECT_EQ(ui.Memo1->toPlainText(), "There is no connection with the device, or the\n"
                                       "current Firmware version does not support this service");
    EXPECT_TRUE(ui.Memo1->isReadOnly());
    EXPECT_TRUE(ui.Memo1->isHidden());
    EXPECT_EQ(ui.Memo1->frameShape(), QFrame::NoFrame);
    EXPECT_EQ(ui.Memo1->font().pixelSize(), 16);
    EXPECT_TRUE(ui.Memo1->font().bold());
    EXPECT_EQ(ui.Memo1->palette().color(QPalette::Text), colours::Red);
    EXPECT_EQ(ui.Memo1->palette().color(QPalette::Base), colours::ActiveBorder);
    EXPECT_EQ(ui.Label2->font().pixelSize(), 16);
    EXPECT_EQ(ui.Label2->palette().color(QPalette::WindowText), colours::Blue);
}

TEST_F(SettingsWindowTest, NoTextIsClipped)
{
    auto fits = [](QWidget *widget, const QString &text, int margin) {
        const int needed = QFontMetrics(widget->font()).horizontalAdvance(text) + margin;
        EXPECT_LE(needed, widget->width()) << widget->objectName().toStdString() << ": " << text.toStdString();
    };
    for (QGroupBox *box : form.findChildren<QGroupBox *>())
        fits(box, box->title(), 16);
    for (QComboBox *combo : form.findChildren<QComboBox *>()) {
        for (int i = 0; i < combo->count(); ++i)
            fits(combo, combo->itemText(i), 30);
    }
    for (QAbstractButton *button : form.findChildren<QAbstractButton *>())
        fits(button, button->text(), 26);
    for (QLabel *label : form.findChildren<QLabel *>())
        fits(label, label->text(), 0);
    for (const QString &line : ui.Memo1->toPlainText().split('\n'))
        fits(ui.Memo1, line, 12);

    // Every control lies inside its parent.
    for (QWidget *child : form.findChildren<QWidget *>()) {
        if (child->objectName().isEmpty() || child->objectName().startsWith("qt_") || child->isWindow())
            continue;
        QWidget *parent = child->parentWidget();
        if (parent != &form && qobject_cast<QGroupBox *>(parent) == nullptr)
            continue;
        EXPECT_TRUE(parent->rect().contains(child->geometry())) << child->objectName().toStdString();
    }
}

// The window is a view of settings_fields: after loading a record and after
// each user choice the controls show the model's choices, enabled states and
// caption colours, and collect the model's record.
TEST_F(SettingsWindowTest, ControlsShowWhatTheModelSays)
{
    using namespace settings_fields;
    const SettingsRecord records[] = {
        kDefaultSettingsRecord,
        {1, 0, 1, 0, 3, 0, 1, 1, 5},     // Wiegand, character mode
        {0, 1, 0, 1, 0x0C, 1, 0, 3, 2},  // iButton with "One Time" sending
        {0, 0, 0, 0, 0x04, 1, 1, 0, 6},  // cable, a "0" rule never written
    };
    const std::pair<QWidget *, int> captions[] = {{ui.GroupBox7, 6},   {ui.GroupBox9, 7},   {ui.GroupBox12, 10},
                                                  {ui.GroupBox14, 12}, {ui.GroupBox15, 13}, {ui.GroupBox13, 11},
                                                  {ui.GroupBox10, 8},  {ui.GroupBox11, 9}};
    auto expectShown = [&](const SettingsFields &model, const std::string &where) {
        for (int n = 1; n <= 13; ++n) {
            // A value the list does not have is the item after the field's values.
            const int shown = model.Kept(kComboFields[n]) ? int(Info(kComboFields[n]).values.size())
                                                          : model.Choice(kComboFields[n]);
            EXPECT_EQ(Combo(ui, n)->currentIndex(), shown) << where << " ComboBox" << n;
            EXPECT_EQ(Combo(ui, n)->isEnabled(), model.Enabled(kComboFields[n])) << where << " ComboBox" << n;
        }
        for (int n = 1; n <= 3; ++n)
            EXPECT_EQ(Radio(ui, n)->isChecked(), model.Choice(Field::Interface) == n - 1)
                << where << " RadioButton" << n;
        for (const auto &[box, n] : captions)
            EXPECT_EQ(TitleColour(box), Combo(ui, n)->isEnabled() ? colours::WindowText : colours::Grey)
                << where << " " << box->objectName().toStdString();
    };

    for (const SettingsRecord &record : records) {
        const std::string where = "record " + std::to_string(record[4]) + "/" + std::to_string(record[7]);
        ResetControlsAsShown();
        form.Exchange.EditedSettings = {};
        Load(record);
        SettingsFields model = Decode(record);
        expectShown(model, where + " loaded");

        // The user picks the KEYS model, Wiegand and the character mode, in the window and in the model.
        Choose(ui.ComboBox1, 1);
        ASSERT_FALSE(settings_fields::Choose(model, {Field::DeviceType, 1}));
        ui.RadioButton3->click();
        ASSERT_FALSE(settings_fields::Choose(model, {Field::Interface, 2}));
        Choose(ui.ComboBox12, 1);
        ASSERT_FALSE(settings_fields::Choose(model, {Field::KeyboardInput, 1}));
        expectShown(model, where + " chosen");
        EXPECT_EQ(Collected(), Encode(model, {}));
    }
}

TEST_F(SettingsWindowTest, ListsAndCaptionsAreTheModels)
{
    using namespace settings_fields;
    for (const FieldInfo &info : AllFields()) {
        QStringList words;
        for (size_t i = 0; i < info.values.size(); ++i)
            words << Words(info.field, int(i));
        QStringList shown;
        if (info.field == Field::Interface) {
            EXPECT_EQ(ui.Label1->text(), Caption(info.field));
            for (int n = 1; n <= 3; ++n)
                shown << Radio(ui, n)->text();
        } else {
            const int n = int(std::find(std::begin(kComboFields), std::end(kComboFields), info.field) -
                              std::begin(kComboFields));
            ASSERT_LE(n, 13) << info.id;
            const QComboBox *combo = Combo(ui, n);
            EXPECT_EQ(qobject_cast<QGroupBox *>(combo->parentWidget())->title(), Caption(info.field)) << info.id;
            for (int i = 0; i < combo->count(); ++i)
                shown << combo->itemText(i);
        }
        EXPECT_EQ(shown, words) << info.id;
    }
    // The fields a write did not take are named by their captions.
    EXPECT_EQ(form.FieldsThatDiffer({0, 0, 0, 0, 0, 1, 0, 2, 0}, {1, 0, 0, 0, 0, 1, 0, 1, 0}),
              QStringList({ui.GroupBox6->title(), ui.Label1->text()}));
}

// Nine 0xFF bytes: every value is shown as the reader's own, whole, and
// collected back unchanged until a choice replaces it.
TEST_F(SettingsWindowTest, UnknownValuesAreShownAsSuchAndKept)
{
    const SettingsRecord ff = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    ResetControlsAsShown();
    Load(ff);
    EXPECT_EQ(ui.ComboBox5->currentText(), "0xFF, not a known value");
    EXPECT_EQ(ui.ComboBox13->currentText(), "0xFF, not a known value");
    EXPECT_EQ(ui.ComboBox2->currentText(), "0xFF");  // too narrow: Label3 says the rest
    EXPECT_FALSE(ui.Label3->isHidden());
    EXPECT_TRUE(ui.Label3->text().contains("Red Led: 0xFF, not a known value")) << ui.Label3->text().toStdString();
    EXPECT_TRUE(ui.Label3->text().contains("Interface: 0xFF, not a known value"));
    for (QComboBox *combo : form.findChildren<QComboBox *>())
        EXPECT_LE(combo->fontMetrics().horizontalAdvance(combo->currentText()) + 30, combo->width())
            << combo->objectName().toStdString();
    const QRect room = ui.Label3->contentsRect();
    const QRect needed = ui.Label3->fontMetrics().boundingRect(room, int(ui.Label3->alignment()) | Qt::TextWordWrap,
                                                              ui.Label3->text());
    EXPECT_TRUE(room.contains(needed)) << needed.height() << " > " << room.height();
    EXPECT_EQ(Collected(), ff);

    // A choice replaces a kept value; a click chooses the interface shown.
    Choose(ui.ComboBox2, 0);
    ui.RadioButton1->click();
    EXPECT_FALSE(ui.Label3->text().contains("Red Led"));
    EXPECT_FALSE(ui.Label3->text().contains("Interface"));
    SettingsRecord chosen = ff;
    chosen[1] = 0;
    chosen[7] = 3;  // iButton, "One Time" sending as shown
    EXPECT_EQ(Collected(), chosen);

    ui.Button4->click();
    EXPECT_EQ(ui.ComboBox5->count(), 2);
    EXPECT_TRUE(ui.Label3->isHidden());
    EXPECT_EQ(Collected(), kDefaultSettingsRecord);
}

TEST_F(SettingsWindowTest, DefaultSettingsFillsTheDefaultRecord)
{
    ResetControlsAsShown();
    ui.Button4->click();
    EXPECT_EQ(form.Exchange.ShownSettings, kDefaultSettingsRecord);
    EXPECT_EQ(ui.ComboBox8->currentText(), "5 bytes");
    EXPECT_TRUE(ui.RadioButton2->isChecked());
    EXPECT_EQ(Collected(), kDefaultSettingsRecord);
    EXPECT_EQ(form.Exchange.DeviceSettings, SettingsRecord{});  // nothing was sent
}

TEST_F(SettingsWindowTest, ShowResetsControlsAndNeverAnsweredClosesWithoutQuestion)
{
    // Left over from an earlier showing.
    ResetControlsAsShown();
    Load({1, 1, 1, 1, 0, 1, 1, 3, 7});
    Choose(ui.ComboBox1, 1);
    ui.Memo1->show();

    form.show();
    EXPECT_FALSE(ui.Button1->isEnabled());
    EXPECT_FALSE(ui.Button2->isEnabled());
    EXPECT_TRUE(ui.Button3->isEnabled());
    EXPECT_EQ(ui.ComboBox1->currentIndex(), 0);
    for (int n = 2; n <= 13; ++n) {
        EXPECT_EQ(Combo(ui, n)->currentIndex(), -1) << n;
        EXPECT_TRUE(Combo(ui, n)->isEnabled()) << n;
    }
    for (int n = 1; n <= 3; ++n)
        EXPECT_FALSE(Radio(ui, n)->isChecked()) << n;
    EXPECT_TRUE(ui.Memo1->isHidden());
    EXPECT_EQ(TitleColour(ui.GroupBox7), colours::WindowText);
    EXPECT_EQ(form.Exchange.DeviceSettings, SettingsRecord{});
    EXPECT_EQ(ui.GroupBox1->toolTip(),
              "Select device type \r\nNOTE: Keyboard input and keyboard backlight brightness settings \r\n"
              "are only available for TalvorIV-M ETH KEYS");
    EXPECT_EQ(ui.GroupBox6->toolTip(),
              "See par. 4.2 of operatin manual \r\nParam. 07 - function 'Anticlone' ON/OFF \r\nNOTE:\r\n"
              "for versions 6.x, 7.x 'Anticlone'/'Temic only'\r\nfor version 5.x 'Anticlone' ON/OFF");
    EXPECT_EQ(ui.GroupBox16->toolTip(), "Read current device setting from device - 'From Device' 'button' or  "
                                        "\r\nsave setting to device - 'To Device' 'button' ");
    EXPECT_EQ(ui.Button1->toolTip(), "Store setting to TalvorIV");
    EXPECT_TRUE(ui.ComboBox1->toolTip().isEmpty());

    // The window manager's close goes the way of "Close": never answered, no question.
    form.close();
    EXPECT_FALSE(form.isVisible());
    for (const auto &box : boxes.Boxes())
        EXPECT_NE(box.caption, "") << "no close question: " << box.text.toStdString();
}

struct ScaleRow {
    const char *name;
    QSize screen;
    double factor;  // the screen's height over 1080, less where the window would not fit
};

void PrintTo(const ScaleRow &row, std::ostream *os) { *os << row.name; }

class ScaleToScreen : public SettingsWindowTest, public ::testing::WithParamInterface<ScaleRow> {
protected:
    void TearDown() override { TForm6::SetScreenSizeForTests({}); }
};

TEST_P(ScaleToScreen, ScalesTheDesignByTheScreensFactor)
{
    const ScaleRow row = GetParam();
    const QRect design = ui.GroupBox15->geometry();
    const QRect inner = ui.ComboBox13->geometry();
    auto near = [](const QRect &actual, const QRect &expected) {
        return std::abs(actual.x() - expected.x()) <= 1 && std::abs(actual.y() - expected.y()) <= 1 &&
               std::abs(actual.width() - expected.width()) <= 1 && std::abs(actual.height() - expected.height()) <= 1;
    };
    auto scaled = [&row](const QRect &g) {
        return QRect(qRound(g.x() * row.factor), qRound(g.y() * row.factor), qRound(g.width() * row.factor),
                     qRound(g.height() * row.factor));
    };
    // Another screen first: each showing starts from the design, so neither
    // a second showing nor an earlier screen leaves its mark.
    form.SetScreenSizeForTests(QSize(1366, 768));
    form.ScaleToScreen();
    form.SetScreenSizeForTests(row.screen);
    for (int showing = 0; showing < 2; ++showing) {
        form.ScaleToScreen();
        EXPECT_TRUE(near(ui.GroupBox15->geometry(), scaled(design))) << showing;
        EXPECT_TRUE(near(ui.ComboBox13->geometry(), scaled(inner))) << showing;
        EXPECT_NEAR(form.width(), 778 * row.factor, 1);
        EXPECT_NEAR(form.height(), 566 * row.factor, 1);
        EXPECT_LE(form.width(), row.screen.width());
        EXPECT_LE(form.height(), row.screen.height());
        EXPECT_EQ(ui.Label2->font().pixelSize(), std::max(9, qRound(16 * row.factor)));
    }
}

INSTANTIATE_TEST_SUITE_P(Screens, ScaleToScreen,
                         ::testing::Values(ScaleRow{"design", {1920, 1080}, 1.0},
                                           ScaleRow{"laptop", {1366, 768}, 768 / 1080.0},
                                           ScaleRow{"qhd", {2560, 1440}, 1440 / 1080.0},
                                           ScaleRow{"uhd", {3840, 2160}, 2.0},
                                           // Less the frame and title bar the window manager will add.
                                           ScaleRow{"portrait", {1080, 1920}, (1080 - 8) / 778.0},
                                           ScaleRow{"low", {1024, 540}, 0.5}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(SettingsCrc, PinnedValues)
{
    const char *check = "123456789";
    EXPECT_EQ(Crc16Modbus(reinterpret_cast<const uint8_t *>(check), 9), 0x4B37);

    struct Pin {
        uint8_t command;
        SettingsRecord record;
        SettingsBlockBytes block;
    };
    const Pin pins[] = {
        {0x55, {}, {0x55, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x63, 0x56}},
        {0xAA, kDefaultSettingsRecord, {0xAA, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0x57, 0x59}},
    };
    for (const Pin &pin : pins) {
        const SettingsBlockBytes block = BuildSettingsBlock(pin.command, pin.record);
        EXPECT_EQ(block, pin.block) << int(pin.command);
        EXPECT_EQ(Crc16Modbus(block.data(), block.size()), 0);
        EXPECT_TRUE(SettingsBlockIntact(block.data(), 12));
        EXPECT_EQ(RecordOfBlock(block.data()), pin.record);
    }
}

TEST(SettingsCrc, EverySpoiledOrShortBlockIsRejected)
{
    const SettingsBlockBytes good = BuildSettingsBlock(0x55, {1, 0, 1, 0, 2, 1, 0, 3, 5});
    for (size_t i = 0; i < good.size(); ++i) {
        for (uint8_t flip : {0x01, 0x80, 0xFF}) {
            SettingsBlockBytes bad = good;
            bad[i] ^= flip;
            EXPECT_FALSE(SettingsBlockIntact(bad.data(), bad.size())) << i << " " << int(flip);
        }
    }
    for (size_t delivered = 0; delivered < 12; ++delivered)
        EXPECT_FALSE(SettingsBlockIntact(good.data(), delivered)) << delivered;
    // A reply counts whatever its byte 0 holds.
    SettingsBlockBytes other = BuildSettingsBlock(0x00, {});
    EXPECT_TRUE(SettingsBlockIntact(other.data(), 12));
}

}  // namespace
