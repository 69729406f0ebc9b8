#pragma once
// The named locks live on in /dev/shm after their last user, so tests look
// there for what a copy of the tool left behind.

#include <QDir>
#include <QString>
#include <QStringList>
#include <algorithm>
#include <string>

// The port and settings lock objects of prefix in /dev/shm, sorted, one space apart.
inline std::string LockObjects(const std::string &prefix)
{
    const QString lock = QStringLiteral("talvor-") + QString::fromStdString(prefix);
    QStringList names = QDir(QStringLiteral("/dev/shm"))
                            .entryList({lock + QStringLiteral("-*"), lock + QStringLiteral("1-*")},
                                       QDir::Files | QDir::System, QDir::NoSort);
    std::sort(names.begin(), names.end());
    return names.join(QLatin1Char(' ')).toStdString();
}
