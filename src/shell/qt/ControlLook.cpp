#include "shell/qt/ControlLook.h"

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

QFont ToQFont(const Control& c) {
  QFont f(QString::fromStdString(c.fontName));
  f.setPixelSize(PixelSizeForPoints(c.fontSize));
  f.setBold(c.bold);
  f.setStyleHint(QFont::SansSerif);
  return f;
}

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
