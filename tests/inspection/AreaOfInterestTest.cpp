// Choosing the area of interest on the camera view and fitting the zoom box.
//
// With the default 1280 x 1024 camera the camera view is 456 x 342 pixels, so a
// view pixel is 1280/456 = 2.80702 picture columns and 1024/342 = 2.99415 picture
// lines; Overlay has the view's size. The home zoom box is 792 x 594 at left 476.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <ostream>
#include <string>

#include "InspectionRig.h"
#include "inspection/CheckPass.h"
#include "shots/BitmapWriter.h"

namespace ostrelo::testing {
namespace {

struct Rect {
  int32_t left, top, width, height;
  bool operator==(const Rect&) const = default;
};
std::ostream& operator<<(std::ostream& os, const Rect& r) {
  return os << "(" << r.left << "," << r.top << " " << r.width << "x" << r.height << ")";
}
Rect Sel(const AcquisitionState& st) { return {st.SelLeft, st.SelTop, st.SelWidth, st.SelHeight}; }
Rect Aoi(const AcquisitionState& st) { return {st.AoiLeft, st.AoiTop, st.AoiWidth, st.AoiHeight}; }
Rect OverlayArea(const AcquisitionState& st) {
  return {st.OverlaySelLeft, st.OverlaySelTop, st.OverlaySelWidth, st.OverlaySelHeight};
}
Rect ZoomBox(const MainWindowModel& ui) {
  return {ui.PicZoom.left, ui.PicZoom.top, ui.PicZoom.width, ui.PicZoom.height};
}

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr int32_t kZoomTop = 480 / 15;

void Drag(Form1& f, double x0, double y0, double x1, double y1) {
  f.PicCam_MouseDown(1, 0, x0, y0);
  f.PicCam_MouseMove(1, 0, (x0 + x1) / 2, (y0 + y1) / 2);
  f.PicCam_MouseMove(1, 0, x1, y1);
  f.PicCam_MouseUp(1, 0, x1, y1);
}

class AreaOfInterest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(rig.started); }
  InspectionRig rig;
  Form1& f = rig.form;
  AcquisitionState& st = rig.form.st;
  MainWindowModel& ui = rig.form.ui;
};

TEST_F(AreaOfInterest, StartsAsTheWholePictureWithTheHomeZoomBox) {
  EXPECT_EQ(Sel(st), (Rect{0, 0, 456, 342}));
  EXPECT_EQ(Aoi(st), (Rect{0, 0, 1280, 1024}));
  EXPECT_EQ(ZoomBox(ui), (Rect{476, kZoomTop, 792, 594}));
  EXPECT_FALSE(ui.ZoomShape.visible);
}

TEST_F(AreaOfInterest, PlainClickGivesAFiveByFiveAreaAndASquareZoomBox) {
  f.PicCam_MouseDown(1, 0, 100, 50);
  f.PicCam_MouseUp(1, 0, 100, 50);
  EXPECT_EQ(Sel(st), (Rect{100, 50, 5, 5}));
  // 100 x 2.80702 = 280.70, 50 x 2.99415 = 149.71, 5 x 2.80702 = 14.04, 5 x 2.99415 = 14.97.
  EXPECT_EQ(Aoi(st), (Rect{281, 150, 14, 15}));
  EXPECT_EQ(OverlayArea(st), (Rect{100, 50, 5, 5}));
  EXPECT_EQ(ui.InfoCam.caption, "(0281,0150) - (W:0014 - H:0015)");
  // A square is taller than the 4:3 box: full height 594, width 594, centred: 476 + 198 / 2.
  EXPECT_EQ(ZoomBox(ui), (Rect{575, kZoomTop, 594, 594}));
  EXPECT_EQ(st.ZoomWidth, 594);
  EXPECT_EQ(st.ZoomHeight, 594);
  EXPECT_EQ(ui.ZoomSurface.width, 594);
  EXPECT_EQ(ui.ZoomSurface.height, 594);
}

TEST_F(AreaOfInterest, PressAtTheTopLeftCornerStartsAtOneOne) {
  f.PicCam_MouseDown(1, 0, 0, 0);
  EXPECT_EQ(Sel(st), (Rect{1, 1, 5, 5}));
  f.PicCam_MouseUp(1, 0, 0, 0);
  EXPECT_EQ(Sel(st), (Rect{1, 1, 5, 5}));
  EXPECT_EQ(Aoi(st), (Rect{3, 3, 14, 15}));
  EXPECT_EQ(ui.InfoCam.caption, "(0003,0003) - (W:0014 - H:0015)");
}

TEST_F(AreaOfInterest, FractionalPointerPositionsRoundHalfToEven) {
  f.PicCam_MouseDown(1, 0, 100.5, 51.5);
  EXPECT_EQ(ui.ZoomShape.left, 100);
  EXPECT_EQ(ui.ZoomShape.top, 52);
  f.PicCam_MouseUp(1, 0, 140.5, 81.6);  // 40.5 -> 40, 29.6 -> 30
  EXPECT_EQ(Sel(st), (Rect{100, 52, 40, 30}));
}

struct DragCase {
  const char* name;
  double x0, y0, x1, y1;
};
void PrintTo(const DragCase& c, std::ostream* os) { *os << c.name; }

class DragDirection : public AreaOfInterest, public ::testing::WithParamInterface<DragCase> {};

TEST_P(DragDirection, GivesTheSameAreaAsDraggingDownAndRight) {
  const DragCase& c = GetParam();
  Drag(f, c.x0, c.y0, c.x1, c.y1);
  const Rect sel = Sel(st), aoi = Aoi(st), overlay = OverlayArea(st), zoom = ZoomBox(ui);
  const std::string info = ui.InfoCam.caption;

  InspectionRig other;
  ASSERT_TRUE(other.started);
  Drag(other.form, c.x0, c.y0, c.x0 + std::fabs(c.x1 - c.x0), c.y0 + std::fabs(c.y1 - c.y0));
  EXPECT_EQ(sel, Sel(other.form.st));
  EXPECT_EQ(aoi, Aoi(other.form.st));
  EXPECT_EQ(overlay, OverlayArea(other.form.st));
  EXPECT_EQ(zoom, ZoomBox(other.form.ui));
  EXPECT_EQ(info, other.form.ui.InfoCam.caption);
  // The rectangle reaches right and down from the press point.
  EXPECT_EQ(sel.left, static_cast<int32_t>(c.x0));
  EXPECT_EQ(sel.top, static_cast<int32_t>(c.y0));
}

INSTANTIATE_TEST_SUITE_P(Selection, DragDirection,
                         ::testing::Values(DragCase{"UpLeft", 200, 150, 150, 100},
                                           DragCase{"UpRight", 200, 150, 260, 120},
                                           DragCase{"DownLeft", 200, 150, 130, 190},
                                           DragCase{"DownRight", 200, 150, 240, 230}),
                         [](const auto& info) { return std::string(info.param.name); });

// Whatever the pointer does, the area stays inside the picture and the selection inside
// the view, and every size stays usable.
class DragPastEdges : public AreaOfInterest, public ::testing::WithParamInterface<DragCase> {};

TEST_P(DragPastEdges, KeepsTheAreaInsideThePicture) {
  const DragCase& c = GetParam();
  auto check = [&](const char* when) {
    SCOPED_TRACE(when);
    EXPECT_GE(st.SelLeft, 0);
    EXPECT_GE(st.SelTop, 0);
    EXPECT_GE(st.SelWidth, 1);
    EXPECT_GE(st.SelHeight, 1);
    EXPECT_LE(st.SelLeft + st.SelWidth, st.CamViewWidth);
    EXPECT_LE(st.SelTop + st.SelHeight, st.CamViewHeight);
    EXPECT_GE(st.AoiLeft, 0);
    EXPECT_GE(st.AoiTop, 0);
    EXPECT_GE(st.AoiWidth, 1);
    EXPECT_GE(st.AoiHeight, 1);
    EXPECT_LE(st.AoiLeft + st.AoiWidth, st.ImageWidth);
    EXPECT_LE(st.AoiTop + st.AoiHeight, st.ImageHeight);
    EXPECT_LE(st.OverlaySelLeft + st.OverlaySelWidth, st.OverlayWidth);
    EXPECT_LE(st.OverlaySelTop + st.OverlaySelHeight, st.OverlayHeight);
  };
  f.PicCam_MouseDown(1, 0, c.x0, c.y0);
  check("pressed");
  f.PicCam_MouseMove(1, 0, c.x1, c.y1);
  check("moved");
  f.PicCam_MouseUp(1, 0, c.x1, c.y1);
  check("released");
  EXPECT_GT(st.ZoomWidth, 0);
  EXPECT_GT(st.ZoomHeight, 0);
  EXPECT_LE(st.ZoomWidth, st.ZoomBoxWidth);
  EXPECT_LE(st.ZoomHeight, st.ZoomBoxHeight);
  EXPECT_GE(ui.PicZoom.left, st.ZoomBoxLeft);
  EXPECT_LE(ui.PicZoom.left + ui.PicZoom.width, st.ZoomBoxLeft + st.ZoomBoxWidth);
  // The shape's values stay small enough for any view to add them up.
  for (int32_t v : {ui.ZoomShape.left, ui.ZoomShape.top, ui.ZoomShape.width, ui.ZoomShape.height}) {
    EXPECT_LE(std::abs(static_cast<int64_t>(v)), int64_t{1} << 24);
  }
  // Every check the next grab makes stays within the frame.
  st.SaturationCheckOn = st.NoSignalCheckOn = st.HistogramOn = true;
  st.SaturationThreshold = 10;
  st.NoSignalThreshold = 240;
  RunCheckPass(f);
}

INSTANTIATE_TEST_SUITE_P(
    Selection, DragPastEdges,
    ::testing::Values(
        DragCase{"PastRightAndBottom", 400, 300, 10000, 10000}, DragCase{"PastLeftAndTop", 10, 10, -10000, -10000},
        DragCase{"PastRightOnly", 300, 100, 900, 120}, DragCase{"PastBottomOnly", 100, 300, 120, 700},
        DragCase{"ClickInTheLastPixel", 455, 341, 455, 341}, DragCase{"ClickOnTheFarEdges", 456, 342, 456, 342},
        DragCase{"PressedOutsideTheView", 5000, -5000, 5001, -4999}, DragCase{"HugePointer", 200, 100, 1e300, -1e300},
        DragCase{"Infinite", 200, 100, kInf, -kInf}, DragCase{"NotANumber", 200, 100, kNaN, kNaN},
        DragCase{"PressedAtNaN", kNaN, kNaN, 10, 10}, DragCase{"PressedAtInfinity", -kInf, kInf, kInf, kNaN},
        DragCase{"BeyondInt32", 3e9, 3e9, -3e9, -3e9}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(AreaOfInterest, DragPastTheRightAndBottomEdgesStopsAtThem) {
  Drag(f, 400, 300, 10000, 10000);
  EXPECT_EQ(Sel(st), (Rect{400, 300, 56, 42}));
  // 400 x 2.80702 = 1122.81, 56 x 2.80702 = 157.19; 300 x 2.99415 = 898.25, 42 x 2.99415 = 125.75.
  EXPECT_EQ(Aoi(st), (Rect{1123, 898, 157, 126}));
  EXPECT_EQ(ui.InfoCam.caption, "(1123,0898) - (W:0157 - H:0126)");
}

TEST_F(AreaOfInterest, MinimumSizeInTheCornerMovesInwards) {
  Drag(f, 455, 341, 455, 341);
  EXPECT_EQ(Sel(st), (Rect{451, 337, 5, 5}));
  EXPECT_EQ(Aoi(st), (Rect{1266, 1009, 14, 15}));
}

// A picture of 171 x 128 seen through 456 x 342 view pixels: a selection from view
// column 4 to the right edge maps to columns 1.5 .. 171, and the two roundings
// (1.5 -> 2, 169.5 -> 170) would reach one column past the picture.
TEST(AreaOfInterestRounding, DerivedAreaIsCutAtThePictureEdge) {
  InspectionRig rig(171, 128);
  ASSERT_TRUE(rig.started);
  Drag(rig.form, 4, 10, 1000, 20);
  EXPECT_EQ(Sel(rig.form.st), (Rect{4, 10, 452, 10}));
  EXPECT_EQ(rig.form.st.AoiLeft, 2);
  EXPECT_EQ(rig.form.st.AoiWidth, 169);
  EXPECT_LE(rig.form.st.AoiTop + rig.form.st.AoiHeight, 128);
}

// A picture far smaller than the view (5 x 3 seen through 456 x 342 view pixels): a
// selection of the minimum 5 x 5 view pixels covers 0.05 x 0.04 picture pixels, which
// would round to an empty area, and near the right or bottom edge its left or top
// would round onto the edge. The area keeps at least one pixel inside the picture, so
// the checks and the bitmap writer always have one to work on.
struct TinyCase {
  const char* name;
  int32_t width, height;
  double x0, y0, x1, y1;
  Rect area;
};
void PrintTo(const TinyCase& c, std::ostream* os) { *os << c.name; }
class TinyPicture : public ::testing::TestWithParam<TinyCase> {};

TEST_P(TinyPicture, SelectionKeepsAtLeastOnePixel) {
  const TinyCase& c = GetParam();
  InspectionRig rig(c.width, c.height);
  ASSERT_TRUE(rig.started);
  const AcquisitionState& st = rig.form.st;
  rig.form.PicCam_MouseDown(1, 0, c.x0, c.y0);
  EXPECT_GE(st.AoiWidth, 1) << "pressed";
  EXPECT_GE(st.AoiHeight, 1) << "pressed";
  rig.form.PicCam_MouseUp(1, 0, c.x1, c.y1);
  EXPECT_EQ(Aoi(st), c.area);
  EXPECT_NO_THROW(CheckAreaInsideFrame(st));
  EXPECT_GE(st.OverlaySelWidth, 1);
  EXPECT_GE(st.OverlaySelHeight, 1);
}

INSTANTIATE_TEST_SUITE_P(AreaOfInterestRounding, TinyPicture,
                         ::testing::Values(TinyCase{"ClickInTheMiddle", 5, 3, 200, 150, 200, 150, {2, 1, 1, 1}},
                                           TinyCase{"ClickAtTheTopLeft", 5, 3, 0, 0, 0, 0, {0, 0, 1, 1}},
                                           TinyCase{"ClickInTheLastPixel", 5, 3, 455, 341, 455, 341, {4, 2, 1, 1}},
                                           TinyCase{"DragOverHalf", 5, 3, 0, 0, 228, 171, {0, 0, 2, 2}},
                                           TinyCase{"OnePixelWide", 1, 1, 300, 300, 300, 300, {0, 0, 1, 1}},
                                           TinyCase{"NarrowAndTall", 40, 2000, 455, 10, 455, 12, {39, 58, 1, 29}}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(AreaOfInterest, RightClickRestoresTheWholePictureAndTheHomeBox) {
  Drag(f, 50, 60, 90, 200);
  ASSERT_NE(ZoomBox(ui), (Rect{476, kZoomTop, 792, 594}));
  ui.LiveCheck.value = 0;
  f.LiveCheck_Click();
  const bool shapeVisible = ui.ZoomShape.visible;
  const Rect shape{ui.ZoomShape.left, ui.ZoomShape.top, ui.ZoomShape.width, ui.ZoomShape.height};
  f.PicCam_MouseDown(2, 0, 123, 45);
  EXPECT_EQ(Sel(st), (Rect{0, 0, 456, 342}));  // no clamp to 1
  EXPECT_EQ(Aoi(st), (Rect{0, 0, 1280, 1024}));
  EXPECT_EQ(OverlayArea(st), (Rect{0, 0, 456, 342}));
  EXPECT_EQ(ui.InfoCam.caption, "(0000,0000) - (W:1280 - H:1024)");
  EXPECT_EQ(ZoomBox(ui), (Rect{476, kZoomTop, 792, 594}));
  EXPECT_EQ(st.ZoomWidth, 792);
  EXPECT_EQ(st.ZoomHeight, 594);
  EXPECT_EQ(ui.ZoomSurface.width, 792);
  EXPECT_EQ(ui.ZoomSurface.height, 594);
  // Neither the live timer nor the shape is touched.
  EXPECT_FALSE(ui.VisuTimer.enabled());
  EXPECT_EQ(ui.ZoomShape.visible, shapeVisible);
  EXPECT_EQ((Rect{ui.ZoomShape.left, ui.ZoomShape.top, ui.ZoomShape.width, ui.ZoomShape.height}), shape);
}

struct FitCase {
  const char* name;
  double x0, y0, x1, y1;
  Rect zoom;  // left, top, width, height of PicZoom after the release
};
void PrintTo(const FitCase& c, std::ostream* os) { *os << c.name; }

class ZoomFitting : public AreaOfInterest, public ::testing::WithParamInterface<FitCase> {};

TEST_P(ZoomFitting, GivesTheBoxTheProportionsOfTheArea) {
  const FitCase& c = GetParam();
  Drag(f, c.x0, c.y0, c.x1, c.y1);
  EXPECT_EQ(ZoomBox(ui), c.zoom);
  EXPECT_EQ(st.ZoomWidth, c.zoom.width);
  EXPECT_EQ(st.ZoomHeight, c.zoom.height);
  EXPECT_EQ(ui.ZoomSurface.width, c.zoom.width);
  EXPECT_EQ(ui.ZoomSurface.height, c.zoom.height);
  // The home box never moves or grows.
  EXPECT_EQ(st.ZoomBoxWidth, 792);
  EXPECT_EQ(st.ZoomBoxHeight, 594);
  EXPECT_EQ(st.ZoomBoxLeft, 476);
}

INSTANTIATE_TEST_SUITE_P(Selection, ZoomFitting,
                         ::testing::Values(
                             // 400 x 300 is exactly 4:3, the home ratio: first branch, full width at home left.
                             FitCase{"ExactlyTheHomeRatio", 20, 20, 420, 320, {476, kZoomTop, 792, 594}},
                             // 399 x 300: a little taller; width round(594 x 1.33) = 790, left 476 + 2 / 2.
                             FitCase{"JustTallerThanHome", 20, 20, 419, 320, {477, kZoomTop, 790, 594}},
                             // 400 x 100, ratio 4: full width, height 792 / 4 = 198, hanging from the top.
                             FitCase{"Wide", 10, 10, 410, 110, {476, kZoomTop, 792, 198}},
                             // 450 x 7: height round(792 / 64.2857) = round(12.32) = 12.
                             FitCase{"VeryWide", 3, 30, 453, 37, {476, kZoomTop, 792, 12}},
                             // 100 x 200, ratio 0.5: width 297, left 476 + 495 / 2 = 723.5, which rounds to
                             // the even 724 (a truncating division would give 723).
                             FitCase{"TallCentredInFloatingPoint", 10, 10, 110, 210, {724, kZoomTop, 297, 594}},
                             // 5 x 300: width round(594 / 60) = round(9.9) = 10, left 476 + 391 = 867.
                             FitCase{"VeryTall", 100, 20, 105, 320, {867, kZoomTop, 10, 594}}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(AreaOfInterest, DuringTheDragOnlyThePictureAreaAndInfoCamFollow) {
  const Rect overlayBefore = OverlayArea(st);
  const Rect zoomBefore = ZoomBox(ui);
  f.PicCam_MouseDown(1, 0, 100, 100);
  EXPECT_TRUE(ui.ZoomShape.visible);
  EXPECT_EQ(Aoi(st), (Rect{281, 299, 14, 15}));
  EXPECT_EQ(ui.InfoCam.caption, "(0281,0299) - (W:0014 - H:0015)");
  EXPECT_EQ(OverlayArea(st), overlayBefore);

  f.PicCam_MouseMove(1, 0, 200, 150);
  EXPECT_EQ(Sel(st), (Rect{100, 100, 100, 50}));
  EXPECT_EQ((Rect{ui.ZoomShape.left, ui.ZoomShape.top, ui.ZoomShape.width, ui.ZoomShape.height}),
            (Rect{100, 100, 100, 50}));
  EXPECT_EQ(Aoi(st), (Rect{281, 299, 281, 150}));
  EXPECT_EQ(ui.InfoCam.caption, "(0281,0299) - (W:0281 - H:0150)");
  EXPECT_EQ(OverlayArea(st), overlayBefore);
  EXPECT_EQ(ZoomBox(ui), zoomBefore);

  f.PicCam_MouseUp(1, 0, 200, 150);
  EXPECT_FALSE(ui.ZoomShape.visible);
  EXPECT_EQ(OverlayArea(st), (Rect{100, 100, 100, 50}));
  EXPECT_EQ(ZoomBox(ui), (Rect{476, kZoomTop, 792, 396}));
}

TEST_F(AreaOfInterest, LiveViewPausesDuringTheDragAndResumesEvenWithLiveUnticked) {
  ui.LiveCheck.value = 0;
  f.LiveCheck_Click();
  ui.LiveCheck.value = 1;
  f.LiveCheck_Click();
  ASSERT_TRUE(ui.VisuTimer.enabled());
  f.PicCam_MouseDown(1, 0, 30, 40);
  EXPECT_FALSE(ui.VisuTimer.enabled());
  f.PicCam_MouseMove(1, 0, 60, 80);
  EXPECT_FALSE(ui.VisuTimer.enabled());
  ui.LiveCheck.value = 0;  // unticked while dragging makes no difference
  f.PicCam_MouseUp(1, 0, 60, 80);
  EXPECT_TRUE(ui.VisuTimer.enabled());

  ui.LiveCheck.value = 0;
  f.LiveCheck_Click();
  ASSERT_FALSE(ui.VisuTimer.enabled());
  Drag(f, 10, 10, 50, 50);
  EXPECT_TRUE(ui.VisuTimer.enabled());
}

TEST_F(AreaOfInterest, CameraViewIsRepaintedWhereTheSelectionAsksForIt) {
  CountingDisplay& d = rig.display;
  int before = d.updates;
  f.PicCam_MouseDown(1, 0, 30, 40);
  EXPECT_EQ(d.updates - before, 1);
  f.PicCam_MouseMove(1, 0, 50, 60);
  f.PicCam_MouseMove(1, 0, 70, 80);
  EXPECT_EQ(d.updates - before, 3);
  f.PicCam_MouseUp(1, 0, 70, 80);
  EXPECT_EQ(d.updates - before, 4);
  // A release of any other button repaints too, and changes nothing else.
  const Rect aoi = Aoi(st);
  f.PicCam_MouseUp(2, 0, 5, 5);
  f.PicCam_MouseUp(4, 0, 5, 5);
  EXPECT_EQ(d.updates - before, 6);
  EXPECT_EQ(Aoi(st), aoi);
  // The right click does not repaint.
  f.PicCam_MouseDown(2, 0, 5, 5);
  EXPECT_EQ(d.updates - before, 6);
  EXPECT_EQ(d.foreignUpdates, 0);
}

struct OtherButtonCase {
  const char* name;
  int32_t button;
  int event;  // 0 press, 1 move
};
void PrintTo(const OtherButtonCase& c, std::ostream* os) { *os << c.name; }

class OtherButtons : public AreaOfInterest, public ::testing::WithParamInterface<OtherButtonCase> {};

TEST_P(OtherButtons, ChangeNothing) {
  const OtherButtonCase& c = GetParam();
  Drag(f, 40, 50, 120, 110);
  const Rect sel = Sel(st), aoi = Aoi(st), overlay = OverlayArea(st), zoom = ZoomBox(ui);
  const std::string info = ui.InfoCam.caption;
  const bool live = ui.VisuTimer.enabled();
  const int updates = rig.display.updates;
  if (c.event == 0) {
    f.PicCam_MouseDown(c.button, 0, 300, 300);
  } else {
    f.PicCam_MouseMove(c.button, 0, 300, 300);
  }
  EXPECT_EQ(Sel(st), sel);
  EXPECT_EQ(Aoi(st), aoi);
  EXPECT_EQ(OverlayArea(st), overlay);
  EXPECT_EQ(ZoomBox(ui), zoom);
  EXPECT_EQ(ui.InfoCam.caption, info);
  EXPECT_EQ(ui.VisuTimer.enabled(), live);
  EXPECT_FALSE(ui.ZoomShape.visible);
  EXPECT_EQ(rig.display.updates, updates);
}

INSTANTIATE_TEST_SUITE_P(Selection, OtherButtons,
                         ::testing::Values(OtherButtonCase{"MiddlePress", 4, 0}, OtherButtonCase{"NoButtonPress", 0, 0},
                                           OtherButtonCase{"LeftAndRightPress", 3, 0},
                                           OtherButtonCase{"HoverMove", 0, 1}, OtherButtonCase{"RightDragMove", 2, 1},
                                           OtherButtonCase{"LeftAndRightMove", 3, 1}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(AreaOfInterest, DisabledViewTakesNoMouseInput) {
  ui.PicCam.enabled = false;
  const int updates = rig.display.updates;
  Drag(f, 40, 50, 120, 110);
  f.PicCam_MouseDown(2, 0, 1, 1);
  EXPECT_EQ(Aoi(st), (Rect{0, 0, 1280, 1024}));
  EXPECT_TRUE(ui.VisuTimer.enabled());
  EXPECT_EQ(rig.display.updates, updates);
}

}  // namespace
}  // namespace ostrelo::testing
