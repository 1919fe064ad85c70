// The main window as start-up leaves it: every control's text, tick, enabled and
// visible state, place, tab index and tooltip; colours, fonts and alignment where the
// layout gives them; the timers and the warning panel.

#include <gtest/gtest.h>

#include <ostream>
#include <set>
#include <string>

#include "camera/GrabRig.h"

namespace ostrelo::testing {
namespace {

// Place and size in twips, as the layout gives them; the model holds pixels (15 twips each).
struct ControlCase {
  const char* name;
  const char* caption;
  int32_t value;
  bool enabled, visible;
  int32_t left, top, width, height;  // twips
  int32_t tabIndex;
  const char* tooltip;
  friend std::ostream& operator<<(std::ostream& os, const ControlCase& c) { return os << c.name; }
};

constexpr const char* kCamTip = "Left click to zoom, right click to get original size";
constexpr const char* kTimeTip = "Between 0,1 to 86400 s only, press enter to validate";

const ControlCase kControls[] = {
    {"Text_Gain", "0", 0, true, true, 9300, 10080, 570, 285, 38, ""},
    {"Picture1", "", 0, true, false, 7200, 4200, 11775, 3015, 36, ""},
    {"CheckWarning", "Warning screen", 0, true, false, 3240, 150, 1455, 255, 35, ""},
    {"Option1(1)", "DIFF (Differential)", 0, false, true, 3240, 6120, 1695, 315, 34, ""},
    {"Option1(0)", "RSE (single ended)", 1, false, true, 1440, 6120, 1815, 315, 33, ""},
    {"AcquiCheck", "Acquisition", 1, true, true, 120, 6120, 1155, 315, 22, ""},
    {"TimeText", "0.5", 0, true, true, 6000, 120, 975, 285, 17, kTimeTip},
    {"LiveCheck", "Live", 1, true, true, 9300, 9780, 1155, 315, 15, ""},
    {"Command2", "Multiple shots", 0, true, true, 1620, 60, 1455, 375, 13, ""},
    {"NoText", "0", 0, true, true, 8400, 9840, 435, 225, 11, ""},
    {"SatText", "255", 0, true, true, 8400, 9540, 435, 225, 10, ""},
    {"CheckNoSignal", "No signal", 0, true, true, 7140, 9780, 1095, 315, 9, ""},
    {"CheckSaturation", "Saturation", 0, true, true, 7140, 9480, 1095, 315, 8, ""},
    {"CheckHisto", "Histogram", 0, true, true, 9300, 9480, 1155, 315, 7, ""},
    {"Histo", "", 0, true, true, 10500, 9480, 8535, 615, 6, ""},
    {"PicCam", "", 0, true, true, 120, 480, 6840, 5130, 4, kCamTip},
    {"PicZoom", "", 0, true, true, 7140, 480, 11880, 8910, 3, ""},
    {"InfoContainer", "", 0, true, true, 0, 10545, 17520, 795, 2, ""},
    {"Overlay", "", 0, true, false, 120, 18000, 6840, 5130, 1, ""},
    {"Command1", "One shot", 0, true, true, 120, 60, 1455, 375, 0, ""},
    {"Label5", "Gain :", 0, true, true, 8580, 10140, 480, 255, 37, ""},
    {"Label4", "seconds", 0, true, true, 7080, 150, 615, 255, 32, ""},
    {"Label3", "", 0, true, true, 120, 6660, 6735, 375, 31, ""},
    {"NomUnite(0)", "Volts", 0, true, true, 4560, 7500, 1125, 225, 27, ""},
    {"NomUnite(1)", "Volts", 0, true, true, 4560, 7860, 1125, 225, 28, ""},
    {"NomUnite(2)", "Volts", 0, true, true, 4560, 8220, 1125, 225, 29, ""},
    {"NomUnite(3)", "Volts", 0, true, true, 4560, 8580, 1125, 225, 30, ""},
    {"NomVoie(0)", "Canal 0 : ", 0, true, true, 1440, 7500, 855, 225, 23, ""},
    {"NomVoie(1)", "Canal 1 :", 0, true, true, 1440, 7860, 855, 225, 24, ""},
    {"NomVoie(2)", "Canal 2 :", 0, true, true, 1440, 8220, 855, 225, 25, ""},
    {"NomVoie(3)", "Canal 3 :", 0, true, true, 1440, 8580, 855, 225, 26, ""},
    {"CanalLabel(0)", "", 0, true, true, 2700, 7500, 1515, 225, 18, ""},
    {"CanalLabel(1)", "", 0, true, true, 2700, 7860, 1515, 225, 19, ""},
    {"CanalLabel(2)", "", 0, true, true, 2700, 8220, 1515, 225, 20, ""},
    {"CanalLabel(3)", "", 0, true, true, 2700, 8580, 1515, 225, 21, ""},
    {"Label2", "Wait time :", 0, true, true, 5160, 150, 795, 255, 16, ""},
    {"RafLabel", "", 0, true, true, 8760, 60, 855, 315, 14, ""},
    {"Label1", "", 0, true, true, 9780, 120, 9255, 195, 12, ""},
    {"InfoCam", "(0000,0000) - (W:1280 - H:1024)", 0, true, true, 120, 5640, 6795, 315, 5, ""},
};

class StartedWindow : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(rig.form.Load()); }
  GrabRig rig;
  MainWindowModel& ui = rig.form.ui;
};

class ControlStartStateTest : public StartedWindow, public ::testing::WithParamInterface<ControlCase> {};

TEST_P(ControlStartStateTest, ControlIsAsLaidOut) {
  const ControlCase& c = GetParam();
  const Control* control = ui.Find(c.name);
  ASSERT_NE(control, nullptr);
  EXPECT_EQ(control->caption, c.caption);
  EXPECT_EQ(control->value, c.value);
  EXPECT_EQ(control->enabled, c.enabled);
  EXPECT_EQ(control->visible, c.visible);
  EXPECT_EQ(control->left, c.left / 15);
  EXPECT_EQ(control->top, c.top / 15);
  EXPECT_EQ(control->width, c.width / 15);
  EXPECT_EQ(control->height, c.height / 15);
  EXPECT_EQ(control->tabIndex, c.tabIndex);
  EXPECT_EQ(control->tooltip, c.tooltip);
}

INSTANTIATE_TEST_SUITE_P(Layout, ControlStartStateTest, ::testing::ValuesIn(kControls), [](const auto& info) {
  std::string n = info.param.name;
  for (char& ch : n) {
    if (ch == '(' || ch == ')') ch = '_';
  }
  return n;
});

TEST_F(StartedWindow, EveryControlOfTheWindowIsInTheTable) {
  std::set<std::string> listed;
  for (const ControlCase& c : kControls) listed.insert(c.name);
  for (const Control* c : ui.Controls()) {
    if (c->kind == ControlKind::Line || c->kind == ControlKind::Shape) continue;
    EXPECT_TRUE(listed.count(c->name)) << c->name;
  }
  // Tab indexes 0 to 38 each name exactly one control.
  std::set<int32_t> tabs;
  for (const ControlCase& c : kControls) EXPECT_TRUE(tabs.insert(c.tabIndex).second) << c.name;
}

TEST_F(StartedWindow, WindowHasItsVersionCaptionAndSitsTopLeft) {
  EXPECT_EQ(ui.Form1.caption, "Ostrelo version 1.2 - 201103");
  EXPECT_EQ((std::vector<int32_t>{ui.Form1.left, ui.Form1.top, ui.Form1.width, ui.Form1.height}),
            (std::vector<int32_t>{0, 0, 1288, 776}));
}

TEST_F(StartedWindow, WarningPanelHoldsTheNoticeAndStaysHidden) {
  EXPECT_EQ(ui.Picture1Text,
            "\r                Please don't touch this computer\r                         Test in progress ");
  EXPECT_FALSE(ui.Picture1.visible);
  EXPECT_EQ(ui.Picture1.backColour, Rgb(0, 0, 0));
  EXPECT_EQ(ui.Picture1.foreColour, Rgb(0, 255, 0));
  EXPECT_EQ(ui.Picture1.fontName, "Arial");
  EXPECT_EQ(ui.Picture1.fontSize, 24);
  EXPECT_TRUE(ui.Picture1.bold);
}

TEST_F(StartedWindow, TimersLiveViewRunningSeriesStopped) {
  EXPECT_TRUE(ui.VisuTimer.enabled());
  EXPECT_EQ(ui.VisuTimer.interval(), 200);
  EXPECT_FALSE(ui.Timer1.enabled());
  EXPECT_EQ(ui.Timer1.interval(), 200);
}

TEST_F(StartedWindow, ColoursFontsAndAlignmentOfTheLayout) {
  struct Look {
    const char* name;
    VbColour fore, back;
    Alignment alignment;
  };
  const VbColour text = kSystemWindowText, face = kSystemButtonFace, window = kSystemWindow;
  const Look looks[] = {
      {"TimeText", Rgb(255, 0, 0), window, Alignment::Right},
      {"NoText", text, Rgb(224, 224, 224), Alignment::Centre},
      {"SatText", text, Rgb(224, 224, 224), Alignment::Centre},
      {"CheckNoSignal", Rgb(0, 128, 0), face, Alignment::Left},
      {"CheckSaturation", Rgb(255, 0, 0), face, Alignment::Left},
      {"Command1", text, Rgb(192, 255, 192), Alignment::Left},
      {"Command2", text, Rgb(192, 192, 255), Alignment::Left},
      {"Histo", text, Rgb(224, 224, 224), Alignment::Left},
      {"Overlay", text, Rgb(255, 255, 255), Alignment::Left},
      {"PicCam", text, window, Alignment::Left},
      {"PicZoom", text, window, Alignment::Left},
      {"Label4", text, face, Alignment::Centre},
      {"RafLabel", text, face, Alignment::Centre},
  };
  for (const Look& l : looks) {
    const Control* c = ui.Find(l.name);
    ASSERT_NE(c, nullptr) << l.name;
    EXPECT_EQ(c->foreColour, l.fore) << l.name;
    EXPECT_EQ(c->backColour, l.back) << l.name;
    EXPECT_EQ(c->alignment, l.alignment) << l.name;
  }
  EXPECT_EQ(ui.RafLabel.fontSize, 13.5);
  EXPECT_EQ(ui.Label1.fontName, "MS Sans Serif");
  EXPECT_EQ(ui.Label1.fontSize, 8.25);
  EXPECT_EQ(ui.Histo.borderWidth, 2);
  EXPECT_EQ(ui.OverlayDrawWidth, 4);
}

TEST_F(StartedWindow, PictureSurfacesHaveTheInnerSizesOfTheirBoxes) {
  EXPECT_EQ((std::vector<int32_t>{ui.CamSurface.width, ui.CamSurface.height}), (std::vector<int32_t>{456, 342}));
  EXPECT_EQ((std::vector<int32_t>{ui.OverlaySurface.width, ui.OverlaySurface.height}),
            (std::vector<int32_t>{456, 342}));
  EXPECT_EQ((std::vector<int32_t>{ui.ZoomSurface.width, ui.ZoomSurface.height}), (std::vector<int32_t>{792, 594}));
  EXPECT_EQ((std::vector<int32_t>{ui.HistoSurface.width, ui.HistoSurface.height}), (std::vector<int32_t>{565, 37}));
  EXPECT_FALSE(ui.ZoomShape.visible);
}

}  // namespace
}  // namespace ostrelo::testing
