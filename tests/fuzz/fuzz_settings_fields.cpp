// Any record, model and "name=value" text through the settings fields: the
// fields give the record back unchanged, the rules are settled after every
// step, and an accepted choice is kept.

#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "core/protocol/settings_fields.h"

namespace {

using namespace settings_fields;

void Require(bool condition)
{
    if (!condition)
        std::abort();
}

void RequireSettled(const SettingsFields &fields)
{
    Require(ApplyFieldRules(fields) == fields);
    for (const FieldInfo &info : AllFields()) {
        const int choice = fields.Choice(info.field);
        Require(choice >= kNoChoice && choice < int(info.values.size()));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // Record, then one byte for the model and the previous byte 7, then the text.
    if (size < 10)
        return 0;
    SettingsRecord record;
    std::copy(data, data + 9, record.begin());
    SettingsFields fields = ShownFields();
    fields.SetChoice(Field::DeviceType, data[9] & 1);
    SettingsRecord previous{};
    previous[7] = data[9];

    fields = Decode(record, fields);
    RequireSettled(fields);
    const SettingsRecord collected = Encode(fields, previous);
    Require(collected == record);  // values the fields do not know are kept
    Require(Encode(Decode(collected, fields), previous) == collected);
    Require(FieldsThatDiffer(collected, collected).empty());

    Refusal refusal;
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data + 10), qsizetype(size - 10));
    const std::optional<Assignment> assignment = ParseAssignment(text, &refusal);
    if (!assignment) {
        Require(!refusal.text.isEmpty());
        return 0;
    }
    // Its words name the same choice.
    const FieldInfo &info = Info(assignment->field);
    const QString again = QLatin1String(info.id) + QLatin1Char('=') +
                          QLatin1String(info.values[size_t(assignment->choice)].words);
    const std::optional<Assignment> reparsed = ParseAssignment(again);
    Require(reparsed && reparsed->field == assignment->field && reparsed->choice == assignment->choice);

    const SettingsFields before = fields;
    if (Choose(fields, *assignment)) {
        Require(fields == before);
    } else {
        Require(fields.Choice(assignment->field) == assignment->choice);
        RequireSettled(fields);
    }
    return 0;
}
