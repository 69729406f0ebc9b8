#include "gui/job_details_window.h"

#include <QFileDialog>

#include "gui/design_fonts.h"
#include "ui_job_details_window.h"

namespace {
TJobDetailsForm::Chooser logoChooserForTests;
}

TJobDetailsForm::TJobDetailsForm(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      ui(std::make_unique<Ui::TJobDetailsForm>())
{
    ui->setupUi(this);
    platform::ApplyDesignFonts(this);
    connect(ui->ButtonOk, &QPushButton::clicked, this, &QDialog::accept);
    connect(ui->ButtonCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(ui->ButtonLogo, &QPushButton::clicked, this, &TJobDetailsForm::ChooseLogo);
}

TJobDetailsForm::~TJobDetailsForm() = default;

void TJobDetailsForm::SetLogoChooserForTests(Chooser chooser)
{
    logoChooserForTests = std::move(chooser);
}

void TJobDetailsForm::Load(const ReportPreferences &preferences, const JobDetails &details)
{
    ui->EditTechnician->setText(preferences.technician);
    ui->EditLogo->setText(preferences.logoPath);
    ui->EditSite->setText(details.site);
    ui->EditCustomer->setText(details.customer);
    ui->EditNote->setText(details.note);
}

ReportPreferences TJobDetailsForm::Preferences() const
{
    ReportPreferences preferences;
    preferences.technician = ui->EditTechnician->text().trimmed();
    preferences.logoPath = ui->EditLogo->text().trimmed();
    return preferences;
}

JobDetails TJobDetailsForm::Details() const
{
    JobDetails details;
    details.technician = ui->EditTechnician->text().trimmed();
    details.site = ui->EditSite->text().trimmed();
    details.customer = ui->EditCustomer->text().trimmed();
    details.note = ui->EditNote->text().trimmed();
    return details;
}

void TJobDetailsForm::ChooseLogo()
{
    const QString current = ui->EditLogo->text();
    const QString path =
        logoChooserForTests ? logoChooserForTests(this, current)
                            : QFileDialog::getOpenFileName(this, tr("Report logo"), current,
                                                           tr("Images (*.png *.jpg *.jpeg *.bmp)"));
    if (!path.isEmpty())
        ui->EditLogo->setText(path);
}
