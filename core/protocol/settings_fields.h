#pragma once
// The settings record as the settings window shows it: named fields, each a
// list of choices, and the rules that enable, disable and force them. Pure
// values and functions, so the window, a command line and a fuzzer all run
// the same rules.

#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "core/protocol/settings_record.h"

namespace settings_fields {

// In the window's order. DeviceType is not in the record: the reader does not
// report its model, yet the model decides which fields apply.
enum class Field {
    DeviceType,
    RedLedLevel,
    GreenLedLevel,
    BeepLevel,
    TemicOnly,
    KeyboardBacklight,
    Interface,
    IButtonFamilyCode,
    IButtonCardLength,
    WiegandCardLength,
    ButtonFormat,
    OneTimeSending,
    KeyboardInput,
    ZeroRule,
};
inline constexpr int kFieldCount = 14;

// A choice is an index into the field's values; an empty list has none.
inline constexpr int kNoChoice = -1;

struct FieldValue {
    int code;           // what the record holds for it (device type, keyboard input: the index)
    const char *words;  // English, exactly as the window's list shows it
    bool translatable;  // names and numbers stay as they are
};

struct FieldInfo {
    Field field;
    const char *id;       // stable snake_case name
    const char *caption;  // English caption of the field in the window
    int byte;             // -1: not in the record
    uint8_t bits;         // the bits of that byte the field shares
    std::vector<FieldValue> values;
};

const std::array<FieldInfo, kFieldCount> &AllFields();
const FieldInfo &Info(Field field);
std::optional<Field> FieldById(const QString &id);

// The window's texts in the language of the window (the same translations).
QString Caption(Field field);
QString Words(Field field, int choice);

// What the controls hold: a choice per field and whether the user may change it.
// A field whose value in the record is none of its values (see IsKnown) is
// kept: its choice is what the rules work with, but the record written back
// has the reader's own bits there, from held, until a choice replaces it.
struct SettingsFields {
    std::array<int, kFieldCount> choices;
    std::array<bool, kFieldCount> enabled;
    std::array<bool, kFieldCount> kept{};
    SettingsRecord held{};

    int Choice(Field field) const { return choices[size_t(field)]; }
    // A choice made replaces a kept value.
    void SetChoice(Field field, int choice)
    {
        choices[size_t(field)] = choice;
        kept[size_t(field)] = false;
    }
    bool Enabled(Field field) const { return enabled[size_t(field)]; }
    void SetEnabled(Field field, bool on) { enabled[size_t(field)] = on; }
    bool Kept(Field field) const { return kept[size_t(field)]; }
    void SetKept(Field field, bool on) { kept[size_t(field)] = on; }
    bool operator==(const SettingsFields &other) const
    {
        return choices == other.choices && enabled == other.enabled && kept == other.kept && held == other.held;
    }
};

// A fresh showing: the plain model, every list empty and enabled, no interface.
SettingsFields ShownFields();

// The record into the fields, then the rules. A "0" rule the window never
// writes (bits 2-3 of byte 4 = 1) leaves that field's choice as it was; the
// device type is kept. Fields whose value is not known are kept, with the
// record as held.
SettingsFields Decode(const SettingsRecord &record, SettingsFields fields = ShownFields());

// The fields into a record. An empty one-bit list gives 1, an empty backlight
// 3; with no interface chosen byte 7 stays as in previous. Kept fields give
// their bits of held; the bits of a byte that no field has come from held
// only while every field of that byte is kept.
SettingsRecord Encode(const SettingsFields &fields, const SettingsRecord &previous);

// Enables, disables and forces by the interface, the model and the keyboard
// input. A kept field the rules force to another choice is kept no longer,
// nor one that shares its bits with a field that is not kept.
SettingsFields ApplyFieldRules(SettingsFields fields);

// False when the field's value in the record is none the window shows: its
// byte holds bits that no field has, or the field's bits are a value the
// field does not have or one its rules never write with the rest of the
// record. The fields, as the window shows them, would write something else.
bool IsKnown(const SettingsRecord &record, Field field);
// A value that is not known: "0xFF, not a known value", with the byte the
// record holds, in the window's language or in English.
QString UnknownText(uint8_t byte, bool translated);
// The field's value in the record: its words, UnknownText, or empty when the
// field has no choice (the button format while keyboard input is a full buffer).
QString ValueText(const SettingsRecord &record, Field field, bool translated = false);

// The fields in which two records differ, in record order; a change between
// two iButton records is the "One Time" sending. Bits no field has count for
// the fields of their byte when either record's value there is not known, so
// two records differ in some field exactly when they are not equal.
std::vector<Field> FieldsThatDiffer(const SettingsRecord &a, const SettingsRecord &b);

struct Assignment {
    Field field;
    int choice;
};

// Why an assignment was refused, in English; allowed lists the field's values.
struct Refusal {
    QString text;
    QStringList allowed;
};

// "name=value": the value as its words (any case) or as its code.
std::optional<Assignment> ParseAssignment(const QString &text, Refusal *refusal = nullptr);

// The user's choice as the window takes it: only an enabled field, and the
// rules follow a change of the model, the interface or the keyboard input.
std::optional<Refusal> Choose(SettingsFields &fields, const Assignment &assignment);

}  // namespace settings_fields
