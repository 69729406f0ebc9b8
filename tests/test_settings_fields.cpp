// The settings record's fields and their rules, without a window: which
// fields a record leaves enabled, the record through the fields and back,
// values the fields do not know, any record through the settings
// file and back, and "name=value" assignments.

#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>
#include <random>
#include <set>

#include "core/protocol/settings_file.h"
#include "core/protocol/settings_fields.h"

namespace settings_fields {

void PrintTo(Field field, std::ostream *os) { *os << Info(field).id; }

}  // namespace settings_fields

namespace {

using namespace settings_fields;
using F = Field;

std::set<Field> EnabledOf(const SettingsFields &fields)
{
    std::set<Field> enabled;
    for (const FieldInfo &info : AllFields()) {
        if (fields.Enabled(info.field))
            enabled.insert(info.field);
    }
    return enabled;
}

Assignment Parsed(const char *text)
{
    Refusal refusal;
    const std::optional<Assignment> assignment = ParseAssignment(QString::fromUtf8(text), &refusal);
    EXPECT_TRUE(assignment) << text << ": " << refusal.text.toStdString();
    return assignment.value_or(Assignment{F::DeviceType, kNoChoice});
}

// Always enabled, whatever the rules: the model, the three line levels,
// "Temic Only" and the interface.
const std::set<Field> kAlways = {F::DeviceType, F::RedLedLevel, F::GreenLedLevel, F::BeepLevel, F::TemicOnly,
                                 F::Interface};

std::set<Field> With(std::set<Field> fields)
{
    fields.insert(kAlways.begin(), kAlways.end());
    return fields;
}

struct RuleRow {
    const char *name;
    SettingsRecord record;  // byte 7 picks the interface, byte 4 the keyboard input
    int model;              // device type chosen after loading
    int keyboard;           // keyboard input chosen afterwards, kNoChoice: none
    int expectedKeyboard;
    std::set<Field> enabled;
};

void PrintTo(const RuleRow &row, std::ostream *os) { *os << row.name; }

class FieldRules : public ::testing::TestWithParam<RuleRow> {};

TEST_P(FieldRules, EnabledFieldsFollowInterfaceModelAndKeyboardInput)
{
    const RuleRow &row = GetParam();
    SettingsFields fields = Decode(row.record);
    ASSERT_FALSE(Choose(fields, {F::DeviceType, row.model}));
    if (row.keyboard != kNoChoice) {
        ASSERT_FALSE(Choose(fields, {F::KeyboardInput, row.keyboard}));
    }
    EXPECT_EQ(fields.Choice(F::KeyboardInput), row.expectedKeyboard);
    EXPECT_EQ(EnabledOf(fields), With(row.enabled));
    // The rules are settled: applying them again changes nothing.
    EXPECT_EQ(ApplyFieldRules(fields), fields);
}

// The keyboard input is loaded as "sending code of pressed button" (byte 4 = 2)
// where the row has to show that it is forced back.
constexpr F kBacklight = F::KeyboardBacklight, kFamilyCode = F::IButtonFamilyCode,
            kIButtonLength = F::IButtonCardLength, kWiegandLength = F::WiegandCardLength;
constexpr SettingsRecord kCable = {0, 0, 0, 0, 2, 1, 0, 0, 0}, kIButton = {0, 0, 0, 0, 2, 1, 0, 2, 0},
                         kWiegandFull = {0, 0, 0, 0, 0, 1, 0, 1, 0}, kWiegandButton = {0, 0, 0, 0, 2, 1, 0, 1, 0};

INSTANTIATE_TEST_SUITE_P(
    Table, FieldRules,
    ::testing::Values(
        RuleRow{"cable_eth", kCable, 0, kNoChoice, 0, {kIButtonLength, kWiegandLength}},
        RuleRow{"cable_keys", kCable, 1, kNoChoice, 0,
                {kBacklight, kFamilyCode, kIButtonLength, kWiegandLength, F::ZeroRule}},
        RuleRow{"ibutton_eth", kIButton, 0, kNoChoice, 0, {kIButtonLength, F::OneTimeSending}},
        RuleRow{"ibutton_keys", kIButton, 1, kNoChoice, 0,
                {kBacklight, kFamilyCode, kIButtonLength, F::OneTimeSending, F::ZeroRule}},
        RuleRow{"wiegand_eth_keeps_0", kWiegandFull, 0, kNoChoice, 0, {kWiegandLength}},
        RuleRow{"wiegand_eth_keeps_1", kWiegandButton, 0, kNoChoice, 1, {kWiegandLength}},
        RuleRow{"wiegand_keys_0", kWiegandButton, 1, 0, 0, {kBacklight, kWiegandLength, F::KeyboardInput, F::ZeroRule}},
        RuleRow{"wiegand_keys_1", kWiegandFull, 1, 1, 1,
                {kBacklight, kWiegandLength, F::KeyboardInput, F::ButtonFormat}}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(FieldRules, ForcedChoicesWhenTheInterfaceChanges)
{
    // Wiegand, KEYS, "hid-11 (6 bits)": leaving Wiegand forces the full
    // buffer and clears the button format.
    for (const char *interface : {"interface=iButton", "interface=Selected by cable connection"}) {
        SettingsFields fields = Decode({0, 0, 0, 0, 3, 1, 0, 1, 0});
        ASSERT_FALSE(Choose(fields, Parsed("device_type=TalvorIV-M ETH KEYS")));
        ASSERT_EQ(fields.Choice(F::ButtonFormat), 2);
        ASSERT_FALSE(Choose(fields, Parsed(interface)));
        EXPECT_EQ(fields.Choice(F::KeyboardInput), 0) << interface;
        EXPECT_EQ(fields.Choice(F::ButtonFormat), kNoChoice) << interface;
    }
    // iButton with "One Time" sending: Wiegand and the cable force it off.
    for (const char *interface : {"interface=Wiegand", "interface=0"}) {
        SettingsFields fields = Decode({0, 0, 0, 0, 0, 1, 0, 3, 0});
        ASSERT_EQ(fields.Choice(F::OneTimeSending), 1);
        ASSERT_FALSE(Choose(fields, Parsed(interface)));
        EXPECT_EQ(fields.Choice(F::OneTimeSending), 0) << interface;
        EXPECT_FALSE(fields.Enabled(F::OneTimeSending)) << interface;
    }
    // KEYS with Wiegand: the character mode preselects the first button format.
    SettingsFields fields = Decode({0, 0, 0, 0, 0, 1, 0, 1, 0});
    ASSERT_FALSE(Choose(fields, {F::DeviceType, 1}));
    ASSERT_EQ(fields.Choice(F::ButtonFormat), kNoChoice);
    ASSERT_FALSE(Choose(fields, Parsed("keyboard_input=sending code of pressed button")));
    EXPECT_EQ(Words(F::ButtonFormat, fields.Choice(F::ButtonFormat)), "hid-09 (8 bits)");
    EXPECT_EQ(fields.Choice(F::ZeroRule), 0);
    EXPECT_EQ(Encode(fields, {})[4], 1);
}

TEST(FieldRecord, RecordsSurviveTheFields)
{
    const SettingsRecord records[] = {
        kDefaultSettingsRecord,
        {1, 0, 1, 0, 2, 0, 1, 1, 5},     // Wiegand, "hid-00 (4 bits)", 0x03, "Always ON"
        {0, 1, 0, 1, 0x0C, 1, 0, 3, 2},  // iButton "ON", third "0" rule, "Always OFF"
        {0, 0, 0, 0, 0x08, 0, 0, 0, 6},  // cable, second "0" rule, "50% -:-100%"
        {1, 1, 1, 1, 0, 1, 1, 2, 1},
    };
    for (const SettingsRecord &record : records) {
        for (int model : {0, 1}) {
            SettingsFields shown = ShownFields();
            shown.SetChoice(F::DeviceType, model);
            EXPECT_EQ(Encode(Decode(record, shown), {}), record)
                << int(record[4]) << " " << int(record[7]) << " " << int(record[8]) << " model " << model;
        }
    }
}

TEST(FieldRecord, OddRecordsAndEmptyFields)
{
    // Bits 2-3 of byte 4 = 1 are never written: the "0" rule's choice stays
    // as it was, the reader's value is kept until a rule is chosen.
    const SettingsFields third = Decode({0, 0, 0, 0, 0x0C, 1, 0, 0, 0});
    SettingsFields odd = Decode({0, 0, 0, 0, 0x04, 1, 0, 0, 0}, third);
    EXPECT_EQ(odd.Choice(F::ZeroRule), 2);
    EXPECT_TRUE(odd.Kept(F::ZeroRule));
    EXPECT_EQ(Encode(odd, {})[4], 0x04);
    odd.SetChoice(F::ZeroRule, 2);
    EXPECT_EQ(Encode(odd, {})[4], 0x0C);
    EXPECT_EQ(Decode({0, 0, 0, 0, 0x04, 1, 0, 0, 0}).Choice(F::ZeroRule), kNoChoice);
    // Bits outside the fields are kept, and so is the rest of their byte.
    const SettingsRecord stray = {0xFE, 0, 0, 0, 0x30, 1, 0, 0x80, 0x18};
    EXPECT_EQ(Encode(Decode(stray), {}), stray);

    // Empty lists: one-bit fields give 1, the backlight 3, the "0" rule 0;
    // with no interface byte 7 keeps what it held.
    EXPECT_EQ(Encode(ShownFields(), {0, 0, 0, 0, 0, 0, 0, 2, 0}), (SettingsRecord{1, 1, 1, 1, 0, 1, 1, 2, 7}));

    // Byte 7 = 3 is iButton with "One Time" sending; without it, 2.
    SettingsFields fields = Decode({0, 0, 0, 0, 0, 1, 0, 3, 0});
    EXPECT_EQ(Words(F::Interface, fields.Choice(F::Interface)), "iButton");
    ASSERT_FALSE(Choose(fields, Parsed("one_time_sending=off")));
    EXPECT_EQ(Encode(fields, {})[7], 2);
}

TEST(FieldRecord, FieldsThatDifferInRecordOrder)
{
    const SettingsRecord base = {0, 0, 0, 0, 0, 1, 0, 2, 0};
    struct Row {
        SettingsRecord other;
        std::vector<Field> differ;
    };
    const Row rows[] = {
        {base, {}},
        {{1, 0, 0, 0, 0, 1, 0, 2, 6}, {F::TemicOnly, F::KeyboardBacklight}},
        {{0, 1, 1, 1, 0, 0, 1, 2, 1},
         {F::RedLedLevel, F::GreenLedLevel, F::BeepLevel, F::IButtonCardLength, F::WiegandCardLength,
          F::IButtonFamilyCode}},
        {{0, 0, 0, 0, 0x0B, 1, 0, 2, 0}, {F::ButtonFormat, F::ZeroRule}},
        {{0, 0, 0, 0, 0, 1, 0, 3, 0}, {F::OneTimeSending}},  // both iButton
        {{0, 0, 0, 0, 0, 1, 0, 1, 0}, {F::Interface}},
        // Only bits no field has: the fields of their bytes.
        {{0x80, 0x02, 0, 0, 0x10, 0xFF, 0, 0x06, 0x08},
         {F::TemicOnly, F::RedLedLevel, F::ButtonFormat, F::ZeroRule, F::IButtonCardLength, F::Interface,
          F::IButtonFamilyCode, F::KeyboardBacklight}},
    };
    for (const Row &row : rows) {
        EXPECT_EQ(FieldsThatDiffer(base, row.other), row.differ);
        EXPECT_EQ(FieldsThatDiffer(row.other, base), row.differ);
    }
}

constexpr SettingsRecord kAllFF = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

TEST(UnknownValues, WhatTheFieldsCannotShow)
{
    std::set<Field> all;
    for (const FieldInfo &info : AllFields()) {
        if (info.byte >= 0)
            all.insert(info.field);
    }
    struct Row {
        const char *name;
        SettingsRecord record;
        std::set<Field> unknown;
    };
    const Row rows[] = {
        {"all_00", {}, {}},
        {"all_ff", kAllFF, all},
        {"zero_rule_never_written", {0, 0, 0, 0, 0x04, 1, 0, 0, 0}, {F::ZeroRule}},
        // The rules write character mode only with Wiegand, and no "0" rule with it.
        {"keys_without_wiegand", {0, 0, 0, 0, 0x02, 1, 0, 0, 0}, {F::KeyboardInput, F::ButtonFormat}},
        {"zero_rule_in_character_mode", {0, 0, 0, 0, 0x09, 1, 0, 1, 0}, {F::ZeroRule}},
        {"bit_no_field_has", {0, 0, 0, 0, 0, 1, 0, 0, 0x08}, {F::IButtonFamilyCode, F::KeyboardBacklight}},
    };
    for (const Row &row : rows) {
        for (Field field : all)
            EXPECT_EQ(!IsKnown(row.record, field), row.unknown.count(field) > 0) << row.name << " " << Info(field).id;
    }
    EXPECT_EQ(ValueText(kAllFF, F::TemicOnly), "0xFF, not a known value");
    EXPECT_EQ(ValueText({0, 0, 0, 0, 0x04, 1, 0, 0, 0}, F::ZeroRule), "0x04, not a known value");
    EXPECT_EQ(ValueText({}, F::TemicOnly), "OFF");
    EXPECT_EQ(ValueText({}, F::ButtonFormat), "");  // no choice with a full buffer
}

TEST(UnknownValues, AssignmentsChangeOnlyWhatTheyName)
{
    struct Row {
        QStringList words;
        size_t byte;
        uint8_t value;
    };
    const Row rows[] = {
        {{"red_led_level=0"}, 1, 0x00},
        // The family code's bit stays, the bits no field has go with the byte's change.
        {{"device_type=TalvorIV-M ETH KEYS", "keyboard_backlight=Always ON"}, 8, 0x05},
        // "One Time" sending shares the interface's bits; the keyboard's byte stays.
        {{"interface=Wiegand"}, 7, 0x01},
    };
    for (const Row &row : rows) {
        Refusal refusal;
        const std::optional<SettingsRecord> target = settings_file::RecordForAssignments(row.words, kAllFF, refusal);
        ASSERT_TRUE(target) << refusal.text.toStdString();
        SettingsRecord expected = kAllFF;
        expected[row.byte] = row.value;
        EXPECT_EQ(*target, expected) << row.words.join(' ').toStdString();
    }
}

// The record through the window's fields untouched, and through the settings
// file onto the same reader and onto another: it comes back byte for byte.
void ExpectRoundTrip(const SettingsRecord &record, const SettingsRecord &other)
{
    for (int model : {0, 1}) {
        SettingsFields shown = ShownFields();
        shown.SetChoice(F::DeviceType, model);
        shown = Decode(record, shown);
        EXPECT_EQ(Encode(shown, other), record);
        // Rules applied again (another model chosen, say) keep what is kept.
        EXPECT_EQ(ApplyFieldRules(shown), shown);
    }
    Refusal refusal;
    std::optional<settings_file::SettingsFile> file =
        settings_file::ParseSettingsFile(QJsonDocument(settings_file::SettingsToJson(record)).toJson(), refusal);
    ASSERT_TRUE(file) << refusal.text.toStdString();
    for (const SettingsRecord &reader : {record, other}) {
        const std::optional<SettingsRecord> target = settings_file::RecordForFile(*file, reader, refusal);
        ASSERT_TRUE(target) << refusal.text.toStdString();
        EXPECT_EQ(*target, record);
        EXPECT_TRUE(FieldsThatDiffer(record, *target).empty());
    }
    file->raw.reset();  // edited files may leave it out
    EXPECT_EQ(settings_file::RecordForFile(*file, record, refusal), std::optional<SettingsRecord>(record));
}

TEST(RecordRoundTrip, NamedAndRandomRecords)
{
    ExpectRoundTrip({}, kAllFF);
    ExpectRoundTrip(kAllFF, {});
    std::mt19937 random(18);
    // Half the bytes within the fields' bits, so known and unknown values mix.
    auto byte = [&random] { return uint8_t(random() & (random() & 1 ? 0xFF : 0x0F)); };
    for (int i = 0; i < 3000 && !HasFailure(); ++i) {
        SettingsRecord record, other;
        for (size_t b = 0; b < record.size(); ++b) {
            record[b] = byte();
            other[b] = byte();
        }
        SCOPED_TRACE(settings_file::RecordHex(record).toStdString());
        ExpectRoundTrip(record, other);
        // One bit apart: some field says so.
        SettingsRecord flipped = record;
        flipped[random() % 9] ^= uint8_t(1u << (random() % 8));
        EXPECT_FALSE(FieldsThatDiffer(record, flipped).empty()) << settings_file::RecordHex(flipped).toStdString();
    }
}

TEST(RecordRoundTrip, EarlierFilesMeanWhatTheySaid)
{
    // Written for a reader that holds nine 0xFF bytes before such values were
    // known: the values the window showed for them, and the raw bytes.
    const QByteArray earlier = R"({"format": 1, "raw": "FF FF FF FF FF FF FF FF FF", "fields": {
        "temic_only": "ON", "red_led_level": "1", "green_led_level": "1", "beep_level": "1",
        "keyboard_backlight": "50% -:-100%", "interface": "iButton", "ibutton_family_code": "0x03",
        "ibutton_card_length": "5 bytes", "wiegand_card_length": "42 bits", "button_format": null,
        "one_time_sending": "ON", "keyboard_input": "sending full buffer by \"Enter\"", "zero_rule": null}})";
    Refusal refusal;
    const std::optional<settings_file::SettingsFile> file = settings_file::ParseSettingsFile(earlier, refusal);
    ASSERT_TRUE(file) << refusal.text.toStdString();
    // The values it names; the "0" rule it leaves out keeps the reader's bits.
    EXPECT_EQ(settings_file::RecordForFile(*file, kAllFF, refusal),
              std::optional<SettingsRecord>({1, 1, 1, 1, 0x0C, 1, 1, 3, 7}));
}

TEST(FieldAssignment, WordsCodesAndRefusals)
{
    struct Row {
        const char *text;
        Field field;
        int choice;
    };
    const Row accepted[] = {
        {"device_type=TalvorIV-M ETH KEYS", F::DeviceType, 1},
        {"zero_rule=befor: FFFF, \"0\"->0x00, after: FFF0", F::ZeroRule, 2},
        {"zero_rule=2", F::ZeroRule, 1},
        {"button_format=1", F::ButtonFormat, 0},
        {"interface = wiegand", F::Interface, 2},
        {"interface=2", F::Interface, 0},
        {"ibutton_family_code=0x03", F::IButtonFamilyCode, 1},
    };
    for (const Row &row : accepted) {
        const Assignment assignment = Parsed(row.text);
        EXPECT_EQ(assignment.field, row.field) << row.text;
        EXPECT_EQ(assignment.choice, row.choice) << row.text;
    }

    Refusal refusal;
    EXPECT_FALSE(ParseAssignment("zero_rule=1", &refusal));
    EXPECT_TRUE(refusal.text.contains("zero_rule")) << refusal.text.toStdString();
    EXPECT_EQ(refusal.allowed, QStringList({"0 = befor: 0000, \"0\"->0x0a, after: 000a",
                                            "2 = befor: 0000, \"0\"->0x00, after: 0000",
                                            "3 = befor: FFFF, \"0\"->0x00, after: FFF0"}));
    EXPECT_FALSE(ParseAssignment("interface=3", &refusal));
    EXPECT_EQ(refusal.allowed, QStringList({"2 = iButton", "0 = Selected by cable connection", "1 = Wiegand"}));
    EXPECT_FALSE(ParseAssignment("beep=1", &refusal));
    EXPECT_TRUE(refusal.allowed.contains("beep_level"));
    EXPECT_EQ(refusal.allowed.size(), kFieldCount);
    EXPECT_FALSE(ParseAssignment("beep_level", &refusal));
    EXPECT_FALSE(refusal.text.isEmpty());

    // A field the rules have disabled takes nothing, and nothing changes.
    SettingsFields fields = Decode(kDefaultSettingsRecord);  // cable, plain model
    const SettingsFields before = fields;
    for (const char *text : {"keyboard_input=1", "keyboard_backlight=0", "one_time_sending=ON"}) {
        const std::optional<Refusal> refused = Choose(fields, Parsed(text));
        ASSERT_TRUE(refused) << text;
        EXPECT_FALSE(refused->text.isEmpty());
        EXPECT_EQ(fields, before) << text;
    }
    EXPECT_TRUE(Choose(fields, {F::RedLedLevel, 2}));
}

TEST(FieldNames, EveryFieldHasItsOwnIdAndPlace)
{
    // FieldById finds the first of its name, so a repeated id fails here.
    for (const FieldInfo &info : AllFields()) {
        EXPECT_TRUE(FieldById(QString::fromLatin1(info.id)) == info.field) << info.id;
        EXPECT_EQ(&Info(info.field), &info);
        EXPECT_EQ(info.byte < 0, info.field == F::DeviceType) << info.id;
    }
    EXPECT_FALSE(FieldById("DeviceType"));
}

}  // namespace
