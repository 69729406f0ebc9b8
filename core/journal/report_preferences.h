#pragma once
// The technician's own settings for the service report, kept in section
// [Report] of the tool's ini file, shared by the window and the command line:
// Technician= (the name the report prints), Logo= (an image file for its head).

#include <QString>

struct ReportPreferences {
    QString technician;
    QString logoPath;
};

ReportPreferences ReadReportPreferences(const QString &iniPath);
// False when the file could not be written.
bool WriteReportPreferences(const QString &iniPath, const ReportPreferences &preferences);
