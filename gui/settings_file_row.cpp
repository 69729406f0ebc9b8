// The settings window's file row: the fields saved as a settings file, a
// file loaded into the fields (nothing goes to the reader before "To
// Device"), and the reader's record compared with a file. The file format
// and its refusals are talvor-cli's, from settings_file.

#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QJsonDocument>
#include <QLabel>
#include <QPushButton>
#include <QSaveFile>

#include "gui/design_fonts.h"
#include "gui/message_box.h"
#include "gui/settings_window.h"
#include "ui_settings_window.h"

namespace {

TForm6::FileChooser &FileChooserOverride()
{
    static TForm6::FileChooser chooser;
    return chooser;
}

void ShowFileBox(QWidget *owner, const QString &caption, const QString &text, platform::BoxIcon icon)
{
    platform::MessageBoxRequest request;
    request.caption = caption;
    request.text = text;
    request.icon = icon;
    request.owner = owner;
    platform::ShowMessageBox(request);
}

}  // namespace

void TForm6::SetFileChooserForTests(FileChooser chooser)
{
    FileChooserOverride() = std::move(chooser);
}

QString TForm6::ChooseFile(FileDialog dialog)
{
    const QString filter = tr("Settings files (*.json)") + QStringLiteral(";;") + tr("All files (*)");
    if (FileChooserOverride())
        return FileChooserOverride()(this, dialog, filter);
    if (dialog == FileDialog::Open)
        return QFileDialog::getOpenFileName(this, tr("Load settings from file"), QString(), filter);
    QString path = QFileDialog::getSaveFileName(this, tr("Save settings to file"), QString(), filter);
    if (!path.isEmpty() && QFileInfo(path).suffix().isEmpty())
        path += QStringLiteral(".json");
    return path;
}

void TForm6::EnableFileButtons()
{
    const bool recordRead = deviceSettingsKnown_ && !writePending_;
    ui->ButtonSaveFile->setEnabled(recordRead);
    ui->ButtonCompareFile->setEnabled(recordRead);
    ui->ButtonLoadFile->setEnabled(ui->Button1->isEnabled());
}

void TForm6::ShowStatus(const QString &text)
{
    if (ui->LabelStatus->text() == text)
        return;
    ui->LabelStatus->setText(text);
    platform::FitTextsToControls(this);
}

void TForm6::ShowFileRefusal(const QString &path, const settings_fields::Refusal &refusal)
{
    // The refusal as talvor-cli gives it, in English as the file is.
    QString text = QStringLiteral("%1: %2").arg(path, refusal.text);
    if (!refusal.allowed.isEmpty())
        text += QStringLiteral("\r\nallowed: %1").arg(refusal.allowed.join(QStringLiteral(", ")));
    ShowFileBox(this, tr("The settings file is refused"), text, platform::BoxIcon::Warning);
}

std::optional<TForm6::ChosenSettingsFile> TForm6::OpenSettingsFile(const std::function<SettingsRecord()> &base)
{
    const QString path = ChooseFile(FileDialog::Open);
    if (path.isEmpty())
        return std::nullopt;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        ShowFileBox(this, tr("Error"), tr("Cannot read %1: %2").arg(path, file.errorString()),
                    platform::BoxIcon::Warning);
        return std::nullopt;
    }
    settings_fields::Refusal refusal;
    std::optional<settings_file::SettingsFile> parsed = settings_file::ParseSettingsFile(file.readAll(), refusal);
    if (!parsed) {
        ShowFileRefusal(path, refusal);
        return std::nullopt;
    }
    const std::optional<SettingsRecord> record = settings_file::RecordForFile(*parsed, base(), refusal);
    if (!record) {
        ShowFileRefusal(path, refusal);
        return std::nullopt;
    }
    return ChosenSettingsFile{path, std::move(*parsed), *record};
}

void TForm6::ButtonSaveFileClick()
{
    const QString path = ChooseFile(FileDialog::Save);
    if (path.isEmpty())
        return;
    // What "To Device" would send.
    CollectSettings();
    const QByteArray json =
        QJsonDocument(settings_file::SettingsToJson(Exchange.EditedSettings)).toJson(QJsonDocument::Indented);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(json) != json.size() || !file.commit()) {
        ShowFileBox(this, tr("Error"), tr("Cannot write %1: %2").arg(path, file.errorString()),
                    platform::BoxIcon::Warning);
        return;
    }
    ShowStatus(tr("Saved to %1").arg(QFileInfo(path).fileName()));
}

void TForm6::ButtonLoadFileClick()
{
    // The fields the file leaves out stay as the window shows them.
    const std::optional<ChosenSettingsFile> chosen = OpenSettingsFile([this] {
        CollectSettings();
        return Exchange.EditedSettings;
    });
    if (!chosen)
        return;
    // The model is not in the record; a file that names it chooses it.
    for (const settings_fields::Assignment &assignment : chosen->file.fields) {
        if (assignment.field == settings_fields::Field::DeviceType)
            ui->ComboBox1->setCurrentIndex(assignment.choice);
    }
    Exchange.ShownSettings = chosen->record;
    ShowSettings();
    ShowStatus(tr("Loaded from %1, not yet written to the device").arg(QFileInfo(chosen->path).fileName()));
}

void TForm6::ButtonCompareFileClick()
{
    // The file as a write to the reader would take it, against the record last read.
    const std::optional<ChosenSettingsFile> chosen = OpenSettingsFile([this] { return Exchange.DeviceSettings; });
    if (!chosen)
        return;
    const SettingsRecord &record = chosen->record;
    auto value = [](const SettingsRecord &r, settings_fields::Field field) {
        const QString text = settings_fields::ValueText(r, field, true);
        return text.isEmpty() ? tr("(none)") : text;
    };
    const SettingsRecord &device = Exchange.DeviceSettings;
    QStringList lines;
    for (settings_fields::Field field : settings_fields::FieldsThatDiffer(device, record))
        lines << tr("%1: device %2, file %3")
                     .arg(settings_fields::Caption(field), value(device, field), value(record, field));
    const QString text = lines.isEmpty() ? tr("The device's settings and the file's are the same.")
                                         : tr("The device's settings and the file's differ:\r\n%1")
                                               .arg(lines.join(QStringLiteral("\r\n")));
    ShowFileBox(this, tr("Compare with file"), text, platform::BoxIcon::Information);
}
