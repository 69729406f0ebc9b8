#pragma once
// The service history: the journal's entries, newest first, of every reader
// or of the connected one, filtered by date, job, result and serial number,
// with everything the journal holds on the chosen entry, its service report
// and the list as CSV.

#include <QDialog>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "core/journal/journal.h"
#include "report/service_report.h"

namespace Ui { class THistoryForm; }

class THistoryForm : public QDialog {
    Q_OBJECT
public:
    // The save dialog: the file chosen, empty when cancelled.
    using SaveChooser = std::function<QString(QWidget *parent, const QString &caption, const QString &suggested,
                                              const QString &filter)>;

    explicit THistoryForm(QWidget *parent = nullptr);
    ~THistoryForm() override;

    // Lists the journal's entries: those of thisReader (the connected reader,
    // when known) or of all readers.
    void ShowJournal(Journal &journal, std::optional<uint16_t> thisReader);
    // The language and logo of the service reports it writes.
    void SetReportOptions(const ReportOptions &options) { reportOptions_ = options; }
    // The filters as the controls set them.
    JournalFilter Filter() const;
    const std::vector<JournalEntry> &Entries() const { return entries_; }

    static void SetSaveChooserForTests(SaveChooser chooser);

    std::unique_ptr<Ui::THistoryForm> ui;

private:
    void Reload();
    void ScopeChanged();
    void ShowDetails();
    void WriteReport();
    void ExportCsv();
    const JournalEntry *Selected() const;

    Journal *journal_ = nullptr;
    std::optional<uint16_t> thisReader_;
    std::vector<JournalEntry> entries_;
    ReportOptions reportOptions_;
};

// The text of the details pane: every field of the entry, in words.
QString EntryDetailsText(const JournalEntry &entry);

// Opens the history, not modal, of thisReader when known, else of all
// readers; the window deletes itself when closed.
THistoryForm *ShowHistory(QWidget *parent, Journal &journal, std::optional<uint16_t> thisReader,
                          const ReportOptions &report = {});
