#include "gui/history_window.h"

#include <QDateEdit>
#include <QDir>
#include <QFileDialog>
#include <QHeaderView>
#include <QIntValidator>
#include <QSaveFile>
#include <QStyle>
#include <QTableWidgetItem>

#include "core/protocol/settings_fields.h"
#include "gui/design_fonts.h"
#include "gui/message_box.h"
#include "report/service_report.h"
#include "ui_history_window.h"

namespace {

enum Column { Started, Reader, Job, Result, Firmware, Technician };

// So large a journal stays quick to browse; the filters reach the rest.
constexpr int kMostRows = 5000;

THistoryForm::SaveChooser saveChooserForTests;

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

QString Arrow(const QString &before, const QString &after)
{
    return before + QStringLiteral(" \u2192 ") + after;
}

QString Versions(const QString &before, const QString &after)
{
    if (after.isEmpty() || after == before)
        return before;
    return Arrow(before, after);
}

QString LocalTime(const QDateTime &time)
{
    return time.isValid() ? time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) : QString();
}

QString SerialText(const JournalEntry &entry)
{
    return entry.readerSerial ? QString::number(*entry.readerSerial) : QString();
}

// "Caption: before → after" for each field the job changed, in the window's words.
QStringList SettingsChanges(const JournalEntry &entry)
{
    const std::optional<SettingsRecord> before = entry.RecordBefore();
    const std::optional<SettingsRecord> after = entry.RecordAfter();
    QStringList lines;
    for (const QString &id : entry.changedFields) {
        const std::optional<settings_fields::Field> field = settings_fields::FieldById(id);
        if (!field) {
            lines << id;
            continue;
        }
        const QString was = before ? settings_fields::ValueText(*before, *field, true) : QString();
        const QString is = after ? settings_fields::ValueText(*after, *field, true) : QString();
        lines << settings_fields::Caption(*field) + QStringLiteral(": ") + Arrow(was, is);
    }
    return lines;
}

// The technician's name, else the user and the computer, in the window's language.
QString TechnicianWords(const JournalEntry &entry)
{
    if (!entry.technician.isEmpty() || entry.host.isEmpty())
        return entry.technician.isEmpty() ? entry.user : entry.technician;
    return THistoryForm::tr("%1 on %2").arg(entry.user, entry.host);
}

}  // namespace

QString EntryDetailsText(const JournalEntry &entry)
{
    QStringList lines;
    auto line = [&lines](const QString &label, const QString &value) {
        lines << label + QStringLiteral(": ") + (value.isEmpty() ? QStringLiteral("\u2014") : value);
    };
    line(THistoryForm::tr("Job"), JobWords(entry.kind));
    QString result = ResultWords(entry);
    if (!entry.outcome.isEmpty())
        result += QStringLiteral(" (") + OutcomeInWords(entry.outcome, QLocale()) + QLatin1Char(')');
    line(THistoryForm::tr("Result"), result);
    line(THistoryForm::tr("Reader"), SerialText(entry));
    line(THistoryForm::tr("Started"), LocalTime(entry.started));
    line(THistoryForm::tr("Ended"), LocalTime(entry.ended));
    if (entry.finished)
        line(THistoryForm::tr("Duration"), THistoryForm::tr("%1 s").arg(double(entry.durationMs) / 1000.0, 0, 'f', 1));
    line(THistoryForm::tr("Technician"), entry.technician);
    line(THistoryForm::tr("User"), entry.user);
    line(THistoryForm::tr("Computer"), entry.host);
    line(THistoryForm::tr("Site"), entry.site);
    line(THistoryForm::tr("Customer"), entry.customer);
    line(THistoryForm::tr("Note"), entry.note);
    line(THistoryForm::tr("Port"), entry.port);
    line(THistoryForm::tr("USB converter"), entry.converterSerial);
    line(THistoryForm::tr("Service tool"), entry.toolVersion);
    line(THistoryForm::tr("Boot loader"), Versions(entry.loaderBefore, entry.loaderAfter));
    line(THistoryForm::tr("Firmware"), Versions(entry.firmwareBefore, entry.firmwareAfter));
    if (entry.kind == JournalEntry::Kind::Update) {
        line(THistoryForm::tr("Firmware file"), entry.imageName);
        line(THistoryForm::tr("File size"), THistoryForm::tr("%1 bytes").arg(entry.imageSize));
        line(THistoryForm::tr("SHA-256"), entry.imageSha256);
        line(THistoryForm::tr("Description"), entry.imageDescription);
        line(THistoryForm::tr("Blocks sent"), THistoryForm::tr("%1 of %2").arg(entry.blocksSent).arg(entry.blocksTotal));
        line(THistoryForm::tr("Boot entry attempts"), QString::number(entry.bootAttempts));
    } else {
        auto hex = [](const QByteArray &bytes) { return QString::fromLatin1(bytes.toHex(' ')).toUpper(); };
        line(THistoryForm::tr("Settings before"), hex(entry.settingsBefore));
        line(THistoryForm::tr("Settings after"), hex(entry.settingsAfter));
        const QStringList changes = SettingsChanges(entry);
        if (changes.isEmpty())
            line(THistoryForm::tr("Changes"), THistoryForm::tr("none"));
        else
            lines << THistoryForm::tr("Changes:") << QStringLiteral("  ") + changes.join(QStringLiteral("\n  "));
    }
    if (!entry.errorLines.isEmpty())
        lines << THistoryForm::tr("Error lines:") << QStringLiteral("  ") + entry.errorLines.join(QStringLiteral("\n  "));
    line(THistoryForm::tr("Entry"), entry.id);
    return lines.join(QLatin1Char('\n'));
}

THistoryForm::THistoryForm(QWidget *parent)
    : QDialog(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::WindowMaximizeButtonHint),
      ui(std::make_unique<Ui::THistoryForm>())
{
    ui->setupUi(this);
    platform::ApplyDesignFonts(this);
    // The style gives headers a font of their own; the grid's look is one font.
    ui->Grid1->horizontalHeader()->setFont(ui->Grid1->font());
    ui->Splitter1->setStretchFactor(0, 3);
    ui->Splitter1->setStretchFactor(1, 2);
    ui->Label2->hide();
    ui->EditSerial->setValidator(new QIntValidator(0, 65535, ui->EditSerial));
    const QDate today = QDate::currentDate();
    ui->DateFrom->setDate(today.addMonths(-1));
    ui->DateTo->setDate(today);

    connect(ui->Button1, &QPushButton::clicked, this, &QDialog::close);
    connect(ui->ComboScope, &QComboBox::currentIndexChanged, this, &THistoryForm::ScopeChanged);
    connect(ui->EditSerial, &QLineEdit::textChanged, this, &THistoryForm::Reload);
    connect(ui->ComboKind, &QComboBox::currentIndexChanged, this, &THistoryForm::Reload);
    connect(ui->ComboResult, &QComboBox::currentIndexChanged, this, &THistoryForm::Reload);
    connect(ui->CheckDates, &QCheckBox::toggled, this, [this](bool on) {
        ui->DateFrom->setEnabled(on);
        ui->DateTo->setEnabled(on);
        Reload();
    });
    connect(ui->DateFrom, &QDateEdit::dateChanged, this, &THistoryForm::Reload);
    connect(ui->DateTo, &QDateEdit::dateChanged, this, &THistoryForm::Reload);
    connect(ui->Grid1, &QTableWidget::itemSelectionChanged, this, &THistoryForm::ShowDetails);
    connect(ui->ButtonReport, &QPushButton::clicked, this, &THistoryForm::WriteReport);
    connect(ui->ButtonExportCsv, &QPushButton::clicked, this, &THistoryForm::ExportCsv);
}

THistoryForm::~THistoryForm() = default;

void THistoryForm::SetSaveChooserForTests(SaveChooser chooser)
{
    saveChooserForTests = std::move(chooser);
}

void THistoryForm::ShowJournal(Journal &journal, std::optional<uint16_t> thisReader)
{
    journal_ = &journal;
    thisReader_ = thisReader;
    // The date fields keep the size of their first font; in the window's
    // final font a whole date must fit beside the calendar button.
    for (QDateEdit *date : {ui->DateFrom, ui->DateTo}) {
        const int button = date->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, date);
        date->setMinimumWidth(date->fontMetrics().horizontalAdvance(QStringLiteral("8888-88-88")) + button +
                              date->fontMetrics().averageCharWidth() * 3);
    }
    {
        const QSignalBlocker quiet(ui->ComboScope);
        while (ui->ComboScope->count() > 1)
            ui->ComboScope->removeItem(1);
        if (thisReader)
            ui->ComboScope->addItem(tr("This reader (%1)").arg(*thisReader));
        ui->ComboScope->setCurrentIndex(thisReader ? 1 : 0);
    }
    ScopeChanged();
}

void THistoryForm::ScopeChanged()
{
    const bool thisReader = ui->ComboScope->currentIndex() == 1 && thisReader_;
    {
        const QSignalBlocker quiet(ui->EditSerial);
        ui->EditSerial->setText(thisReader ? QString::number(*thisReader_) : QString());
    }
    ui->EditSerial->setEnabled(!thisReader);
    Reload();
}

JournalFilter THistoryForm::Filter() const
{
    JournalFilter filter;
    bool ok = false;
    const uint serial = ui->EditSerial->text().toUInt(&ok);
    if (ok && serial <= 0xFFFF)
        filter.serial = uint16_t(serial);
    if (ui->CheckDates->isChecked()) {
        filter.since = ui->DateFrom->date().startOfDay().toUTC();
        filter.until = ui->DateTo->date().addDays(1).startOfDay().toUTC();
    }
    static const JournalEntry::Kind kinds[] = {JournalEntry::Kind::Update, JournalEntry::Kind::SettingsWrite,
                                               JournalEntry::Kind::SettingsRead};
    if (const int kind = ui->ComboKind->currentIndex(); kind >= 1 && kind <= 3)
        filter.kind = kinds[kind - 1];
    static const JobResult results[] = {JobResult::Succeeded, JobResult::Failed, JobResult::Unfinished};
    if (const int result = ui->ComboResult->currentIndex(); result >= 1 && result <= 3)
        filter.result = results[result - 1];
    filter.limit = kMostRows;
    return filter;
}

void THistoryForm::Reload()
{
    if (!journal_)
        return;
    QString error;
    entries_ = journal_->Query(Filter(), &error);

    QTableWidget *grid = ui->Grid1;
    const QSignalBlocker quiet(grid);
    grid->clearContents();
    grid->setRowCount(int(entries_.size()));
    for (int row = 0; row < int(entries_.size()); ++row) {
        const JournalEntry &entry = entries_[size_t(row)];
        auto put = [grid, row](Column column, const QString &text, const QString &tip = {}) {
            auto *item = new QTableWidgetItem(text);
            item->setToolTip(tip.isEmpty() ? text : tip);
            grid->setItem(row, column, item);
        };
        put(Started, entry.started.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm")), entry.id);
        put(Reader, SerialText(entry));
        put(Job, JobWords(entry.kind));
        put(Result, ResultWords(entry),
            (QStringList{entry.outcome} + entry.errorLines).join(QLatin1Char('\n')).trimmed());
        put(Firmware, Versions(entry.firmwareBefore, entry.firmwareAfter));
        put(Technician, TechnicianWords(entry));
    }
    grid->resizeColumnsToContents();
    if (!entries_.empty())
        grid->selectRow(0);
    ShowDetails();
    ui->ButtonExportCsv->setEnabled(!entries_.empty());

    if (!error.isEmpty())
        ui->Label2->setText(tr("The journal cannot be read: %1").arg(error));
    else if (entries_.empty())
        ui->Label2->setText(tr("The journal has no entries that match."));
    else if (int(entries_.size()) >= kMostRows)
        ui->Label2->setText(tr("Only the newest %1 entries are listed.").arg(kMostRows));
    ui->Label2->setVisible(!error.isEmpty() || entries_.empty() || int(entries_.size()) >= kMostRows);
}

const JournalEntry *THistoryForm::Selected() const
{
    const int row = ui->Grid1->currentRow();
    if (row < 0 || row >= int(entries_.size()) || ui->Grid1->selectedItems().isEmpty())
        return nullptr;
    return &entries_[size_t(row)];
}

void THistoryForm::ShowDetails()
{
    const JournalEntry *entry = Selected();
    ui->MemoDetails->setPlainText(entry ? EntryDetailsText(*entry) : QString());
    ui->ButtonReport->setEnabled(entry != nullptr);
}

namespace {

QString ChooseSaveFile(QWidget *parent, const QString &caption, const QString &suggested, const QString &filter)
{
    if (saveChooserForTests)
        return saveChooserForTests(parent, caption, suggested, filter);
    return QFileDialog::getSaveFileName(parent, caption, QDir::home().filePath(suggested), filter);
}

}  // namespace

void THistoryForm::WriteReport()
{
    const JournalEntry *entry = Selected();
    if (!entry)
        return;
    const QString suggested = QStringLiteral("service-report-%1-%2.pdf")
                                  .arg(entry->readerSerial ? QString::number(*entry->readerSerial) : QStringLiteral("reader"),
                                       entry->started.toLocalTime().toString(QStringLiteral("yyyyMMdd-HHmm")));
    const QString path = ChooseSaveFile(this, tr("Service report"), suggested, tr("PDF files (*.pdf)"));
    if (path.isEmpty())
        return;
    QString error;
    if (!WriteServiceReport(*entry, path, reportOptions_, &error))
        platform::ShowError(tr("The service report cannot be written:\n%1").arg(error));
}

void THistoryForm::ExportCsv()
{
    const QString path = ChooseSaveFile(this, tr("Export CSV"), QStringLiteral("journal.csv"), tr("CSV files (*.csv)"));
    if (path.isEmpty())
        return;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(EntriesToCsv(entries_)) < 0 || !file.commit())
        platform::ShowError(tr("The file cannot be written:\n%1\n%2").arg(path, file.errorString()));
}

THistoryForm *ShowHistory(QWidget *parent, Journal &journal, std::optional<uint16_t> thisReader,
                          const ReportOptions &report)
{
    auto *form = new THistoryForm(parent);
    form->SetReportOptions(report);
    form->setAttribute(Qt::WA_DeleteOnClose);
    platform::ScaleWindowToScreen(form);
    form->ShowJournal(journal, thisReader);
    form->show();
    return form;
}
