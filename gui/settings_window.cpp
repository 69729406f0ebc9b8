#include "gui/settings_window.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QScreen>
#include <QShowEvent>
#include <algorithm>
#include <cstdlib>
#include <system_error>

#include "core/engine/port_handover.h"
#include "gui/design_fonts.h"
#include "core/engine/gui_call.h"
#include "core/line/named_mutex.h"
#include "gui/system_colours.h"
#include "ui_settings_window.h"

TForm6 *Form6 = nullptr;
TMessageButtons MessageButtons;

namespace {

constexpr int kDesignScreenWidth = 1920;
constexpr int kDesignScreenHeight = 1080;

// The hint of the control under the mouse is shown even when it has none of
// its own; ComboBox1 is the one control whose hint is switched off.
class NoHint : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject *, QEvent *event) override { return event->type() == QEvent::ToolTip; }
};

void SetTextColour(QWidget *widget, const QColor &colour)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, colour);
    palette.setColor(QPalette::Text, colour);
    widget->setPalette(palette);
}

void SetTitleColour(QWidget *box, const QColor &colour)
{
    // Only the caption: the combo box inside keeps its own colours.
    QPalette palette = box->palette();
    palette.setColor(QPalette::WindowText, colour);
    box->setPalette(palette);
}

int Bit0(int index)
{
    return index & 1;  // no selection (-1) gives 1
}

}  // namespace

TForm6::TForm6(PortHandover &handover, TComPort1 &port, platform::NamedMutex &settingsBusy, QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      ui(std::make_unique<Ui::TForm6>()), handover_(handover), port_(port), settingsBusy_(settingsBusy)
{
    ui->setupUi(this);
    platform::ApplyDesignFonts(this);
    setSizeGripEnabled(false);
    SetTextColour(ui->Label2, colours::Blue);
    SetTextColour(ui->Memo1, colours::Red);
    QPalette notice = ui->Memo1->palette();
    notice.setColor(QPalette::Base, colours::ActiveBorder);
    notice.setColor(QPalette::Window, colours::ActiveBorder);
    ui->Memo1->setPalette(notice);
    ui->Memo1->setAutoFillBackground(true);
    ui->Memo1->hide();
    ui->ComboBox1->installEventFilter(new NoHint(ui->ComboBox1));

    static const QRegularExpression designName(
        QStringLiteral("^(Button|GroupBox|ComboBox|RadioButton|Label|Memo)\\d+$"));
    for (QWidget *child : findChildren<QWidget *>()) {
        if (designName.match(child->objectName()).hasMatch())
            designGeometry_.insert(child, child->geometry());
    }
    designSize_ = size();
    setFixedSize(designSize_);

    connect(ui->Button1, &QPushButton::clicked, this, &TForm6::Button1Click);
    connect(ui->Button2, &QPushButton::clicked, this, &TForm6::Button2Click);
    connect(ui->Button3, &QPushButton::clicked, this, &TForm6::Button3Click);
    connect(ui->Button4, &QPushButton::clicked, this, &TForm6::Button4Click);
    // User choices only, as the handlers of the original controls.
    connect(ui->ComboBox1, &QComboBox::activated, this, &TForm6::ComboBox1Select);
    connect(ui->ComboBox12, &QComboBox::activated, this, &TForm6::ComboBox12Select);
    for (QRadioButton *radio : {ui->RadioButton1, ui->RadioButton2, ui->RadioButton3})
        connect(radio, &QRadioButton::clicked, this, &TForm6::InterfaceChengeClick);
}

TForm6::~TForm6()
{
    StopThread();
    if (Form6 == this)
        Form6 = nullptr;
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
    using namespace settings_protocol;
    Exchange.PendingCommand = kReadCommand;
    ui->Button2->setEnabled(false);
    ui->Button1->setEnabled(false);
    Exchange.ShownSettings = SettingsRecord{};
    Exchange.DeviceSettings = SettingsRecord{};

    StopThread();  // a showing that was not closed through "Close"
    try {
        ask_ = std::make_unique<SettingAsk>(true, Exchange, *this, port_, settingsBusy_);
        handover_.ReleasePortLock();
        ask_->Resume();
    } catch (const std::system_error &) {
        platform::MessageBoxRequest box;
        box.caption = QGuiApplication::applicationName();
        box.text = tr("New Thread Error");
        platform::ShowMessageBox(box);
        std::exit(EXIT_FAILURE);
    }

    ui->ComboBox1->setCurrentIndex(0);
    for (QComboBox *combo : {ui->ComboBox2, ui->ComboBox3, ui->ComboBox4, ui->ComboBox5, ui->ComboBox6,
                             ui->ComboBox7, ui->ComboBox8, ui->ComboBox9, ui->ComboBox10, ui->ComboBox11,
                             ui->ComboBox12, ui->ComboBox13}) {
        combo->setCurrentIndex(-1);
        combo->setEnabled(true);
    }
    for (QWidget *box : {ui->GroupBox7, ui->GroupBox9, ui->GroupBox10, ui->GroupBox11, ui->GroupBox12,
                         ui->GroupBox13, ui->GroupBox14, ui->GroupBox15})
        SetTitleColour(box, colours::WindowText);
    for (QRadioButton *radio : {ui->RadioButton1, ui->RadioButton2, ui->RadioButton3}) {
        // An exclusive group never lets its last checked button go.
        radio->setAutoExclusive(false);
        radio->setChecked(false);
        radio->setAutoExclusive(true);
    }
    ui->Memo1->hide();
    Exchange.AwaitedReadBack.reset();
    ScaleToScreen();
    platform::FitTextsToControls(this);
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
    QSize screenSize = screenSizeForTests_;
    if (screenSize.isEmpty()) {
        QScreen *s = screen() ? screen() : QGuiApplication::primaryScreen();
        // In device pixels: under Qt's own scaling (QT_SCALE_FACTOR) the window
        // is already enlarged, and the logical size would shrink it once more.
        screenSize = s ? s->geometry().size() * s->devicePixelRatio() : QSize(kDesignScreenWidth, kDesignScreenHeight);
    }
    const int width = screenSize.width() < 1024 ? 1000 : screenSize.width();
    int horizontal = kDesignScreenWidth / width;
    int vertical = kDesignScreenHeight / std::max(1, screenSize.height());
    // Screens beyond the design size would give a factor of 0: keep the design.
    if (horizontal == 0 || vertical == 0)
        horizontal = vertical = 1;

    // From the design geometry every time, so that repeated showings do not
    // shrink the window again and again.
    for (auto it = designGeometry_.constBegin(); it != designGeometry_.constEnd(); ++it) {
        const QRect g = it.value();
        it.key()->setGeometry(g.x() / horizontal, g.y() / vertical, g.width() / horizontal,
                              g.height() / vertical);
    }
    setFixedSize(designSize_.width() / horizontal, designSize_.height() / vertical);
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

void TForm6::ShowSettings()
{
    const SettingsRecord &b = Exchange.ShownSettings;
    ui->ComboBox5->setCurrentIndex(b[0] & 1);
    ui->ComboBox2->setCurrentIndex(b[1] & 1);
    ui->ComboBox3->setCurrentIndex(b[2] & 1);
    ui->ComboBox4->setCurrentIndex(b[3] & 1);

    const int buttonFormat = b[4] & 3;
    if (buttonFormat != 0) {
        ui->ComboBox12->setCurrentIndex(1);
        ui->ComboBox10->setCurrentIndex(buttonFormat - 1);
    } else {
        ui->ComboBox12->setCurrentIndex(0);
        ui->ComboBox10->setCurrentIndex(-1);
        switch ((b[4] >> 2) & 3) {
        case 0: ui->ComboBox13->setCurrentIndex(0); break;
        case 2: ui->ComboBox13->setCurrentIndex(1); break;
        case 3: ui->ComboBox13->setCurrentIndex(2); break;
        default: break;  // 1 is never written; the selection stays
        }
    }

    ui->ComboBox8->setCurrentIndex(b[5] & 1);
    ui->ComboBox9->setCurrentIndex(b[6] & 1);

    switch (b[7] & 3) {
    case 0: ui->RadioButton2->setChecked(true); ui->ComboBox11->setCurrentIndex(0); break;
    case 1: ui->RadioButton3->setChecked(true); ui->ComboBox11->setCurrentIndex(0); break;
    case 2: ui->RadioButton1->setChecked(true); ui->ComboBox11->setCurrentIndex(0); break;
    default: ui->RadioButton1->setChecked(true); ui->ComboBox11->setCurrentIndex(1); break;
    }

    ui->ComboBox7->setCurrentIndex(b[8] & 1);
    ui->ComboBox6->setCurrentIndex((b[8] >> 1) & 3);
    ApplyFieldRules();
}

void TForm6::CollectSettings()
{
    SettingsRecord b = Exchange.EditedSettings();
    b[0] = uint8_t(Bit0(ui->ComboBox5->currentIndex()));
    b[1] = uint8_t(Bit0(ui->ComboBox2->currentIndex()));
    b[2] = uint8_t(Bit0(ui->ComboBox3->currentIndex()));
    b[3] = uint8_t(Bit0(ui->ComboBox4->currentIndex()));

    if (ui->ComboBox12->currentIndex() == 1) {
        b[4] = uint8_t((ui->ComboBox10->currentIndex() + 1) & 3);
    } else {
        const int rule = ui->ComboBox13->currentIndex();
        b[4] = uint8_t(rule >= 1 ? 4 * (rule + 1) : 0);
    }

    b[5] = uint8_t(Bit0(ui->ComboBox8->currentIndex()));
    b[6] = uint8_t(Bit0(ui->ComboBox9->currentIndex()));

    // With no interface chosen the previous value stays.
    if (ui->RadioButton2->isChecked())
        b[7] = 0;
    else if (ui->RadioButton3->isChecked())
        b[7] = 1;
    else if (ui->RadioButton1->isChecked())
        b[7] = ui->ComboBox11->currentIndex() == 1 ? 3 : 2;

    b[8] = uint8_t(((ui->ComboBox6->currentIndex() * 2) & 7) | Bit0(ui->ComboBox7->currentIndex()));
    Exchange.SetEditedSettings(b);
}

void TForm6::ApplyFieldRules()
{
    auto &u = *ui;
    if (u.RadioButton2->isChecked()) {
        u.ComboBox7->setEnabled(true);
        u.ComboBox8->setEnabled(true);
        u.ComboBox9->setEnabled(true);
        u.ComboBox11->setCurrentIndex(0);
        u.ComboBox11->setEnabled(false);
        u.ComboBox12->setCurrentIndex(0);
        u.ComboBox12->setEnabled(false);
    }
    if (u.RadioButton1->isChecked()) {
        u.ComboBox12->setCurrentIndex(0);
        u.ComboBox12->setEnabled(false);
        u.ComboBox9->setEnabled(false);
        u.ComboBox7->setEnabled(true);
        u.ComboBox8->setEnabled(true);
        u.ComboBox11->setEnabled(true);
    }
    if (u.RadioButton3->isChecked()) {
        u.ComboBox7->setEnabled(false);
        u.ComboBox8->setEnabled(false);
        u.ComboBox11->setCurrentIndex(0);
        u.ComboBox11->setEnabled(false);
        u.ComboBox9->setEnabled(true);
        u.ComboBox12->setEnabled(true);
    }

    if (u.ComboBox12->currentIndex() == 0) {
        u.ComboBox13->setEnabled(true);
        u.ComboBox10->setEnabled(false);
        u.ComboBox10->setCurrentIndex(-1);
    } else {
        u.ComboBox13->setCurrentIndex(0);
        u.ComboBox13->setEnabled(false);
        if (u.RadioButton3->isChecked()) {
            u.ComboBox10->setEnabled(true);
            if (u.ComboBox10->currentIndex() < 0)
                u.ComboBox10->setCurrentIndex(0);
        }
    }

    if (u.ComboBox1->currentIndex() > 0) {
        u.ComboBox6->setEnabled(true);
        if (u.RadioButton3->isChecked())
            u.ComboBox12->setEnabled(true);
        if (u.ComboBox12->currentIndex() == 1) {
            u.ComboBox10->setEnabled(true);
            if (u.ComboBox10->currentIndex() < 0)
                u.ComboBox10->setCurrentIndex(0);
        }
    } else {
        for (QComboBox *combo : {u.ComboBox6, u.ComboBox7, u.ComboBox10, u.ComboBox12, u.ComboBox13})
            combo->setEnabled(false);
    }

    const std::pair<QWidget *, QComboBox *> captions[] = {
        {u.GroupBox7, u.ComboBox6},   {u.GroupBox9, u.ComboBox7},   {u.GroupBox12, u.ComboBox10},
        {u.GroupBox14, u.ComboBox12}, {u.GroupBox15, u.ComboBox13}, {u.GroupBox13, u.ComboBox11},
        {u.GroupBox10, u.ComboBox8},  {u.GroupBox11, u.ComboBox9}};
    for (const auto &[box, combo] : captions)
        SetTitleColour(box, combo->isEnabled() ? colours::WindowText : colours::Grey);
}

// The thread holds the lock for one exchange and may wait for a window step of
// ours meanwhile (never for a box): the wait is bounded and serves those steps.
bool TForm6::TakeSettingsLock()
{
    if (platform::WaitForLockServingGui(settingsBusy_, kSettingsLockWaitMs))
        return true;
    platform::ShowError(settingsBusy_.valid() ? tr("The COM port is busy!")
                                              : QString::fromStdString(settingsBusy_.failureText()));
    return false;
}

void TForm6::Button1Click()
{
    CollectSettings();
    Exchange.AwaitedReadBack.reset();
    if (!TakeSettingsLock())
        return;
    Exchange.PendingCommand = settings_protocol::kWriteCommand;
    ui->Button1->setEnabled(false);
    ui->Button3->setEnabled(false);
    settingsBusy_.release();
}

void TForm6::Button2Click()
{
    if (!TakeSettingsLock())
        return;
    Exchange.PendingCommand = settings_protocol::kReadCommand;
    ui->Button2->setEnabled(false);
    settingsBusy_.release();
}

void TForm6::Button4Click()
{
    Exchange.ShownSettings = kDefaultSettingsRecord;
    ShowSettings();
}

void TForm6::ComboBox1Select() { ApplyFieldRules(); }

void TForm6::ComboBox12Select() { ApplyFieldRules(); }

void TForm6::InterfaceChengeClick() { ApplyFieldRules(); }

void TForm6::Button3Click()
{
    MessageButtons.Ok = tr("YES");
    MessageButtons.Cancel = tr(" NO ");

    if (ui->Button1->isEnabled()) {
        CollectSettings();
        Exchange.ShownSettings = Exchange.EditedSettings();
        if (Exchange.ShownSettings != Exchange.DeviceSettings &&
            AskWithButtonTexts(tr("The settings have been changed but not saved in the device\r\n "
                                  "finish editing the settings anyway?"),
                               QString(), platform::BoxButtons::OkCancel,
                               platform::BoxIcon::Warning) == platform::ResultCancel)
            return;
    }

    // The monitor gets the port back only after the thread's last exchange.
    StopThread();
    handover_.ReleasePortLock();
    handover_.ResumeMonitor();
    closing_ = true;
    done(QDialog::Accepted);
    closing_ = false;
}

void TForm6::StopThread()
{
    if (!ask_)
        return;
    ask_->Terminate();
    ask_->WaitFor();
    ask_.reset();
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

void TForm6::SetButtonEnabled(SettingsButton button, bool enabled)
{
    switch (button) {
    case SettingsButton::ToDevice: ui->Button1->setEnabled(enabled); break;
    case SettingsButton::FromDevice: ui->Button2->setEnabled(enabled); break;
    case SettingsButton::Close: ui->Button3->setEnabled(enabled); break;
    }
}

bool TForm6::NoticeVisible() const
{
    return !ui->Memo1->isHidden();
}

void TForm6::SetNoticeVisible(bool visible)
{
    ui->Memo1->setVisible(visible);
}

void TForm6::ShowNoAnswer()
{
    platform::MessageBoxRequest request;
    request.caption = tr("Error");
    request.text = tr("Device no answer");
    request.owner = this;
    platform::ShowMessageBox(request);
}

QStringList TForm6::FieldsThatDiffer(const SettingsRecord &a, const SettingsRecord &b) const
{
    auto caption = [](const QGroupBox *box) { return box->title(); };
    struct Field {
        size_t byte;
        uint8_t bits;
        QString name;
    };
    // The interface and "One Time" sending share byte 7: iButton with and
    // without it differ in bit 0 only.
    const bool bothIButton = (a[7] & 2) && (b[7] & 2);
    const Field fields[] = {
        {0, 0x01, caption(ui->GroupBox6)},
        {1, 0x01, caption(ui->GroupBox3)},
        {2, 0x01, caption(ui->GroupBox4)},
        {3, 0x01, caption(ui->GroupBox5)},
        {4, 0x03, caption(ui->GroupBox12)},
        {4, 0x0C, caption(ui->GroupBox15)},
        {5, 0x01, caption(ui->GroupBox10)},
        {6, 0x01, caption(ui->GroupBox11)},
        {7, 0x03, bothIButton ? caption(ui->GroupBox13) : ui->Label1->text()},
        {8, 0x01, caption(ui->GroupBox9)},
        {8, 0x06, caption(ui->GroupBox7)},
    };
    QStringList names;
    for (const Field &field : fields) {
        if ((a[field.byte] ^ b[field.byte]) & field.bits)
            names << field.name;
    }
    return names;
}

void TForm6::ShowSettingsNotTaken(const SettingsRecord &written, const SettingsRecord &held)
{
    const QStringList names = FieldsThatDiffer(written, held);
    if (names.isEmpty())
        return;  // only bits the window does not show differ
    platform::MessageBoxRequest request;
    request.caption = tr("Warning");
    request.text = tr("The device did not take these settings:\r\n%1\r\nThe window now shows what the device holds.")
                       .arg(names.join(QStringLiteral("\r\n")));
    request.icon = platform::BoxIcon::Warning;
    request.owner = this;
    platform::ShowMessageBox(request);
}
