#pragma once
// Builds the tool's objects in their start-up order and takes them down in
// reverse, stopping the monitor before anything it uses goes away.

#include <QLocale>
#include <QString>
#include <memory>
#include <string>
#include <vector>

#include "core/line/port_directory.h"

class QTranslator;
class TSetup;
class TForm1;
class TForm2;
class TForm4;
class TForm5;
class TForm6;
class Journal;
class JobRecorder;

struct AppOptions {
    QString iniFolder;  // where "com.ini" lives
    QString virtualPortFolder = platform::kVirtualPortFolder;
    platform::PortDirectory::HardwareSource hardwarePorts = platform::PortDirectory::SystemSerialPorts();
    // Each port's locks add its name: "COMpBusy-ttyUSB0", "COMpBusy1-ttyUSB0".
    std::string portLockName = "COMpBusy";
    // The service journal's file; empty: [Journal] Database= of com.ini, else
    // the user's data folder.
    QString journalPath;
};

inline const QString kApplicationTitle = QStringLiteral("Veltrane Firmware update TALVOR-IV-M");

// How long a hint may stay while the pointer rests on its control: a day, so
// in practice until the pointer leaves.
constexpr int kHintDisplayMs = 24 * 60 * 60 * 1000;

// Application-wide settings made once the QApplication exists: title, hint
// timing, the free fonts standing in for the design fonts.
void ConfigureApplication();

// The window texts in the language of locale, with Qt's own for the standard
// buttons when the system has them, installed while the object lives. Made
// before any window is built, so the windows come up translated.
class Translations {
public:
    explicit Translations(const QLocale &locale);
    ~Translations();
    Translations(const Translations &) = delete;
    Translations &operator=(const Translations &) = delete;
    // False when the tool has no translation for the locale: its texts stay English.
    bool Installed() const { return !translators_.empty(); }

private:
    std::vector<std::unique_ptr<QTranslator>> translators_;
};

class TalvorApp {
public:
    explicit TalvorApp(const AppOptions &options);
    ~TalvorApp();

    std::unique_ptr<TSetup> setup;
    std::unique_ptr<Journal> journal;
    std::unique_ptr<TForm1> form1;
    std::unique_ptr<TForm2> form2;
    std::unique_ptr<TForm4> form4;
    std::unique_ptr<TForm5> form5;
    std::unique_ptr<TForm6> form6;
    std::unique_ptr<JobRecorder> recorder;
};
