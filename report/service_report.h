#pragma once
// The service report for the customer: one A4 page on one job on one reader
// (the reader, what was done, before and after, the result, when, who).

#include <QLocale>
#include <QString>

#include "core/journal/journal_entry.h"

struct ReportOptions {
    // Russian gives the Russian report; any other language the English one.
    QLocale language = QLocale::c();
    // An image drawn at the head of the page; left out when it cannot be read.
    QString logoPath;
};

// Needs a QGuiApplication (fonts). False with why in error when the file
// cannot be written. The page is in English, without a logo.
bool WriteServiceReport(const JournalEntry &entry, const QString &pdfPath, QString *error = nullptr);
bool WriteServiceReport(const JournalEntry &entry, const QString &pdfPath, const ReportOptions &options,
                        QString *error = nullptr);

// The journal's word for how a job ended ("no boot loader"), as the report
// says it in this language; a word it does not know as it stands.
QString OutcomeInWords(const QString &outcome, const QLocale &language);

// The page as HTML, what the PDF shows; the logo, when given, is the image
// resource "logo".
QString ServiceReportHtml(const JournalEntry &entry, const ReportOptions &options = {});
