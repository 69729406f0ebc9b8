#include "gui/port_chooser.h"

#include <QInputDialog>

#include "core/line/network_line.h"
#include "gui/design_fonts.h"
#include "gui/message_box.h"
#include "gui/setup.h"
#include "ui_port_chooser.h"

TForm2 *Form2 = nullptr;

namespace {

// The list's last entry, which asks for a network port.
const QString kAddNetworkPort = QStringLiteral("add-network-port");

TForm2::NetworkPortAsker &AskerOverride()
{
    static TForm2::NetworkPortAsker asker;
    return asker;
}

}  // namespace

QString TForm2::AskNetworkPortName(QWidget *parent)
{
    QInputDialog dialog(parent);
    dialog.setObjectName(QStringLiteral("NetworkPortDialog"));
    dialog.setWindowTitle(tr("Network port"));
    dialog.setLabelText(tr("The reader's port on the network:\n"
                           "rfc2217://HOST:PORT for a device server or ser2net with RFC 2217,\n"
                           "tcp://HOST:PORT for a raw TCP port (its line set to 19200 8N1 there)."));
    dialog.setTextValue(QStringLiteral("rfc2217://"));
    dialog.adjustSize();  // the dialog builds its layout only when asked for its size
    platform::ScaleWindowToScreen(&dialog);
    return dialog.exec() == QDialog::Accepted ? dialog.textValue() : QString();
}

void TForm2::SetNetworkPortAskerForTests(NetworkPortAsker asker)
{
    AskerOverride() = std::move(asker);
}

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
    platform::ScaleWindowToScreen(this);
    if (parentWidget())
        move(parentWidget()->geometry().center() - rect().center());
}

void TForm2::FillPortList()
{
    // Afresh at every showing: a converter plugged in since start-up is offered.
    setup_.RefreshPortList();
    ui->ComboBox1->clear();
    ui->ComboBox1->addItems(setup_.PortList);
    for (int i = 0; i < setup_.PortDetails.size() && i < ui->ComboBox1->count(); ++i) {
        if (!setup_.PortDetails[i].isEmpty())
            ui->ComboBox1->setItemData(i, setup_.PortDetails[i], Qt::ToolTipRole);
    }
    // A serial port behind a device server or ser2net, named by the user.
    ui->ComboBox1->addItem(tr("Network port..."), kAddNetworkPort);
    ui->ComboBox1->setItemData(ui->ComboBox1->count() - 1,
                               tr("rfc2217://HOST:PORT or tcp://HOST:PORT: a reader behind a device server or "
                                  "ser2net"),
                               Qt::ToolTipRole);
}

void TForm2::FormShow()
{
    FillPortList();
    ui->ComboBox1->setCurrentIndex(0);
    int index = 0;
    while (index < ui->ComboBox1->count() && ui->ComboBox1->itemText(index) != setup_.PortName)
        ++index;
    // Past the last port nothing is selected and the field stays empty.
    ui->ComboBox1->setCurrentIndex(index < setup_.PortList.size() ? index : -1);
}

void TForm2::Button1Click()
{
    if (ui->ComboBox1->currentData().toString() == kAddNetworkPort) {
        const QString name = AskNetworkPort();
        if (name.isEmpty())
            return;
        setup_.AddNetworkPort(name);
        setup_.PortName = name;
    } else {
        setup_.PortName = ui->ComboBox1->currentIndex() >= 0 ? ui->ComboBox1->currentText() : QString();
    }
    setup_.SaveChoice();
    if (showPortName_)
        showPortName_(setup_.PortName);
    done(QDialog::Accepted);
}

void TForm2::Button2Click()
{
    done(QDialog::Rejected);
}

QString TForm2::AskNetworkPort()
{
    const QString typed = (AskerOverride() ? AskerOverride()(this) : AskNetworkPortName(this)).trimmed();
    if (typed.isEmpty() || typed == QLatin1String("rfc2217://"))
        return QString();
    if (!platform::IsNetworkPortName(typed.toStdString())) {
        platform::ShowError(tr("%1 is no network port. Write it as rfc2217://HOST:PORT or tcp://HOST:PORT.")
                                .arg(typed));
        return QString();
    }
    return typed;
}
