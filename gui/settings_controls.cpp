// The settings window's controls as a view of settings_fields: the record
// into the lists and radio buttons under the field rules, and back.

#include <QComboBox>
#include <QLabel>
#include <QRadioButton>

#include "gui/design_fonts.h"
#include "gui/settings_window.h"
#include "gui/system_colours.h"
#include "ui_settings_window.h"

QComboBox *TForm6::ComboOf(settings_fields::Field field) const
{
    using F = settings_fields::Field;
    switch (field) {
    case F::DeviceType: return ui->ComboBox1;
    case F::RedLedLevel: return ui->ComboBox2;
    case F::GreenLedLevel: return ui->ComboBox3;
    case F::BeepLevel: return ui->ComboBox4;
    case F::TemicOnly: return ui->ComboBox5;
    case F::KeyboardBacklight: return ui->ComboBox6;
    case F::IButtonFamilyCode: return ui->ComboBox7;
    case F::IButtonCardLength: return ui->ComboBox8;
    case F::WiegandCardLength: return ui->ComboBox9;
    case F::ButtonFormat: return ui->ComboBox10;
    case F::OneTimeSending: return ui->ComboBox11;
    case F::KeyboardInput: return ui->ComboBox12;
    case F::ZeroRule: return ui->ComboBox13;
    case F::Interface: break;  // the radio buttons
    }
    return nullptr;
}

settings_fields::SettingsFields TForm6::FieldsOfControls() const
{
    using namespace settings_fields;
    SettingsFields fields = settings_fields::ShownFields();
    fields.held = loaded_.held;
    for (const FieldInfo &info : AllFields()) {
        if (const QComboBox *combo = ComboOf(info.field)) {
            // The item after the field's values is the reader's own value.
            const bool kept = combo->currentIndex() == int(info.values.size());
            fields.SetChoice(info.field, kept ? loaded_.Choice(info.field) : combo->currentIndex());
            fields.SetKept(info.field, kept);
            fields.SetEnabled(info.field, combo->isEnabled());
        }
    }
    // The interface values are in the order of the radio buttons.
    const QRadioButton *radios[] = {ui->RadioButton1, ui->RadioButton2, ui->RadioButton3};
    for (int i = 0; i < 3; ++i) {
        if (radios[i]->isChecked())
            fields.SetChoice(Field::Interface, i);
    }
    fields.SetKept(Field::Interface, interfaceKept_);
    return fields;
}

QString TForm6::UnknownItemText(const QComboBox *combo, uint8_t byte) const
{
    // The margin a list's text needs beside it (frame and arrow).
    constexpr int kListMargin = 30;
    const QString text = settings_fields::UnknownText(byte, true);
    if (combo->fontMetrics().horizontalAdvance(text) + kListMargin <= combo->width())
        return text;
    return QLatin1String("0x") + QStringLiteral("%1").arg(byte, 2, 16, QLatin1Char('0')).toUpper();
}

void TForm6::ShowFields(const settings_fields::SettingsFields &fields)
{
    using namespace settings_fields;
    for (const FieldInfo &info : AllFields()) {
        if (QComboBox *combo = ComboOf(info.field)) {
            const int values = int(info.values.size());
            while (combo->count() > values)
                combo->removeItem(values);
            if (loaded_.Kept(info.field))
                combo->addItem(UnknownItemText(combo, loaded_.held[size_t(info.byte)]));
            combo->setCurrentIndex(fields.Kept(info.field) && combo->count() > values ? values
                                                                                      : fields.Choice(info.field));
            combo->setEnabled(fields.Enabled(info.field));
        }
    }
    QRadioButton *radios[] = {ui->RadioButton1, ui->RadioButton2, ui->RadioButton3};
    const int interface = fields.Choice(Field::Interface);
    if (interface >= 0) {
        radios[interface]->setChecked(true);  // unchecks the other two
    } else {
        for (QRadioButton *radio : radios) {
            // An exclusive group never lets its last checked button go.
            radio->setAutoExclusive(false);
            radio->setChecked(false);
            radio->setAutoExclusive(true);
        }
    }
    interfaceKept_ = fields.Kept(Field::Interface);
    ShowKeptValues();

    const std::pair<QWidget *, Field> captions[] = {
        {ui->GroupBox7, Field::KeyboardBacklight}, {ui->GroupBox9, Field::IButtonFamilyCode},
        {ui->GroupBox12, Field::ButtonFormat},     {ui->GroupBox14, Field::KeyboardInput},
        {ui->GroupBox15, Field::ZeroRule},         {ui->GroupBox13, Field::OneTimeSending},
        {ui->GroupBox10, Field::IButtonCardLength}, {ui->GroupBox11, Field::WiegandCardLength}};
    for (const auto &[box, field] : captions)
        colours::SetTitleColour(box, fields.Enabled(field) ? colours::WindowText : colours::Grey);
}

void TForm6::ShowKeptValues()
{
    using namespace settings_fields;
    const SettingsFields shown = FieldsOfControls();
    QStringList lines;
    for (const FieldInfo &info : AllFields()) {
        if (!shown.Kept(info.field))
            continue;
        const QString text = UnknownText(loaded_.held[size_t(info.byte)], true);
        const QComboBox *combo = ComboOf(info.field);
        if (combo == nullptr || combo->currentText() != text)
            lines << QStringLiteral("%1: %2").arg(Caption(info.field), text);
    }
    const QString text = lines.join(QLatin1Char('\n'));
    if (text != ui->Label3->text()) {
        ui->Label3->setText(text);
        platform::FitTextsToControls(this);
    }
    ui->Label3->setVisible(!lines.isEmpty());
}

void TForm6::ShowSettings()
{
    loaded_ = settings_fields::Decode(Exchange.ShownSettings, FieldsOfControls());
    ShowFields(loaded_);
}

void TForm6::CollectSettings()
{
    Exchange.EditedSettings = settings_fields::Encode(FieldsOfControls(), Exchange.EditedSettings);
}

void TForm6::ApplyFieldRules()
{
    ShowFields(settings_fields::ApplyFieldRules(FieldsOfControls()));
}

bool TForm6::ConfirmChangesOfUnknownValues()
{
    using namespace settings_fields;
    if (!deviceSettingsKnown_)
        return true;
    const SettingsRecord before = Exchange.DeviceSettings;
    const SettingsRecord after = Exchange.EditedSettings;
    auto value = [](const SettingsRecord &record, Field field) {
        const QString text = ValueText(record, field, true);
        return text.isEmpty() ? TForm6::tr("(none)") : text;
    };
    QStringList changes;
    bool unknownChanges = false;
    for (Field field : settings_fields::FieldsThatDiffer(before, after)) {
        unknownChanges = unknownChanges || !IsKnown(before, field);
        changes << QStringLiteral("%1: %2 -> %3").arg(Caption(field), value(before, field), value(after, field));
    }
    if (!unknownChanges)
        return true;
    platform::MessageBoxRequest request;
    request.caption = tr("Warning");
    request.text = tr("The device holds values this window does not know, and writing these settings "
                      "changes them:\r\n%1\r\nWrite the settings to the device?")
                       .arg(changes.join(QStringLiteral("\r\n")));
    request.icon = platform::BoxIcon::Warning;
    request.buttons = platform::BoxButtons::OkCancel;
    request.cancelIsDefault = true;
    request.owner = this;
    return platform::ShowMessageBox(request) == platform::ResultOk;
}

QStringList TForm6::FieldsThatDiffer(const SettingsRecord &a, const SettingsRecord &b) const
{
    QStringList names;
    for (settings_fields::Field field : settings_fields::FieldsThatDiffer(a, b))
        names << settings_fields::Caption(field);
    return names;
}
