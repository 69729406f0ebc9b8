#include "report/service_report.h"

#include <QAbstractTextDocumentLayout>
#include <QPageLayout>
#include <QPainter>
#include <QPdfWriter>
#include <QTextDocument>

#include "core/protocol/settings_fields.h"

namespace {

// The page holds this many of the reader's error lines; the journal has them all.
constexpr int kErrorLinesShown = 12;

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

QString WhenUtc(const QDateTime &time)
{
    return time.isValid() ? time.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) + QStringLiteral(" UTC")
                          : QString();
}

QString Duration(qint64 ms)
{
    const qint64 seconds = (ms + 500) / 1000;
    if (seconds < 60)
        return QStringLiteral("%1 s").arg(seconds);
    return QStringLiteral("%1 min %2 s").arg(seconds / 60).arg(seconds % 60);
}

QString WorkDone(JournalEntry::Kind kind)
{
    switch (kind) {
    case JournalEntry::Kind::Update:
        return QStringLiteral("Firmware update");
    case JournalEntry::Kind::SettingsWrite:
        return QStringLiteral("Settings written");
    case JournalEntry::Kind::SettingsRead:
        return QStringLiteral("Settings read");
    }
    return {};
}

QString Result(const JournalEntry &entry)
{
    if (!entry.finished)
        return QStringLiteral("<b>Not finished</b>: the job was cut short");
    if (entry.succeeded)
        return QStringLiteral("<b>Done</b>");
    return QStringLiteral("<b>Failed</b>: ") + Text(entry.outcome);
}

QString FieldCaptions(const QStringList &ids)
{
    QStringList captions;
    for (const QString &id : ids) {
        const std::optional<settings_fields::Field> field = settings_fields::FieldById(id);
        captions << (field ? settings_fields::Caption(*field) : id);
    }
    return captions.isEmpty() ? QStringLiteral("none") : captions.join(QStringLiteral(", "));
}

QString Hex(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex(' ')).toUpper();
}

}  // namespace

QString ServiceReportHtml(const JournalEntry &entry)
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
    html += QStringLiteral("<h1>Service report</h1><p>TALVOR IV card reader</p>");
    html += QStringLiteral("<p class='serial'>Reader serial number: %1</p>")
                .arg(entry.readerSerial ? QString::number(*entry.readerSerial) : QStringLiteral("unknown"));

    html += QStringLiteral("<table cellpadding='3' cellspacing='0' width='100%'>");
    html += Row(QStringLiteral("Work done"), Escaped(WorkDone(entry.kind)));
    html += Row(QStringLiteral("Result"), Result(entry));
    html += Row(QStringLiteral("Started"), Text(WhenUtc(entry.started)));
    if (entry.finished) {
        html += Row(QStringLiteral("Ended"), Text(WhenUtc(entry.ended)));
        html += Row(QStringLiteral("Duration"), Escaped(Duration(entry.durationMs)));
    }
    html += Row(QStringLiteral("Technician"), Text(entry.host.isEmpty() ? entry.user
                                                                        : entry.user + QStringLiteral(" on ") + entry.host));
    QString port = entry.port;
    if (!entry.converterSerial.isEmpty())
        port += QStringLiteral(" (USB converter %1)").arg(entry.converterSerial);
    html += Row(QStringLiteral("Port"), Text(port));
    html += Row(QStringLiteral("Service tool"), Text(entry.toolVersion.isEmpty() ? QString()
                                                                                 : QStringLiteral("talvor ") + entry.toolVersion));
    html += QStringLiteral("</table>");

    html += QStringLiteral("<h2>Before and after</h2><table cellpadding='3' cellspacing='0' width='100%'><tr><th width='28%'></th><th>Before</th><th>After</th></tr>");
    html += QStringLiteral("<tr><td class='label'>Boot loader</td>") + BeforeAfter(entry.loaderBefore, entry.loaderAfter) +
            QStringLiteral("</tr>");
    html += QStringLiteral("<tr><td class='label'>Firmware</td>") + BeforeAfter(entry.firmwareBefore, entry.firmwareAfter) +
            QStringLiteral("</tr>");
    if (entry.kind != JournalEntry::Kind::Update) {
        html += QStringLiteral("<tr><td class='label'>Settings record</td><td class='mono'>%1</td><td class='mono'>%2</td></tr>")
                    .arg(Text(Hex(entry.settingsBefore)), Text(Hex(entry.settingsAfter)));
    }
    html += QStringLiteral("</table>");

    html += QStringLiteral("<h2>Details</h2><table cellpadding='3' cellspacing='0' width='100%'>");
    if (entry.kind == JournalEntry::Kind::Update) {
        html += Row(QStringLiteral("Firmware image"),
                    Text(entry.imageName) + QStringLiteral(", %1 bytes").arg(entry.imageSize));
        if (!entry.imageDescription.isEmpty())
            html += Row(QStringLiteral("Description"), Escaped(entry.imageDescription));
        html += Row(QStringLiteral("SHA-256"), QStringLiteral("<span class='mono'>%1</span>").arg(Text(entry.imageSha256)));
        html += Row(QStringLiteral("Blocks sent"), QStringLiteral("%1 of %2").arg(entry.blocksSent).arg(entry.blocksTotal));
        html += Row(QStringLiteral("Boot entry attempts"), QString::number(entry.bootAttempts));
    } else {
        html += Row(QStringLiteral("Fields changed"), Escaped(FieldCaptions(entry.changedFields)));
    }
    html += QStringLiteral("</table>");

    if (!entry.errorLines.isEmpty()) {
        html += QStringLiteral("<h2>The reader's error lines</h2><p>");
        QStringList shown = entry.errorLines.mid(0, kErrorLinesShown);
        for (QString &line : shown)
            line = Escaped(line);
        html += shown.join(QStringLiteral("<br>"));
        if (entry.errorLines.size() > kErrorLinesShown)
            html += QStringLiteral("<br>&hellip; and %1 more").arg(entry.errorLines.size() - kErrorLinesShown);
        html += QStringLiteral("</p>");
    }

    html += QStringLiteral("<p><br><br>Technician's signature: ______________________"
                           "&nbsp;&nbsp;&nbsp;&nbsp;Customer's signature: ______________________</p>");
    html += QStringLiteral("<p class='small'>Service journal entry %1</p>").arg(Escaped(entry.id));
    html += QStringLiteral("</body></html>");
    return html;
}

bool WriteServiceReport(const JournalEntry &entry, const QString &pdfPath, QString *error)
{
    QPdfWriter writer(pdfPath);
    writer.setResolution(300);
    writer.setTitle(QStringLiteral("Service report"));
    writer.setCreator(QStringLiteral("talvor"));
    writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(20, 18, 20, 18),
                                     QPageLayout::Millimeter));

    QTextDocument document;
    document.documentLayout()->setPaintDevice(&writer);
    document.setDocumentMargin(0);
    document.setHtml(ServiceReportHtml(entry));
    const QRect page = writer.pageLayout().paintRectPixels(writer.resolution());
    document.setPageSize(QSizeF(page.width(), page.height()));

    QPainter painter;
    if (!painter.begin(&writer)) {
        if (error)
            *error = QStringLiteral("%1 cannot be written").arg(pdfPath);
        return false;
    }
    document.drawContents(&painter, QRectF(0, 0, page.width(), page.height()));
    return painter.end();
}
