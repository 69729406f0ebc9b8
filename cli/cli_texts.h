#pragma once
// The contexts of the command line's texts in translations/talvor_cli_ru.ts,
// one a command or layer: CliUpdate::tr("...") is a text of `update`. JSON
// keys, CSV and the words scripts read are never translated.

#include <QCoreApplication>

struct CliMain {
    Q_DECLARE_TR_FUNCTIONS(CliMain)
};
struct CliCommon {
    Q_DECLARE_TR_FUNCTIONS(CliCommon)
};
struct CliReader {
    Q_DECLARE_TR_FUNCTIONS(CliReader)
};
struct CliUpdate {
    Q_DECLARE_TR_FUNCTIONS(CliUpdate)
};
struct CliSettings {
    Q_DECLARE_TR_FUNCTIONS(CliSettings)
};
struct CliJournal {
    Q_DECLARE_TR_FUNCTIONS(CliJournal)
};
struct CliConfig {
    Q_DECLARE_TR_FUNCTIONS(CliConfig)
};
