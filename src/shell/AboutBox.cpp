#include "shell/AboutBox.h"

namespace ostrelo {

namespace {

Control Label(const char* name, const char* caption, int32_t l, int32_t t, int32_t w, int32_t h, double size, bool bold,
              Alignment alignment) {
  Control c;
  c.name = name;
  c.kind = ControlKind::Label;
  c.caption = caption;
  c.left = l / kTwipsPerPixel;
  c.top = t / kTwipsPerPixel;
  c.width = w / kTwipsPerPixel;
  c.height = h / kTwipsPerPixel;
  c.backColour = Rgb(255, 255, 255);
  c.foreColour = kSystemWindowText;
  c.fontName = "Arial";
  c.fontSize = size;
  c.bold = bold;
  c.alignment = alignment;
  return c;
}

Control Picture(const char* name, int32_t l, int32_t t, int32_t w, int32_t h, VbColour back, int32_t border) {
  Control c;
  c.name = name;
  c.kind = ControlKind::PictureBox;
  c.left = l / kTwipsPerPixel;
  c.top = t / kTwipsPerPixel;
  c.width = w / kTwipsPerPixel;
  c.height = h / kTwipsPerPixel;
  c.backColour = back;
  c.borderWidth = border;
  return c;
}

}  // namespace

AboutBoxModel::AboutBoxModel() {
  using A = Alignment;
  APropos.name = "APropos";
  APropos.kind = ControlKind::Window;
  APropos.caption = "About ...";
  APropos.width = kAboutClientWidth;
  APropos.height = kAboutClientHeight;
  APropos.backColour = Rgb(255, 255, 255);
  APropos.bold = true;

  // 348 x 260 picture plus its one-pixel frame.
  Photo = Picture("Photo", 1560, 120, 5250, 3930, kSystemButtonFace, 1);
  Photo.visible = false;
  Image1[1] = Picture("Image1(1)", 5460, 3240, 2070, 510, Rgb(192, 255, 255), 0);
  Image1[0] = Picture("Image1(0)", 180, 930, 2250, 1815, Rgb(192, 255, 255), 0);
  // What a screen reader says for the pictures, which have no text of their own.
  Photo.accessibleName = "Photo of the author";
  Image1[1].accessibleName = "EXLAB logo";
  Image1[0].accessibleName = "Imaging laboratory logo";

  // The makers' own texts: placeholders of the same kinds.
  Etiquette4[2] = Label("Etiquette4(2)", "EXLAB", 660, 2940, 4485, 255, 9.75, true, A::Centre);
  Etiquette3[1] = Label("Etiquette3(1)", "1 Example Street\nPO Box 000 - 00000 Sampletown", 660, 3240, 4485, 465, 9.75,
                        true, A::Centre);
  Etiquette4[3] = Label("Etiquette4(3)", "Tel : +00 1 23 45 67 89  -  Fax : +00 1 23 45 67 80", 375, 3840, 4845, 255,
                        9.75, true, A::Left);
  Etiquette4[1] = Label("Etiquette4(1)", "Email : ostrelo@example.org", 3660, 2460, 3045, 255, 9.75, true, A::Left);
  Etiquette4[0] = Label("Etiquette4(0)", "+00 1 23 45 67 00", 2940, 1980, 4380, 255, 9.75, true, A::Centre);
  // One line: the telephone number lies over the lower half of this label.
  Etiquette3[0] = Label("Etiquette3(0)", "Imaging Laboratory, Sampletown - Exampleland", 2760, 1680, 4890, 450, 9.75,
                        true, A::Centre);
  Etiquette7 = Label("Etiquette7", "Septembre 2010", 2520, 1200, 2430, 255, 8.25, true, A::Centre);
  Etiquette7.foreColour = Rgb(255, 0, 0);
  Etiquette6[0] = Label("Etiquette6(0)", "A. N. Example", 705, 585, 6135, 285, 8.25, false, A::Centre);
  Etiquette5 = Label("Etiquette5", "Ostrelo", 225, 165, 7095, 375, 15, true, A::Centre);
  Etiquette5.foreColour = Rgb(192, 0, 192);
}

std::vector<Control*> AboutBoxModel::Controls() {
  return {&Photo,         &Image1[1],     &Image1[0],     &Etiquette4[2], &Etiquette3[1], &Etiquette4[3],
          &Etiquette4[1], &Etiquette4[0], &Etiquette3[0], &Etiquette7,    &Etiquette6[0], &Etiquette5};
}

Control* AboutBoxModel::Find(const std::string& name) {
  if (name == APropos.name) return &APropos;
  for (Control* c : Controls()) {
    if (c->name == name) return c;
  }
  return nullptr;
}

void AboutBoxModel::Open() {
  if (exists) {
    ++raiseCount;
    return;
  }
  // A fresh box from the layout; only what describes the screen and the history of
  // openings survives the previous one.
  AboutBoxModel fresh;
  fresh.screenWidthTwips = screenWidthTwips;
  fresh.screenHeightTwips = screenHeightTwips;
  fresh.raiseCount = raiseCount;
  fresh.instance = instance + 1;
  *this = fresh;
  exists = true;
  Load();
}

void AboutBoxModel::Load() {
  // Centred on the screen in twips, kept fractional: the view rounds only when placing it.
  leftTwips = (screenWidthTwips - kAboutClientWidthTwips) / 2.0;
  topTwips = (screenHeightTwips - kAboutClientHeightTwips) / 2.0;
}

void AboutBoxModel::Click() { Unload(); }

void AboutBoxModel::Unload() {
  Photo.visible = false;
  exists = false;
}

// The arrays' handlers receive the element index and ignore it.
void AboutBoxModel::Etiquette3_Click(int32_t) { Unload(); }
void AboutBoxModel::Etiquette4_Click(int32_t) { Unload(); }
void AboutBoxModel::Etiquette5_Click() { Unload(); }
void AboutBoxModel::Etiquette7_Click() { Unload(); }
void AboutBoxModel::Image1_Click(int32_t) { Unload(); }
// Any button. A press that reaches a box already closed shows nothing.
void AboutBoxModel::Etiquette6_MouseDown(int32_t, int32_t, int32_t, double, double) { Photo.visible = exists; }
void AboutBoxModel::Etiquette6_MouseUp(int32_t, int32_t, int32_t, double, double) { Photo.visible = false; }

}  // namespace ostrelo
