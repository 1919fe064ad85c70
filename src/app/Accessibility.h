#pragma once
// How a screen reader sees the window's own widgets.

#include <cstdint>

namespace ostrelo::qtui {

// The main window is a window and the About box a dialog; the picture boxes are
// graphics, the warning panel is text, and the banner is a button whose press opens the
// About box. Also notes each question a screen reader asks through AT-SPI.
void InstallAccessibility();

// How long ago a screen reader last asked the window something (very large if never).
int64_t SinceScreenReaderQueryMs();

}  // namespace ostrelo::qtui
