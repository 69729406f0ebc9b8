#pragma once
// The fixed text of the instruction window.

#include <QLocale>
#include <QString>

// Lines of the text, counting the empty line after the last sentence.
constexpr int kInstructionLineCount = 82;

// The 82 lines joined by "\n": the user's half first (Russian for a Russian
// locale, English otherwise), a line of 64 hyphens, an empty line, the other
// half line for line. Each half ends with an empty line, so the text ends
// with "\n" and the editor shows 82 lines.
QString InstructionText(const QLocale &locale = QLocale());
