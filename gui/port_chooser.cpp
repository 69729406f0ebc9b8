#include "gui/port_chooser.h"

#include "gui/design_fonts.h"
#include "gui/setup.h"
#include "ui_port_chooser.h"

TForm2 *Form2 = nullptr;

TForm2::TForm2(TSetup &setup, std::function<void(const QString &)> showPortName, QWidget *parent)
    : QDialog(parent, Qt::Tool | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      ui(std::make_unique<Ui::TForm2>()), setup_(setup), showPortName_(std::move(showPortName))
{
    ui->setupUi(this);
    platform::ApplyDesignFonts(this);
    setFixedSize(size());
    connect(ui->Button1, &QPushButton::clicked, this, &TForm2::Button1Click);
    connect(ui->Button2, &QPushButton::clicked, this, &TForm2::Button2Click);
    // The closed list shows the chosen entry's details too.
    connect(ui->ComboBox1, &QComboBox::currentIndexChanged, this, [this](int index) {
        ui->ComboBox1->setToolTip(index >= 0 ? ui->ComboBox1->itemData(index, Qt::ToolTipRole).toString()
                                             : QString());
    });
}

TForm2::~TForm2() = default;

void TForm2::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    FormShow();
    if (parentWidget())
        move(parentWidget()->geometry().center() - rect().center());
}

void TForm2::FillPortList()
{
    // Afresh at every showing: a converter plugged in since start-up is offered.
    setup_.RefreshPortList();
    const bool havePorts = !setup_.PortList.isEmpty();
    ui->ComboBox1->setEnabled(havePorts);
    ui->Button1->setEnabled(havePorts);
    ui->ComboBox1->clear();
    ui->ComboBox1->addItems(setup_.PortList);
    for (int i = 0; i < setup_.PortDetails.size() && i < ui->ComboBox1->count(); ++i) {
        if (!setup_.PortDetails[i].isEmpty())
            ui->ComboBox1->setItemData(i, setup_.PortDetails[i], Qt::ToolTipRole);
    }
}

void TForm2::FormShow()
{
    FillPortList();
    ui->ComboBox1->setCurrentIndex(0);
    int index = 0;
    while (index < ui->ComboBox1->count() && ui->ComboBox1->itemText(index) != setup_.PortName)
        ++index;
    // Past the last entry nothing is selected and the field stays empty.
    ui->ComboBox1->setCurrentIndex(index < ui->ComboBox1->count() ? index : -1);
}

void TForm2::Button1Click()
{
    setup_.PortName = ui->ComboBox1->currentIndex() >= 0 ? ui->ComboBox1->currentText() : QString();
    setup_.SaveChoice();
    if (showPortName_)
        showPortName_(setup_.PortName);
    done(QDialog::Accepted);
}

void TForm2::Button2Click()
{
    done(QDialog::Rejected);
}
