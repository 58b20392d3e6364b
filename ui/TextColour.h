#pragma once

#include <QColor>

class QWidget;

namespace dravix {

// Contrast ratio of two colours, from 1 (same luminance) to 21 (black on white), by the relative
// luminance of sRGB colours as the web content accessibility guidelines define it.
double ContrastRatio(const QColor& a, const QColor& b);

// The least contrast a text must have against what it is drawn on.
inline constexpr double kMinimumTextContrast = 4.5;

// The dialogs' fixed text colours were picked for a light grey window. This keeps such a colour
// where it is readable on `background` and otherwise moves its lightness, hue and saturation
// kept, just far enough toward black (on a light background) or white (on a dark one) to reach
// `minimum`. When no lightness does, the end with the most contrast.
QColor ReadableOn(const QColor& wanted, const QColor& background, double minimum = kMinimumTextContrast);

// A background on which black text has less contrast than white (a dark desktop theme).
bool IsDarkBackground(const QColor& background);

// The dialogs' fixed colours as they are on a light background; on a dark one their readable
// form (ReadableOn).
QColor FixedColourOn(const QColor& wanted, const QColor& background);

// Draws a control's text (window, button and edit text roles) in `wanted` (FixedColourOn the
// control's window colour), and keeps it so when the palette changes (a dark desktop theme, or
// QApplication::setPalette).
void SetReadableTextColour(QWidget* control, const QColor& wanted);

}  // namespace dravix
