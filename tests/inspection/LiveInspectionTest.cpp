// The area, the marks and the histogram as the live view shows them: through the
// window's timer, the frame grab and the picture surfaces.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>

#include "support/TestRig.h"

namespace ostrelo::testing {
namespace {

constexpr uint32_t kRed = 0xFFFF0000u;
constexpr uint32_t kGreen = 0xFF00FF00u;

class LiveInspection : public ::testing::Test {
 protected:
  void SetUp() override {
    rig.camera.SetPainter([this](uint8_t* p, int32_t w, int32_t h, uint64_t) {
      for (int32_t y = 0; y < h; ++y) {
        for (int32_t x = 0; x < w; ++x) p[static_cast<size_t>(y) * w + x] = paint(x, y);
      }
    });
    ASSERT_TRUE(f.Load());
    st.DaqAcquisitionOn = false;
  }
  void Dispatch(const std::function<void()>& handler) { f.Dispatch(handler); }
  void Tick(Control& box, int32_t value, void (Form1::*click)()) {
    box.value = value;
    Form1& form = f;
    Dispatch([&form, click] { (form.*click)(); });
  }
  int Count(const Surface& s, uint32_t pixel) const {
    return static_cast<int>(std::count(s.pixels.begin(), s.pixels.end(), pixel));
  }

  // 1280 x 1024 picture; a saturated block over columns 640..959 and lines 512..767,
  // which the 456 x 342 view shows over x 228..341, y 171..255.
  std::function<uint8_t(int32_t, int32_t)> paint = [](int32_t x, int32_t y) -> uint8_t {
    return (x >= 640 && x < 960 && y >= 512 && y < 768) ? 255 : 128;
  };
  Rig rig;
  Form1& f = rig.form;
  AcquisitionState& st = rig.form.st;
  MainWindowModel& ui = rig.form.ui;
  TimerLoop loop{rig.form, rig.clock};
};

TEST_F(LiveInspection, SelectedAreaIsShownEnlargedFromTheNextGrab) {
  paint = [](int32_t x, int32_t y) { return static_cast<uint8_t>((x + 3 * y) & 0xFF); };
  Tick(ui.LiveCheck, 0, &Form1::LiveCheck_Click);
  loop.RunFor(1000);
  ASSERT_EQ(loop.visuTicks, 0);

  Dispatch([&] { f.PicCam_MouseDown(1, 0, 100, 50); });
  Dispatch([&] { f.PicCam_MouseMove(1, 0, 200, 150); });
  Dispatch([&] { f.PicCam_MouseUp(1, 0, 200, 150); });
  ASSERT_EQ(st.ZoomWidth, 594);
  ASSERT_EQ(st.ZoomHeight, 594);
  // The live view runs again although "Live" is unticked.
  loop.RunFor(200);
  EXPECT_EQ(loop.visuTicks, 1);

  const Surface& zoom = ui.ZoomSurface;
  const Surface& overlay = ui.OverlaySurface;
  ASSERT_EQ(zoom.width, 594);
  ASSERT_EQ(zoom.height, 594);
  // The 100 x 100 overlay area from (100, 50) fills the whole zoom view.
  EXPECT_EQ(zoom.At(0, 0), overlay.At(100, 50));
  EXPECT_EQ(zoom.At(593, 0), overlay.At(199, 50));
  EXPECT_EQ(zoom.At(0, 593), overlay.At(100, 149));
  EXPECT_EQ(zoom.At(593, 593), overlay.At(199, 149));
  EXPECT_NE(overlay.At(100, 50), overlay.At(0, 0));

  // A right click gives the whole view back from the next grab on.
  Dispatch([&] { f.PicCam_MouseDown(2, 0, 10, 10); });
  loop.RunFor(200);
  ASSERT_EQ(zoom.width, 792);
  EXPECT_EQ(zoom.At(0, 0), overlay.At(0, 0));
  EXPECT_EQ(zoom.At(791, 593), overlay.At(455, 341));
}

TEST_F(LiveInspection, MarksShowInTheZoomAndFollowTheThresholdFromEnter) {
  ui.SatText.caption = "255";
  Tick(ui.CheckSaturation, 1, &Form1::CheckSaturation_Click);
  loop.RunFor(200);
  const Surface& overlay = ui.OverlaySurface;
  EXPECT_EQ(overlay.At(285, 213), kRed);  // inside the saturated block
  EXPECT_NE(overlay.At(10, 10), kRed);
  EXPECT_NE(overlay.At(220, 213), kRed);  // left of the block, beyond a dot's reach
  EXPECT_GT(Count(ui.ZoomSurface, kRed), 0);

  // Typed without Enter: nothing changes.
  ui.SatText.caption = "100";
  loop.RunFor(200);
  EXPECT_NE(overlay.At(10, 10), kRed);
  Dispatch([&] { f.SatText_KeyPress(kKeyEnter); });
  loop.RunFor(200);
  EXPECT_EQ(overlay.At(10, 10), kRed);

  // No signal at 128 covers everything but the block in green.
  ui.NoText.caption = "128";
  Tick(ui.CheckNoSignal, 1, &Form1::CheckNoSignal_Click);
  loop.RunFor(200);
  EXPECT_EQ(overlay.At(10, 10), kGreen);
  EXPECT_EQ(overlay.At(285, 213), kRed);

  // Switched off, the next grab leaves the plain copy of the view.
  Tick(ui.CheckSaturation, 0, &Form1::CheckSaturation_Click);
  Tick(ui.CheckNoSignal, 0, &Form1::CheckNoSignal_Click);
  loop.RunFor(200);
  EXPECT_EQ(Count(overlay, kRed), 0);
  EXPECT_EQ(Count(overlay, kGreen), 0);
  EXPECT_EQ(Count(ui.ZoomSurface, kRed), 0);
}

TEST_F(LiveInspection, HistogramIsRedrawnByEveryGrabUntilUnticked) {
  Tick(ui.CheckHisto, 1, &Form1::CheckHisto_Click);
  loop.RunFor(200);
  // A quarter of the width and of the height is saturated: one sample in sixteen, about.
  EXPECT_EQ(st.HistogramBins[128], 100.0);
  EXPECT_NEAR(st.HistogramBins[255], 100.0 / 15.0, 0.5);
  const uint64_t drawn = ui.HistoSurface.revision;
  loop.RunFor(200);
  EXPECT_GT(ui.HistoSurface.revision, drawn);

  Tick(ui.CheckHisto, 0, &Form1::CheckHisto_Click);
  const uint64_t frozen = ui.HistoSurface.revision;
  const std::vector<uint32_t> pixels = ui.HistoSurface.pixels;
  paint = [](int32_t, int32_t) -> uint8_t { return 30; };
  loop.RunFor(600);
  EXPECT_EQ(ui.HistoSurface.revision, frozen);
  EXPECT_EQ(ui.HistoSurface.pixels, pixels);
}

}  // namespace
}  // namespace ostrelo::testing
