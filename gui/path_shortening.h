#pragma once
// File paths shortened for display beside a button, as the classic toolkit
// did: leading folder names give way to "..." until the path fits.

#include <QString>

class QFontMetrics;

namespace platform {

// Returns path as it is when its drawn width fits maxWidth, else the first of
// its shortened forms that fits, else the bare file name.
QString ShortenPath(const QString &path, const QFontMetrics &metrics, int maxWidth);

}  // namespace platform
