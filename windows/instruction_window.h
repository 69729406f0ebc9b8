#pragma once
// The fixed two-language instruction text, printable.

#include <QDialog>
#include <memory>

namespace Ui { class TForm4; }

class TForm4 : public QDialog {
    Q_OBJECT
public:
    explicit TForm4(QWidget *parent = nullptr);
    ~TForm4() override;

    void FormShow();
    void SpeedButton1Click();
    void Button1Click();

    std::unique_ptr<Ui::TForm4> ui;

protected:
    void showEvent(QShowEvent *event) override;
};

extern TForm4 *Form4;
