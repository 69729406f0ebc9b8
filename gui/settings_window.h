#pragma once
// The reader's settings: shown, edited under the field rules, read from and
// written to the reader through the open port's session, which exchanges one
// settings block per cycle while this window is open.

#include <QDialog>
#include <QSize>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "core/protocol/settings_fields.h"
#include "core/protocol/settings_file.h"
#include "core/session/values.h"
#include "gui/design_fonts.h"
#include "gui/message_box.h"

class QComboBox;
class Session;
class SessionBridge;
namespace Ui { class TForm6; }
class JobRecorder;

// The records the window works with.
struct SettingsRecords {
    SettingsRecord DeviceSettings{};  // what the reader holds, as last read
    SettingsRecord ShownSettings{};   // what goes into the controls
    SettingsRecord EditedSettings{};  // what the controls gave last: what a write sends
};

// Texts for the OK and Cancel buttons of the close question.
struct TMessageButtons {
    QString Ok, Cancel;
};
extern TMessageButtons MessageButtons;

class TForm6 : public QDialog {
    Q_OBJECT
public:
    explicit TForm6(QWidget *parent = nullptr);
    ~TForm6() override;

    // The open port's session and its bridge, or none while the port is closed.
    void SetSession(Session *session, SessionBridge *bridge);

    // Handlers, named after their control and event.
    void FormShow();
    void Button1Click();
    void Button2Click();
    void Button3Click();
    void Button4Click();
    void ComboBox1Select();
    void ComboBox12Select();
    void InterfaceChengeClick();
    // The settings file row: "Save to file...", "Load from file...", "Compare with file...".
    void ButtonSaveFileClick();
    void ButtonLoadFileClick();
    void ButtonCompareFileClick();

    void CollectSettings();
    void ApplyFieldRules();
    void ScaleToScreen();
    int AskWithButtonTexts(const QString &text, const QString &caption, platform::BoxButtons buttons,
                           platform::BoxIcon icon);

    // What a cycle of the session's settings loop means for the window.
    void SettingsEventArrived(const SettingsEvent &event);
    bool NoticeVisible() const;
    // From "To Device" until the reader's record read back after it (or after
    // the write was given up) is shown.
    bool WriteAwaitingReadBack() const { return writePending_; }
    // Puts ShownSettings into the controls and applies the field rules.
    void ShowSettings();
    // Where reads and writes are recorded; none by default.
    void SetRecorder(JobRecorder *recorder) { recorder_ = recorder; }
    // The captions of the fields in which two records differ, in window order.
    QStringList FieldsThatDiffer(const SettingsRecord &a, const SettingsRecord &b) const;

    // The file dialogs of the settings file row; tests answer them instead.
    // An empty path is a cancelled dialog.
    enum class FileDialog { Save, Open };
    using FileChooser = std::function<QString(QWidget *parent, FileDialog dialog, const QString &qtFilter)>;
    static void SetFileChooserForTests(FileChooser chooser);

    // An empty size means the real screen; for every window.
    static void SetScreenSizeForTests(const QSize &size) { platform::SetScreenSizeForTests(size); }
    SettingsRecords Exchange;
    std::unique_ptr<Ui::TForm6> ui;

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    // Esc and the window manager's close go the way of "Close".
    void reject() override;

private:
    // The controls are a view of settings_fields: these read and set them.
    settings_fields::SettingsFields FieldsOfControls() const;
    void ShowFields(const settings_fields::SettingsFields &fields);
    QComboBox *ComboOf(settings_fields::Field field) const;
    // A list's item for the reader's own value: "0xFF, not a known value", or
    // the byte alone where the list is too narrow (Label3 then says it).
    QString UnknownItemText(const QComboBox *combo, uint8_t byte) const;
    // Label3: the values kept that the controls cannot show in full.
    void ShowKeptValues();
    // Before a write that would change values the window does not know: the
    // fields that change, from what to what; false when the user cancels.
    bool ConfirmChangesOfUnknownValues();

    void AssignHints();
    void SetNoticeVisible(bool visible);
    // The modal box of a reader that stopped answering ("Device no answer"), saying why.
    void ShowNoAnswer(SettingsFailure why);
    // The reader answered a write but its record read back differs: names the
    // fields it did not take.
    void ShowSettingsNotTaken(const SettingsRecord &written, const SettingsRecord &held);
    void SettingsRead(const SettingsRecord &record, const std::optional<SettingsRecord> &written);
    void SettingsArrived(const SettingsRecord &record, bool afterWrite);
    void EnableDeviceButtons();
    // The file row's buttons: saving and comparing need a record read from
    // the reader, loading the same state as "To Device".
    void EnableFileButtons();
    void ShowStatus(const QString &text);
    QString ChooseFile(FileDialog dialog);
    // A settings file chosen in the open dialog and the record it makes of
    // base (asked for once the file is read); nothing when the dialog was
    // cancelled or after a box that says why not.
    struct ChosenSettingsFile {
        QString path;
        settings_file::SettingsFile file;
        SettingsRecord record;
    };
    std::optional<ChosenSettingsFile> OpenSettingsFile(const std::function<SettingsRecord()> &base);
    void ShowFileRefusal(const QString &path, const settings_fields::Refusal &refusal);

    Session *session_ = nullptr;
    // Events of an earlier session or showing are not drawn.
    int generation_ = 0;
    bool showing_ = false;
    bool closing_ = false;
    JobRecorder *recorder_ = nullptr;
    bool writePending_ = false;
    // How the last write given up went unanswered, for the journal.
    SettingsFailure writeFailure_ = SettingsFailure::None;
    bool deviceSettingsKnown_ = false;
    // The fields as the last record put into the controls gave them: which of
    // them hold a value the lists do not have, and that record.
    settings_fields::SettingsFields loaded_ = settings_fields::ShownFields();
    // The radio buttons show the interface of an unknown value until one is clicked.
    bool interfaceKept_ = false;
};

extern TForm6 *Form6;
