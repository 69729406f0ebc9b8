#include "gui/application.h"

#include <QDir>
#include <QApplication>
#include <QEvent>
#include <QLibraryInfo>
#include <QProxyStyle>
#include <QTranslator>
#include <algorithm>

#include "core/journal/journal.h"
#include "gui/job_recorder.h"
#include "gui/main_window.h"
#include "gui/design_fonts.h"
#include "gui/port_chooser.h"
#include "gui/setup.h"
#include "gui/settings_window.h"
#include "ui_main_window.h"
#include "gui/information_window.h"
#include "gui/instruction_window.h"

namespace {

// Hints come up 10 ms after the pointer rests.
class HintTimingStyle : public QProxyStyle {
public:
    int styleHint(StyleHint hint, const QStyleOption *option, const QWidget *widget,
                  QStyleHintReturn *returnData) const override
    {
        if (hint == SH_ToolTip_WakeUpDelay)
            return 10;
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }

    // The windows shrink their controls on low screens and under Qt's own
    // scaling: a check box's or radio button's mark stays inside its control.
    int pixelMetric(PixelMetric metric, const QStyleOption *option, const QWidget *widget) const override
    {
        const int size = QProxyStyle::pixelMetric(metric, option, widget);
        switch (metric) {
        case PM_ExclusiveIndicatorWidth:
        case PM_ExclusiveIndicatorHeight:
        case PM_IndicatorWidth:
        case PM_IndicatorHeight:
            return widget && widget->height() > 0 ? std::min(size, widget->height()) : size;
        default:
            return size;
        }
    }
};

// Hints stay until the pointer leaves their control: Qt would hide them after
// 10 s or so, too soon to read the settings window's long ones. A widget that
// asks for a duration of its own keeps it.
class HintsStayUntilLeft : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::ToolTip && watched->isWidgetType()) {
            auto *widget = static_cast<QWidget *>(watched);
            if (widget->toolTipDuration() <= 0 && !widget->toolTip().isEmpty())
                widget->setToolTipDuration(kHintDisplayMs);
        }
        return false;
    }
};

}  // namespace

void ConfigureApplication()
{
    QApplication::setApplicationName(kApplicationTitle);
    QApplication::setStyle(new HintTimingStyle);
    qApp->installEventFilter(new HintsStayUntilLeft(qApp));
    platform::InstallDesignFontSubstitutes();
}

Translations::Translations(const QLocale &locale)
{
    auto toolTexts = std::make_unique<QTranslator>();
    // English, and any language the tool has no texts for, keeps the source texts.
    if (!toolTexts->load(locale, QStringLiteral("talvor"), QStringLiteral("_"), QStringLiteral(":/i18n")))
        return;
    // The standard buttons come from the system's Qt translations, which need
    // not be installed.
    auto qtTexts = std::make_unique<QTranslator>();
    if (qtTexts->load(locale, QStringLiteral("qtbase"), QStringLiteral("_"),
                      QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QCoreApplication::installTranslator(qtTexts.get());
        translators_.push_back(std::move(qtTexts));
    }
    QCoreApplication::installTranslator(toolTexts.get());
    translators_.push_back(std::move(toolTexts));
}

Translations::~Translations()
{
    for (const auto &translator : translators_)
        QCoreApplication::removeTranslator(translator.get());
}

TalvorApp::TalvorApp(const AppOptions &options)
{
    auto directory = std::make_shared<platform::PortDirectory>(options.virtualPortFolder,
                                                               options.hardwarePorts);
    setup = std::make_unique<TSetup>(options.iniFolder, directory);
    form1 = std::make_unique<TForm1>(*setup, options.portLockName);
    TForm1 *mainWindow = form1.get();
    form2 = std::make_unique<TForm2>(
        *setup, [mainWindow](const QString &name) { mainWindow->ui->GroupBox1->setTitle(name); }, mainWindow);
    Form2 = form2.get();
    form4 = std::make_unique<TForm4>(mainWindow);
    Form4 = form4.get();
    form5 = std::make_unique<TForm5>(mainWindow);
    Form5 = form5.get();
    form6 = std::make_unique<TForm6>(mainWindow);
    Form6 = form6.get();

    Journal::Options journalOptions = Journal::OptionsFromIni(QDir(options.iniFolder).filePath(QStringLiteral("com.ini")));
    if (!options.journalPath.isEmpty())
        journalOptions.path = options.journalPath;
    journal = std::make_unique<Journal>(journalOptions);
    TSetup *portSetup = setup.get();
    recorder = std::make_unique<JobRecorder>(
        *journal, [mainWindow] { return mainWindow->Reader(); },
        [portSetup] { return portSetup->PortName; },
        [portSetup](const QString &name) { return portSetup->DevicePathFor(name); });
    form1->SetRecorder(recorder.get());
    form6->SetRecorder(recorder.get());
}

TalvorApp::~TalvorApp()
{
    // Entries still waiting for the reader are written with what is known,
    // then the port closes: its worker reports to the windows until its last cycle.
    form1->SetRecorder(nullptr);
    form6->SetRecorder(nullptr);
    recorder.reset();
    form1->ClosePort();
    journal.reset();
    Form6 = nullptr;
    Form5 = nullptr;
    Form4 = nullptr;
    Form2 = nullptr;
    form6.reset();
    form5.reset();
    form4.reset();
    form2.reset();
    form1.reset();
    setup.reset();
}
