// The TALVOR IV service tool: firmware update, settings and monitoring of a
// reader on a serial port.

#include <QApplication>
#include <QMessageBox>
#include <exception>

#include "gui/application.h"
#include "app/command_line.h"
#include "gui/main_window.h"
#include "core/line/ini_file.h"

int main(int argc, char *argv[])
{
    if (const std::optional<int> status = HandleCommandLine(argc, argv))
        return *status;
    QApplication application(argc, argv);
    // Lets the desktop match the window to its menu entry and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral(TALVOR_APP_ID));
    ConfigureApplication();
    // LANG, LC_MESSAGES or LC_ALL choose the language of the windows.
    const Translations translations(QLocale::system());
    try {
        AppOptions options;
        options.iniFolder = platform::IniFolder(QCoreApplication::applicationDirPath());
        TalvorApp app(options);
        app.form1->show();
        return QApplication::exec();
    } catch (const std::exception &error) {
        QMessageBox::critical(nullptr, kApplicationTitle, QString::fromLocal8Bit(error.what()));
    } catch (...) {
        QMessageBox::critical(nullptr, kApplicationTitle, QString());
    }
    return 1;
}
