#include "platform/ini_file.h"

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

QString IniFolder(const QString &executableFolder)
{
    QString folder = executableFolder;
    if (!QFileInfo(folder).isWritable()) {
        folder = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
                 QStringLiteral("/talvor");
        QDir().mkpath(folder);
    }
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    return folder;
}

}  // namespace platform
