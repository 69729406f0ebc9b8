// A second copy of the tool in a process of its own, for the two-copies test.
// Arguments: ini folder, port folder, port lock name, port name. It opens the
// port and reports "ready" once its monitor shows the reader (or "not-ready"),
// then takes one command per line on standard input:
//   update <file>   "Load program" with that file; reports "updated <status line>"
// and ends at end of input. Message boxes are answered at once and reported
// as "box <text>".

#include <QApplication>
#include <QMetaObject>
#include <cstdio>
#include <iostream>
#include <string>
#include <thread>

#include <QPlainTextEdit>

#include "gui/application.h"
#include "gui/information_window.h"
#include "gui/main_window.h"
#include "gui/message_box.h"
#include "gui/setup.h"
#include "core/line/serial_device.h"
#include "test_app.h"
#include "ui_main_window.h"

namespace {

constexpr double kPatientUpdate = 10.0;

void Report(const QString &line)
{
    std::printf("%s\n", line.toLocal8Bit().constData());
    std::fflush(stdout);
}

void Run(TalvorApp &copy, const std::string &command)
{
    if (command.rfind("update ", 0) == 0) {
        // A sanitized build on a busy machine can be slower than the boot
        // loader's reply budget, and a simulator thread held up in the middle
        // of a reply splits it in two; the update here is not about pace.
        platform::SetTimeoutScaleForTests(kPatientUpdate);
        test_app::ChooseFile(copy, QString::fromStdString(command.substr(7)));
        copy.form1->ui->Button22->click();
        WaitUntil([&copy] { return !copy.form1->UpdateRunning(); }, test_app::kUpdateEndMs);
        platform::SetTimeoutScaleForTests(1.0);
        QString report = QStringLiteral("updated ") + copy.form1->ui->StaticText2->text();
        if (!copy.form5->Memo1()->toPlainText().isEmpty())
            report += QStringLiteral(" | ") + copy.form5->Memo1()->toPlainText().replace('\n', " | ");
        Report(report);
    } else {
        Report(QStringLiteral("unknown ") + QString::fromStdString(command));
    }
}

}  // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc != 5) {
        std::fprintf(stderr, "usage: %s ini-folder port-folder lock-name port-name\n", argv[0]);
        return 2;
    }
    platform::SetMessageBoxHandler([](const platform::MessageBoxRequest &request) {
        Report(QStringLiteral("box ") + request.text);
        return int(platform::ResultOk);
    });

    TalvorApp copy(test_app::Options(QString::fromLocal8Bit(argv[1]), QString::fromLocal8Bit(argv[2]), argv[3]));
    copy.setup->PortName = QString::fromLocal8Bit(argv[4]);
    copy.form1->show();
    copy.form1->OpenPort();
    const bool ready = WaitUntil(
        [&] { return copy.form1->ui->StaticText3->text() == QStringLiteral("Device is ready"); }, 10000);
    Report(ready ? QStringLiteral("ready") : QStringLiteral("not-ready"));

    // Commands come in on a thread of their own and run on the GUI thread.
    std::thread input([&] {
        std::string line;
        while (std::getline(std::cin, line))
            QMetaObject::invokeMethod(&app, [&copy, line] { Run(copy, line); }, Qt::QueuedConnection);
        QMetaObject::invokeMethod(&app, [] { QCoreApplication::quit(); }, Qt::QueuedConnection);
    });
    const int result = app.exec();
    input.join();
    copy.form1->ClosePort();
    return result;
}
