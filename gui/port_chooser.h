#pragma once
// The small modal dialog in which the user picks the serial port.

#include <QDialog>
#include <functional>
#include <memory>

class TSetup;
namespace Ui { class TForm2; }

class TForm2 : public QDialog {
    Q_OBJECT
public:
    // showPortName puts the chosen name into the main window's group box caption.
    TForm2(TSetup &setup, std::function<void(const QString &)> showPortName, QWidget *parent = nullptr);
    ~TForm2() override;

    void FormShow();
    void FillPortList();
    void Button1Click();
    void Button2Click();

    // What the user types for a new network port; tests replace the question.
    using NetworkPortAsker = std::function<QString(QWidget *parent)>;
    static void SetNetworkPortAskerForTests(NetworkPortAsker asker);
    // The real question: a dialog scaled as the windows are.
    static QString AskNetworkPortName(QWidget *parent);

    std::unique_ptr<Ui::TForm2> ui;

protected:
    void showEvent(QShowEvent *event) override;

private:
    // A network port name the user typed and the tool takes; empty when
    // cancelled or refused (the refusal said why).
    QString AskNetworkPort();

    TSetup &setup_;
    std::function<void(const QString &)> showPortName_;
};

extern TForm2 *Form2;
