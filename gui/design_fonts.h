#pragma once
// The windows were drawn with "MS Sans Serif", Arial and Courier at pixel
// sizes. The .ui files keep those families, with the design pixel size written
// in the point-size field; this turns them into pixel fonts of metric-compatible
// free families (Liberation Sans, Liberation Mono).

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
// Scales position, size and own font of root's own controls by factor; the
// windows among its children keep theirs.
void ScaleWidgetTree(QWidget *root, double factor);
// Makes every label and button of window show its whole text: a plain label
// grows into free room, stops short of the control beside it, and whatever
// still does not fit is drawn smaller (as FitFontToText).
void FitTextsToControls(QWidget *window);

}  // namespace platform
