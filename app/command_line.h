#pragma once
// The tool's command line, read before the window system is touched, so that
// --help and --version answer on a terminal without a display.

#include <optional>

// Parses argv on a short-lived QCoreApplication. Returns the process's exit
// status when the program should end now (help or version printed: 0; an
// unknown option or argument, said on stderr: 2), nothing when the window
// should start. Qt's own window-system options (-platform, -style, ...) are
// let through to the QApplication.
std::optional<int> HandleCommandLine(int argc, char *argv[]);
