#pragma once
// A small ini file, read or written one key at a time (the object lives for
// one access, as the tool uses it).

#include <QString>

namespace platform {

QString ReadIniString(const QString &path, const QString &section, const QString &key,
                      const QString &defaultValue);
// False when the file could not be written.
bool WriteIniString(const QString &path, const QString &section, const QString &key,
                    const QString &value);

// The folder for the tool's ini file: the executable's folder when the user may
// write there and it is not a system program folder, else the user's
// configuration folder (an installed copy under /usr/bin, say). Ends in '/'.
QString IniFolder(const QString &executableFolder);
// /usr/bin and its kin, where only installed programs live.
bool IsSystemProgramFolder(const QString &folder);

}  // namespace platform
