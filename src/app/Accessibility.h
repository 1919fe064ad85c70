#pragma once
// How a screen reader sees the window's own widgets.

namespace ostrelo::qtui {

// The main window is a window and the About box a dialog; the picture boxes are
// graphics, the warning panel is text, and the banner is a button whose press opens the
// About box.
void InstallAccessibility();

}  // namespace ostrelo::qtui
