#include "settings/settings_window.h"

#include <QPushButton>

#include "monitor/port_handover.h"

TForm6 *Form6 = nullptr;

TForm6::TForm6(PortHandover &handover, TComPort1 &port, QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      handover_(handover), port_(port)
{
    setWindowTitle(QStringLiteral("Setting"));
    resize(778, 527);
    auto *close = new QPushButton(QStringLiteral("Close"), this);
    close->setObjectName(QStringLiteral("Button3"));
    connect(close, &QPushButton::clicked, this, &TForm6::Button3Click);
}

TForm6::~TForm6() = default;

void TForm6::Button3Click()
{
    handover_.GiveBackToMonitor();
    accept();
}
