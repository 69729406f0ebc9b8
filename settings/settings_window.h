#pragma once
// The reader's settings: shown, edited under the field rules, read from and
// written to the reader by the settings exchange thread.

#include <QDialog>

class PortHandover;
class TComPort1;

class TForm6 : public QDialog {
    Q_OBJECT
public:
    TForm6(PortHandover &handover, TComPort1 &port, QWidget *parent = nullptr);
    ~TForm6() override;

    void Button3Click();

private:
    PortHandover &handover_;
    TComPort1 &port_;
};

extern TForm6 *Form6;
