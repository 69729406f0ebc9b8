#include "platform/design_fonts.h"

#include <QFont>
#include <QFontMetrics>
#include <QVariant>
#include <QWidget>
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
        if (child->isWindow())
            continue;
        const QRect g = child->geometry();
        child->setGeometry(scaled(g.x()), scaled(g.y()), scaled(g.width()), scaled(g.height()));
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

}  // namespace platform
