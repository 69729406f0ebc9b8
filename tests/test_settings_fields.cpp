// The settings record's fields and their rules, without a window: which
// fields a record leaves enabled, the record through the fields and back,
// and "name=value" assignments.

#include <gtest/gtest.h>
#include <set>

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
    // Bits 2-3 of byte 4 = 1 are never written: the "0" rule stays as it was,
    // and collecting gives the rule shown.
    const SettingsFields third = Decode({0, 0, 0, 0, 0x0C, 1, 0, 0, 0});
    const SettingsFields odd = Decode({0, 0, 0, 0, 0x04, 1, 0, 0, 0}, third);
    EXPECT_EQ(odd.Choice(F::ZeroRule), 2);
    EXPECT_EQ(Encode(odd, {})[4], 0x0C);
    EXPECT_EQ(Decode({0, 0, 0, 0, 0x04, 1, 0, 0, 0}).Choice(F::ZeroRule), kNoChoice);
    // Bits outside the fields are dropped, so such a record never comes back.
    EXPECT_EQ(Encode(Decode({0xFE, 0, 0, 0, 0x30, 1, 0, 0x80, 0x18}), {}), kDefaultSettingsRecord);

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
        {{0x80, 0x02, 0, 0, 0x10, 0xFF, 0, 0x06, 0x08}, {}},  // only bits no field shows
    };
    for (const Row &row : rows) {
        EXPECT_EQ(FieldsThatDiffer(base, row.other), row.differ);
        EXPECT_EQ(FieldsThatDiffer(row.other, base), row.differ);
    }
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
