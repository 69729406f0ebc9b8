// The reader's history window: the connected reader's entries only, newest
// first, with the job, result, versions and technician; a reader without
// entries says so.

#include <QPointer>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "gui/history_window.h"
#include "ui_history_window.h"

namespace {

class HistoryWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        JournalOptions options;
        options.path = folder_.filePath(QStringLiteral("journal.db"));
        journal_ = std::make_unique<Journal>(options);
        const QDateTime t0(QDate(2026, 5, 4), QTime(8, 0), Qt::UTC);
        auto add = [&](int minutes, uint16_t serial, JournalEntry::Kind kind, int state) {
            JournalEntry entry = JournalEntry::Start(kind, QStringLiteral("ttyUSB0"));
            entry.started = t0.addSecs(minutes * 60);
            entry.readerSerial = serial;
            entry.user = QStringLiteral("anna");
            entry.host = QStringLiteral("van-3");
            entry.firmwareBefore = QStringLiteral("4.07");
            if (state != 0) {
                entry.firmwareAfter = QStringLiteral("4.08");
                entry.End(state > 0, state > 0 ? QStringLiteral("completed") : QStringLiteral("no boot loader"));
            }
            ASSERT_TRUE(journal_->Finish(entry).stored);
        };
        add(0, 12345, JournalEntry::Kind::Update, +1);
        add(10, 999, JournalEntry::Kind::Update, +1);
        add(20, 12345, JournalEntry::Kind::SettingsWrite, -1);
        add(30, 12345, JournalEntry::Kind::Update, 0);
    }

    QTemporaryDir folder_;
    std::unique_ptr<Journal> journal_;
};

TEST_F(HistoryWindow, ListsTheReadersEntriesNewestFirst)
{
    QPointer<THistoryForm> form = ShowReaderHistory(nullptr, *journal_, 12345);
    ASSERT_TRUE(form);
    EXPECT_TRUE(form->isVisible());
    EXPECT_EQ(form->ui->Label1->text(), "Reader 12345");
    EXPECT_TRUE(form->ui->Label2->isHidden());
    QTableWidget *grid = form->ui->Grid1;
    const std::vector<QStringList> expected = {
        {"Firmware update", "Unfinished", "4.07"},
        {"Settings written", "Failed", "4.07 \u2192 4.08"},
        {"Firmware update", "Done", "4.07 \u2192 4.08"},
    };
    ASSERT_EQ(grid->rowCount(), int(expected.size()));
    for (int row = 0; row < grid->rowCount(); ++row) {
        EXPECT_EQ((QStringList{grid->item(row, 1)->text(), grid->item(row, 2)->text(), grid->item(row, 3)->text()}),
                  expected[size_t(row)])
            << "row " << row;
        EXPECT_EQ(grid->item(row, 4)->text(), "anna@van-3");
    }
    EXPECT_TRUE(grid->item(1, 2)->toolTip().contains("no boot loader"));

    form->ui->Button1->click();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(form) << "closed, the window deletes itself";
}

TEST_F(HistoryWindow, AReaderWithoutEntriesSaysSo)
{
    std::unique_ptr<THistoryForm> form = std::make_unique<THistoryForm>();
    form->ShowReader(*journal_, 4242);
    EXPECT_EQ(form->ui->Grid1->rowCount(), 0);
    EXPECT_FALSE(form->ui->Label2->isHidden());
    EXPECT_EQ(form->ui->Label2->text(), "The journal has no entries for this reader.");
}

}  // namespace
