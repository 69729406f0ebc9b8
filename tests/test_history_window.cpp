// The service history window: its filters list the right entries newest
// first, the details pane shows what the journal holds, and the report and
// CSV buttons write files through a replaced save dialog.

#include <QFile>
#include <QPointer>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "core/journal/journal_entry.h"
#include "gui/history_window.h"
#include "recorded_boxes.h"
#include "ui_history_window.h"

namespace {

// Each entry's note names it, so a listing reads as a string of tags.
QString Tags(const std::vector<JournalEntry> &entries)
{
    QString tags;
    for (const JournalEntry &entry : entries)
        tags += entry.note;
    return tags;
}

class HistoryWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        JournalOptions options;
        options.path = folder_.filePath(QStringLiteral("journal.db"));
        journal_ = std::make_unique<Journal>(options);
        // Local times, as the date filters take them.
        auto add = [&](const char *tag, int day, int hour, int minute, uint16_t serial, JournalEntry::Kind kind,
                       int state) {
            JournalEntry entry = JournalEntry::Start(kind, QStringLiteral("ttyUSB0"));
            entry.started = QDateTime(QDate(2026, 5, day), QTime(hour, minute)).toUTC();
            entry.readerSerial = serial;
            entry.user = QStringLiteral("anna");
            entry.host = QStringLiteral("van-3");
            entry.note = QString::fromLatin1(tag);
            entry.firmwareBefore = QStringLiteral("4.07");
            if (kind == JournalEntry::Kind::SettingsWrite) {
                SettingsRecord after = kDefaultSettingsRecord;
                after[0] = 1;  // "Temic Only" on
                after[1] = 1;  // red LED 1
                entry.SetSettings(kDefaultSettingsRecord, after);
            }
            if (state != 0) {
                entry.firmwareAfter = QStringLiteral("4.08");
                entry.End(state > 0, state > 0 ? QStringLiteral("completed") : QStringLiteral("no boot loader"));
                entry.errorLines = state > 0 ? QStringList() : QStringList{QStringLiteral("Device no answer")};
            }
            ASSERT_TRUE(journal_->Finish(entry).stored);
        };
        add("a", 1, 10, 0, 12345, JournalEntry::Kind::Update, +1);
        add("b", 2, 10, 0, 999, JournalEntry::Kind::Update, -1);
        add("c", 3, 23, 30, 12345, JournalEntry::Kind::SettingsWrite, +1);
        add("d", 4, 0, 30, 12345, JournalEntry::Kind::Update, 0);
        add("e", 5, 9, 0, 999, JournalEntry::Kind::SettingsRead, +1);
    }

    void TearDown() override { THistoryForm::SetSaveChooserForTests({}); }

    QTemporaryDir folder_;
    std::unique_ptr<Journal> journal_;
    RecordedBoxes boxes_;
};

struct FilterCase {
    const char *name;
    bool thisReader;  // scope "This reader (12345)"
    const char *serial;
    int kind;    // ComboKind's index
    int result;  // ComboResult's index
    int fromDay;  // 0: no dates
    int toDay;
    const char *expected;
};

TEST_F(HistoryWindow, FiltersListTheMatchingEntriesNewestFirst)
{
    const FilterCase cases[] = {
        {"everything", false, "", 0, 0, 0, 0, "edcba"},
        {"this reader", true, "", 0, 0, 0, 0, "dca"},
        {"serial typed", false, "999", 0, 0, 0, 0, "eb"},
        {"updates", false, "", 1, 0, 0, 0, "dba"},
        {"settings written", false, "", 2, 0, 0, 0, "c"},
        {"settings read", false, "", 3, 0, 0, 0, "e"},
        {"done", false, "", 0, 1, 0, 0, "eca"},
        {"failed, not unfinished", false, "", 0, 2, 0, 0, "b"},
        {"unfinished", false, "", 0, 3, 0, 0, "d"},
        {"one day, to its end", false, "", 0, 0, 3, 3, "c"},
        {"days and kind", false, "", 1, 0, 2, 4, "db"},
        {"this reader done", true, "", 0, 1, 0, 0, "ca"},
        {"no match", false, "4242", 0, 0, 0, 0, ""},
    };
    THistoryForm form;
    form.ShowJournal(*journal_, uint16_t(12345));
    Ui::THistoryForm &ui = *form.ui;
    ASSERT_EQ(ui.ComboScope->count(), 2);
    EXPECT_EQ(ui.ComboScope->currentIndex(), 1) << "a known reader is the first view";
    for (const FilterCase &c : cases) {
        ui.ComboScope->setCurrentIndex(c.thisReader ? 1 : 0);
        if (!c.thisReader)
            ui.EditSerial->setText(QString::fromLatin1(c.serial));
        ui.ComboKind->setCurrentIndex(c.kind);
        ui.ComboResult->setCurrentIndex(c.result);
        ui.CheckDates->setChecked(c.fromDay != 0);
        if (c.fromDay != 0) {
            ui.DateFrom->setDate(QDate(2026, 5, c.fromDay));
            ui.DateTo->setDate(QDate(2026, 5, c.toDay));
        }
        EXPECT_EQ(Tags(form.Entries()), QString::fromLatin1(c.expected)) << c.name;
        ASSERT_EQ(ui.Grid1->rowCount(), int(form.Entries().size())) << c.name;
        for (int row = 0; row < ui.Grid1->rowCount(); ++row)
            EXPECT_EQ(ui.Grid1->item(row, 1)->text(), QString::number(*form.Entries()[size_t(row)].readerSerial));
        EXPECT_EQ(ui.Label2->isHidden(), form.Entries().size() > 0) << c.name;
        EXPECT_EQ(ui.ButtonExportCsv->isEnabled(), form.Entries().size() > 0) << c.name;
    }
}

TEST_F(HistoryWindow, WithoutAReaderEveryReaderIsListedWithTheRowsInWords)
{
    QPointer<THistoryForm> form = ShowHistory(nullptr, *journal_, std::nullopt);
    ASSERT_TRUE(form);
    EXPECT_TRUE(form->isVisible());
    EXPECT_EQ(form->ui->ComboScope->count(), 1);
    EXPECT_TRUE(form->ui->EditSerial->isEnabled());
    QTableWidget *grid = form->ui->Grid1;
    const std::vector<QStringList> expected = {
        {"999", "Settings read", "Done", "4.07 \u2192 4.08"},
        {"12345", "Firmware update", "Unfinished", "4.07"},
        {"12345", "Settings written", "Done", "4.07 \u2192 4.08"},
        {"999", "Firmware update", "Failed", "4.07 \u2192 4.08"},
        {"12345", "Firmware update", "Done", "4.07 \u2192 4.08"},
    };
    ASSERT_EQ(grid->rowCount(), int(expected.size()));
    for (int row = 0; row < grid->rowCount(); ++row) {
        QStringList cells;
        for (int column = 1; column <= 4; ++column)
            cells << grid->item(row, column)->text();
        EXPECT_EQ(cells, expected[size_t(row)]) << "row " << row;
        EXPECT_EQ(grid->item(row, 5)->text(), "anna on van-3");
    }
    EXPECT_TRUE(grid->item(3, 3)->toolTip().contains("no boot loader"));

    form->ui->Button1->click();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(form) << "closed, the window deletes itself";
}

TEST_F(HistoryWindow, DetailsShowEverythingOfTheChosenEntry)
{
    THistoryForm form;
    form.ShowJournal(*journal_, std::nullopt);
    form.ui->ComboKind->setCurrentIndex(2);
    ASSERT_EQ(Tags(form.Entries()), "c");
    const QString settings = form.ui->MemoDetails->toPlainText();
    EXPECT_TRUE(settings.contains("\"Temic Only\": OFF \u2192 ON")) << settings.toStdString();
    EXPECT_TRUE(settings.contains("Red Led: 0 \u2192 1")) << settings.toStdString();
    EXPECT_TRUE(settings.contains("Settings after: 01 01 00 00 00 01 00 00 00")) << settings.toStdString();
    EXPECT_TRUE(settings.contains("Result: Done (completed)"));
    EXPECT_TRUE(settings.contains("Reader: 12345"));
    EXPECT_TRUE(settings.contains("Computer: van-3"));
    EXPECT_TRUE(settings.contains("Note: c"));

    form.ui->ComboKind->setCurrentIndex(0);
    form.ui->ComboResult->setCurrentIndex(2);
    const QString failed = form.ui->MemoDetails->toPlainText();
    EXPECT_TRUE(failed.contains("Result: Failed (no boot loader)")) << failed.toStdString();
    EXPECT_TRUE(failed.contains("Error lines:\n  Device no answer")) << failed.toStdString();
    EXPECT_FALSE(failed.contains("Changes")) << "an update has no settings";

    form.ui->Grid1->clearSelection();
    EXPECT_TRUE(form.ui->MemoDetails->toPlainText().isEmpty());
    EXPECT_FALSE(form.ui->ButtonReport->isEnabled());
}

TEST_F(HistoryWindow, ExportWritesTheEntriesShownAndTheReportAPdf)
{
    THistoryForm form;
    form.ShowJournal(*journal_, uint16_t(12345));
    form.ui->ComboResult->setCurrentIndex(1);
    ASSERT_EQ(Tags(form.Entries()), "ca");

    const QString csvPath = folder_.filePath(QStringLiteral("shown.csv"));
    THistoryForm::SetSaveChooserForTests([&](QWidget *, const QString &, const QString &, const QString &) {
        return csvPath;
    });
    form.ui->ButtonExportCsv->click();
    QFile csv(csvPath);
    ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
    EXPECT_EQ(csv.readAll(), EntriesToCsv(form.Entries()));

    form.ui->Grid1->selectRow(1);
    const QString pdfPath = folder_.filePath(QStringLiteral("report.pdf"));
    QString suggested;
    THistoryForm::SetSaveChooserForTests([&](QWidget *, const QString &, const QString &name, const QString &) {
        suggested = name;
        return pdfPath;
    });
    form.ui->ButtonReport->click();
    EXPECT_TRUE(suggested.startsWith("service-report-12345-20260501")) << suggested.toStdString();
    QFile pdf(pdfPath);
    ASSERT_TRUE(pdf.open(QIODevice::ReadOnly));
    EXPECT_TRUE(pdf.read(4) == "%PDF");
    EXPECT_GT(pdf.size(), 1000);

    // A file that cannot be written says so.
    THistoryForm::SetSaveChooserForTests([&](QWidget *, const QString &, const QString &, const QString &) {
        return folder_.filePath(QStringLiteral("missing/shown.csv"));
    });
    form.ui->ButtonExportCsv->click();
    ASSERT_EQ(boxes_.Count(), 1u);
    EXPECT_EQ(boxes_.Boxes()[0].caption, "Error");
}

}  // namespace
