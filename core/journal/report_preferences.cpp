#include "core/journal/report_preferences.h"

#include "core/line/ini_file.h"

namespace {

const QString kSection = QStringLiteral("Report");
const QString kTechnician = QStringLiteral("Technician");
const QString kLogo = QStringLiteral("Logo");

}  // namespace

ReportPreferences ReadReportPreferences(const QString &iniPath)
{
    ReportPreferences preferences;
    preferences.technician = platform::ReadIniString(iniPath, kSection, kTechnician, {}).trimmed();
    preferences.logoPath = platform::ReadIniString(iniPath, kSection, kLogo, {}).trimmed();
    return preferences;
}

bool WriteReportPreferences(const QString &iniPath, const ReportPreferences &preferences)
{
    return platform::WriteIniString(iniPath, kSection, kTechnician, preferences.technician.trimmed()) &&
           platform::WriteIniString(iniPath, kSection, kLogo, preferences.logoPath.trimmed());
}
