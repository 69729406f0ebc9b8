#pragma once
// The fixed two-language instruction text, printable.

#include <QDialog>
#include <functional>
#include <memory>

namespace Ui { class TForm4; }
class QPrinter;

class TForm4 : public QDialog {
    Q_OBJECT
public:
    // Lets the user set up the printer; true when confirmed. The product shows the
    // printer dialog; tests answer without one.
    using PrinterSetup = std::function<bool(QPrinter &printer, QWidget *parent)>;

    explicit TForm4(QWidget *parent = nullptr);
    ~TForm4() override;

    void FormShow();
    void SpeedButton1Click();
    void Button1Click();

    // The printer the text goes to; it keeps the user's set-up between prints.
    QPrinter &Printer1() { return *printer_; }

    // An empty function restores the real dialog.
    static void SetPrinterSetupForTests(PrinterSetup setup);

    std::unique_ptr<Ui::TForm4> ui;

protected:
    void showEvent(QShowEvent *event) override;

private:
    std::unique_ptr<QPrinter> printer_;
};

extern TForm4 *Form4;
