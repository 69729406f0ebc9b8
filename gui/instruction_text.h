#pragma once
// The fixed text of the instruction window.

#include <QString>

// Lines of the text, counting the empty line after the last sentence.
constexpr int kInstructionLineCount = 78;

// The 78 lines joined by "\n": the English half, a line of 64 hyphens, an
// empty line, the Russian half line for line. Each half ends with an empty
// line, so the text ends with "\n" and the editor shows 78 lines.
QString InstructionText();
