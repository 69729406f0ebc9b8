#pragma once
// One job on one reader as the service journal keeps it: a firmware update,
// a settings write or a settings read, from the window or a script alike.
// A plain value; the journal stores it, JSON and CSV show it.

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>
#include <vector>

#include "core/protocol/settings_record.h"

// What the technician gives a job before it starts, all optional.
struct JobDetails {
    QString technician;  // the name set in the preferences
    QString site;
    QString customer;
    QString note;
};

struct JournalEntry {
    enum class Kind { Update, SettingsWrite, SettingsRead };

    // Made where the job ran, so entries from many machines never clash.
    QString id;
    Kind kind = Kind::Update;
    // False from the job's start until its end: a job cut short stays so.
    bool finished = false;
    QDateTime started;  // UTC
    QDateTime ended;    // UTC; invalid while unfinished
    qint64 durationMs = 0;

    QString host;
    QString user;
    QString toolVersion;
    QString port;
    QString converterSerial;  // USB converters only

    // Who did the job, as the technician set their name; empty: user on host.
    QString technician;
    // Where and for whom, and a word on the job: as the technician gave them.
    QString site;
    QString customer;
    QString note;

    std::optional<uint16_t> readerSerial;
    QString loaderBefore;
    QString firmwareBefore;
    QString loaderAfter;
    QString firmwareAfter;

    // Updates
    QString imageName;
    qint64 imageSize = 0;
    QString imageSha256;  // lower-case hex
    QString imageDescription;
    int blocksSent = 0;
    int blocksTotal = 0;
    int bootAttempts = 0;

    // The job's own word for how it ended ("completed", "no boot loader", ...).
    QString outcome;
    bool succeeded = false;
    QStringList errorLines;

    // Settings: raw records and the ids of the named fields that differ.
    QByteArray settingsBefore;
    QByteArray settingsAfter;
    QStringList changedFields;

    // A new unfinished entry: a fresh id, started now, this host and user.
    static JournalEntry Start(Kind kind, const QString &port);
    void SetDetails(const JobDetails &details);
    // The technician's name, else "user on host".
    QString TechnicianShown() const;
    // Finished now, with the duration since the start.
    void End(bool jobSucceeded, const QString &jobOutcome);
    void SetSettings(const SettingsRecord &before, const SettingsRecord &after);
    // The records as SetSettings kept them; nothing when not a whole record.
    std::optional<SettingsRecord> RecordBefore() const;
    std::optional<SettingsRecord> RecordAfter() const;
    // Failed, or cut short (or still running elsewhere).
    bool Failed() const { return !finished || !succeeded; }

    QJsonObject ToJson() const;
    // Empty when the object lacks an id, a known kind or a start time.
    static std::optional<JournalEntry> FromJson(const QJsonObject &object);
};

// "update", "settings_write", "settings_read"
QString KindId(JournalEntry::Kind kind);
std::optional<JournalEntry::Kind> KindById(const QString &id);

// The ids (settings_fields' names) of the fields in which the records differ.
QStringList ChangedFieldIds(const SettingsRecord &before, const SettingsRecord &after);

// UTC, milliseconds, 'Z': sorts as text in time order.
QString JournalTime(const QDateTime &time);

// A JSON array of entries, indented.
QByteArray EntriesToJson(const std::vector<JournalEntry> &entries);
// A header line and one row per entry (RFC 4180 quoting; lists joined by
// newlines inside their field).
QByteArray EntriesToCsv(const std::vector<JournalEntry> &entries);

// How a job ended, as a filter asks for it.
enum class JobResult { Succeeded, Failed, Unfinished };
// "succeeded", "failed", "unfinished"
QString JobResultId(JobResult result);
std::optional<JobResult> JobResultById(const QString &id);

// Which entries a query lists.
struct JournalFilter {
    std::optional<uint16_t> serial;
    QString port;        // empty: any
    QDateTime since;     // invalid: any; else entries started at or after it
    bool failedOnly = false;  // failed or cut short
    QDateTime until;     // invalid: any; else entries started before it
    std::optional<JournalEntry::Kind> kind;
    std::optional<JobResult> result;  // Failed: finished and failed
    int limit = 0;                    // the newest this many; 0: all
};
