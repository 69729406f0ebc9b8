#include "windows/instruction_window.h"

#include "platform/design_fonts.h"
#include "ui_instruction_window.h"

TForm4 *Form4 = nullptr;

TForm4::TForm4(QWidget *parent)
    : QDialog(parent, Qt::Tool | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      ui(std::make_unique<Ui::TForm4>())
{
    ui->setupUi(this);
    platform::ApplyDesignFonts(this);
    setFixedSize(size());
    connect(ui->SpeedButton1, &QToolButton::clicked, this, &TForm4::SpeedButton1Click);
    connect(ui->Button1, &QPushButton::clicked, this, &TForm4::Button1Click);
}

TForm4::~TForm4() = default;

void TForm4::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    FormShow();
}

void TForm4::FormShow()
{
}

void TForm4::SpeedButton1Click()
{
}

void TForm4::Button1Click()
{
    close();
}
