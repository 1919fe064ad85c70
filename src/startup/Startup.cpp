// Start-up and shut-down of the main window: the one place of the core that brings
// every subsystem together.

#include <cstdint>
#include <limits>
#include <memory>
#include <string>

#include "camera/CameraOutage.h"
#include "camera/CameraProperties.h"
#include "camera/SurfaceDisplay.h"
#include "daq/GestionES_NI.h"
#include "shell/Form1.h"
#include "shell/Numbers.h"
#include "shell/Selection.h"
#include "shots/SeriesPlan.h"
#include "startup/CameraAdvice.h"
#include "startup/Resume.h"

namespace ostrelo {

namespace {

// Only pictures that come within these attempts count; the failure is reported right
// after the last of them.
constexpr int kFirstPictureAttempts = 9;
constexpr int32_t kFirstPictureTimeoutMs = 500;

constexpr const char* kNoCameraMessage = "No camera found, please check USB cable";

// A size the frame buffer can hold: both sides positive and the product within 32 bits.
bool UsableSize(int32_t width, int32_t height) {
  return width > 0 && height > 0 && static_cast<int64_t>(width) * height < std::numeric_limits<int32_t>::max();
}

}  // namespace

Form1::Form1(Devices devices) : dev(devices) {
  if (dev.display == nullptr) {
    ownDisplay_ = std::make_unique<SurfaceDisplay>(ui.CamSurface);
    dev.display = ownDisplay_.get();
  }
}

bool Form1::Load() {
  // 1-2: caption and the warning panel's notice.
  ui.Form1.caption = "Ostrelo version 1.2 - 201103";
  ui.Picture1Text = "\r                Please don't touch this computer\r                         Test in progress ";

  // 3: a linear grey palette.
  for (int i = 0; i < 256; ++i) {
    const auto v = static_cast<uint8_t>(i);
    st.GreyPalette[i] = PaletteEntry{v, v, v, 0};
  }

  // 4: window size and place.
  ui.Form1.left = 0;
  ui.Form1.top = 0;
  ui.Form1.width = kWindowWidth;
  ui.Form1.height = kWindowHeight;

  // 5
  st.WaitLength = 0;
  st.HistogramOn = st.NoSignalCheckOn = st.SaturationCheckOn = false;
  MultiShot = SeriesRuns = OneShot = false;
  st.DaqAcquisitionOn = true;

  // 6-10: display, driver, device.
  st.DisplayHandle = dev.display->Init(kPicCamWindowHandle);
  int32_t deviceManager = 0;
  bool cameraFound = dev.camera.Init(&deviceManager) == 0;
  if (cameraFound) {
    st.DeviceHandle = -1;
    dev.camera.GetDevice(&st.DeviceHandle, 1, "*", 0, '*');
    st.DriverHandle = -1;
    dev.camera.OpenDevice(st.DeviceHandle, &st.DriverHandle);
    st.RequestNumber = -1;
    int32_t requestUsed = 0;
    dev.camera.ImageRequestSingle(st.DriverHandle, 0, &requestUsed);

    // 11: the first picture, only to learn its size.
    cameraFound = false;
    for (int attempt = 0; attempt < kFirstPictureAttempts && !cameraFound; ++attempt) {
      // Only a finished wait names a request: a failed one must not overwrite the number
      // of a request already held, which CloseCamera has to give back.
      int32_t finished = -1;
      if (dev.camera.ImageRequestWaitFor(st.DriverHandle, kFirstPictureTimeoutMs, 0, &finished) != 0) continue;
      st.RequestNumber = finished;
      RequestBufferInfo info;
      if (dev.camera.GetImageRequestBufferData(st.DriverHandle, st.RequestNumber, &info) != 0) continue;
      st.ImageHeight = info.height;
      st.ImageWidth = info.width;
      cameraFound = UsableSize(st.ImageWidth, st.ImageHeight);
    }
  }
  if (!cameraFound) {
    dev.dialogs.MessageBox(kNoCameraMessage + NoCameraAdvice(), kAppTitle);
    CloseCamera(*this);
    ClearDaqTasks(*this);
    EndProgram(kExitNoCamera);
    return false;
  }

  // 12: the gain property.
  st.GainHandle = GetPropertyHandle(dev.camera, st.DriverHandle, "Gain_dB", "Base", 0);

  // 13: the frame buffer, one spare byte after the last pixel; never resized.
  st.FrameByteCount = st.ImageHeight * st.ImageWidth;
  st.FrameBytes.assign(static_cast<size_t>(st.FrameByteCount) + 1, 0);

  // 14-16: the three picture surfaces.
  st.ZoomDC = kZoomSurface;
  st.ZoomWidth = ui.ZoomSurface.width;
  st.ZoomHeight = ui.ZoomSurface.height;
  st.ZoomBoxHeight = st.ZoomHeight;
  st.ZoomBoxWidth = st.ZoomWidth;
  st.ZoomBoxLeft = ui.PicZoom.left;

  st.CamDC = kCamSurface;
  st.CamViewWidth = ui.CamSurface.width;
  st.CamViewHeight = ui.CamSurface.height;
  st.SelLeft = 0;
  st.SelTop = 0;
  st.SelWidth = st.CamViewWidth;
  st.SelHeight = st.CamViewHeight;

  st.OverlayDC = kOverlaySurface;
  st.OverlayWidth = ui.OverlaySurface.width;
  st.OverlayHeight = ui.OverlaySurface.height;

  // 17: the stretch copies of the model always drop or repeat pixels.

  // 18-20: scale factors, the derived areas and their text.
  st.ImageScaleX = static_cast<double>(st.ImageWidth) / st.CamViewWidth;
  st.ImageScaleY = static_cast<double>(st.ImageHeight) / st.CamViewHeight;
  st.OverlayScaleX = static_cast<double>(st.OverlayWidth) / st.CamViewWidth;
  st.OverlayScaleY = static_cast<double>(st.OverlayHeight) / st.CamViewHeight;
  DeriveOverlayArea(st);
  DerivePictureArea(st);
  ui.InfoCam.caption = AreaText(st);

  // 21-22: the card and the channel names.
  DaqStartup(*this);

  // 23-24
  ui.Text_Gain.caption = "0";
  ui.VisuTimer.Start();
  ui.DeviceTimer.Start();
  phase_ = Phase::Running;
  keepPlan = [this] { KeepSeriesPlan(*this); };
  OfferInterruptedSeries(*this);
  return true;
}

void CloseCamera(Form1& f) {
  AcquisitionState& st = f.st;
  f.ui.Timer1.Stop();
  st.LastShotTime = 0;
  f.ui.VisuTimer.Stop();
  f.ui.DeviceTimer.Stop();
  NoteCameraClosed(f);
  NoteCardClosed(f);
  // The display is released even when no request is held (a failed start-up, or a
  // grab that gave up waiting): it was bound before anything could fail. A copy of the
  // handle is given, so DisplayHandle keeps its value.
  int32_t display = st.DisplayHandle;
  f.dev.display->Deinit(&display);
  if (st.RequestNumber != -1) {
    f.dev.camera.ImageRequestUnlock(st.DriverHandle, st.RequestNumber);
    st.RequestNumber = -1;
  }
  f.dev.camera.CloseDevice(st.DriverHandle, st.DeviceHandle);
  f.dev.camera.Close();
}

void Form1::Unload() {
  if (phase_ == Phase::Ended) return;
  if (!PlanSurvivesClose) DropSeriesPlan(*this);
  CloseCamera(*this);
  ClearDaqTasks(*this);
  EndProgram(0);
}

}  // namespace ostrelo
