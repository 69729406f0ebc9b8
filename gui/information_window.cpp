#include "gui/information_window.h"

#include "gui/design_fonts.h"
#include "ui_information_window.h"

TForm5 *Form5 = nullptr;

TForm5::TForm5(QWidget *parent)
    : QDialog(parent, Qt::Tool | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      ui(std::make_unique<Ui::TForm5>())
{
    ui->setupUi(this);
    platform::ApplyDesignFonts(this);
    setFixedSize(size());
    connect(ui->Button1, &QPushButton::clicked, this, &TForm5::Button1Click);
}

TForm5::~TForm5() = default;

QPlainTextEdit *TForm5::Memo1() const
{
    return ui->Memo1;
}

void TForm5::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    platform::ScaleWindowToScreen(this);
    if (parentWidget())
        move(parentWidget()->geometry().center() - rect().center());
}

void TForm5::Button1Click()
{
    close();
}
