#pragma once
// The sub-commands of talvor-cli; each takes the arguments after its name
// and returns the process's exit status.

#include <QStringList>

namespace cli {

int RunPorts(const QStringList &arguments);
int RunInfo(const QStringList &arguments);
int RunUpdate(const QStringList &arguments);
int RunSettings(const QStringList &arguments);
int RunJournal(const QStringList &arguments);
int RunReport(const QStringList &arguments);
int RunConfig(const QStringList &arguments);

}  // namespace cli
