#include "core/line/ini_file.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

namespace platform {

QString ReadIniString(const QString &path, const QString &section, const QString &key,
                      const QString &defaultValue)
{
    QSettings ini(path, QSettings::IniFormat);
    return ini.value(section + QLatin1Char('/') + key, defaultValue).toString();
}

bool WriteIniString(const QString &path, const QString &section, const QString &key,
                    const QString &value)
{
    QSettings ini(path, QSettings::IniFormat);
    ini.setValue(section + QLatin1Char('/') + key, value);
    ini.sync();
    return ini.status() == QSettings::NoError;
}

bool IsSystemProgramFolder(const QString &folder)
{
    const QString canonical = QFileInfo(folder).canonicalFilePath();
    for (const char *system : {"/bin", "/sbin", "/usr/bin", "/usr/sbin", "/usr/local/bin", "/usr/local/sbin"}) {
        if (canonical == QLatin1String(system))
            return true;
    }
    return false;
}

QString IniFolder(const QString &executableFolder)
{
    QString folder = executableFolder;
    // An installed copy run by root could write there, but must not.
    if (!QFileInfo(folder).isWritable() || IsSystemProgramFolder(folder)) {
        folder = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
                 QStringLiteral("/talvor");
        QDir().mkpath(folder);
    }
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    return folder;
}

}  // namespace platform
