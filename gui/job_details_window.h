#pragma once
// What the technician gives the next jobs of the window: their name and the
// report's logo, kept in the preferences, and the site, customer and note,
// kept only while the program runs.

#include <QDialog>
#include <functional>
#include <memory>

#include "core/journal/journal_entry.h"
#include "core/journal/report_preferences.h"

namespace Ui { class TJobDetailsForm; }

class TJobDetailsForm : public QDialog {
    Q_OBJECT
public:
    // The image chooser: the file chosen, empty when cancelled.
    using Chooser = std::function<QString(QWidget *parent, const QString &current)>;

    explicit TJobDetailsForm(QWidget *parent = nullptr);
    ~TJobDetailsForm() override;

    // The technician and logo from preferences, the rest from details.
    void Load(const ReportPreferences &preferences, const JobDetails &details);
    ReportPreferences Preferences() const;
    JobDetails Details() const;

    static void SetLogoChooserForTests(Chooser chooser);

    std::unique_ptr<Ui::TJobDetailsForm> ui;

private:
    void ChooseLogo();
};
