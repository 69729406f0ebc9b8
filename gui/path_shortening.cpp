#include "gui/path_shortening.h"

#include <QFontMetrics>
#include <QStringList>

namespace platform {

namespace {

const QString kEllipsis = QStringLiteral("...");

// The forms a path goes through, longest first. For
// "/home/user/a/b/images/reader.rom":
//   1. the path itself;
//   2. the first folder stays as the volume part (the place of the classic
//      drive letter) and the folders after it give way to "..." one at a time:
//      "/home/.../a/b/images/reader.rom", "/home/.../b/images/reader.rom",
//      "/home/.../images/reader.rom", "/home/.../reader.rom";
//   3. the volume part goes too: ".../reader.rom";
//   4. the bare file name: "reader.rom".
// A relative path has no volume part: "a/b/c.rom" -> ".../b/c.rom" ->
// ".../c.rom" -> "c.rom". An absolute path with one folder goes straight to
// step 3, a file in the root straight to step 4. Forms that would be empty
// (a path ending in "/") are left out, so "/" stays "/".
QStringList ShortenedForms(const QString &path)
{
    QStringList forms{path};
    const int lastSlash = path.lastIndexOf(QLatin1Char('/'));
    if (lastSlash < 0)
        return forms;
    const QString name = path.mid(lastSlash + 1);
    const bool absolute = path.startsWith(QLatin1Char('/'));
    const QStringList folders = path.left(lastSlash).split(QLatin1Char('/'), Qt::SkipEmptyParts);

    if (absolute && folders.size() >= 2) {
        const QString volume = QLatin1Char('/') + folders.first();
        for (int cut = 2; cut <= folders.size(); ++cut) {
            QStringList rest = folders.mid(cut);
            rest.prepend(kEllipsis);
            forms << volume + QLatin1Char('/') + rest.join(QLatin1Char('/')) + QLatin1Char('/') + name;
        }
    } else if (!absolute) {
        for (int cut = 1; cut < folders.size(); ++cut) {
            QStringList rest = folders.mid(cut);
            rest.prepend(kEllipsis);
            forms << rest.join(QLatin1Char('/')) + QLatin1Char('/') + name;
        }
    }
    if (!folders.isEmpty())
        forms << kEllipsis + QLatin1Char('/') + name;
    if (!name.isEmpty())
        forms << name;
    return forms;
}

}  // namespace

QString ShortenPath(const QString &path, const QFontMetrics &metrics, int maxWidth)
{
    const QStringList forms = ShortenedForms(path);
    for (const QString &form : forms) {
        if (metrics.horizontalAdvance(form) <= maxWidth)
            return form;
    }
    return forms.last();
}

}  // namespace platform
