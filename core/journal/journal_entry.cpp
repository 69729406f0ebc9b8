#include "core/journal/journal_entry.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSysInfo>
#include <QUuid>
#include <algorithm>
#include <pwd.h>
#include <unistd.h>

#include "core/protocol/settings_fields.h"

namespace {

QString UserName()
{
    if (const passwd *entry = getpwuid(geteuid()))
        return QString::fromLocal8Bit(entry->pw_name);
    return qEnvironmentVariable("USER");
}

QDateTime TimeOf(const QJsonValue &value)
{
    QDateTime time = QDateTime::fromString(value.toString(), Qt::ISODateWithMs);
    return time.isValid() ? time.toUTC() : QDateTime();
}

QJsonArray ArrayOf(const QStringList &list)
{
    return QJsonArray::fromStringList(list);
}

QStringList ListOf(const QJsonValue &value)
{
    QStringList list;
    for (const QJsonValue &item : value.toArray())
        list << item.toString();
    return list;
}

std::optional<SettingsRecord> RecordOf(const QByteArray &bytes)
{
    SettingsRecord record{};
    if (bytes.size() != int(record.size()))
        return std::nullopt;
    std::copy(bytes.begin(), bytes.end(), record.begin());
    return record;
}

}  // namespace

QString KindId(JournalEntry::Kind kind)
{
    switch (kind) {
    case JournalEntry::Kind::Update:
        return QStringLiteral("update");
    case JournalEntry::Kind::SettingsWrite:
        return QStringLiteral("settings_write");
    case JournalEntry::Kind::SettingsRead:
        return QStringLiteral("settings_read");
    }
    return {};
}

std::optional<JournalEntry::Kind> KindById(const QString &id)
{
    for (JournalEntry::Kind kind :
         {JournalEntry::Kind::Update, JournalEntry::Kind::SettingsWrite, JournalEntry::Kind::SettingsRead}) {
        if (KindId(kind) == id)
            return kind;
    }
    return std::nullopt;
}

QString JobResultId(JobResult result)
{
    switch (result) {
    case JobResult::Succeeded:
        return QStringLiteral("succeeded");
    case JobResult::Failed:
        return QStringLiteral("failed");
    case JobResult::Unfinished:
        return QStringLiteral("unfinished");
    }
    return {};
}

std::optional<JobResult> JobResultById(const QString &id)
{
    for (JobResult result : {JobResult::Succeeded, JobResult::Failed, JobResult::Unfinished}) {
        if (JobResultId(result) == id)
            return result;
    }
    return std::nullopt;
}

QString JournalTime(const QDateTime &time)
{
    return time.isValid() ? time.toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzzZ")) : QString();
}

QStringList ChangedFieldIds(const SettingsRecord &before, const SettingsRecord &after)
{
    QStringList ids;
    for (settings_fields::Field field : settings_fields::FieldsThatDiffer(before, after))
        ids << QString::fromLatin1(settings_fields::Info(field).id);
    return ids;
}

JournalEntry JournalEntry::Start(Kind kind, const QString &port)
{
    JournalEntry entry;
    entry.id = QUuid::createUuid().toString(QUuid::WithoutBraces);
    entry.kind = kind;
    entry.started = QDateTime::currentDateTimeUtc();
    entry.host = QSysInfo::machineHostName();
    entry.user = UserName();
    entry.port = port;
    entry.toolVersion = QStringLiteral(TALVOR_VERSION);
    return entry;
}

void JournalEntry::SetDetails(const JobDetails &details)
{
    technician = details.technician.trimmed();
    site = details.site.trimmed();
    customer = details.customer.trimmed();
    note = details.note.trimmed();
}

QString JournalEntry::TechnicianShown() const
{
    if (!technician.isEmpty())
        return technician;
    return host.isEmpty() ? user : QStringLiteral("%1 on %2").arg(user, host);
}

void JournalEntry::End(bool jobSucceeded, const QString &jobOutcome)
{
    finished = true;
    succeeded = jobSucceeded;
    outcome = jobOutcome;
    ended = QDateTime::currentDateTimeUtc();
    durationMs = started.isValid() ? std::max<qint64>(0, started.msecsTo(ended)) : 0;
}

void JournalEntry::SetSettings(const SettingsRecord &before, const SettingsRecord &after)
{
    settingsBefore = QByteArray(reinterpret_cast<const char *>(before.data()), int(before.size()));
    settingsAfter = QByteArray(reinterpret_cast<const char *>(after.data()), int(after.size()));
    changedFields = ChangedFieldIds(before, after);
}

std::optional<SettingsRecord> JournalEntry::RecordBefore() const
{
    return RecordOf(settingsBefore);
}

std::optional<SettingsRecord> JournalEntry::RecordAfter() const
{
    return RecordOf(settingsAfter);
}

QJsonObject JournalEntry::ToJson() const
{
    QJsonObject object{
        {QStringLiteral("id"), id},
        {QStringLiteral("kind"), KindId(kind)},
        {QStringLiteral("finished"), finished},
        {QStringLiteral("started"), JournalTime(started)},
        {QStringLiteral("ended"), ended.isValid() ? QJsonValue(JournalTime(ended)) : QJsonValue()},
        {QStringLiteral("duration_ms"), durationMs},
        {QStringLiteral("host"), host},
        {QStringLiteral("user"), user},
        {QStringLiteral("tool_version"), toolVersion},
        {QStringLiteral("port"), port},
        {QStringLiteral("converter_serial"), converterSerial},
        {QStringLiteral("technician"), technician},
        {QStringLiteral("site"), site},
        {QStringLiteral("customer"), customer},
        {QStringLiteral("note"), note},
        {QStringLiteral("reader_serial"), readerSerial ? QJsonValue(int(*readerSerial)) : QJsonValue()},
        {QStringLiteral("loader_before"), loaderBefore},
        {QStringLiteral("firmware_before"), firmwareBefore},
        {QStringLiteral("loader_after"), loaderAfter},
        {QStringLiteral("firmware_after"), firmwareAfter},
        {QStringLiteral("outcome"), outcome},
        {QStringLiteral("succeeded"), succeeded},
        {QStringLiteral("error_lines"), ArrayOf(errorLines)},
    };
    if (kind == Kind::Update) {
        object.insert(QStringLiteral("image_name"), imageName);
        object.insert(QStringLiteral("image_size"), imageSize);
        object.insert(QStringLiteral("image_sha256"), imageSha256);
        object.insert(QStringLiteral("image_description"), imageDescription);
        object.insert(QStringLiteral("blocks_sent"), blocksSent);
        object.insert(QStringLiteral("blocks_total"), blocksTotal);
        object.insert(QStringLiteral("boot_attempts"), bootAttempts);
    } else {
        object.insert(QStringLiteral("settings_before"), QString::fromLatin1(settingsBefore.toHex()));
        object.insert(QStringLiteral("settings_after"), QString::fromLatin1(settingsAfter.toHex()));
        object.insert(QStringLiteral("changed_fields"), ArrayOf(changedFields));
    }
    return object;
}

std::optional<JournalEntry> JournalEntry::FromJson(const QJsonObject &object)
{
    JournalEntry entry;
    const std::optional<Kind> kind = KindById(object.value(QStringLiteral("kind")).toString());
    entry.id = object.value(QStringLiteral("id")).toString();
    entry.started = TimeOf(object.value(QStringLiteral("started")));
    if (!kind || entry.id.isEmpty() || !entry.started.isValid())
        return std::nullopt;
    entry.kind = *kind;
    entry.finished = object.value(QStringLiteral("finished")).toBool();
    entry.ended = TimeOf(object.value(QStringLiteral("ended")));
    entry.durationMs = object.value(QStringLiteral("duration_ms")).toInteger();
    entry.host = object.value(QStringLiteral("host")).toString();
    entry.user = object.value(QStringLiteral("user")).toString();
    entry.toolVersion = object.value(QStringLiteral("tool_version")).toString();
    entry.port = object.value(QStringLiteral("port")).toString();
    entry.converterSerial = object.value(QStringLiteral("converter_serial")).toString();
    entry.technician = object.value(QStringLiteral("technician")).toString();
    entry.site = object.value(QStringLiteral("site")).toString();
    entry.customer = object.value(QStringLiteral("customer")).toString();
    entry.note = object.value(QStringLiteral("note")).toString();
    const QJsonValue serial = object.value(QStringLiteral("reader_serial"));
    if (serial.isDouble())
        entry.readerSerial = uint16_t(serial.toInt());
    entry.loaderBefore = object.value(QStringLiteral("loader_before")).toString();
    entry.firmwareBefore = object.value(QStringLiteral("firmware_before")).toString();
    entry.loaderAfter = object.value(QStringLiteral("loader_after")).toString();
    entry.firmwareAfter = object.value(QStringLiteral("firmware_after")).toString();
    entry.imageName = object.value(QStringLiteral("image_name")).toString();
    entry.imageSize = object.value(QStringLiteral("image_size")).toInteger();
    entry.imageSha256 = object.value(QStringLiteral("image_sha256")).toString();
    entry.imageDescription = object.value(QStringLiteral("image_description")).toString();
    entry.blocksSent = object.value(QStringLiteral("blocks_sent")).toInt();
    entry.blocksTotal = object.value(QStringLiteral("blocks_total")).toInt();
    entry.bootAttempts = object.value(QStringLiteral("boot_attempts")).toInt();
    entry.outcome = object.value(QStringLiteral("outcome")).toString();
    entry.succeeded = object.value(QStringLiteral("succeeded")).toBool();
    entry.errorLines = ListOf(object.value(QStringLiteral("error_lines")));
    entry.settingsBefore = QByteArray::fromHex(object.value(QStringLiteral("settings_before")).toString().toLatin1());
    entry.settingsAfter = QByteArray::fromHex(object.value(QStringLiteral("settings_after")).toString().toLatin1());
    entry.changedFields = ListOf(object.value(QStringLiteral("changed_fields")));
    return entry;
}

QByteArray EntriesToJson(const std::vector<JournalEntry> &entries)
{
    QJsonArray array;
    for (const JournalEntry &entry : entries)
        array.append(entry.ToJson());
    return QJsonDocument(array).toJson(QJsonDocument::Indented);
}

namespace {

QByteArray CsvField(const QString &text)
{
    QByteArray bytes = text.toUtf8();
    if (!bytes.contains(',') && !bytes.contains('"') && !bytes.contains('\n') && !bytes.contains('\r'))
        return bytes;
    bytes.replace("\"", "\"\"");
    return '"' + bytes + '"';
}

}  // namespace

QByteArray EntriesToCsv(const std::vector<JournalEntry> &entries)
{
    QByteArray csv =
        "id,kind,finished,started,ended,duration_ms,host,user,tool_version,port,converter_serial,"
        "reader_serial,loader_before,firmware_before,loader_after,firmware_after,image_name,image_size,"
        "image_sha256,image_description,blocks_sent,blocks_total,boot_attempts,outcome,succeeded,"
        "error_lines,settings_before,settings_after,changed_fields,technician,site,customer,note\n";
    const QString yes = QStringLiteral("yes"), no = QStringLiteral("no");
    for (const JournalEntry &entry : entries) {
        const bool update = entry.kind == JournalEntry::Kind::Update;
        const QStringList fields = {
            entry.id,
            KindId(entry.kind),
            entry.finished ? yes : no,
            JournalTime(entry.started),
            JournalTime(entry.ended),
            QString::number(entry.durationMs),
            entry.host,
            entry.user,
            entry.toolVersion,
            entry.port,
            entry.converterSerial,
            entry.readerSerial ? QString::number(*entry.readerSerial) : QString(),
            entry.loaderBefore,
            entry.firmwareBefore,
            entry.loaderAfter,
            entry.firmwareAfter,
            entry.imageName,
            update ? QString::number(entry.imageSize) : QString(),
            entry.imageSha256,
            entry.imageDescription,
            update ? QString::number(entry.blocksSent) : QString(),
            update ? QString::number(entry.blocksTotal) : QString(),
            update ? QString::number(entry.bootAttempts) : QString(),
            entry.outcome,
            entry.succeeded ? yes : no,
            entry.errorLines.join(QLatin1Char('\n')),
            QString::fromLatin1(entry.settingsBefore.toHex()),
            QString::fromLatin1(entry.settingsAfter.toHex()),
            entry.changedFields.join(QLatin1Char(' ')),
            entry.technician,
            entry.site,
            entry.customer,
            entry.note,
        };
        QByteArrayList row;
        for (const QString &field : fields)
            row << CsvField(field);
        csv += row.join(',') + '\n';
    }
    return csv;
}
