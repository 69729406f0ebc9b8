#include "core/protocol/settings_file.h"

#include <QJsonDocument>
#include <QJsonValue>
#include <QRegularExpression>
#include <array>
#include <tuple>

namespace settings_file {

namespace {

using settings_fields::Field;
using settings_fields::Refusal;

// The record's fields: the device type is not in the record.
bool InRecord(Field field)
{
    return settings_fields::Info(field).byte >= 0;
}

QString WordsOf(Field field, int choice)
{
    const auto &values = settings_fields::Info(field).values;
    if (choice < 0 || size_t(choice) >= values.size())
        return QString();
    return QString::fromLatin1(values[size_t(choice)].words);
}

QString Quoted(const QString &words)
{
    return words.isEmpty() ? QStringLiteral("(none)") : QStringLiteral("\"%1\"").arg(words);
}

// "0xFF" or "0xFF, not a known value": the byte of a value the field does not know.
std::optional<uint8_t> UnknownByte(const QString &value)
{
    static const QRegularExpression unknown(QStringLiteral("^0x([0-9a-f]{2})(, not a known value)?$"),
                                            QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = unknown.match(value.trimmed());
    if (!match.hasMatch())
        return std::nullopt;
    return uint8_t(match.captured(1).toUInt(nullptr, 16));
}

std::nullopt_t Refuse(Refusal &refusal, const QString &text, const QStringList &allowed = {})
{
    refusal = {text, allowed};
    return std::nullopt;
}

}  // namespace

QString FieldId(settings_fields::Field field)
{
    return QString::fromLatin1(settings_fields::Info(field).id);
}

QString RecordHex(const SettingsRecord &record)
{
    QStringList bytes;
    for (uint8_t byte : record)
        bytes << QStringLiteral("%1").arg(byte, 2, 16, QLatin1Char('0')).toUpper();
    return bytes.join(QLatin1Char(' '));
}

std::optional<SettingsRecord> ParseRecordHex(const QString &text)
{
    QString digits = text;
    digits.remove(QRegularExpression(QStringLiteral("[\\s:-]")));
    if (digits.size() != 18)
        return std::nullopt;
    SettingsRecord record{};
    for (size_t i = 0; i < record.size(); ++i) {
        bool ok = false;
        record[i] = uint8_t(digits.mid(qsizetype(2 * i), 2).toUInt(&ok, 16));
        if (!ok)
            return std::nullopt;
    }
    return record;
}

QString ShownValue(const SettingsRecord &record, Field field)
{
    return Quoted(settings_fields::ValueText(record, field));
}

QJsonObject SettingsToJson(const SettingsRecord &record)
{
    QJsonObject named;
    for (const settings_fields::FieldInfo &info : settings_fields::AllFields()) {
        if (!InRecord(info.field))
            continue;
        const QString words = settings_fields::ValueText(record, info.field);
        named.insert(FieldId(info.field), words.isEmpty() ? QJsonValue() : QJsonValue(words));
    }
    return {{QStringLiteral("format"), kSettingsFormat},
            {QStringLiteral("fields"), named},
            {QStringLiteral("raw"), RecordHex(record)}};
}

std::optional<SettingsFile> ParseSettingsFile(const QByteArray &contents, Refusal &refusal)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(contents, &error);
    if (!document.isObject())
        return Refuse(refusal, QStringLiteral("not a settings file: %1").arg(error.errorString()));
    const QJsonObject top = document.object();
    const QJsonValue format = top.value(QStringLiteral("format"));
    if (format.toInt(-1) != kSettingsFormat)
        return Refuse(refusal, QStringLiteral("settings file format %1 is not known; this version of the tool reads format %2")
                                   .arg(format.isUndefined() ? QStringLiteral("(none)") : format.toVariant().toString())
                                   .arg(kSettingsFormat));
    if (!top.value(QStringLiteral("fields")).isObject())
        return Refuse(refusal, QStringLiteral("the settings file has no \"fields\" object"));

    SettingsFile file;
    const QJsonObject named = top.value(QStringLiteral("fields")).toObject();
    for (auto it = named.begin(); it != named.end(); ++it) {
        if (it.value().isNull())
            continue;
        const QString value = it.value().isDouble() ? QString::number(it.value().toInt()) : it.value().toString();
        if (const auto assignment = settings_fields::ParseAssignment(it.key() + QLatin1Char('=') + value, &refusal)) {
            file.fields.push_back(*assignment);
            continue;
        }
        const std::optional<Field> field = settings_fields::FieldById(it.key());
        const std::optional<uint8_t> byte = UnknownByte(value);
        if (!field || !byte || !InRecord(*field))
            return std::nullopt;
        file.unknown.push_back({*field, *byte});
    }
    if (top.contains(QStringLiteral("raw"))) {
        file.raw = ParseRecordHex(top.value(QStringLiteral("raw")).toString());
        if (!file.raw)
            return Refuse(refusal, QStringLiteral("\"raw\" is not 9 bytes in hex"));
    }
    return file;
}

std::optional<SettingsRecord> RecordForFile(const SettingsFile &file, const SettingsRecord &current,
                                            Refusal &refusal)
{
    if (file.raw) {
        const settings_fields::SettingsFields rawFields = settings_fields::Decode(*file.raw);
        auto disagree = [&](Field field, const QString &fileValue) {
            return Refuse(refusal, QStringLiteral("the file's fields and its raw bytes disagree: %1 is %2, "
                                                  "the raw bytes say %3; edit one, or leave \"raw\" out")
                                       .arg(FieldId(field), fileValue, ShownValue(*file.raw, field)));
        };
        for (const settings_fields::Assignment &a : file.fields) {
            if (InRecord(a.field) && rawFields.Choice(a.field) != a.choice)
                return disagree(a.field, Quoted(WordsOf(a.field, a.choice)));
        }
        for (const UnknownValue &u : file.unknown) {
            if ((*file.raw)[size_t(settings_fields::Info(u.field).byte)] != u.byte)
                return disagree(u.field, Quoted(settings_fields::UnknownText(u.byte, false)));
        }
    }

    // The bytes the file gives for its unknown values, and the record they come from.
    std::array<int, std::tuple_size<SettingsRecord>::value> unknownBytes;
    unknownBytes.fill(-1);
    SettingsRecord unknownSource = current;
    for (const UnknownValue &u : file.unknown) {
        const size_t byte = size_t(settings_fields::Info(u.field).byte);
        if (unknownBytes[byte] >= 0 && unknownBytes[byte] != u.byte)
            return Refuse(refusal, QStringLiteral("the file gives record byte %1 as both 0x%2 and 0x%3")
                                       .arg(byte)
                                       .arg(unknownBytes[byte], 2, 16, QLatin1Char('0'))
                                       .arg(u.byte, 2, 16, QLatin1Char('0')));
        unknownBytes[byte] = u.byte;
        unknownSource[byte] = u.byte;
    }
    // The rules see an unknown value as its record shows it.
    const settings_fields::SettingsFields unknownFields = settings_fields::Decode(file.raw ? *file.raw : unknownSource);

    settings_fields::SettingsFields fields = settings_fields::Decode(current);
    for (const settings_fields::FieldInfo &info : settings_fields::AllFields()) {
        // Where the file gives a byte, the fields it leaves without a choice
        // are as that byte has them, not as the reader does.
        if (InRecord(info.field) && unknownBytes[size_t(info.byte)] >= 0)
            fields.SetChoice(info.field, unknownFields.Choice(info.field));
    }
    for (const settings_fields::Assignment &a : file.fields)
        fields.SetChoice(a.field, a.choice);
    for (const UnknownValue &u : file.unknown) {
        fields.SetKept(u.field, true);
        fields.held[size_t(settings_fields::Info(u.field).byte)] = u.byte;
    }
    fields = settings_fields::ApplyFieldRules(fields);
    for (const settings_fields::Assignment &a : file.fields) {
        if (fields.Choice(a.field) != a.choice)
            return Refuse(refusal, QStringLiteral("%1 cannot be \"%2\" with the other settings: "
                                                  "the rules make it %3")
                                       .arg(FieldId(a.field), WordsOf(a.field, a.choice),
                                            Quoted(WordsOf(a.field, fields.Choice(a.field)))));
    }
    for (const UnknownValue &u : file.unknown) {
        if (!fields.Kept(u.field))
            return Refuse(refusal, QStringLiteral("%1 cannot keep %2 with the other settings: the rules make it %3")
                                       .arg(FieldId(u.field), Quoted(settings_fields::UnknownText(u.byte, false)),
                                            Quoted(WordsOf(u.field, fields.Choice(u.field)))));
    }
    return settings_fields::Encode(fields, current);
}

std::optional<SettingsRecord> RecordForAssignments(const QStringList &words, const SettingsRecord &current,
                                                   Refusal &refusal)
{
    settings_fields::SettingsFields fields = settings_fields::Decode(current);
    for (const QString &text : words) {
        const auto assignment = settings_fields::ParseAssignment(text, &refusal);
        if (!assignment)
            return std::nullopt;
        if (const auto refused = settings_fields::Choose(fields, *assignment)) {
            refusal = *refused;
            return std::nullopt;
        }
    }
    return settings_fields::Encode(fields, current);
}

}  // namespace settings_file
