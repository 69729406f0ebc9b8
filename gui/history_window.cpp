#include "gui/history_window.h"

#include <QHeaderView>
#include <QTableWidgetItem>

#include "gui/design_fonts.h"
#include "ui_history_window.h"

namespace {

enum Column { Started, Job, Result, Firmware, Technician };

QString JobWords(JournalEntry::Kind kind)
{
    switch (kind) {
    case JournalEntry::Kind::Update:
        return THistoryForm::tr("Firmware update");
    case JournalEntry::Kind::SettingsWrite:
        return THistoryForm::tr("Settings written");
    case JournalEntry::Kind::SettingsRead:
        return THistoryForm::tr("Settings read");
    }
    return {};
}

QString ResultWords(const JournalEntry &entry)
{
    if (!entry.finished)
        return THistoryForm::tr("Unfinished");
    return entry.succeeded ? THistoryForm::tr("Done") : THistoryForm::tr("Failed");
}

QString Versions(const QString &before, const QString &after)
{
    if (after.isEmpty() || after == before)
        return before;
    return before + QStringLiteral(" \u2192 ") + after;
}

}  // namespace

THistoryForm::THistoryForm(QWidget *parent)
    : QDialog(parent, Qt::Tool | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      ui(std::make_unique<Ui::THistoryForm>())
{
    ui->setupUi(this);
    platform::ApplyDesignFonts(this);
    // The style gives headers a font of their own; the grid's look is one font.
    ui->Grid1->horizontalHeader()->setFont(ui->Grid1->font());
    ui->Label2->hide();
    connect(ui->Button1, &QPushButton::clicked, this, &QDialog::close);
}

THistoryForm::~THistoryForm() = default;

void THistoryForm::ShowReader(Journal &journal, uint16_t serial)
{
    ui->Label1->setText(tr("Reader %1").arg(serial));
    QString error;
    JournalFilter filter;
    filter.serial = serial;
    const std::vector<JournalEntry> entries = journal.Query(filter, &error);

    QTableWidget *grid = ui->Grid1;
    grid->setRowCount(int(entries.size()));
    for (int row = 0; row < int(entries.size()); ++row) {
        const JournalEntry &entry = entries[size_t(row)];
        auto put = [grid, row](Column column, const QString &text, const QString &tip = {}) {
            auto *item = new QTableWidgetItem(text);
            item->setToolTip(tip.isEmpty() ? text : tip);
            grid->setItem(row, column, item);
        };
        put(Started, entry.started.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm")),
            entry.id);
        put(Job, JobWords(entry.kind));
        put(Result, ResultWords(entry),
            (QStringList{entry.outcome} + entry.errorLines).join(QLatin1Char('\n')).trimmed());
        put(Firmware, Versions(entry.firmwareBefore, entry.firmwareAfter));
        put(Technician, entry.host.isEmpty() ? entry.user : entry.user + QLatin1Char('@') + entry.host);
    }
    grid->resizeColumnsToContents();

    if (!error.isEmpty())
        ui->Label2->setText(tr("The journal cannot be read: %1").arg(error));
    else if (entries.empty())
        ui->Label2->setText(tr("The journal has no entries for this reader."));
    ui->Label2->setVisible(!error.isEmpty() || entries.empty());
}

THistoryForm *ShowReaderHistory(QWidget *parent, Journal &journal, uint16_t serial)
{
    auto *form = new THistoryForm(parent);
    form->setAttribute(Qt::WA_DeleteOnClose);
    platform::ScaleWindowToScreen(form);
    form->ShowReader(journal, serial);
    form->show();
    return form;
}
