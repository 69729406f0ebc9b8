#pragma once
// The windows were drawn with "MS Sans Serif", Arial and Courier at pixel
// sizes. The .ui files keep those families, with the design pixel size written
// in the point-size field; this turns them into pixel fonts of metric-compatible
// free families (Liberation Sans, Liberation Mono).

#include <QRect>
#include <QSize>

class QAbstractButton;
class QString;
class QWidget;

namespace platform {

// Maps the design families onto the free ones; call once after QApplication exists.
void InstallDesignFontSubstitutes();
// Turns the point sizes of root and all its descendants into the same number of pixels.
void ApplyDesignFonts(QWidget *root);
// Shrinks widget's font, from the size it had at the first call, just enough
// for text to fit its width less margin (a stage caption longer than its button).
void FitFontToText(QWidget *widget, const QString &text, int margin);
// The caption to set on a push button for text: one line drawn smaller as
// FitFontToText does, or, when even the smallest size is too wide, two lines
// as large as the button holds.
QString FitCaption(QAbstractButton *button, const QString &text, int margin);
// Scales position, size and own font of root's own controls by factor; the
// windows among its children keep theirs.
void ScaleWidgetTree(QWidget *root, double factor);
// Makes every label and button of window show its whole text: a plain label
// grows into free room, stops short of the control beside it, and whatever
// still does not fit is drawn smaller (as FitFontToText).
void FitTextsToControls(QWidget *window);

// The windows were drawn for a screen of 1080 lines. Every window is drawn at
// the screen's height over 1080, in the logical pixels Qt gives the window:
// under QT_SCALE_FACTOR the screen has fewer of them and the factor shrinks,
// so the window keeps its share of the screen.
double ScreenFactor(const QWidget *window);
// An empty size means the real screen; an empty available area, all of it.
void SetScreenSizeForTests(const QSize &size, const QRect &available = QRect());
// The smallest font drawn, in logical pixels: 9 pixels on the screen.
int SmallestFontPixelSize(const QWidget *window);
// What every window but the main one calls each time it is shown (after its
// controls are filled, before it is placed): scales window, from the size,
// places and fonts it had at the first call, by ScreenFactor, less if it
// would not fit the screen's available area, with no font under
// SmallestFontPixelSize, then fits the texts (FitTextsToControls). Controls
// placed by hand move and grow; a window with a layout gets the fonts, its
// layout does the rest. Returns the factor used.
double ScaleWindowToScreen(QWidget *window);

}  // namespace platform
