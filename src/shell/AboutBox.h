#pragma once
// The About window APropos as data: its layout, whether it exists, its place on the
// screen and whether the photo is shown, with one handler per event. The Qt window
// only shows this model and forwards its events here.

#include <array>
#include <cstdint>
#include <vector>

#include "shell/MainWindowModel.h"

namespace ostrelo {

// Client area of the box as laid out, twips and pixels.
inline constexpr int32_t kAboutClientWidthTwips = 8025;
inline constexpr int32_t kAboutClientHeightTwips = 4320;
inline constexpr int32_t kAboutClientWidth = kAboutClientWidthTwips / kTwipsPerPixel;    // 535
inline constexpr int32_t kAboutClientHeight = kAboutClientHeightTwips / kTwipsPerPixel;  // 288

struct AboutBoxModel {
  AboutBoxModel();

  // The window itself (caption, white background, bold window font, client size) and
  // its controls, geometry in pixels relative to the client area.
  Control APropos;
  Control Photo;
  std::array<Control, 2> Image1;
  std::array<Control, 2> Etiquette3;
  std::array<Control, 4> Etiquette4;
  std::array<Control, 1> Etiquette6;
  Control Etiquette5, Etiquette7;

  bool exists = false;                     // created and shown
  double leftTwips = 0.0, topTwips = 0.0;  // place of the client area on the screen
  int raiseCount = 0;                      // times a banner click brought the open box forward
  uint64_t instance = 0;                   // bumped at each creation: the view builds a new window

  // The screen the box opens on, twips; the view sets it before the box is opened.
  double screenWidthTwips = 0.0, screenHeightTwips = 0.0;

  // Every control, in layout order (Photo first: drawn above what it covers).
  std::vector<Control*> Controls();
  Control* Find(const std::string& name);

  // A banner click: creates the box from the layout and loads it, or brings the open
  // one forward.
  void Open();

  // Events of the box.
  void Load();
  void Click();   // the bare background
  void Unload();  // also the window's own close button
  void Etiquette3_Click(int32_t index);
  void Etiquette4_Click(int32_t index);
  void Etiquette5_Click();
  void Etiquette7_Click();
  void Image1_Click(int32_t index);
  void Etiquette6_MouseDown(int32_t index, int32_t button, int32_t shift, double x, double y);
  void Etiquette6_MouseUp(int32_t index, int32_t button, int32_t shift, double x, double y);
};

}  // namespace ostrelo
