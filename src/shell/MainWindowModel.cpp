#include "shell/MainWindowModel.h"

#include <cmath>

#include "shell/Numbers.h"

namespace ostrelo {

namespace {

int32_t Px(int32_t twips) { return RoundToInt32(static_cast<double>(twips) / kTwipsPerPixel); }

Control Make(const char* name, ControlKind kind, const char* caption, int32_t l, int32_t t, int32_t w, int32_t h,
             int32_t tabIndex) {
  Control c;
  c.name = name;
  c.kind = kind;
  c.caption = caption;
  c.left = Px(l);
  c.top = Px(t);
  c.width = Px(w);
  c.height = Px(h);
  c.tabIndex = tabIndex;
  if (kind == ControlKind::TextBox || kind == ControlKind::PictureBox) c.backColour = kSystemWindow;
  return c;
}

}  // namespace

MainWindowModel::MainWindowModel() {
  using K = ControlKind;
  Form1 = Make("Form1", K::Window, "Ostrelo", 0, 0, 17520, 11340, -1);

  Text_Gain = Make("Text_Gain", K::TextBox, "0", 9300, 10080, 570, 285, 38);

  Picture1 = Make("Picture1", K::PictureBox, "", 7200, 4200, 11775, 3015, 36);
  Picture1.visible = false;
  Picture1.backColour = Rgb(0, 0, 0);
  Picture1.foreColour = Rgb(0, 255, 0);
  Picture1.fontName = "Arial";
  Picture1.fontSize = 24;
  Picture1.bold = true;

  CheckWarning = Make("CheckWarning", K::CheckBox, "Warning screen", 3240, 150, 1455, 255, 35);
  CheckWarning.visible = false;

  Option1[1] = Make("Option1(1)", K::OptionButton, "DIFF (Differential)", 3240, 6120, 1695, 315, 34);
  Option1[1].enabled = false;
  Option1[0] = Make("Option1(0)", K::OptionButton, "RSE (single ended)", 1440, 6120, 1815, 315, 33);
  Option1[0].enabled = false;
  Option1[0].value = 1;

  AcquiCheck = Make("AcquiCheck", K::CheckBox, "Acquisition", 120, 6120, 1155, 315, 22);
  AcquiCheck.value = 1;

  TimeText = Make("TimeText", K::TextBox, "0.5", 6000, 120, 975, 285, 17);
  TimeText.foreColour = Rgb(255, 0, 0);
  TimeText.alignment = Alignment::Right;
  TimeText.tooltip = "Between 0,1 to 86400 s only, press enter to validate";

  LiveCheck = Make("LiveCheck", K::CheckBox, "Live", 9300, 9780, 1155, 315, 15);
  LiveCheck.value = 1;

  Command2 = Make("Command2", K::CommandButton, "Multiple shots", 1620, 60, 1455, 375, 13);
  Command2.backColour = Rgb(192, 192, 255);

  NoText = Make("NoText", K::TextBox, "0", 8400, 9840, 435, 225, 11);
  NoText.backColour = Rgb(224, 224, 224);
  NoText.alignment = Alignment::Centre;
  SatText = Make("SatText", K::TextBox, "255", 8400, 9540, 435, 225, 10);
  SatText.backColour = Rgb(224, 224, 224);
  SatText.alignment = Alignment::Centre;

  CheckNoSignal = Make("CheckNoSignal", K::CheckBox, "No signal", 7140, 9780, 1095, 315, 9);
  CheckNoSignal.foreColour = Rgb(0, 128, 0);
  CheckSaturation = Make("CheckSaturation", K::CheckBox, "Saturation", 7140, 9480, 1095, 315, 8);
  CheckSaturation.foreColour = Rgb(255, 0, 0);
  CheckHisto = Make("CheckHisto", K::CheckBox, "Histogram", 9300, 9480, 1155, 315, 7);

  Histo = Make("Histo", K::PictureBox, "", 10500, 9480, 8535, 615, 6);
  Histo.backColour = Rgb(224, 224, 224);
  Histo.borderWidth = 2;

  PicCam = Make("PicCam", K::PictureBox, "", 120, 480, 6840, 5130, 4);
  PicCam.tooltip = "Left click to zoom, right click to get original size";

  ZoomShape = Make("ZoomShape", K::Shape, "", 0, 0, 15, 15, -1);
  ZoomShape.visible = false;
  ZoomShape.foreColour = Rgb(255, 0, 0);

  PicZoom = Make("PicZoom", K::PictureBox, "", 7140, 480, 11880, 8910, 3);

  InfoContainer = Make("InfoContainer", K::PictureBox, "", 0, 10545, 17520, 795, 2);

  Overlay = Make("Overlay", K::PictureBox, "", 120, 18000, 6840, 5130, 1);
  Overlay.visible = false;
  Overlay.backColour = Rgb(255, 255, 255);

  Command1 = Make("Command1", K::CommandButton, "One shot", 120, 60, 1455, 375, 0);
  Command1.backColour = Rgb(192, 255, 192);

  Label5 = Make("Label5", K::Label, "Gain :", 8580, 10140, 480, 255, 37);
  Label4 = Make("Label4", K::Label, "seconds", 7080, 150, 615, 255, 32);
  Label4.alignment = Alignment::Centre;
  Label3 = Make("Label3", K::Label, "", 120, 6660, 6735, 375, 31);

  static const int32_t kRowTops[4] = {7500, 7860, 8220, 8580};
  static const char* const kUnitNames[4] = {"NomUnite(0)", "NomUnite(1)", "NomUnite(2)", "NomUnite(3)"};
  static const char* const kVoieNames[4] = {"NomVoie(0)", "NomVoie(1)", "NomVoie(2)", "NomVoie(3)"};
  static const char* const kVoieCaptions[4] = {"Canal 0 : ", "Canal 1 :", "Canal 2 :", "Canal 3 :"};
  static const char* const kCanalNames[4] = {"CanalLabel(0)", "CanalLabel(1)", "CanalLabel(2)", "CanalLabel(3)"};
  for (int i = 0; i < 4; ++i) {
    NomUnite[i] = Make(kUnitNames[i], K::Label, "Volts", 4560, kRowTops[i], 1125, 225, 27 + i);
    NomVoie[i] = Make(kVoieNames[i], K::Label, kVoieCaptions[i], 1440, kRowTops[i], 855, 225, 23 + i);
    CanalLabel[i] = Make(kCanalNames[i], K::Label, "", 2700, kRowTops[i], 1515, 225, 18 + i);
  }

  Line2 = Make("Line2", K::Line, "", 120, 6060, 7020 - 120, 0, -1);
  Line2.foreColour = Rgb(128, 128, 128);
  Line2.borderWidth = 2;
  Label2 = Make("Label2", K::Label, "Wait time :", 5160, 150, 795, 255, 16);
  RafLabel = Make("RafLabel", K::Label, "", 8760, 60, 855, 315, 14);
  RafLabel.fontSize = 13.5;
  RafLabel.alignment = Alignment::Centre;
  Label1 = Make("Label1", K::Label, "", 9780, 120, 9255, 195, 12);
  InfoCam = Make("InfoCam", K::Label, "", 120, 5640, 6795, 315, 5);
  Line1 = Make("Line1", K::Line, "", 7020, 480, 0, 10080 - 480, -1);
  Line1.foreColour = Rgb(128, 128, 128);
  Line1.borderWidth = 2;

  TimeText.accessibleName = "Wait time";
  Text_Gain.accessibleName = "Gain";
  SatText.accessibleName = "Saturation threshold";
  NoText.accessibleName = "No signal threshold";
  PicCam.accessibleName = "Camera view";
  PicZoom.accessibleName = "Zoom view";
  Histo.accessibleName = "Histogram";
  InfoContainer.accessibleName = "Ostrelo banner";
  InfoContainer.accessibleDescription = "Opens the About box";

  VisuTimer = TimerModel(200);
  Timer1 = TimerModel(200);
  DeviceTimer = TimerModel(kDeviceTimerMs);

  // Inner areas: the frameless boxes keep their whole size; Histo loses its
  // 2-pixel sunken frame on each side (565 x 37).
  CamSurface.Resize(PicCam.width, PicCam.height, PixelFromVb(Rgb(255, 255, 255)));
  OverlaySurface.Resize(Overlay.width, Overlay.height, PixelFromVb(Overlay.backColour));
  ZoomSurface.Resize(PicZoom.width, PicZoom.height, PixelFromVb(Rgb(255, 255, 255)));
  HistoSurface.Resize(Histo.width - 2 * Histo.borderWidth, Histo.height - 2 * Histo.borderWidth,
                      PixelFromVb(Histo.backColour));
}

std::vector<Control*> MainWindowModel::Controls() {
  std::vector<Control*> all = {&Text_Gain,       &Picture1,   &CheckWarning, &Option1[1], &Option1[0], &AcquiCheck,
                               &TimeText,        &LiveCheck,  &Command2,     &NoText,     &SatText,    &CheckNoSignal,
                               &CheckSaturation, &CheckHisto, &Histo,        &PicCam,     &ZoomShape,  &PicZoom,
                               &InfoContainer,   &Overlay,    &Command1,     &Label5,     &Label4,     &Label3};
  for (auto& c : NomUnite) all.push_back(&c);
  for (auto& c : NomVoie) all.push_back(&c);
  for (auto& c : CanalLabel) all.push_back(&c);
  for (Control* c : {&Line2, &Label2, &RafLabel, &Label1, &InfoCam, &Line1}) all.push_back(c);
  return all;
}

std::vector<const Control*> MainWindowModel::Controls() const {
  std::vector<const Control*> out;
  for (Control* c : const_cast<MainWindowModel*>(this)->Controls()) out.push_back(c);
  return out;
}

Control* MainWindowModel::Find(const std::string& name) {
  if (name == Form1.name) return &Form1;
  for (Control* c : Controls()) {
    if (c->name == name) return c;
  }
  return nullptr;
}

Surface* MainWindowModel::SurfaceById(int32_t id) {
  switch (id) {
    case kCamSurface: return &CamSurface;
    case kOverlaySurface: return &OverlaySurface;
    case kZoomSurface: return &ZoomSurface;
    case kHistoSurface: return &HistoSurface;
    default: return nullptr;
  }
}

std::vector<std::string> MainWindowModel::DeviceNotices() const {
  std::vector<std::string> notices;
  for (const std::string* notice :
       {CardNoticeFirst ? &CardNotice : &CameraNotice, CardNoticeFirst ? &CameraNotice : &CardNotice}) {
    if (!notice->empty()) notices.push_back(*notice);
  }
  return notices;
}

}  // namespace ostrelo
