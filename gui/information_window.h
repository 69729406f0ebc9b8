#pragma once
// The list of errors of the last firmware update.

#include <QDialog>
#include <memory>

namespace Ui { class TForm5; }
class QPlainTextEdit;

class TForm5 : public QDialog {
    Q_OBJECT
public:
    explicit TForm5(QWidget *parent = nullptr);
    ~TForm5() override;

    void Button1Click();
    QPlainTextEdit *Memo1() const;

    std::unique_ptr<Ui::TForm5> ui;

protected:
    void showEvent(QShowEvent *event) override;
};

extern TForm5 *Form5;
