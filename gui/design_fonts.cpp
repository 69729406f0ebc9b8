#include "gui/design_fonts.h"

#include <QAbstractButton>
#include <QFont>
#include <QFontInfo>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QLabel>
#include <QLayout>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QStyle>
#include <QStyleOptionButton>
#include <QVariant>
#include <QWidget>
#include <algorithm>
#include <cmath>

namespace platform {

void InstallDesignFontSubstitutes()
{
    QFont::insertSubstitution(QStringLiteral("MS Sans Serif"), QStringLiteral("Liberation Sans"));
    QFont::insertSubstitution(QStringLiteral("Arial"), QStringLiteral("Liberation Sans"));
    QFont::insertSubstitution(QStringLiteral("Courier"), QStringLiteral("Liberation Mono"));
}

namespace {

void ToPixels(QWidget *widget)
{
    QFont font = widget->font();
    if (font.pointSize() <= 0 || !widget->testAttribute(Qt::WA_SetFont))
        return;
    font.setPixelSize(font.pointSize());
    widget->setFont(font);
}

}  // namespace

void ApplyDesignFonts(QWidget *root)
{
    QFont font = root->font();
    if (font.pointSize() > 0) {
        font.setPixelSize(font.pointSize());
        root->setFont(font);
    }
    // Parents come before their children, so inherited fonts are already in pixels.
    for (QWidget *child : root->findChildren<QWidget *>())
        ToPixels(child);
}

namespace {

const char *const kBaseSize = "talvorBasePixelSize";
const char *const kSmallestSize = "talvorSmallestPixelSize";
const char *const kOneLineText = "talvorOneLineText";

// The floor of a window that ScaleWindowToScreen scaled; in the main window,
// which scales itself, 9 screen pixels as well.
int SmallestFittedSize(const QWidget *widget)
{
    const QVariant floor = widget->window()->property(kSmallestSize);
    return floor.isValid() ? floor.toInt() : SmallestFontPixelSize(widget->window());
}

}  // namespace

void FitFontToText(QWidget *widget, const QString &text, int margin)
{
    if (!widget->property(kBaseSize).isValid())
        widget->setProperty(kBaseSize, widget->font().pixelSize());
    const int base = widget->property(kBaseSize).toInt();
    if (base <= 0)
        return;
    QFont font = widget->font();
    int size = base;
    for (const int smallest = SmallestFittedSize(widget); size > smallest; --size) {
        font.setPixelSize(size);
        if (QFontMetrics(font).horizontalAdvance(text) <= widget->width() - margin)
            break;
    }
    font.setPixelSize(size);
    widget->setFont(font);
}

void ScaleWidgetTree(QWidget *root, double factor)
{
    auto scaled = [factor](int value) { return static_cast<int>(std::lround(value * factor)); };
    for (QWidget *child : root->findChildren<QWidget *>()) {
        // The chooser, settings and other windows are children of the main
        // window but keep their own layout.
        if (child->window() != root)
            continue;
        const QRect g = child->geometry();
        child->setGeometry(scaled(g.x()), scaled(g.y()), scaled(g.width()), scaled(g.height()));
        // The pictures of the flat buttons grow and shrink with them.
        if (auto *button = qobject_cast<QAbstractButton *>(child); button && !button->icon().isNull())
            button->setIconSize(QSize(scaled(button->iconSize().width()), scaled(button->iconSize().height())));
        if (child->testAttribute(Qt::WA_SetFont) && child->font().pixelSize() > 0) {
            QFont font = child->font();
            font.setPixelSize(std::max(1, scaled(font.pixelSize())));
            child->setFont(font);
        }
    }
    QFont font = root->font();
    if (font.pixelSize() > 0) {
        font.setPixelSize(std::max(1, scaled(font.pixelSize())));
        root->setFont(font);
    }
}

namespace {

// A label's text starts this far inside its contents: the margin, and for a
// framed label the indent Qt adds on its own.
int LabelTextInset(const QLabel *label)
{
    int indent = label->indent();
    if (indent < 0)
        indent = label->frameWidth() > 0 ? label->fontMetrics().horizontalAdvance(QLatin1Char('x')) / 2 : 0;
    return 2 * label->margin() + indent;
}

// Room up to the first control drawn over label on its right, or the parent's edge.
int RoomToTheRight(const QLabel *label)
{
    const QWidget *parent = label->parentWidget();
    int room = parent->width() - label->x();
    const QWidgetList siblings = parent->findChildren<QWidget *>(Qt::FindDirectChildrenOnly);
    const int line = label->geometry().center().y();
    for (qsizetype i = siblings.indexOf(const_cast<QLabel *>(label)) + 1; i < siblings.size(); ++i) {
        const QRect g = siblings[i]->geometry();
        if (siblings[i]->isWindow() || g.x() <= label->x() || line < g.top() || line > g.bottom())
            continue;
        room = std::min(room, g.x() - label->x());
    }
    return room;
}

void FitLabel(QLabel *label)
{
    const QString text = label->text();
    if (text.isEmpty())
        return;
    if (label->wordWrap()) {
        if (!label->property(kBaseSize).isValid())
            label->setProperty(kBaseSize, label->font().pixelSize());
        QFont font = label->font();
        const QRect room = label->contentsRect().adjusted(0, 0, -LabelTextInset(label), 0);
        for (int size = label->property(kBaseSize).toInt(), smallest = SmallestFittedSize(label); size > smallest;
             --size) {
            font.setPixelSize(size);
            if (QFontMetrics(font).boundingRect(room, int(label->alignment()) | Qt::TextWordWrap, text).height() <=
                room.height())
                break;
        }
        label->setFont(font);
        return;
    }
    const int frame = label->width() - label->contentsRect().width();
    const int needed = label->fontMetrics().horizontalAdvance(text) + LabelTextInset(label) + frame;
    const int room = RoomToTheRight(label);
    // A plain caption may grow into free space; it never reaches under the
    // control beside it.
    if (label->frameShape() == QFrame::NoFrame && needed > label->width())
        label->resize(std::min(needed, room), label->height());
    else if (label->width() > room)
        label->resize(room, label->height());
    FitFontToText(label, text, LabelTextInset(label) + frame);
}

// Where a caption splits into two lines of the least width, or -1.
qsizetype BestSplit(const QString &text, const QFontMetrics &metrics)
{
    qsizetype best = -1;
    int bestWidth = 0;
    for (qsizetype i = text.indexOf(QLatin1Char(' ')); i > 0; i = text.indexOf(QLatin1Char(' '), i + 1)) {
        const int width = std::max(metrics.horizontalAdvance(text.left(i)), metrics.horizontalAdvance(text.mid(i + 1)));
        if (best < 0 || width < bestWidth) {
            best = i;
            bestWidth = width;
        }
    }
    return best;
}

// text on two lines, at the largest size from the button's own down to
// smallest at which both lines fit its width and height: sets that font,
// keeps the one-line caption for the next fitting and returns the two lines;
// empty when no size fits.
QString TwoLineCaption(QAbstractButton *button, const QString &text, int margin, int smallest)
{
    const qsizetype split = BestSplit(text, QFontMetrics(button->font()));
    if (split < 0)
        return {};
    const QString first = text.left(split), second = text.mid(split + 1);
    QFont font = button->font();
    for (int size = button->property(kBaseSize).toInt(); size >= smallest; --size) {
        font.setPixelSize(size);
        const QFontMetrics metrics(font);
        if (std::max(metrics.horizontalAdvance(first), metrics.horizontalAdvance(second)) <= button->width() - margin &&
            2 * metrics.lineSpacing() <= button->height() - 2) {
            button->setProperty(kOneLineText, text);
            button->setFont(font);
            return first + QLatin1Char('\n') + second;
        }
    }
    return {};
}

// A push button's caption that one line would shrink by more than a little
// ("Настройки устройства") goes on two lines where the button is tall enough.
void FitButtonOnTwoLines(QAbstractButton *button, const QString &text, int margin)
{
    const int base = button->property(kBaseSize).toInt();
    const int oneLine = button->font().pixelSize();
    if (!qobject_cast<QPushButton *>(button) || base <= 0 || oneLine * 10 >= base * 9)
        return;
    if (const QString lines = TwoLineCaption(button, text, margin, oneLine + 1); !lines.isEmpty())
        button->setText(lines);
}

void FitButton(QAbstractButton *button)
{
    QString text = button->text();
    if (const QVariant oneLine = button->property(kOneLineText);
        oneLine.isValid() && text.contains(QLatin1Char('\n'))) {
        text = oneLine.toString();
        button->setText(text);
    }
    if (text.isEmpty())
        return;
    int margin = 0;
    if (qobject_cast<QRadioButton *>(button)) {
        QStyleOptionButton option;
        option.initFrom(button);
        margin = button->width() -
                 button->style()->subElementRect(QStyle::SE_RadioButtonContents, &option, button).width() + 2;
    } else {
        margin = 2 * button->style()->pixelMetric(QStyle::PM_ButtonMargin, nullptr, button) + 2;
    }
    if (QFontMetrics(button->font()).horizontalAdvance(text) > button->width() - margin) {
        FitFontToText(button, text, margin);
        FitButtonOnTwoLines(button, text, margin);
    }
}

}  // namespace

QString FitCaption(QAbstractButton *button, const QString &text, int margin)
{
    FitFontToText(button, text, margin);
    if (QFontMetrics(button->font()).horizontalAdvance(text) <= button->width() - margin)
        return text;
    // Even the smallest size is too wide: two lines, as large as the button holds.
    const QString lines = TwoLineCaption(button, text, margin, SmallestFittedSize(button));
    return lines.isEmpty() ? text : lines;
}

void FitTextsToControls(QWidget *window)
{
    for (QWidget *child : window->findChildren<QWidget *>()) {
        // A layout gives its controls the room their texts ask for.
        if (child->window() != window || child->parentWidget()->layout())
            continue;
        if (auto *label = qobject_cast<QLabel *>(child))
            FitLabel(label);
        else if (auto *button = qobject_cast<QAbstractButton *>(child))
            FitButton(button);
    }
}

namespace {

constexpr int kDesignScreenHeight = 1080;
constexpr int kSmallestScreenPixels = 9;
const char *const kDesignGeometry = "talvorDesignGeometry";
const char *const kDesignPixelSize = "talvorDesignPixelSize";
const char *const kDesignIconSize = "talvorDesignIconSize";
const char *const kDesignSize = "talvorDesignSize";
const char *const kSizedByDesign = "talvorSizedByDesign";

QSize screenSizeForTests;
QRect availableForTests;

QScreen *ScreenOf(const QWidget *window)
{
    return window->screen() ? window->screen() : QGuiApplication::primaryScreen();
}

QRect AvailableArea(const QWidget *window)
{
    if (!screenSizeForTests.isEmpty())
        return availableForTests.isEmpty() ? QRect(QPoint(), screenSizeForTests) : availableForTests;
    QScreen *screen = ScreenOf(window);
    return screen ? screen->availableGeometry() : QRect(0, 0, 1920, kDesignScreenHeight);
}

// The window manager's frame and title bar: known once the window was shown,
// guessed before.
QSize FrameExtra(const QWidget *window)
{
    const QSize extra = window->frameGeometry().size() - window->size();
    if (extra.width() > 0 || extra.height() > 0)
        return extra;
    const double ratio = ScreenOf(window) ? ScreenOf(window)->devicePixelRatio() : 1.0;
    return QSize(int(std::ceil(8 / ratio)), int(std::ceil(32 / ratio)));
}

int PixelSizeOf(const QFont &font)
{
    return font.pixelSize() > 0 ? font.pixelSize() : QFontInfo(font).pixelSize();
}

// Where a control is drawn is the window's business only for controls placed
// by hand: by their designer name, not in a layout; Qt's own parts follow
// their control.
bool PlacedByHand(const QWidget *control)
{
    const QString name = control->objectName();
    return !name.isEmpty() && !name.startsWith(QLatin1String("qt_")) && control->parentWidget() &&
           !control->parentWidget()->layout();
}

// The design is what a control had when the window was first scaled; a
// control added since is taken as it is.
void RecordDesign(QWidget *window, const QWidgetList &controls)
{
    if (!window->property(kDesignSize).isValid()) {
        window->setProperty(kDesignSize, window->size());
        window->setProperty(kSizedByDesign, window->testAttribute(Qt::WA_Resized));
        window->setProperty(kDesignPixelSize, PixelSizeOf(window->font()));
    }
    for (QWidget *control : controls) {
        if (PlacedByHand(control) && !control->property(kDesignGeometry).isValid())
            control->setProperty(kDesignGeometry, control->geometry());
        if (control->testAttribute(Qt::WA_SetFont) && !control->property(kDesignPixelSize).isValid())
            control->setProperty(kDesignPixelSize, PixelSizeOf(control->font()));
        auto *button = qobject_cast<QAbstractButton *>(control);
        if (button && !button->icon().isNull() && !button->property(kDesignIconSize).isValid())
            button->setProperty(kDesignIconSize, button->iconSize());
    }
}

void ScaleFont(QWidget *widget, double factor, int smallest)
{
    const int design = widget->property(kDesignPixelSize).toInt();
    if (design <= 0)
        return;
    QFont font = widget->font();
    font.setPixelSize(std::max(smallest, int(std::lround(design * factor))));
    widget->setFont(font);
    // Fitting starts again from the scaled size.
    widget->setProperty(kBaseSize, QVariant());
}

QRect Scaled(const QRect &g, double factor)
{
    // Edges, not sizes, are rounded: controls that touch keep touching.
    auto at = [factor](int value) { return int(std::lround(value * factor)); };
    return QRect(QPoint(at(g.left()), at(g.top())), QPoint(at(g.left() + g.width()) - 1, at(g.top() + g.height()) - 1));
}

}  // namespace

double ScreenFactor(const QWidget *window)
{
    int height = screenSizeForTests.height();
    if (height <= 0) {
        QScreen *screen = ScreenOf(window);
        height = screen ? screen->geometry().height() : kDesignScreenHeight;
    }
    return double(height) / kDesignScreenHeight;
}

void SetScreenSizeForTests(const QSize &size, const QRect &available)
{
    screenSizeForTests = size;
    availableForTests = available;
}

int SmallestFontPixelSize(const QWidget *window)
{
    const double ratio = screenSizeForTests.isEmpty() && ScreenOf(window) ? ScreenOf(window)->devicePixelRatio() : 1.0;
    return int(std::ceil(kSmallestScreenPixels / ratio));
}

double ScaleWindowToScreen(QWidget *window)
{
    QWidgetList controls;
    for (QWidget *child : window->findChildren<QWidget *>()) {
        if (child->window() == window)
            controls << child;
    }
    RecordDesign(window, controls);
    const int smallest = SmallestFontPixelSize(window);
    window->setProperty(kSmallestSize, smallest);
    const QSize room = AvailableArea(window).size() - FrameExtra(window);
    const QSize design = window->property(kDesignSize).toSize();
    const bool byHand = !window->layout();
    const bool sizedByDesign = window->property(kSizedByDesign).toBool();
    double factor = ScreenFactor(window);

    auto apply = [&](double f) {
        ScaleFont(window, f, smallest);
        for (QWidget *control : controls) {
            if (control->property(kDesignGeometry).isValid())
                control->setGeometry(Scaled(control->property(kDesignGeometry).toRect(), f));
            ScaleFont(control, f, smallest);
            auto *button = qobject_cast<QAbstractButton *>(control);
            if (button && button->property(kDesignIconSize).isValid())
                button->setIconSize(button->property(kDesignIconSize).toSize() * f);
        }
        if (byHand) {
            window->setFixedSize(design * f);
        } else if (sizedByDesign) {
            // A window drawn at a size of its own keeps its share; its layout does the rest.
            window->resize((design * f).expandedTo(window->minimumSizeHint()));
        } else {
            window->adjustSize();
        }
    };
    // Beyond the room a window shrinks as a whole, as on a smaller screen.
    const QSize wanted = byHand ? design * factor : QSize();
    if (byHand && (wanted.width() > room.width() || wanted.height() > room.height()))
        factor = std::min(double(room.width()) / design.width(), double(room.height()) / design.height());
    apply(factor);
    if (!byHand) {
        const QSize size = window->size();
        if (size.width() > room.width() || size.height() > room.height()) {
            factor *= std::min(double(room.width()) / size.width(), double(room.height()) / size.height());
            apply(factor);
            window->resize(window->size().boundedTo(room));
        }
    }
    FitTextsToControls(window);
    return factor;
}

}  // namespace platform
