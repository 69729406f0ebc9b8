#pragma once
// The reader's settings: shown, edited under the field rules, read from and
// written to the reader by the settings exchange thread.

#include <QDialog>
#include <QHash>
#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>
#include <memory>
#include <string>

#include "gui/message_box.h"
#include "core/engine/setting_ask.h"
#include "core/protocol/settings_fields.h"

class PortHandover;
class QComboBox;
class TComPort1;
namespace platform { class NamedMutex; }
namespace Ui { class TForm6; }
class JobRecorder;

// Texts for the OK and Cancel buttons of the close question.
struct TMessageButtons {
    QString Ok, Cancel;
};
extern TMessageButtons MessageButtons;

class TForm6 : public QDialog, public SettingsView {
    Q_OBJECT
public:
    // A button waits this long for the thread's cycle in flight to end.
    static constexpr int kSettingsLockWaitMs = 1000;

    // settingsBusy: "COMpBusy1" of the open port, shared with the thread.
    TForm6(PortHandover &handover, TComPort1 &port, platform::NamedMutex &settingsBusy, QWidget *parent = nullptr);
    ~TForm6() override;

    // Handlers, named after their control and event.
    void FormShow();
    void Button1Click();
    void Button2Click();
    void Button3Click();
    void Button4Click();
    void ComboBox1Select();
    void ComboBox12Select();
    void InterfaceChengeClick();

    void CollectSettings();
    void ApplyFieldRules();
    void ScaleToScreen();
    int AskWithButtonTexts(const QString &text, const QString &caption, platform::BoxButtons buttons,
                           platform::BoxIcon icon);

    // SettingsView
    void SetButtonEnabled(SettingsButton button, bool enabled) override;
    bool NoticeVisible() const override;
    void SetNoticeVisible(bool visible) override;
    void ShowSettings() override;
    void ShowNoAnswer(SettingsFailure why) override;
    void ShowSettingsNotTaken(const SettingsRecord &written, const SettingsRecord &held) override;
    void SettingsArrived(const SettingsRecord &record, bool afterWrite) override;
    // Where reads and writes are recorded; none by default.
    void SetRecorder(JobRecorder *recorder) { recorder_ = recorder; }
    // The captions of the fields in which two records differ, in window order.
    QStringList FieldsThatDiffer(const SettingsRecord &a, const SettingsRecord &b) const;

    // An empty size means the real screen.
    void SetScreenSizeForTests(const QSize &size) { screenSizeForTests_ = size; }
    // The thread of the current showing, null once closed.
    SettingAsk *CurrentThread() const { return ask_.get(); }

    SettingsExchange Exchange;
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
    void StopThread();
    bool TakeSettingsLock();

    PortHandover &handover_;
    TComPort1 &port_;
    platform::NamedMutex &settingsBusy_;
    std::unique_ptr<SettingAsk> ask_;
    QHash<QWidget *, QRect> designGeometry_;
    QSize designSize_;
    QSize screenSizeForTests_;
    bool closing_ = false;
    JobRecorder *recorder_ = nullptr;
    bool writePending_ = false;
    bool deviceSettingsKnown_ = false;
    // The fields as the last record put into the controls gave them: which of
    // them hold a value the lists do not have, and that record.
    settings_fields::SettingsFields loaded_ = settings_fields::ShownFields();
    // The radio buttons show the interface of an unknown value until one is clicked.
    bool interfaceKept_ = false;
};

extern TForm6 *Form6;
