// What a grab puts into the frame buffer and the three picture surfaces.

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "GrabRig.h"
#include "camera/GrabFrame.h"

namespace ostrelo::testing {
namespace {

uint8_t Grey(int32_t x, int32_t y) { return static_cast<uint8_t>((x + 2 * y) % 251); }

void PaintPattern(uint8_t* p, int32_t w, int32_t h, uint64_t) {
  for (int32_t y = 0; y < h; ++y) {
    for (int32_t x = 0; x < w; ++x) p[static_cast<size_t>(y) * w + x] = Grey(x, y);
  }
}

class GrabPixelsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    rig.camera.SetPainter(PaintPattern);
    rig.Start();
    rig.form.st.DaqAcquisitionOn = false;
  }
  GrabRig rig;
  AcquisitionState& st = rig.form.st;
  MainWindowModel& ui = rig.form.ui;
};

TEST_F(GrabPixelsTest, FrameBufferHoldsThePictureByteForByte) {
  GrabFrame(rig.form);
  ASSERT_EQ(st.FrameBytes.size(), 1280u * 1024u + 1u);
  size_t mismatches = 0;
  for (int32_t y = 0; y < 1024; ++y) {
    for (int32_t x = 0; x < 1280; ++x) mismatches += st.FrameBytes[static_cast<size_t>(y) * 1280 + x] != Grey(x, y);
  }
  EXPECT_EQ(mismatches, 0u);
  EXPECT_EQ(st.FrameBytes.back(), 0);  // the spare byte is never written
}

TEST_F(GrabPixelsTest, CameraViewIsTheWholePictureStretchedByDroppingPixels) {
  GrabFrame(rig.form);
  ASSERT_EQ(ui.CamSurface.width, 456);
  ASSERT_EQ(ui.CamSurface.height, 342);
  // Worked out by hand: view (455, 341) shows picture (1277, 1021); view (228, 171)
  // shows picture (640, 512).
  EXPECT_EQ(ui.CamSurface.At(0, 0), GreyPixel(0));
  EXPECT_EQ(ui.CamSurface.At(455, 341), GreyPixel(56));
  EXPECT_EQ(ui.CamSurface.At(228, 171), GreyPixel(158));
  size_t mismatches = 0;
  for (int32_t y = 0; y < 342; ++y) {
    for (int32_t x = 0; x < 456; ++x)
      mismatches += ui.CamSurface.At(x, y) != GreyPixel(Grey(x * 1280 / 456, y * 1024 / 342));
  }
  EXPECT_EQ(mismatches, 0u);
}

TEST_F(GrabPixelsTest, OverlayIsThePlainCopyOfTheCameraViewWhenChecksAreOff) {
  const uint64_t histo = ui.HistoSurface.revision;
  const uint64_t overlay = ui.OverlaySurface.revision;
  GrabFrame(rig.form);
  EXPECT_EQ(ui.OverlaySurface.pixels, ui.CamSurface.pixels);
  EXPECT_GT(ui.OverlaySurface.revision, overlay);
  EXPECT_EQ(ui.HistoSurface.revision, histo);  // Histo keeps the last histogram
}

TEST_F(GrabPixelsTest, ZoomIsTheOverlaySelectionStretchedOverTheWholeZoomView) {
  st.OverlaySelLeft = 100;
  st.OverlaySelTop = 50;
  st.OverlaySelWidth = 99;
  st.OverlaySelHeight = 66;
  GrabFrame(rig.form);
  ASSERT_EQ(st.ZoomWidth, 792);
  ASSERT_EQ(st.ZoomHeight, 594);
  // By hand: zoom (0, 0) <- overlay (100, 50) <- picture (280, 149); zoom (791, 593)
  // <- overlay (198, 115) <- picture (555, 344); zoom (400, 300) <- overlay (150, 83)
  // <- picture (421, 248).
  EXPECT_EQ(ui.ZoomSurface.At(0, 0), GreyPixel(76));
  EXPECT_EQ(ui.ZoomSurface.At(791, 593), GreyPixel(239));
  EXPECT_EQ(ui.ZoomSurface.At(400, 300), GreyPixel(164));
  size_t mismatches = 0;
  for (int32_t y = 0; y < 594; ++y) {
    for (int32_t x = 0; x < 792; ++x) {
      mismatches += ui.ZoomSurface.At(x, y) != ui.OverlaySurface.At(100 + x * 99 / 792, 50 + y * 66 / 594);
    }
  }
  EXPECT_EQ(mismatches, 0u);
}

TEST_F(GrabPixelsTest, ZoomFillsOnlyTheCurrentZoomSize) {
  const uint32_t untouched = ui.ZoomSurface.At(700, 500);
  st.ZoomWidth = 300;
  st.ZoomHeight = 200;
  GrabFrame(rig.form);
  // The whole view (456 x 342) onto 300 x 200: zoom (299, 199) <- view (454, 340).
  EXPECT_EQ(ui.ZoomSurface.At(299, 199), ui.CamSurface.At(454, 340));
  EXPECT_EQ(ui.ZoomSurface.At(700, 500), untouched);
  EXPECT_EQ(ui.ZoomSurface.At(300, 100), untouched);
}

// However many grabs went by unread, a reading shows the last picture; here the zoom
// covers only part of its view, so what it draws piles up on what was there.
TEST_F(GrabPixelsTest, ViewsReadAfterManyUnreadGrabsShowTheLastPicture) {
  const uint32_t untouched = ui.ZoomSurface.At(700, 500);
  st.ZoomWidth = 300;
  st.ZoomHeight = 200;
  rig.camera.SetPainter([](uint8_t* p, int32_t w, int32_t h, uint64_t k) {
    std::fill(p, p + static_cast<size_t>(w) * h, static_cast<uint8_t>(10 + k));
  });
  for (int i = 0; i < 20; ++i) GrabFrame(rig.form);
  const uint32_t last = GreyPixel(static_cast<uint8_t>(10 + rig.camera.framesDelivered() - 1));
  EXPECT_EQ(std::count(ui.CamSurface.pixels.begin(), ui.CamSurface.pixels.end(), last), 456 * 342);
  EXPECT_EQ(ui.OverlaySurface.pixels, ui.CamSurface.pixels);
  EXPECT_EQ(ui.ZoomSurface.At(299, 199), last);
  EXPECT_EQ(ui.ZoomSurface.At(700, 500), untouched);
}

// A display that paints something other than the picture: the overlay and the zoom
// follow what was painted, not the frame buffer.
class PaintsRed final : public Display {
 public:
  explicit PaintsRed(Surface& view) : view_(view) {}
  int32_t Init(int32_t) override { return 9; }
  void SetImage(int32_t, const uint8_t*, int32_t, int32_t, int32_t, int32_t) override {}
  void Update(int32_t display) override {
    ++updates;
    EXPECT_EQ(display, 9);
    view_.Fill(PixelFromVb(kVbRed));
  }
  void Deinit(int32_t*) override {}
  int updates = 0;

 private:
  Surface& view_;
};

TEST(GrabDisplayTest, ZoomIsMadeFromThePaintedViewNotFromTheFrameBuffer) {
  ManualClock clock;
  SimulatedCamera camera(clock);
  camera.SetPainter(PaintPattern);
  ScriptedDaq daq(camera);
  FakeDialogs dialogs;
  std::unique_ptr<PaintsRed> display;
  Form1 form(Devices{camera, nullptr, daq, clock, dialogs});
  display = std::make_unique<PaintsRed>(form.ui.CamSurface);
  form.dev.display = display.get();
  ASSERT_TRUE(form.Load());
  GrabFrame(form);
  EXPECT_EQ(display->updates, 1);
  EXPECT_EQ(form.st.FrameBytes[1281], Grey(1, 1));
  const uint32_t red = PixelFromVb(kVbRed);
  EXPECT_EQ(form.ui.OverlaySurface.At(10, 10), red);
  EXPECT_EQ(form.ui.ZoomSurface.At(0, 0), red);
  EXPECT_EQ(form.ui.ZoomSurface.At(791, 593), red);
}

}  // namespace
}  // namespace ostrelo::testing
