#include "app/ControlLook.h"

#include <QFontMetricsF>
#include <QStringList>
#include <algorithm>
#include <cmath>

namespace ostrelo::qtui {

QColor ToQColor(VbColour colour, const QPalette& palette) {
  if (!IsSystemColour(colour)) {
    return QColor(static_cast<int>(colour & 0xFFu), static_cast<int>((colour >> 8) & 0xFFu),
                  static_cast<int>((colour >> 16) & 0xFFu));
  }
  switch (colour & 0xFFu) {
    case 0x05: return palette.color(QPalette::Base);             // window background
    case 0x08: return palette.color(QPalette::Text);             // window text
    case 0x0F: return palette.color(QPalette::Button);           // button face
    case 0x12: return palette.color(QPalette::ButtonText);       // button text
    case 0x10: return palette.color(QPalette::Dark);             // button shadow
    case 0x14: return palette.color(QPalette::Light);            // button highlight
    case 0x0D: return palette.color(QPalette::Highlight);        // selection
    case 0x0E: return palette.color(QPalette::HighlightedText);  // selected text
    case 0x11: return palette.color(QPalette::Disabled, QPalette::Text);
    case 0x18: return palette.color(QPalette::ToolTipBase);
    case 0x17: return palette.color(QPalette::ToolTipText);
    default: return palette.color(QPalette::Window);
  }
}

int PixelSizeForPoints(double points) { return std::max(1, static_cast<int>(std::lround(points * 96.0 / 72.0))); }

namespace {

// Arial's (and Helvetica's) advance of the lowercase alphabet, in ems.
constexpr double kArialAlphabetEm = 12.726;
constexpr double kArialBoldAlphabetEm = 14.003;

void NarrowToArialWidths(QFont& f) {
  const QString alphabet = QStringLiteral("abcdefghijklmnopqrstuvwxyz");
  const double arial = (f.bold() ? kArialBoldAlphabetEm : kArialAlphabetEm) * f.pixelSize();
  // A narrower face of the family may be picked rather than the one asked for: measure
  // again and correct.
  for (int pass = 0; pass < 3; ++pass) {
    const double ratio = QFontMetricsF(f).horizontalAdvance(alphabet) / arial;
    if (ratio <= 1.01) return;
    const int stretch = f.stretch() > 0 ? f.stretch() : 100;
    f.setStretch(std::max(50, static_cast<int>(std::floor(stretch / ratio))));
  }
}

}  // namespace

QFont ToQFont(const Control& c) {
  QFont f(QString::fromStdString(c.fontName));
  f.setPixelSize(PixelSizeForPoints(c.fontSize));
  f.setBold(c.bold);
  f.setStyleHint(QFont::SansSerif);
  NarrowToArialWidths(f);
  return f;
}

int ArialAscent(int pixelSize) { return static_cast<int>(std::lround(pixelSize * 1854.0 / 2048.0)); }
int ArialLineAdvance(int pixelSize) { return static_cast<int>(std::lround(pixelSize * 2355.0 / 2048.0)); }

void InstallFontSubstitutes() {
  const QStringList sans = {"Liberation Sans", "Arimo", "Nimbus Sans", "Helvetica", "DejaVu Sans"};
  QFont::insertSubstitutions("Arial", sans);
  QFont::insertSubstitutions("MS Sans Serif", sans);
}

Qt::Alignment ToQtAlignment(Alignment a) {
  switch (a) {
    case Alignment::Centre: return Qt::AlignHCenter;
    case Alignment::Right: return Qt::AlignRight;
    case Alignment::Left:
    default: return Qt::AlignLeft;
  }
}

}  // namespace ostrelo::qtui
