#include "gui/settings_window.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QPlainTextEdit>
#include <QScreen>
#include <QShowEvent>
#include <algorithm>
#include <cstdlib>
#include <functional>
#include <initializer_list>
#include <system_error>

#include "core/session/session.h"
#include "gui/design_fonts.h"
#include "gui/job_recorder.h"
#include "gui/session_bridge.h"
#include "gui/system_colours.h"
#include "ui_settings_window.h"

TForm6 *Form6 = nullptr;
TMessageButtons MessageButtons;

namespace {

// The hint of the control under the mouse is shown even when it has none of
// its own; ComboBox1 is the one control whose hint is switched off.
class NoHint : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject *, QEvent *event) override { return event->type() == QEvent::ToolTip; }
};

// Calls back whenever the watched control is enabled or disabled.
class EnabledWatch : public QObject {
public:
    EnabledWatch(QWidget *watched, std::function<void()> changed) : QObject(watched), changed_(std::move(changed))
    {
        watched->installEventFilter(this);
    }
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::EnabledChange)
            changed_();
        return false;
    }

private:
    std::function<void()> changed_;
};

}  // namespace

TForm6::TForm6(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint), ui(std::make_unique<Ui::TForm6>())
{
    ui->setupUi(this);
    platform::ApplyDesignFonts(this);
    setSizeGripEnabled(false);
    colours::SetTextColour(ui->Label2, colours::Blue);
    colours::SetTextColour(ui->Memo1, colours::Red);
    QPalette notice = ui->Memo1->palette();
    notice.setColor(QPalette::Base, colours::ActiveBorder);
    notice.setColor(QPalette::Window, colours::ActiveBorder);
    ui->Memo1->setPalette(notice);
    ui->Memo1->setAutoFillBackground(true);
    ui->Memo1->hide();
    ui->ComboBox1->installEventFilter(new NoHint(ui->ComboBox1));
    setFixedSize(size());

    connect(ui->Button1, &QPushButton::clicked, this, &TForm6::Button1Click);
    connect(ui->Button2, &QPushButton::clicked, this, &TForm6::Button2Click);
    connect(ui->Button3, &QPushButton::clicked, this, &TForm6::Button3Click);
    connect(ui->Button4, &QPushButton::clicked, this, &TForm6::Button4Click);
    connect(ui->ButtonSaveFile, &QPushButton::clicked, this, &TForm6::ButtonSaveFileClick);
    connect(ui->ButtonLoadFile, &QPushButton::clicked, this, &TForm6::ButtonLoadFileClick);
    connect(ui->ButtonCompareFile, &QPushButton::clicked, this, &TForm6::ButtonCompareFileClick);
    new EnabledWatch(ui->Button1, [this] { EnableFileButtons(); });
    // User choices only: the lists change no rule when the window fills them.
    connect(ui->ComboBox1, &QComboBox::activated, this, &TForm6::ComboBox1Select);
    connect(ui->ComboBox12, &QComboBox::activated, this, &TForm6::ComboBox12Select);
    for (QRadioButton *radio : {ui->RadioButton1, ui->RadioButton2, ui->RadioButton3})
        connect(radio, &QRadioButton::clicked, this, &TForm6::InterfaceChengeClick);
}

TForm6::~TForm6()
{
    if (session_ && showing_)
        session_->CloseSettings();
}

void TForm6::SetSession(Session *session, SessionBridge *bridge)
{
    if (session_ && showing_)
        session_->CloseSettings();
    showing_ = false;
    session_ = session;
    const int generation = ++generation_;
    if (bridge)
        connect(bridge, &SessionBridge::settingsChanged, this, [this, generation](const SettingsEvent &event) {
            if (generation == generation_ && showing_)
                SettingsEventArrived(event);
        });
}

void TForm6::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (event->spontaneous())
        return;
    FormShow();
    if (QScreen *s = screen() ? screen() : QGuiApplication::primaryScreen())
        move(s->availableGeometry().center() - rect().center());
}

void TForm6::closeEvent(QCloseEvent *event)
{
    // Every way out goes through "Close": it asks about unsaved edits, stops
    // the thread and hands the port back.
    if (closing_) {
        event->accept();
        return;
    }
    event->ignore();
    reject();
}

void TForm6::reject()
{
    // While a write is pending "Close" is off, and so are these.
    if (ui->Button3->isEnabled())
        Button3Click();
}

void TForm6::FormShow()
{
    ui->Button2->setEnabled(false);
    ui->Button1->setEnabled(false);
    Exchange.ShownSettings = SettingsRecord{};
    Exchange.DeviceSettings = SettingsRecord{};

    deviceSettingsKnown_ = false;
    writePending_ = false;
    if (recorder_)
        recorder_->BeginSettings(JournalEntry::Kind::SettingsRead, std::nullopt);
    // Every showing starts with a read.
    if (session_ && !showing_)
        session_->OpenSettings();
    showing_ = true;

    ui->ComboBox1->setCurrentIndex(0);
    for (QComboBox *combo : {ui->ComboBox2, ui->ComboBox3, ui->ComboBox4, ui->ComboBox5, ui->ComboBox6,
                             ui->ComboBox7, ui->ComboBox8, ui->ComboBox9, ui->ComboBox10, ui->ComboBox11,
                             ui->ComboBox12, ui->ComboBox13}) {
        combo->setCurrentIndex(-1);
        combo->setEnabled(true);
    }
    for (QWidget *box : {ui->GroupBox7, ui->GroupBox9, ui->GroupBox10, ui->GroupBox11, ui->GroupBox12,
                         ui->GroupBox13, ui->GroupBox14, ui->GroupBox15})
        colours::SetTitleColour(box, colours::WindowText);
    for (QRadioButton *radio : {ui->RadioButton1, ui->RadioButton2, ui->RadioButton3}) {
        // An exclusive group never lets its last checked button go.
        radio->setAutoExclusive(false);
        radio->setChecked(false);
        radio->setAutoExclusive(true);
    }
    ui->Memo1->hide();
    ShowStatus(QString());
    EnableFileButtons();
    loaded_ = settings_fields::ShownFields();
    interfaceKept_ = false;
    ShowFields(loaded_);  // no items for unknown values, none selected
    ScaleToScreen();
    // The notice is a memo: its longest line decides its font.
    const QStringList noticeLines = ui->Memo1->toPlainText().split(QLatin1Char('\n'));
    const QString longest = *std::max_element(noticeLines.begin(), noticeLines.end(), [this](auto &a, auto &b) {
        return ui->Memo1->fontMetrics().horizontalAdvance(a) < ui->Memo1->fontMetrics().horizontalAdvance(b);
    });
    const int noticeMargin = ui->Memo1->width() - ui->Memo1->contentsRect().width() +
                             2 * int(ui->Memo1->document()->documentMargin()) + 2;
    platform::FitFontToText(ui->Memo1, longest, noticeMargin);
    AssignHints();
}

void TForm6::ScaleToScreen()
{
    // From the design geometry every time, so that repeated showings do not
    // shrink the window again and again; controls added to the window scale too.
    platform::ScaleWindowToScreen(this);
}

void TForm6::AssignHints()
{
    const QString manual = tr("See par. 4.2 of operatin manual\r\n");
    ui->GroupBox1->setToolTip(tr(
        "Select device type \r\nNOTE: Keyboard input and keyboard backlight brightness settings \r\n"
        "are only available for TalvorIV-M ETH KEYS"));
    ui->GroupBox7->setToolTip(manual + tr("Param. 12 - Set keyboard backlight brightness\r\n"
                                          "NOTE: TalvorIV-M ETH devices do not have backlight"));
    ui->GroupBox10->setToolTip(
        manual + tr("Param. 08 - Selecting of identifier format when using the iButton interface\r\n"
                    " NOTE: characters typed from the keyboard are always transmitted in a 5 byte "
                    "packet"));
    ui->GroupBox9->setToolTip(manual + tr("Param. 11 - Setting the iButton device code for keyboard "
                                          "input\r\nNOTE: iButton device code for identificators - "
                                          "is 01 always"));
    ui->GroupBox13->setToolTip(manual + tr("Param. 10 - Selecting of Wiegand / iButton interface - "
                                           "setting value 4 \r\nNOTE: only for iButton interface"));
    ui->GroupBox8->setToolTip(tr(
        "Choice of Communication protocol\r\nNOTE: The selected interface (iButton or Wiegand) cannot be "
        "changed by connecting the device cable)"));
    ui->GroupBox14->setToolTip(tr(
        "Keyboard input - Selecting the card emulation or character-by-character transfer mode\r\nNOTE: "
        "character-by-character transfer mode can only be selected if Wiegand interface is selected"));
    ui->GroupBox15->setToolTip(manual + tr("Param. 05 - Selecting the card emulation mode and "
                                           "setting the card emulation format"));
    ui->GroupBox11->setToolTip(manual + tr("Param. 09 - Choosing an identifier format when using "
                                           "the Wiegand interface"));
    ui->GroupBox12->setToolTip(manual + tr("Param. 06 Setting the format of character-by-character "
                                           "transfer mode (only if the Wiegand interface is "
                                           "selected)"));
    ui->Button4->setToolTip(tr("Fill form fields with default values\r\nNOTE: the transfer of values "
                               "to the equipment is performed by 'pressing' the 'ToDevice' button"));
    ui->Button2->setToolTip(tr("Read setting from TalvorIV"));
    ui->Button1->setToolTip(tr("Store setting to TalvorIV"));
    ui->GroupBox16->setToolTip(tr(
        "Read current device setting from device - 'From Device' 'button' or  \r\nsave setting to device - "
        "'To Device' 'button' "));
    ui->GroupBox2->setToolTip(manual + tr("Param. 02, 03, 04\r\nSetting active levels of external "
                                          "indication control"));
    ui->GroupBox6->setToolTip(tr(
        "See par. 4.2 of operatin manual \r\nParam. 07 - function 'Anticlone' ON/OFF \r\nNOTE:\r\n"
        "for versions 6.x, 7.x 'Anticlone'/'Temic only'\r\nfor version 5.x 'Anticlone' ON/OFF"));
}

void TForm6::Button1Click()
{
    CollectSettings();
    if (!ConfirmChangesOfUnknownValues())
        return;
    if (session_)
        session_->AskSettingsWrite(Exchange.EditedSettings);
    if (recorder_) {
        recorder_->BeginSettings(JournalEntry::Kind::SettingsWrite,
                                 deviceSettingsKnown_ ? std::optional<SettingsRecord>(Exchange.DeviceSettings)
                                                      : std::nullopt,
                                 Exchange.EditedSettings);
    }
    writePending_ = true;
    ShowStatus(QString());
    ui->Button1->setEnabled(false);
    ui->Button3->setEnabled(false);
}

void TForm6::Button2Click()
{
    if (session_)
        session_->AskSettingsRead();
    if (recorder_) {
        recorder_->BeginSettings(JournalEntry::Kind::SettingsRead,
                                 deviceSettingsKnown_ ? std::optional<SettingsRecord>(Exchange.DeviceSettings)
                                                      : std::nullopt);
    }
    writePending_ = false;
    ui->Button2->setEnabled(false);
}

void TForm6::Button4Click()
{
    Exchange.ShownSettings = kDefaultSettingsRecord;
    ShowSettings();
}

void TForm6::ComboBox1Select() { ApplyFieldRules(); }

void TForm6::ComboBox12Select() { ApplyFieldRules(); }

void TForm6::InterfaceChengeClick()
{
    interfaceKept_ = false;  // a click chooses, even the interface already shown
    ApplyFieldRules();
}

void TForm6::Button3Click()
{
    MessageButtons.Ok = tr("YES");
    MessageButtons.Cancel = tr(" NO ");

    if (ui->Button1->isEnabled()) {
        CollectSettings();
        Exchange.ShownSettings = Exchange.EditedSettings;
        if (Exchange.ShownSettings != Exchange.DeviceSettings &&
            AskWithButtonTexts(tr("The settings have been changed but not saved in the device\r\n "
                                  "finish editing the settings anyway?"),
                               QString(), platform::BoxButtons::OkCancel,
                               platform::BoxIcon::Warning) == platform::ResultCancel)
            return;
    }

    // The monitor polls again only after the last settings exchange.
    if (session_ && showing_)
        session_->CloseSettings();
    showing_ = false;
    if (recorder_)
        recorder_->AbandonSettings();
    closing_ = true;
    done(QDialog::Accepted);
    closing_ = false;
}

int TForm6::AskWithButtonTexts(const QString &text, const QString &caption, platform::BoxButtons buttons,
                               platform::BoxIcon icon)
{
    platform::MessageBoxRequest request;
    request.text = text;
    request.caption = caption;
    request.buttons = buttons;
    request.icon = icon;
    request.okText = MessageButtons.Ok;
    if (buttons == platform::BoxButtons::OkCancel)
        request.cancelText = MessageButtons.Cancel;
    request.owner = this;
    return platform::ShowMessageBox(request);
}

void TForm6::SettingsEventArrived(const SettingsEvent &event)
{
    switch (event.kind) {
    case SettingsEvent::Kind::Answered:
        if (NoticeVisible())
            EnableDeviceButtons();
        break;
    case SettingsEvent::Kind::Read:
        SettingsRead(event.record, event.written);
        break;
    case SettingsEvent::Kind::Written:
        Exchange.DeviceSettings = Exchange.EditedSettings;
        ui->Button1->setEnabled(true);
        ui->Button3->setEnabled(true);
        break;
    case SettingsEvent::Kind::WriteGivenUp:
        ShowStatus(tr("Not written: the device did not answer"));
        writeFailure_ = event.failure;
        ui->Button3->setEnabled(true);
        break;
    case SettingsEvent::Kind::Silent:
        if (event.lost && !NoticeVisible()) {
            ui->Button2->setEnabled(false);
            ui->Button1->setEnabled(false);
            ShowNoAnswer(event.failure);
        }
        if (event.noticeOn)
            SetNoticeVisible(true);
        break;
    }
}

void TForm6::EnableDeviceButtons()
{
    SetNoticeVisible(false);
    ui->Button3->setEnabled(true);
    ui->Button2->setEnabled(true);
    ui->Button1->setEnabled(true);
}

void TForm6::SettingsRead(const SettingsRecord &record, const std::optional<SettingsRecord> &written)
{
    EnableDeviceButtons();
    Exchange.ShownSettings = record;
    Exchange.DeviceSettings = record;
    ShowSettings();
    SetNoticeVisible(false);
    if (written) {
        const QStringList notTaken = FieldsThatDiffer(*written, record);
        ShowStatus(notTaken.isEmpty() ? tr("Written and verified")
                                      : tr("Not taken by the device: %1").arg(notTaken.join(QStringLiteral(", "))));
        ShowSettingsNotTaken(*written, record);
    }
    SettingsArrived(record, written.has_value());
}

bool TForm6::NoticeVisible() const
{
    return !ui->Memo1->isHidden();
}

void TForm6::SetNoticeVisible(bool visible)
{
    ui->Memo1->setVisible(visible);
}

void TForm6::SettingsArrived(const SettingsRecord &record, bool afterWrite)
{
    deviceSettingsKnown_ = true;
    // A write the reader never answered ends in a plain read of what it holds.
    const bool writeUnanswered = writePending_ && !afterWrite;
    writePending_ = false;
    if (recorder_ && recorder_->SettingsPending())
        recorder_->EndSettings(
            SettingsResult{!writeUnanswered, record, writeUnanswered ? writeFailure_ : SettingsFailure::None});
    EnableFileButtons();
}

void TForm6::ShowNoAnswer(SettingsFailure why)
{
    platform::MessageBoxRequest request;
    request.caption = tr("Error");
    switch (why) {
    case SettingsFailure::BadChecksum: request.text = tr("The device answered with a bad checksum"); break;
    case SettingsFailure::ConnectionDropped:
        request.text = tr("The connection dropped: the far port or the network went away");
        break;
    case SettingsFailure::PortVanished:
        request.text = tr("The port vanished: the converter may have been unplugged");
        break;
    default: request.text = tr("Device no answer"); break;
    }
    request.owner = this;
    platform::ShowMessageBox(request);
}

void TForm6::ShowSettingsNotTaken(const SettingsRecord &written, const SettingsRecord &held)
{
    const QStringList names = FieldsThatDiffer(written, held);
    if (names.isEmpty())
        return;  // the same record
    platform::MessageBoxRequest request;
    request.caption = tr("Warning");
    request.text = tr("The device did not take these settings:\r\n%1\r\nThe window now shows what the device holds.")
                       .arg(names.join(QStringLiteral("\r\n")));
    request.icon = platform::BoxIcon::Warning;
    request.owner = this;
    platform::ShowMessageBox(request);
}
