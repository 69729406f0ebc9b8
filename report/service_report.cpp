#include "report/service_report.h"

#include <QAbstractTextDocumentLayout>
#include <QImageReader>
#include <QPageLayout>
#include <QPainter>
#include <QPdfWriter>
#include <QTextDocument>
#include <QTranslator>
#include <QUrl>
#include <algorithm>
#include <cstdlib>
#include <optional>

#include "core/journal/job_entries.h"
#include "core/protocol/settings_fields.h"

namespace {

// The page holds this many of the reader's error lines; the journal has them all.
constexpr int kErrorLinesShown = 12;
// The logo's box at the head of the page, in the document's pixels (1/96 in).
constexpr int kLogoHeight = 56;
constexpr int kLogoWidth = 240;

const char kContext[] = "ServiceReport";
// The settings fields' captions and values, as the window words them: from
// the windows' own translation, so the two never say a field differently.
const char kFieldsContext[] = "SettingsFields";

// The report's texts in its own language, apart from the window's: a report
// may be written in another language than the program around it speaks.
class Texts {
public:
    explicit Texts(const QLocale &language)
    {
        // English keeps the source texts.
        const QString folder = QStringLiteral(":/i18n"), separator = QStringLiteral("_");
        ownLoaded_ = own_.load(language, QStringLiteral("talvor_report"), separator, folder);
        fieldsLoaded_ = fields_.load(language, QStringLiteral("talvor"), separator, folder);
    }
    QString operator()(const char *source) const { return In(own_, ownLoaded_, kContext, source); }
    QString Field(const char *source) const { return In(fields_, fieldsLoaded_, kFieldsContext, source); }

private:
    static QString In(const QTranslator &translator, bool loaded, const char *context, const char *source)
    {
        const QString text = loaded ? translator.translate(context, source) : QString();
        return text.isEmpty() ? QString::fromUtf8(source) : text;
    }
    QTranslator own_;
    QTranslator fields_;
    bool ownLoaded_ = false;
    bool fieldsLoaded_ = false;
};

// The job's words for its outcomes (job_entries), as the report says them.
const char *const kOutcomes[] = {
    QT_TRANSLATE_NOOP("ServiceReport", "completed"),
    QT_TRANSLATE_NOOP("ServiceReport", "image refused"),
    QT_TRANSLATE_NOOP("ServiceReport", "image unreadable"),
    QT_TRANSLATE_NOOP("ServiceReport", "no boot loader"),
    QT_TRANSLATE_NOOP("ServiceReport", "reader error"),
    QT_TRANSLATE_NOOP("ServiceReport", "no answer"),
    QT_TRANSLATE_NOOP("ServiceReport", "stopped"),
    QT_TRANSLATE_NOOP("ServiceReport", "interrupted"),
    QT_TRANSLATE_NOOP("ServiceReport", "port vanished"),
    QT_TRANSLATE_NOOP("ServiceReport", "connection dropped"),
    QT_TRANSLATE_NOOP("ServiceReport", "short reply"),
    QT_TRANSLATE_NOOP("ServiceReport", "bad checksum"),
    QT_TRANSLATE_NOOP("ServiceReport", "not taken"),
    QT_TRANSLATE_NOOP("ServiceReport", "refused"),
    QT_TRANSLATE_NOOP("ServiceReport", "cut short"),
    QT_TRANSLATE_NOOP("ServiceReport", "read"),
    QT_TRANSLATE_NOOP("ServiceReport", "written"),
    QT_TRANSLATE_NOOP("ServiceReport", "unchanged"),
};

QString Escaped(const QString &text)
{
    return text.toHtmlEscaped();
}

QString Row(const QString &label, const QString &value)
{
    return QStringLiteral("<tr><td class='label' width='28%'>%1</td><td>%2</td></tr>").arg(Escaped(label), value);
}

QString Text(const QString &value)
{
    return value.isEmpty() ? QStringLiteral("&mdash;") : Escaped(value);
}

QString BeforeAfter(const QString &before, const QString &after)
{
    return QStringLiteral("<td>%1</td><td>%2</td>").arg(Text(before), Text(after));
}

// Local time with its offset from UTC: "2026-12-09 09:41:07 +03:00".
QString WhenLocal(const QDateTime &time)
{
    if (!time.isValid())
        return QString();
    const QDateTime local = time.toLocalTime();
    const int offset = local.offsetFromUtc();
    const int minutes = std::abs(offset) / 60;
    return local.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss ")) + QLatin1Char(offset < 0 ? '-' : '+') +
           QStringLiteral("%1:%2").arg(minutes / 60, 2, 10, QLatin1Char('0')).arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

QString Duration(const Texts &say, qint64 ms)
{
    const qint64 seconds = (ms + 500) / 1000;
    if (seconds < 60)
        return say(QT_TRANSLATE_NOOP("ServiceReport", "%1 s")).arg(seconds);
    return say(QT_TRANSLATE_NOOP("ServiceReport", "%1 min %2 s")).arg(seconds / 60).arg(seconds % 60);
}

QString WorkDone(const Texts &say, JournalEntry::Kind kind)
{
    switch (kind) {
    case JournalEntry::Kind::Update: return say(QT_TRANSLATE_NOOP("ServiceReport", "Firmware update"));
    case JournalEntry::Kind::SettingsWrite: return say(QT_TRANSLATE_NOOP("ServiceReport", "Settings written"));
    case JournalEntry::Kind::SettingsRead: return say(QT_TRANSLATE_NOOP("ServiceReport", "Settings read"));
    }
    return {};
}

QString Outcome(const Texts &say, const QString &outcome)
{
    for (const char *known : kOutcomes)
        if (outcome == QLatin1String(known))
            return say(known);
    return outcome;
}

QString Result(const Texts &say, const JournalEntry &entry)
{
    if (!entry.finished)
        return QStringLiteral("<b>%1</b>: %2").arg(Escaped(say(QT_TRANSLATE_NOOP("ServiceReport", "Not finished"))),
                                                 Escaped(say(QT_TRANSLATE_NOOP("ServiceReport", "the job was cut short"))));
    if (entry.succeeded)
        return QStringLiteral("<b>%1</b>").arg(Escaped(say(QT_TRANSLATE_NOOP("ServiceReport", "Done"))));
    return QStringLiteral("<b>%1</b>: %2").arg(Escaped(say(QT_TRANSLATE_NOOP("ServiceReport", "Failed"))),
                                             Text(Outcome(say, entry.outcome)));
}

// A field's value in words, in the report's language; one the field does
// not know as its byte.
QString ValueInWords(const Texts &say, const SettingsRecord &record, settings_fields::Field field)
{
    const settings_fields::FieldInfo &info = settings_fields::Info(field);
    if (!settings_fields::IsKnown(record, field)) {
        const uint8_t byte = record[size_t(info.byte)];
        // The settings fields' own words for it (settings_fields.cpp).
        return say.Field("%1, not a known value")
            .arg(QLatin1String("0x") + QStringLiteral("%1").arg(byte, 2, 16, QLatin1Char('0')).toUpper());
    }
    const QByteArray english = settings_fields::ValueText(record, field).toLatin1();
    return english.isEmpty() ? QStringLiteral("\u2014") : say.Field(english.constData());
}

// "Caption: before → after" per field that differs; the captions alone when
// the records are not both known.
QStringList SettingsChanges(const Texts &say, const JournalEntry &entry)
{
    QStringList changes;
    const std::optional<SettingsRecord> before = entry.RecordBefore();
    const std::optional<SettingsRecord> after = entry.RecordAfter();
    if (before && after) {
        for (settings_fields::Field field : settings_fields::FieldsThatDiffer(*before, *after))
            changes << QStringLiteral("%1: %2 \u2192 %3")
                           .arg(say.Field(settings_fields::Info(field).caption), ValueInWords(say, *before, field),
                                ValueInWords(say, *after, field));
        return changes;
    }
    for (const QString &id : entry.changedFields) {
        const std::optional<settings_fields::Field> field = settings_fields::FieldById(id);
        changes << (field ? say.Field(settings_fields::Info(*field).caption) : id);
    }
    return changes;
}

QString Hex(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex(' ')).toUpper();
}

QString Lines(const QStringList &lines, int shown, const Texts &say)
{
    QStringList escaped = lines.mid(0, shown);
    for (QString &line : escaped)
        line = Escaped(line);
    QString html = escaped.join(QStringLiteral("<br>"));
    if (lines.size() > shown)
        html += QStringLiteral("<br>&hellip; ") +
                Escaped(say(QT_TRANSLATE_NOOP("ServiceReport", "and %1 more")).arg(lines.size() - shown));
    return html;
}

QImage ReadLogo(const QString &path)
{
    if (path.isEmpty())
        return {};
    QImageReader reader(path);
    reader.setAutoTransform(true);
    return reader.read();  // null when missing or unreadable
}

// The logo's size on the page: its proportions, within the logo's box.
QSize LogoSize(const QImage &logo)
{
    if (logo.isNull() || logo.height() == 0)
        return {};
    const double ratio = double(logo.width()) / logo.height();
    int height = kLogoHeight;
    int width = int(height * ratio + 0.5);
    if (width > kLogoWidth) {
        width = kLogoWidth;
        height = std::max(1, int(width / ratio + 0.5));
    }
    return {std::max(1, width), height};
}

QString Html(const JournalEntry &entry, const Texts &say, const QImage &logo)
{
    QString html = QStringLiteral(
        "<html><head><style>"
        "body { font-family: 'Liberation Sans'; font-size: 10pt; }"
        "h1 { font-size: 18pt; margin-bottom: 2pt; }"
        "h2 { font-size: 12pt; margin-top: 14pt; margin-bottom: 4pt; }"
        "td { padding: 2pt 8pt 2pt 0pt; vertical-align: top; }"
        "td.label { color: #404040; }"
        "th { text-align: left; padding: 2pt 8pt 2pt 0pt; }"
        ".serial { font-size: 16pt; font-weight: bold; }"
        ".small { font-size: 8pt; color: #606060; }"
        ".mono { font-family: 'Liberation Mono'; font-size: 8pt; }"
        "</style></head><body>");
    if (const QSize size = LogoSize(logo); size.isValid())
        html += QStringLiteral("<p><img src='logo' width='%1' height='%2'></p>").arg(size.width()).arg(size.height());
    html += QStringLiteral("<h1>%1</h1><p>%2</p>")
                .arg(Escaped(say(QT_TRANSLATE_NOOP("ServiceReport", "Service report"))),
                     Escaped(say(QT_TRANSLATE_NOOP("ServiceReport", "TALVOR IV card reader"))));
    html += QStringLiteral("<p class='serial'>%1</p>")
                .arg(Escaped(say(QT_TRANSLATE_NOOP("ServiceReport", "Reader serial number: %1"))
                                 .arg(entry.readerSerial ? QString::number(*entry.readerSerial)
                                                         : say(QT_TRANSLATE_NOOP("ServiceReport", "unknown")))));

    html += QStringLiteral("<table cellpadding='3' cellspacing='0' width='100%'>");
    html += Row(say(QT_TRANSLATE_NOOP("ServiceReport", "Work done")), Escaped(WorkDone(say, entry.kind)));
    html += Row(say(QT_TRANSLATE_NOOP("ServiceReport", "Result")), Result(say, entry));
    html += Row(say(QT_TRANSLATE_NOOP("ServiceReport", "Started")), Text(WhenLocal(entry.started)));
    if (entry.finished) {
        html += Row(say(QT_TRANSLATE_NOOP("ServiceReport", "Ended")), Text(WhenLocal(entry.ended)));
        html += Row(say(QT_TRANSLATE_NOOP("ServiceReport", "Duration")), Escaped(Duration(say, entry.durationMs)));
    }
    // Without a name: the user on the machine, in the report's language.
    const QString technician = entry.technician.isEmpty() && !entry.host.isEmpty()
                                   ? say(QT_TRANSLATE_NOOP("ServiceReport", "%1 on %2")).arg(entry.user, entry.host)
                                   : entry.TechnicianShown();
    html += Row(say(QT_TRANSLATE_NOOP("ServiceReport", "Technician")), Text(technician));
    if (!entry.site.isEmpty())
        html += Row(say(QT_TRANSLATE_NOOP("ServiceReport", "Site")), Escaped(entry.site));
    if (!entry.customer.isEmpty())
        html += Row(say(QT_TRANSLATE_NOOP("ServiceReport", "Customer")), Escaped(entry.customer));
    if (!entry.note.isEmpty())
        html += Row(say(QT_TRANSLATE_NOOP("ServiceReport", "Note")), Escaped(entry.note));
    QString port = entry.port;
    if (!entry.converterSerial.isEmpty())
        port += QLatin1Char(' ') + say(QT_TRANSLATE_NOOP("ServiceReport", "(USB converter %1)")).arg(entry.converterSerial);
    html += Row(say(QT_TRANSLATE_NOOP("ServiceReport", "Port")), Text(port));
    html += Row(say(QT_TRANSLATE_NOOP("ServiceReport", "Service tool")),
                Text(entry.toolVersion.isEmpty() ? QString() : QStringLiteral("talvor ") + entry.toolVersion));
    html += QStringLiteral("</table>");

    html += QStringLiteral("<h2>%1</h2><table cellpadding='3' cellspacing='0' width='100%'>"
                           "<tr><th width='28%'></th><th>%2</th><th>%3</th></tr>")
                .arg(Escaped(say(QT_TRANSLATE_NOOP("ServiceReport", "Before and after"))),
                     Escaped(say(QT_TRANSLATE_NOOP("ServiceReport", "Before"))),
                     Escaped(say(QT_TRANSLATE_NOOP("ServiceReport", "After"))));
    const QString labelCell = QStringLiteral("<tr><td class='label'>%1</td>");
    html += labelCell.arg(Escaped(say(QT_TRANSLATE_NOOP("ServiceReport", "Boot loader")))) +
            BeforeAfter(entry.loaderBefore, entry.loaderAfter) + QStringLiteral("</tr>");
    html += labelCell.arg(Escaped(say(QT_TRANSLATE_NOOP("ServiceReport", "Firmware")))) +
            BeforeAfter(entry.firmwareBefore, entry.firmwareAfter) + QStringLiteral("</tr>");
    if (entry.kind != JournalEntry::Kind::Update) {
        html += QStringLiteral("<tr><td class='label'>%1</td><td class='mono'>%2</td><td class='mono'>%3</td></tr>")
                    .arg(Escaped(say(QT_TRANSLATE_NOOP("ServiceReport", "Settings record"))),
                         Text(Hex(entry.settingsBefore)), Text(Hex(entry.settingsAfter)));
    }
    html += QStringLiteral("</table>");

    html += QStringLiteral("<h2>%1</h2><table cellpadding='3' cellspacing='0' width='100%'>")
                .arg(Escaped(say(QT_TRANSLATE_NOOP("ServiceReport", "Details"))));
    if (entry.kind == JournalEntry::Kind::Update) {
        html += Row(say(QT_TRANSLATE_NOOP("ServiceReport", "Firmware image")),
                    Text(entry.imageName) +
                        Escaped(say(QT_TRANSLATE_NOOP("ServiceReport", ", %1 bytes")).arg(entry.imageSize)));
        if (!entry.imageDescription.isEmpty())
            html += Row(say(QT_TRANSLATE_NOOP("ServiceReport", "Description")), Escaped(entry.imageDescription));
        html += Row(QStringLiteral("SHA-256"), QStringLiteral("<span class='mono'>%1</span>").arg(Text(entry.imageSha256)));
        html += Row(say(QT_TRANSLATE_NOOP("ServiceReport", "Blocks sent")),
                    Escaped(say(QT_TRANSLATE_NOOP("ServiceReport", "%1 of %2")).arg(entry.blocksSent).arg(entry.blocksTotal)));
        html += Row(say(QT_TRANSLATE_NOOP("ServiceReport", "Boot entry attempts")), QString::number(entry.bootAttempts));
    } else {
        const QStringList changes = SettingsChanges(say, entry);
        html += Row(say(QT_TRANSLATE_NOOP("ServiceReport", "Fields changed")),
                    changes.isEmpty() ? Escaped(say(QT_TRANSLATE_NOOP("ServiceReport", "none")))
                                      : Lines(changes, int(changes.size()), say));
    }
    html += QStringLiteral("</table>");

    if (!entry.errorLines.isEmpty()) {
        // The tool's reasons for a job it would not start are no words of the reader's.
        const char *heading = job_entries::RefusedByTool(entry)
                                  ? QT_TRANSLATE_NOOP("ServiceReport", "Refused by the service tool")
                                  : QT_TRANSLATE_NOOP("ServiceReport", "The reader's error lines");
        html += QStringLiteral("<h2>%1</h2><p>%2</p>")
                    .arg(Escaped(say(heading)), Lines(entry.errorLines, kErrorLinesShown, say));
    }

    html += QStringLiteral("<p><br><br>%1 ______________________&nbsp;&nbsp;&nbsp;&nbsp;%2 ______________________</p>")
                .arg(Escaped(say(QT_TRANSLATE_NOOP("ServiceReport", "Technician's signature:"))),
                     Escaped(say(QT_TRANSLATE_NOOP("ServiceReport", "Customer's signature:"))));
    html += QStringLiteral("<p class='small'>%1</p>")
                .arg(Escaped(say(QT_TRANSLATE_NOOP("ServiceReport", "Service journal entry %1")).arg(entry.id)));
    html += QStringLiteral("</body></html>");
    return html;
}

}  // namespace

QString OutcomeInWords(const QString &outcome, const QLocale &language)
{
    return Outcome(Texts(language), outcome);
}

QString ServiceReportHtml(const JournalEntry &entry, const ReportOptions &options)
{
    return Html(entry, Texts(options.language), ReadLogo(options.logoPath));
}

bool WriteServiceReport(const JournalEntry &entry, const QString &pdfPath, QString *error)
{
    return WriteServiceReport(entry, pdfPath, ReportOptions{}, error);
}

bool WriteServiceReport(const JournalEntry &entry, const QString &pdfPath, const ReportOptions &options,
                        QString *error)
{
    const Texts say(options.language);
    QPdfWriter writer(pdfPath);
    writer.setResolution(300);
    writer.setTitle(say(QT_TRANSLATE_NOOP("ServiceReport", "Service report")));
    writer.setCreator(QStringLiteral("talvor"));
    writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(20, 18, 20, 18),
                                     QPageLayout::Millimeter));

    const QImage logo = ReadLogo(options.logoPath);
    QTextDocument document;
    document.documentLayout()->setPaintDevice(&writer);
    document.setDocumentMargin(0);
    if (!logo.isNull())
        document.addResource(QTextDocument::ImageResource, QUrl(QStringLiteral("logo")), logo);
    document.setHtml(Html(entry, say, logo));
    const QRect page = writer.pageLayout().paintRectPixels(writer.resolution());
    // One page: a page that runs long (a long note, many fields) is drawn smaller.
    document.setTextWidth(page.width());
    qreal scale = 1.0;
    for (int pass = 0; pass < 3 && document.size().height() * scale > page.height(); ++pass) {
        scale = std::min(scale, page.height() / document.size().height() * 0.98);
        document.setTextWidth(page.width() / scale);
    }

    QPainter painter;
    if (!painter.begin(&writer)) {
        if (error)
            *error = say(QT_TRANSLATE_NOOP("ServiceReport", "%1 cannot be written")).arg(pdfPath);
        return false;
    }
    painter.scale(scale, scale);
    document.drawContents(&painter, QRectF(0, 0, page.width() / scale, page.height() / scale));
    return painter.end();
}
