#include "gui/instruction_window.h"

#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>

#include "gui/design_fonts.h"
#include "ui_instruction_window.h"
#include "gui/instruction_text.h"

TForm4 *Form4 = nullptr;

namespace {

const QString kJobName = QStringLiteral("Instruction");

TForm4::PrinterSetup &PrinterSetupOverride()
{
    static TForm4::PrinterSetup setup;
    return setup;
}

bool RunPrinterDialog(QPrinter &printer, QWidget *parent)
{
    QPrintDialog dialog(&printer, parent);
    return dialog.exec() == QDialog::Accepted;
}

// A 32 x 32 desk printer: paper coming out of the top, grey body, tray slot.
// Drawn four times as fine: the button grows on tall screens, and a picture
// is shrunk smoothly but never enlarged.
QPixmap PrinterPicture()
{
    constexpr int kDetail = 4;
    QPixmap pixmap(32 * kDetail, 32 * kDetail);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.scale(kDetail, kDetail);

    // Sheet going in at the back.
    painter.setPen(QColor(96, 96, 96));
    painter.setBrush(Qt::white);
    painter.drawRect(9, 2, 14, 11);
    painter.setPen(QColor(64, 64, 160));
    for (int y = 5; y <= 10; y += 2)
        painter.drawLine(11, y, 20, y);

    // Body.
    painter.setPen(Qt::black);
    painter.setBrush(QColor(192, 192, 192));
    painter.drawRect(2, 12, 27, 12);
    painter.setPen(Qt::white);
    painter.drawLine(3, 13, 27, 13);
    painter.drawLine(3, 13, 3, 23);
    painter.setPen(QColor(128, 128, 128));
    painter.drawLine(4, 23, 28, 23);

    // Power lamp and the output slot.
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0, 192, 0));
    painter.drawRect(24, 15, 3, 2);
    painter.setPen(Qt::black);
    painter.setBrush(QColor(64, 64, 64));
    painter.drawRect(6, 19, 20, 2);

    // Printed sheet in the tray.
    painter.setPen(QColor(96, 96, 96));
    painter.setBrush(Qt::white);
    painter.drawRect(7, 24, 18, 6);
    painter.setPen(Qt::black);
    painter.drawLine(9, 26, 22, 26);
    painter.drawLine(9, 28, 18, 28);
    return pixmap;
}

}  // namespace

TForm4::TForm4(QWidget *parent)
    : QDialog(parent, Qt::Tool | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      ui(std::make_unique<Ui::TForm4>()),
      printer_(std::make_unique<QPrinter>())
{
    ui->setupUi(this);
    platform::ApplyDesignFonts(this);
    setFixedSize(size());
    ui->SpeedButton1->setIcon(QIcon(PrinterPicture()));
    ui->RichEdit1->setPlainText(InstructionText());
    connect(ui->SpeedButton1, &QToolButton::clicked, this, &TForm4::SpeedButton1Click);
    connect(ui->Button1, &QPushButton::clicked, this, &TForm4::Button1Click);
}

TForm4::~TForm4() = default;

void TForm4::SetPrinterSetupForTests(PrinterSetup setup)
{
    PrinterSetupOverride() = std::move(setup);
}

void TForm4::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    platform::ScaleWindowToScreen(this);
    // Frame on frame, as the main window's centre is meant on screen.
    if (parentWidget())
        move(parentWidget()->frameGeometry().center() - QRect(QPoint(), frameGeometry().size()).center());
    FormShow();
}

void TForm4::FormShow()
{
}

void TForm4::SpeedButton1Click()
{
    const PrinterSetup &setup = PrinterSetupOverride();
    const bool confirmed = setup ? setup(*printer_, this) : RunPrinterDialog(*printer_, this);
    if (!confirmed)
        return;
    printer_->setDocName(kJobName);
    // One print call is one job, however many pages the text takes.
    ui->RichEdit1->print(printer_.get());
}

void TForm4::Button1Click()
{
    close();
}
