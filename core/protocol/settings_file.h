#pragma once
// A reader's settings as a file: JSON with a format number, the record's
// named fields with their values in words, and the raw 9 bytes in hex.
//
//   {"format": 1,
//    "fields": {"interface": "Wiegand", "wiegand_card_length": "26 bits", ...},
//    "raw": "00 00 00 00 00 01 01 00 00"}
//
// A field without a choice is null; a value the field does not know is its
// byte, "0xFF, not a known value", and a record written back from the file
// keeps that byte. And what the user asks for, from a file or from NAME=VALUE
// words, becomes the record to write under the settings window's field rules,
// or a refusal that says why before anything is written. The settings window
// and talvor-cli both read and write these files through here.

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

#include "core/protocol/settings_fields.h"

namespace settings_file {

inline constexpr int kSettingsFormat = 1;

// A field's name in the file and in NAME=VALUE words.
QString FieldId(settings_fields::Field field);

QString RecordHex(const SettingsRecord &record);
// Nine hex bytes, with blanks, ':' or '-' between them or none.
std::optional<SettingsRecord> ParseRecordHex(const QString &text);

// A field's value in the record as the file and the output say it, quoted;
// (none) when the field has no choice.
QString ShownValue(const SettingsRecord &record, settings_fields::Field field);

QJsonObject SettingsToJson(const SettingsRecord &record);

// A value the field does not know, given as the byte the record holds.
struct UnknownValue {
    settings_fields::Field field;
    uint8_t byte;
};

struct SettingsFile {
    std::vector<settings_fields::Assignment> fields;  // in the file's order, nulls left out
    std::vector<UnknownValue> unknown;
    std::optional<SettingsRecord> raw;
};
// The file's contents, or nothing with refusal set (bad JSON, unknown format,
// an unknown field or a value the field does not allow).
std::optional<SettingsFile> ParseSettingsFile(const QByteArray &contents, settings_fields::Refusal &refusal);

// The record to write for a file: every field it names is taken as a record
// would give it (the window's enabled states do not apply), an unknown value
// as its byte; the rest stay as on the reader, and so do the bits of values
// the reader holds that the tool does not know. Refused when the rules would
// change a value it names, or when its fields and its raw bytes disagree.
std::optional<SettingsRecord> RecordForFile(const SettingsFile &file, const SettingsRecord &current,
                                            settings_fields::Refusal &refusal);

// The record to write for NAME=VALUE words, taken one by one as the window's
// controls take them: only fields the device type, interface and keyboard
// input leave enabled.
std::optional<SettingsRecord> RecordForAssignments(const QStringList &words, const SettingsRecord &current,
                                                   settings_fields::Refusal &refusal);

}  // namespace settings_file
