#pragma once
// The service report for the customer: one A4 page on one job on one reader
// (the reader, what was done, before and after, the result, when, who).

#include <QString>

#include "core/journal/journal_entry.h"

// Needs a QGuiApplication (fonts). False with why in error when the file
// cannot be written.
bool WriteServiceReport(const JournalEntry &entry, const QString &pdfPath, QString *error = nullptr);

// The page as HTML, what the PDF shows.
QString ServiceReportHtml(const JournalEntry &entry);
