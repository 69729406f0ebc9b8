// `config`: the technician's own preferences, in com.ini as the window keeps
// them: the name that the journal and the service report give each job, and
// the logo at the report's head.

#include <QCoreApplication>
#include <QFileInfo>

#include "cli/cli_common.h"
#include "cli/cli_texts.h"
#include "cli/commands.h"
#include "core/journal/report_preferences.h"

namespace cli {

int RunConfig(const QStringList &arguments)
{
    CommandParser command(QStringLiteral("config"), QStringLiteral("[technician NAME | logo FILE]"),
                          CliConfig::tr(
                              "Shows the technician's preferences, or sets one: technician, the name the\n"
                              "journal and the service report give each job (\"\" clears it: user on host);\n"
                              "logo, an image for the report's head (\"\" clears it). Kept in com.ini,\n"
                              "shared with the window."),
                          0);
    if (const auto status = command.Parse(arguments, 0, 2))
        return *status;
    const QStringList words = command.Parser().positionalArguments();
    const QString ini = IniPath();
    ReportPreferences preferences = ReadReportPreferences(ini);
    if (words.isEmpty()) {
        const QString none = CliConfig::tr("(not set)");
        PrintLine(
            QStringLiteral("technician  %1").arg(preferences.technician.isEmpty() ? none : preferences.technician));
        PrintLine(QStringLiteral("logo        %1").arg(preferences.logoPath.isEmpty() ? none : preferences.logoPath));
        PrintLine(QStringLiteral("file        %1").arg(ini));
        return kOk;
    }
    const QString key = words.constFirst();
    if (words.size() != 2 || (key != QLatin1String("technician") && key != QLatin1String("logo"))) {
        PrintError(QStringLiteral("talvor-cli config: %1")
                       .arg(CliConfig::tr("give technician NAME or logo FILE, or nothing to see them. See --help.")));
        return kBadArguments;
    }
    const QString value = words.at(1).trimmed();
    if (key == QLatin1String("technician")) {
        preferences.technician = value;
    } else {
        const QFileInfo logo(value);
        if (!value.isEmpty() && (!logo.isFile() || !logo.isReadable())) {
            PrintError(QStringLiteral("talvor-cli config: %1")
                           .arg(CliConfig::tr("%1 is not a readable file.").arg(value)));
            return kBadArguments;
        }
        // The window and talvor-report read it from elsewhere.
        preferences.logoPath = value.isEmpty() ? QString() : logo.absoluteFilePath();
    }
    if (!WriteReportPreferences(ini, preferences)) {
        PrintError(QStringLiteral("talvor-cli config: %1").arg(CliConfig::tr("cannot write %1.").arg(ini)));
        return kJournalUnavailable;
    }
    return kOk;
}

}  // namespace cli
