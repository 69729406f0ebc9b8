#include "core/protocol/settings_fields.h"

#include <QCoreApplication>

namespace settings_fields {

namespace {

// The window's own texts: the same context as its controls, so one
// translation serves both.
constexpr char kContext[] = "SettingsFields";

using F = Field;

const std::array<FieldInfo, kFieldCount> kFields = {{
    {F::DeviceType, "device_type", QT_TRANSLATE_NOOP("SettingsFields", "DeviceType"), -1, 0,
     {{0, "TalvorIV-M ETH", false}, {1, "TalvorIV-M ETH KEYS", false}}},
    {F::RedLedLevel, "red_led_level", QT_TRANSLATE_NOOP("SettingsFields", "Red Led"), 1, 0x01,
     {{0, "0", false}, {1, "1", false}}},
    {F::GreenLedLevel, "green_led_level", QT_TRANSLATE_NOOP("SettingsFields", "Green Led"), 2, 0x01,
     {{0, "0", false}, {1, "1", false}}},
    {F::BeepLevel, "beep_level", QT_TRANSLATE_NOOP("SettingsFields", "Beep"), 3, 0x01, {{0, "0", false}, {1, "1", false}}},
    {F::TemicOnly, "temic_only", QT_TRANSLATE_NOOP("SettingsFields", "\"Temic Only\""), 0, 0x01,
     {{0, QT_TRANSLATE_NOOP("SettingsFields", "OFF"), true}, {1, QT_TRANSLATE_NOOP("SettingsFields", "ON"), true}}},
    {F::KeyboardBacklight, "keyboard_backlight", QT_TRANSLATE_NOOP("SettingsFields", "Keyboard Backlight Brightness"), 8, 0x06,
     {{0, "0% -:- 100%", false},
      {1, QT_TRANSLATE_NOOP("SettingsFields", "Always OFF"), true},
      {2, QT_TRANSLATE_NOOP("SettingsFields", "Always ON"), true},
      {3, "50% -:-100%", false}}},
    // In the order of the window's radio buttons.
    {F::Interface, "interface", QT_TRANSLATE_NOOP("SettingsFields", "Interface"), 7, 0x03,
     {{2, "iButton", false},
      {0, QT_TRANSLATE_NOOP("SettingsFields", "Selected by cable connection"), true},
      {1, "Wiegand", false}}},
    {F::IButtonFamilyCode, "ibutton_family_code", QT_TRANSLATE_NOOP("SettingsFields", "iButton FC from Keybord"), 8, 0x01,
     {{0, "0x01", false}, {1, "0x03", false}}},
    {F::IButtonCardLength, "ibutton_card_length", QT_TRANSLATE_NOOP("SettingsFields", "iButton \"Card\" Length"), 5, 0x01,
     {{0, QT_TRANSLATE_NOOP("SettingsFields", "3 bytes"), true}, {1, QT_TRANSLATE_NOOP("SettingsFields", "5 bytes"), true}}},
    {F::WiegandCardLength, "wiegand_card_length", QT_TRANSLATE_NOOP("SettingsFields", "Wiegand \"Card\" Length"), 6, 0x01,
     {{0, QT_TRANSLATE_NOOP("SettingsFields", "26 bits"), true}, {1, QT_TRANSLATE_NOOP("SettingsFields", "42 bits"), true}}},
    {F::ButtonFormat, "button_format", QT_TRANSLATE_NOOP("SettingsFields", "Wiegand \"Button\" Format"), 4, 0x03,
     {{1, QT_TRANSLATE_NOOP("SettingsFields", "hid-09 (8 bits)"), true},
      {2, QT_TRANSLATE_NOOP("SettingsFields", "hid-00 (4 bits)"), true},
      {3, QT_TRANSLATE_NOOP("SettingsFields", "hid-11 (6 bits)"), true}}},
    // iButton with it on is the interface value 3.
    {F::OneTimeSending, "one_time_sending", QT_TRANSLATE_NOOP("SettingsFields", "\"One Time\" Sending"), 7, 0x01,
     {{0, QT_TRANSLATE_NOOP("SettingsFields", "OFF"), true}, {1, QT_TRANSLATE_NOOP("SettingsFields", "ON"), true}}},
    // Character by character whenever a button format is stored.
    {F::KeyboardInput, "keyboard_input", QT_TRANSLATE_NOOP("SettingsFields", "Input from Keyboard"), 4, 0x03,
     {{0, QT_TRANSLATE_NOOP("SettingsFields", "sending full buffer by \"Enter\""), true},
      {1, QT_TRANSLATE_NOOP("SettingsFields", "sending code of pressed button"), true}}},
    {F::ZeroRule, "zero_rule", QT_TRANSLATE_NOOP("SettingsFields", "Rule of button ''0\" input in buffer"), 4, 0x0C,
     {{0, QT_TRANSLATE_NOOP("SettingsFields", "befor: 0000, \"0\"->0x0a, after: 000a"), true},
      {2, QT_TRANSLATE_NOOP("SettingsFields", "befor: 0000, \"0\"->0x00, after: 0000"), true},
      {3, QT_TRANSLATE_NOOP("SettingsFields", "befor: FFFF, \"0\"->0x00, after: FFF0"), true}}},
}};

// Radio button order of the interface values.
constexpr int kIButton = 0;
constexpr int kCable = 1;
constexpr int kWiegand = 2;

int Bit0(int choice)
{
    return choice & 1;  // an empty list (-1) gives 1
}

QString Text(const FieldValue &value)
{
    return value.translatable ? QCoreApplication::translate(kContext, value.words)
                              : QString::fromLatin1(value.words);
}

// Allowed values as "code = words", for a refusal.
QStringList AllowedValues(const FieldInfo &info)
{
    QStringList allowed;
    for (const FieldValue &value : info.values)
        allowed << QStringLiteral("%1 = %2").arg(value.code).arg(QString::fromLatin1(value.words));
    return allowed;
}

std::optional<Assignment> Refuse(Refusal *refusal, const QString &text, const QStringList &allowed = {})
{
    if (refusal)
        *refusal = {text, allowed};
    return std::nullopt;
}

}  // namespace

const std::array<FieldInfo, kFieldCount> &AllFields()
{
    return kFields;
}

const FieldInfo &Info(Field field)
{
    return kFields[size_t(field)];
}

std::optional<Field> FieldById(const QString &id)
{
    for (const FieldInfo &info : kFields) {
        if (id == QLatin1String(info.id))
            return info.field;
    }
    return std::nullopt;
}

QString Caption(Field field)
{
    return QCoreApplication::translate(kContext, Info(field).caption);
}

QString Words(Field field, int choice)
{
    const auto &values = Info(field).values;
    if (choice < 0 || size_t(choice) >= values.size())
        return QString();
    return Text(values[size_t(choice)]);
}

SettingsFields ShownFields()
{
    SettingsFields fields;
    fields.choices.fill(kNoChoice);
    fields.enabled.fill(true);
    fields.SetChoice(F::DeviceType, 0);
    return fields;
}

namespace {

// The record into the fields as the window has always shown it: what the bits
// say, forced by the rules.
SettingsFields Fit(const SettingsRecord &b, SettingsFields fields)
{
    fields.SetChoice(F::TemicOnly, b[0] & 1);
    fields.SetChoice(F::RedLedLevel, b[1] & 1);
    fields.SetChoice(F::GreenLedLevel, b[2] & 1);
    fields.SetChoice(F::BeepLevel, b[3] & 1);

    const int buttonFormat = b[4] & 3;
    if (buttonFormat != 0) {
        fields.SetChoice(F::KeyboardInput, 1);
        fields.SetChoice(F::ButtonFormat, buttonFormat - 1);
    } else {
        fields.SetChoice(F::KeyboardInput, 0);
        fields.SetChoice(F::ButtonFormat, kNoChoice);
        switch ((b[4] >> 2) & 3) {
        case 0: fields.SetChoice(F::ZeroRule, 0); break;
        case 2: fields.SetChoice(F::ZeroRule, 1); break;
        case 3: fields.SetChoice(F::ZeroRule, 2); break;
        default: break;  // 1 is never written; the choice stays
        }
    }

    fields.SetChoice(F::IButtonCardLength, b[5] & 1);
    fields.SetChoice(F::WiegandCardLength, b[6] & 1);

    const int interfaces[] = {kCable, kWiegand, kIButton, kIButton};
    fields.SetChoice(F::Interface, interfaces[b[7] & 3]);
    fields.SetChoice(F::OneTimeSending, (b[7] & 3) == 3 ? 1 : 0);

    fields.SetChoice(F::IButtonFamilyCode, b[8] & 1);
    fields.SetChoice(F::KeyboardBacklight, (b[8] >> 1) & 3);
    return ApplyFieldRules(fields);
}

// The record of the choices alone, kept fields or not.
SettingsRecord EncodeChoices(const SettingsFields &fields, const SettingsRecord &previous)
{
    SettingsRecord b = previous;
    b[0] = uint8_t(Bit0(fields.Choice(F::TemicOnly)));
    b[1] = uint8_t(Bit0(fields.Choice(F::RedLedLevel)));
    b[2] = uint8_t(Bit0(fields.Choice(F::GreenLedLevel)));
    b[3] = uint8_t(Bit0(fields.Choice(F::BeepLevel)));

    if (fields.Choice(F::KeyboardInput) == 1) {
        b[4] = uint8_t((fields.Choice(F::ButtonFormat) + 1) & 3);
    } else {
        const int rule = fields.Choice(F::ZeroRule);
        b[4] = uint8_t(rule >= 1 ? 4 * (rule + 1) : 0);
    }

    b[5] = uint8_t(Bit0(fields.Choice(F::IButtonCardLength)));
    b[6] = uint8_t(Bit0(fields.Choice(F::WiegandCardLength)));

    switch (fields.Choice(F::Interface)) {
    case kCable: b[7] = 0; break;
    case kWiegand: b[7] = 1; break;
    case kIButton: b[7] = fields.Choice(F::OneTimeSending) == 1 ? 3 : 2; break;
    default: break;  // none chosen: the previous value stays
    }

    b[8] = uint8_t(((fields.Choice(F::KeyboardBacklight) * 2) & 7) | Bit0(fields.Choice(F::IButtonFamilyCode)));
    return b;
}

// The bits of a record byte that some field has.
uint8_t OwnedBits(int byte)
{
    uint8_t bits = 0;
    for (const FieldInfo &info : kFields) {
        if (info.byte == byte)
            bits |= info.bits;
    }
    return bits;
}

// The bits of a byte that fields which are not kept have.
uint8_t ChosenBits(const SettingsFields &fields, int byte)
{
    uint8_t bits = 0;
    for (const FieldInfo &info : kFields) {
        if (info.byte == byte && !fields.Kept(info.field))
            bits |= info.bits;
    }
    return bits;
}

// The bits of a byte that come from held: those of kept fields that no
// chosen field shares, and with every field kept also the bits no field has.
uint8_t KeptBits(const SettingsFields &fields, int byte)
{
    const uint8_t owned = OwnedBits(byte);
    const uint8_t chosen = ChosenBits(fields, byte);
    if (chosen == owned)
        return 0;
    return chosen == 0 ? 0xFF : uint8_t(owned & ~chosen);
}

std::array<bool, kFieldCount> KnownFields(const SettingsRecord &record)
{
    // What the window would write back for the record, as it shows it.
    const SettingsRecord shown = EncodeChoices(Fit(record, ShownFields()), record);
    std::array<bool, kFieldCount> known{};
    for (const FieldInfo &info : kFields) {
        if (info.byte < 0) {
            known[size_t(info.field)] = true;
            continue;
        }
        const uint8_t byte = record[size_t(info.byte)];
        const bool stray = (byte & ~OwnedBits(info.byte)) != 0;
        known[size_t(info.field)] = !stray && ((shown[size_t(info.byte)] ^ byte) & info.bits) == 0;
    }
    return known;
}

}  // namespace

SettingsFields Decode(const SettingsRecord &record, SettingsFields fields)
{
    fields = Fit(record, fields);
    fields.held = record;
    const std::array<bool, kFieldCount> known = KnownFields(record);
    for (const FieldInfo &info : kFields)
        fields.SetKept(info.field, !known[size_t(info.field)]);
    return fields;
}

SettingsRecord Encode(const SettingsFields &fields, const SettingsRecord &previous)
{
    SettingsRecord b = EncodeChoices(fields, previous);
    for (size_t i = 0; i < b.size(); ++i) {
        const uint8_t kept = KeptBits(fields, int(i));
        b[i] = uint8_t((b[i] & ~kept) | (fields.held[i] & kept));
    }
    return b;
}

SettingsFields ApplyFieldRules(SettingsFields f)
{
    auto force = [&f](Field field, int choice, bool enabled) {
        if (f.Choice(field) != choice)
            f.SetChoice(field, choice);
        f.SetEnabled(field, enabled);
    };
    const int interface = f.Choice(F::Interface);
    if (interface == kCable) {
        f.SetEnabled(F::IButtonFamilyCode, true);
        f.SetEnabled(F::IButtonCardLength, true);
        f.SetEnabled(F::WiegandCardLength, true);
        force(F::OneTimeSending, 0, false);
        force(F::KeyboardInput, 0, false);
    }
    if (interface == kIButton) {
        force(F::KeyboardInput, 0, false);
        f.SetEnabled(F::WiegandCardLength, false);
        f.SetEnabled(F::IButtonFamilyCode, true);
        f.SetEnabled(F::IButtonCardLength, true);
        f.SetEnabled(F::OneTimeSending, true);
    }
    if (interface == kWiegand) {
        f.SetEnabled(F::IButtonFamilyCode, false);
        f.SetEnabled(F::IButtonCardLength, false);
        force(F::OneTimeSending, 0, false);
        f.SetEnabled(F::WiegandCardLength, true);
        f.SetEnabled(F::KeyboardInput, true);
    }

    // A button format with no choice yet gets the first one once it applies.
    auto enableButtonFormat = [&f]() {
        f.SetEnabled(F::ButtonFormat, true);
        if (f.Choice(F::ButtonFormat) < 0)
            f.SetChoice(F::ButtonFormat, 0);
    };
    if (f.Choice(F::KeyboardInput) == 0) {
        f.SetEnabled(F::ZeroRule, true);
        force(F::ButtonFormat, kNoChoice, false);
    } else {
        force(F::ZeroRule, 0, false);
        if (interface == kWiegand)
            enableButtonFormat();
    }

    if (f.Choice(F::DeviceType) > 0) {
        f.SetEnabled(F::KeyboardBacklight, true);
        if (interface == kWiegand)
            f.SetEnabled(F::KeyboardInput, true);
        if (f.Choice(F::KeyboardInput) == 1)
            enableButtonFormat();
    } else {
        for (Field field : {F::KeyboardBacklight, F::IButtonFamilyCode, F::ButtonFormat, F::KeyboardInput, F::ZeroRule})
            f.SetEnabled(field, false);
    }

    // A kept value cannot stay where a chosen field writes its bits.
    for (bool changed = true; changed;) {
        changed = false;
        for (const FieldInfo &info : kFields) {
            if (f.Kept(info.field) && (info.bits & ChosenBits(f, info.byte)) != 0) {
                f.SetKept(info.field, false);
                changed = true;
            }
        }
    }
    return f;
}

bool IsKnown(const SettingsRecord &record, Field field)
{
    return KnownFields(record)[size_t(field)];
}

QString UnknownText(uint8_t byte, bool translated)
{
    static const char *const kUnknown = QT_TRANSLATE_NOOP("SettingsFields", "%1, not a known value");
    const QString text = translated ? QCoreApplication::translate(kContext, kUnknown) : QLatin1String(kUnknown);
    return text.arg(QLatin1String("0x") + QStringLiteral("%1").arg(byte, 2, 16, QLatin1Char('0')).toUpper());
}

QString ValueText(const SettingsRecord &record, Field field, bool translated)
{
    const FieldInfo &info = Info(field);
    if (!IsKnown(record, field))
        return UnknownText(record[size_t(info.byte)], translated);
    const int choice = Decode(record).Choice(field);
    if (choice < 0 || size_t(choice) >= info.values.size())
        return QString();
    return translated ? Text(info.values[size_t(choice)]) : QString::fromLatin1(info.values[size_t(choice)].words);
}

std::vector<Field> FieldsThatDiffer(const SettingsRecord &a, const SettingsRecord &b)
{
    // The interface and "One Time" sending share byte 7: iButton with and
    // without it differ in bit 0 only. The keyboard input goes with the
    // button format, whose bits tell it.
    const bool bothIButton = (a[7] & 2) && (b[7] & 2);
    const Field inRecordOrder[] = {F::TemicOnly,         F::RedLedLevel,       F::GreenLedLevel,
                                   F::BeepLevel,         F::ButtonFormat,      F::ZeroRule,
                                   F::IButtonCardLength, F::WiegandCardLength, F::Interface,
                                   F::IButtonFamilyCode, F::KeyboardBacklight};
    const std::array<bool, kFieldCount> knownA = KnownFields(a);
    const std::array<bool, kFieldCount> knownB = KnownFields(b);
    std::vector<Field> differ;
    for (Field field : inRecordOrder) {
        const FieldInfo &info = Info(field);
        const uint8_t byteA = a[size_t(info.byte)];
        const uint8_t byteB = b[size_t(info.byte)];
        if ((byteA ^ byteB) & info.bits)
            differ.push_back(field == F::Interface && bothIButton ? F::OneTimeSending : field);
        else if (byteA != byteB && (!knownA[size_t(field)] || !knownB[size_t(field)]))
            differ.push_back(field);
    }
    return differ;
}

std::optional<Assignment> ParseAssignment(const QString &text, Refusal *refusal)
{
    const qsizetype equals = text.indexOf(QLatin1Char('='));
    if (equals < 0)
        return Refuse(refusal, QStringLiteral("\"%1\" is not NAME=VALUE").arg(text));
    const QString id = text.left(equals).trimmed();
    const QString value = text.mid(equals + 1).trimmed();
    const std::optional<Field> field = FieldById(id);
    if (!field) {
        QStringList ids;
        for (const FieldInfo &info : kFields)
            ids << QString::fromLatin1(info.id);
        return Refuse(refusal, QStringLiteral("There is no setting \"%1\"").arg(id), ids);
    }

    const FieldInfo &info = Info(*field);
    bool isNumber = false;
    const int code = value.toInt(&isNumber);
    for (size_t i = 0; i < info.values.size(); ++i) {
        const FieldValue &allowed = info.values[i];
        if (value.compare(QLatin1String(allowed.words), Qt::CaseInsensitive) == 0 ||
            value.compare(Text(allowed), Qt::CaseInsensitive) == 0 || (isNumber && code == allowed.code))
            return Assignment{*field, int(i)};
    }
    return Refuse(refusal, QStringLiteral("%1 does not allow \"%2\"").arg(QLatin1String(info.id), value),
                  AllowedValues(info));
}

std::optional<Refusal> Choose(SettingsFields &fields, const Assignment &assignment)
{
    const FieldInfo &info = Info(assignment.field);
    if (assignment.choice < 0 || size_t(assignment.choice) >= info.values.size())
        return Refusal{QStringLiteral("%1 has no value number %2").arg(QLatin1String(info.id)).arg(assignment.choice),
                       AllowedValues(info)};
    if (!fields.Enabled(assignment.field))
        return Refusal{QStringLiteral("%1 cannot be changed with this device type, interface and keyboard input")
                           .arg(QLatin1String(info.id)),
                       {}};
    fields.SetChoice(assignment.field, assignment.choice);
    // Any choice may end a kept value that shares its byte, not only the
    // three that steer the rules.
    fields = ApplyFieldRules(fields);
    return std::nullopt;
}

}  // namespace settings_fields
