// Sequences of operator actions on the main window: text typed into every box and
// validated with Enter, check box clicks, mouse gestures on the camera view with any
// buttons and coordinates, and live-view grabs. After every action the state must stay
// within its ranges and the area of interest inside the picture.

#include <cstddef>
#include <cstdint>

#include "FuzzInput.h"
#include "support/TestRig.h"

using ostrelo::fuzz::FuzzInput;

namespace {

struct PictureSize {
  int32_t width, height;
};
constexpr PictureSize kSizes[] = {{1280, 1024}, {640, 480}, {64, 48}, {10240, 16}, {17, 2049}, {5, 3}};

void CheckState(const ostrelo::Form1& f, size_t frameBytes) {
  const auto& st = f.st;
  OSTRELO_FUZZ_CHECK(st.FrameBytes.size() == frameBytes);
  OSTRELO_FUZZ_CHECK(st.AoiLeft >= 0 && st.AoiTop >= 0);
  OSTRELO_FUZZ_CHECK(st.AoiWidth >= 1 && st.AoiHeight >= 1);
  OSTRELO_FUZZ_CHECK(static_cast<int64_t>(st.AoiLeft) + st.AoiWidth <= st.ImageWidth);
  OSTRELO_FUZZ_CHECK(static_cast<int64_t>(st.AoiTop) + st.AoiHeight <= st.ImageHeight);
  OSTRELO_FUZZ_CHECK(st.OverlaySelLeft >= 0 && st.OverlaySelTop >= 0);
  OSTRELO_FUZZ_CHECK(static_cast<int64_t>(st.OverlaySelLeft) + st.OverlaySelWidth <= st.OverlayWidth);
  OSTRELO_FUZZ_CHECK(static_cast<int64_t>(st.OverlaySelTop) + st.OverlaySelHeight <= st.OverlayHeight);
  OSTRELO_FUZZ_CHECK(f.ui.ZoomSurface.width >= 1 && f.ui.ZoomSurface.height >= 1);
  OSTRELO_FUZZ_CHECK(f.ui.ZoomSurface.width <= st.ZoomBoxWidth && f.ui.ZoomSurface.height <= st.ZoomBoxHeight);
  OSTRELO_FUZZ_CHECK(f.ui.Timer1.interval() >= 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  const PictureSize picture = kSizes[in.Byte() % (sizeof kSizes / sizeof kSizes[0])];
  ostrelo::testing::Rig rig(picture.width, picture.height);
  ostrelo::Form1& f = rig.form;
  if (in.Byte() % 2) f.dev.locale.decimalSeparator = ',';
  if (!f.Load()) return 0;
  const size_t frameBytes = f.st.FrameBytes.size();

  int actions = 0;
  while (in.more() && ++actions <= 64 && f.phase() != ostrelo::Phase::Ended) {
    switch (in.Byte() % 12) {
      case 0: {  // wait time
        f.ui.TimeText.caption = in.Text();
        f.ui.TimeText.selStart = in.Byte() % 80;
        f.ui.TimeText.selLength = in.Byte() % 80;
        f.Dispatch([&] { f.TimeText_Change(); });
        f.Dispatch([&] { f.TimeText_KeyPress(ostrelo::kKeyEnter); });
        OSTRELO_FUZZ_CHECK(f.st.WaitTime >= 0.1 && f.st.WaitTime <= 86400.0);
        break;
      }
      case 1:
        f.ui.SatText.caption = in.Text();
        f.Dispatch([&] { f.SatText_KeyPress(ostrelo::kKeyEnter); });
        OSTRELO_FUZZ_CHECK(f.st.SaturationThreshold >= 10 && f.st.SaturationThreshold <= 255);
        break;
      case 2:
        f.ui.NoText.caption = in.Text();
        f.Dispatch([&] { f.NoText_KeyPress(ostrelo::kKeyEnter); });
        OSTRELO_FUZZ_CHECK(f.st.NoSignalThreshold >= 0 && f.st.NoSignalThreshold <= 240);
        break;
      case 3:
        f.ui.Text_Gain.caption = in.Text();
        f.Dispatch([&] { f.Text_Gain_KeyPress(in.Byte() % 3 ? ostrelo::kKeyEnter : 'a'); });
        OSTRELO_FUZZ_CHECK(rig.camera.gain() >= ostrelo::SimulatedCamera::kGainMin &&
                           rig.camera.gain() <= ostrelo::SimulatedCamera::kGainMax);
        break;
      case 4: {
        ostrelo::Control* boxes[] = {&f.ui.CheckSaturation, &f.ui.CheckNoSignal, &f.ui.CheckHisto,
                                     &f.ui.CheckWarning, &f.ui.LiveCheck};
        const int which = in.Byte() % 5;
        boxes[which]->value = boxes[which]->value ? 0 : 1;
        f.Dispatch([&] {
          switch (which) {
            case 0: f.CheckSaturation_Click(); break;
            case 1: f.CheckNoSignal_Click(); break;
            case 2: f.CheckHisto_Click(); break;
            case 3: f.CheckWarning_Click(); break;
            default: f.LiveCheck_Click(); break;
          }
        });
        break;
      }
      case 5:
      case 6:
      case 7: {
        const int kind = in.Byte() % 3;
        const int32_t button = in.Byte() % 8;
        const int32_t shift = in.Byte() % 8;
        const double x = in.Coordinate(), y = in.Coordinate();
        f.Dispatch([&] {
          if (kind == 0) f.PicCam_MouseDown(button, shift, x, y);
          else if (kind == 1) f.PicCam_MouseMove(button, shift, x, y);
          else f.PicCam_MouseUp(button, shift, x, y);
        });
        break;
      }
      case 8:
      case 9:
        f.Dispatch([&] { f.VisuTimer_Timer(); });
        break;
      case 10:
        f.ui.TimeText.caption = in.Text();
        f.Dispatch([&] { f.TimeText_Change(); });
        break;
      default: {  // a grab after a changed picture size must be dropped, never overrun
        const PictureSize other = kSizes[in.Byte() % (sizeof kSizes / sizeof kSizes[0])];
        rig.camera.SetFrameSize(other.width, other.height);
        f.Dispatch([&] { f.VisuTimer_Timer(); });
        break;
      }
    }
    if (f.phase() != ostrelo::Phase::Ended) CheckState(f, frameBytes);
  }
  f.Dispatch([&] { f.Unload(); });
  return 0;
}
