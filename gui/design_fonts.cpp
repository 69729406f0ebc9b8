#include "gui/design_fonts.h"

#include <QAbstractButton>
#include <QFont>
#include <QFontMetrics>
#include <QLabel>
#include <QRadioButton>
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

void FitFontToText(QWidget *widget, const QString &text, int margin)
{
    const char *kBaseSize = "talvorBasePixelSize";
    if (!widget->property(kBaseSize).isValid())
        widget->setProperty(kBaseSize, widget->font().pixelSize());
    const int base = widget->property(kBaseSize).toInt();
    if (base <= 0)
        return;
    QFont font = widget->font();
    int size = base;
    constexpr int kSmallestReadable = 8;
    for (; size > kSmallestReadable; --size) {
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
        const char *kBaseSize = "talvorBasePixelSize";
        if (!label->property(kBaseSize).isValid())
            label->setProperty(kBaseSize, label->font().pixelSize());
        QFont font = label->font();
        const QRect room = label->contentsRect().adjusted(0, 0, -LabelTextInset(label), 0);
        for (int size = label->property(kBaseSize).toInt(); size > 8; --size) {
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

void FitButton(QAbstractButton *button)
{
    const QString text = button->text();
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
    if (QFontMetrics(button->font()).horizontalAdvance(text) > button->width() - margin)
        FitFontToText(button, text, margin);
}

}  // namespace

void FitTextsToControls(QWidget *window)
{
    for (QWidget *child : window->findChildren<QWidget *>()) {
        if (child->window() != window)
            continue;
        if (auto *label = qobject_cast<QLabel *>(child))
            FitLabel(label);
        else if (auto *button = qobject_cast<QAbstractButton *>(child))
            FitButton(button);
    }
}

}  // namespace platform
