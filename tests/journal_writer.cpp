// A program that writes to a journal file, as the window or one command-line
// run would: `journal_writer FILE PORT COUNT` begins and finishes COUNT
// entries; `journal_writer FILE PORT begin-and-die` begins one, prints its id
// and ends at once, as a job killed mid-update.
#include <QCoreApplication>
#include <cstdio>
#include <unistd.h>

#include "core/journal/journal.h"

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 4)
        return 2;
    JournalOptions options;
    options.path = args[1];
    Journal journal(options);
    const QString port = args[2];

    if (args[3] == QLatin1String("begin-and-die")) {
        JournalEntry entry = JournalEntry::Start(JournalEntry::Kind::Update, port);
        entry.readerSerial = 4242;
        if (!journal.Begin(entry).stored)
            return 1;
        std::printf("%s\n", qPrintable(entry.id));
        std::fflush(stdout);
        ::_exit(0);
    }

    const int count = args[3].toInt();
    for (int n = 0; n < count; ++n) {
        JournalEntry entry = JournalEntry::Start(JournalEntry::Kind::SettingsRead, port);
        entry.readerSerial = uint16_t(n);
        JournalStatus status = journal.Begin(entry);
        entry.End(true, QStringLiteral("completed"));
        if (status.stored)
            status = journal.Finish(entry);
        if (!status.stored) {
            std::fprintf(stderr, "%s\n", qPrintable(status.notice));
            return 1;
        }
    }
    return 0;
}
