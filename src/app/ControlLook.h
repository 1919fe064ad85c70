#pragma once
// How a control of the window model looks in Qt: colours, fonts and alignment.

#include <QColor>
#include <QFont>
#include <QPalette>

#include "shell/MainWindowModel.h"

namespace ostrelo::qtui {

// A colour as the model holds it (red in the low byte, or a system colour) on the
// given palette.
QColor ToQColor(VbColour colour, const QPalette& palette);

// Font sizes in points are laid out for 96 dots per inch, as the controls' pixel
// geometry is: the font gets the matching pixel size so text fits whatever the
// screen's resolution. A stand-in font wider than Arial is narrowed to Arial's widths,
// so captions fit the controls laid out for them.
int PixelSizeForPoints(double points);
QFont ToQFont(const Control& c);

// Arial's ascent and line height (gap included) for a font pixel size: lines printed
// into a box are placed by them whatever font stands in, as the layout was made for
// them (Arial 24 pt bold: ascent 29, lines 37 pixels apart).
int ArialAscent(int pixelSize);
int ArialLineAdvance(int pixelSize);

// Fonts the layout names but Linux desktops rarely have get metric-alike substitutes.
void InstallFontSubstitutes();

Qt::Alignment ToQtAlignment(Alignment a);

}  // namespace ostrelo::qtui
