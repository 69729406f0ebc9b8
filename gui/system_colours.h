#pragma once
// The system colours the windows were designed with, fixed so that every
// desktop theme shows the same lamp and captions.

#include <QColor>
#include <QPalette>
#include <QWidget>

namespace colours {

inline const QColor ButtonFace(240, 240, 240);
inline const QColor ActiveBorder(180, 180, 180);
inline const QColor WindowText(0, 0, 0);
inline const QColor WindowFrame(100, 100, 100);
inline const QColor Maroon(128, 0, 0);
inline const QColor Blue(0, 0, 255);
inline const QColor Green(0, 128, 0);
inline const QColor Red(255, 0, 0);
inline const QColor Grey(128, 128, 128);

// A caption's and an edit's text colour.
inline void SetTextColour(QWidget *widget, const QColor &colour)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, colour);
    palette.setColor(QPalette::Text, colour);
    widget->setPalette(palette);
}

// Only a group box's caption: the controls inside keep their own colours.
inline void SetTitleColour(QWidget *box, const QColor &colour)
{
    QPalette palette = box->palette();
    palette.setColor(QPalette::WindowText, colour);
    box->setPalette(palette);
}

}  // namespace colours
