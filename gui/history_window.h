#pragma once
// The history of one reader: its journal entries, newest first, in a small
// window of its own beside the main window.

#include <QDialog>
#include <cstdint>
#include <memory>

#include "core/journal/journal.h"

namespace Ui { class THistoryForm; }

class THistoryForm : public QDialog {
    Q_OBJECT
public:
    explicit THistoryForm(QWidget *parent = nullptr);
    ~THistoryForm() override;

    // Reads the reader's entries from the journal and lists them.
    void ShowReader(Journal &journal, uint16_t serial);

    std::unique_ptr<Ui::THistoryForm> ui;
};

// Opens the history of the reader with this serial number, not modal; the
// window deletes itself when closed.
THistoryForm *ShowReaderHistory(QWidget *parent, Journal &journal, uint16_t serial);
