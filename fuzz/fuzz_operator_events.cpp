// Sequences of operator actions on the main window: text typed into every box and
// validated with Enter (or other keys), check box and option clicks, mouse gestures on
// the camera view with any buttons and coordinates, one shots and series started and
// stopped, the window timers run in simulated time, and live-view grabs. After every
// action the state must stay within its ranges, the area of interest inside the
// picture, and no operator action may end the program with an error while the devices
// work. At the end every shot counted has its picture and its record line.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "FuzzInput.h"
#include "FuzzSandbox.h"
#include "shots/ShotProcedure.h"
#include "support/TestRig.h"

using ostrelo::fuzz::FuzzInput;
namespace fs = std::filesystem;

namespace {

struct PictureSize {
  int32_t width, height;
};
constexpr PictureSize kSizes[] = {{1280, 1024}, {640, 480}, {64, 48}, {10240, 16}, {17, 2049}, {5, 3}};
// Simulated time one input may run the timers for.
constexpr int64_t kTimerBudgetMs = 3000;

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
  // A wait, once validated, lies within its range; the series mode follows from it.
  OSTRELO_FUZZ_CHECK(st.WaitTime == 0.0 || (st.WaitTime >= 0.1 && st.WaitTime <= 86400.0));
  OSTRELO_FUZZ_CHECK(st.WaitMinutes >= 0 && st.WaitMinutes <= 1440);
  OSTRELO_FUZZ_CHECK(!f.TickBusy);  // between events no tick is in progress
  // While a series runs, no one shot and no selection can be asked for.
  OSTRELO_FUZZ_CHECK(!f.MultiShot || (!f.ui.Command1.enabled && !f.ui.PicCam.enabled));
  OSTRELO_FUZZ_CHECK(f.ShotCounter >= 0);
}

std::string ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Every shot counted has its picture, and the record one header and one line per shot.
void CheckShots(const ostrelo::Form1& f) {
  if (f.ShotCounter == 0) return;
  const std::string& chosen = f.st.PictureFileName;
  for (int32_t n = 1; n <= f.ShotCounter; ++n) {
    OSTRELO_FUZZ_CHECK(fs::is_regular_file(ostrelo::PictureNameFor(chosen, n)));
  }
  const std::string record = ReadAll(ostrelo::RecordNameFor(chosen));
  size_t lines = 0;
  for (size_t at = record.find("\r\n"); at != std::string::npos; at = record.find("\r\n", at + 2)) ++lines;
  OSTRELO_FUZZ_CHECK(lines == static_cast<size_t>(f.ShotCounter) + 1);
  OSTRELO_FUZZ_CHECK(record.size() >= 2 && record.compare(record.size() - 2, 2, "\r\n") == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const ostrelo::fuzz::Sandbox& sandbox = ostrelo::fuzz::Sandbox::Get();
  FuzzInput in(data, size);
  const PictureSize picture = kSizes[in.Byte() % (sizeof kSizes / sizeof kSizes[0])];
  ostrelo::testing::Rig rig(picture.width, picture.height);
  // Noise-free inputs: the signals' synthesis would take half of every run, and no
  // operator action depends on the voltages.
  rig.daq.script.constantVolts = {1.5, -2.25, 0.0, 9.875};
  ostrelo::Form1& f = rig.form;
  if (in.Byte() % 2) f.dev.locale.decimalSeparator = ',';
  if (!f.Load()) return 0;
  const size_t frameBytes = f.st.FrameBytes.size();
  ostrelo::testing::TimerLoop loop(f, rig.clock);
  const std::string chosen = (sandbox.inner() / "im110325-.bmp").string();
  int64_t timerMs = 0;
  bool deviceChanged = false;  // a camera that changed its picture size fails shots: allowed then

  int actions = 0;
  while (in.more() && ++actions <= 64 && f.phase() != ostrelo::Phase::Ended) {
    switch (in.Byte() % 18) {
      case 0: {  // wait time
        f.ui.TimeText.caption = in.Text();
        f.ui.TimeText.selStart = static_cast<int16_t>(in.Word()) % 100;
        f.ui.TimeText.selLength = static_cast<int16_t>(in.Word()) % 100;
        f.Dispatch([&] { f.TimeText_Change(); });
        f.Dispatch([&] { f.TimeText_KeyPress(ostrelo::kKeyEnter); });
        OSTRELO_FUZZ_CHECK(f.st.WaitTime >= 0.1 && f.st.WaitTime <= 86400.0);
        OSTRELO_FUZZ_CHECK(f.ui.Timer1.interval() == (f.st.WaitMinutes != 0 ? 500 : f.st.WaitLength));
        OSTRELO_FUZZ_CHECK(f.ui.Timer1.interval() >= 100 && f.ui.Timer1.interval() <= 59500);
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
        ostrelo::Control* boxes[] = {&f.ui.CheckSaturation, &f.ui.CheckNoSignal, &f.ui.CheckHisto, &f.ui.CheckWarning,
                                     &f.ui.LiveCheck};
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
        if (which == 0 && f.st.SaturationCheckOn) {
          OSTRELO_FUZZ_CHECK(f.st.SaturationThreshold >= 10 && f.st.SaturationThreshold <= 255);
        }
        if (which == 1 && f.st.NoSignalCheckOn) {
          OSTRELO_FUZZ_CHECK(f.st.NoSignalThreshold >= 0 && f.st.NoSignalThreshold <= 240);
        }
        break;
      }
      case 5:
      case 6:
      case 7: {  // any button combination and shift state, anywhere
        const int kind = in.Byte() % 3;
        const int32_t button = in.Byte() % 8;
        const int32_t shift = in.Byte() % 8;
        const double x = in.Coordinate(), y = in.Coordinate();
        f.Dispatch([&] {
          if (kind == 0)
            f.PicCam_MouseDown(button, shift, x, y);
          else if (kind == 1)
            f.PicCam_MouseMove(button, shift, x, y);
          else
            f.PicCam_MouseUp(button, shift, x, y);
        });
        break;
      }
      case 8:
      case 9: f.Dispatch([&] { f.VisuTimer_Timer(); }); break;
      case 10:
        f.ui.TimeText.caption = in.Text();
        f.Dispatch([&] { f.TimeText_Change(); });
        break;
      case 11: {  // a grab after a changed picture size must be dropped, never overrun
        const PictureSize other = kSizes[in.Byte() % (sizeof kSizes / sizeof kSizes[0])];
        rig.camera.SetFrameSize(other.width, other.height);
        deviceChanged = deviceChanged || other.width != picture.width || other.height != picture.height;
        f.Dispatch([&] { f.VisuTimer_Timer(); });
        break;
      }
      case 12: {  // any other key in a text box changes no state
        const int32_t key = in.Byte();
        const int which = in.Byte() % 4;
        const double wait = f.st.WaitTime;
        const int32_t sat = f.st.SaturationThreshold, no = f.st.NoSignalThreshold;
        f.Dispatch([&] {
          switch (which) {
            case 0: f.TimeText_KeyPress(key); break;
            case 1: f.SatText_KeyPress(key); break;
            case 2: f.NoText_KeyPress(key); break;
            default: f.Text_Gain_KeyPress(key); break;
          }
        });
        if (key != ostrelo::kKeyEnter) {
          OSTRELO_FUZZ_CHECK(f.st.WaitTime == wait && f.st.SaturationThreshold == sat && f.st.NoSignalThreshold == no);
        }
        break;
      }
      case 13:
      case 14: {  // one shot or series button; the dialog, when shown, answered or cancelled
        rig.dialogs.saveAnswers.clear();
        if (in.Byte() % 4) rig.dialogs.saveAnswers.push_back(chosen);
        if (in.Byte() % 8 == 0) rig.dialogs.yesNoAnswers.push_back(false);
        if (in.Byte() % 2) {
          f.Dispatch([&] { f.Command1_Click(); });
        } else {
          f.Dispatch([&] { f.Command2_Click(); });
        }
        rig.dialogs.yesNoAnswers.clear();
        break;
      }
      case 15: {  // the timers run for a while
        const int64_t ms = std::min<int64_t>(in.Word() % 3000, kTimerBudgetMs - timerMs);
        if (ms > 0) {
          loop.RunFor(ms);
          timerMs += ms;
        }
        break;
      }
      case 16: {  // acquisition switch and wiring
        const int which = in.Byte() % 3;
        if (which == 0) {
          f.ui.AcquiCheck.value = f.ui.AcquiCheck.value ? 0 : 1;
          f.Dispatch([&] { f.AcquiCheck_Click(); });
        } else {
          f.ui.Option1[which - 1].value = 1;
          f.ui.Option1[2 - which].value = 0;
        }
        break;
      }
      default: f.Dispatch([&] { f.InfoContainer_Click(); }); break;
    }
    if (!deviceChanged) {
      for (const auto& m : rig.dialogs.messages) OSTRELO_FUZZ_CHECK(m.text.rfind("Run-time error", 0) != 0);
    }
    if (f.phase() != ostrelo::Phase::Ended) CheckState(f, frameBytes);
  }
  if (!deviceChanged) CheckShots(f);
  f.Dispatch([&] { f.Unload(); });
  sandbox.Empty();
  return 0;
}
