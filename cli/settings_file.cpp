#include "cli/settings_file.h"

#include <QJsonDocument>
#include <QJsonValue>
#include <QRegularExpression>

namespace cli {

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

QString FieldWords(const settings_fields::SettingsFields &fields, Field field)
{
    return WordsOf(field, fields.Choice(field));
}

QJsonObject SettingsToJson(const SettingsRecord &record)
{
    const settings_fields::SettingsFields fields = settings_fields::Decode(record);
    QJsonObject named;
    for (const settings_fields::FieldInfo &info : settings_fields::AllFields()) {
        if (!InRecord(info.field))
            continue;
        const QString words = FieldWords(fields, info.field);
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
        return Refuse(refusal, QStringLiteral("settings file format %1 is not known; this talvor-cli reads format %2")
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
        const auto assignment = settings_fields::ParseAssignment(it.key() + QLatin1Char('=') + value, &refusal);
        if (!assignment)
            return std::nullopt;
        file.fields.push_back(*assignment);
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
        for (const settings_fields::Assignment &a : file.fields) {
            if (InRecord(a.field) && rawFields.Choice(a.field) != a.choice)
                return Refuse(refusal, QStringLiteral("the file's fields and its raw bytes disagree: %1 is \"%2\", "
                                                      "the raw bytes say \"%3\"; edit one, or leave \"raw\" out")
                                           .arg(FieldId(a.field), WordsOf(a.field, a.choice),
                                                FieldWords(rawFields, a.field)));
        }
    }
    settings_fields::SettingsFields fields = settings_fields::Decode(current);
    for (const settings_fields::Assignment &a : file.fields)
        fields.SetChoice(a.field, a.choice);
    fields = settings_fields::ApplyFieldRules(fields);
    for (const settings_fields::Assignment &a : file.fields) {
        if (fields.Choice(a.field) != a.choice)
            return Refuse(refusal, QStringLiteral("%1 cannot be \"%2\" with the other settings: "
                                                  "the rules make it \"%3\"")
                                       .arg(FieldId(a.field), WordsOf(a.field, a.choice), FieldWords(fields, a.field)));
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

}  // namespace cli
