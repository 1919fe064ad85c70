#pragma once
// The one shared record of the program. Every handler reads and writes it directly.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "shell/DaqDriver.h"

namespace ostrelo {

struct ChannelRecord {
  std::string Name;
  double Value = 0.0;  // minus the mean voltage of the latest reading
  std::string Unit;
};

struct PaletteEntry {
  uint8_t blue = 0, green = 0, red = 0, reserved = 0;
};

struct AcquisitionState {
  // Camera connection.
  int32_t DeviceHandle = 0;
  int32_t DriverHandle = 0;
  int32_t DisplayHandle = 0;
  int32_t RequestNumber = -1;  // the locked request; -1 none
  int32_t GainHandle = 0;

  // Picture and frame buffer.
  int32_t ImageWidth = 0;
  int32_t ImageHeight = 0;
  int32_t FrameByteCount = 0;       // highest index of FrameBytes
  std::vector<uint8_t> FrameBytes;  // FrameByteCount + 1 bytes, sized once at start-up
  std::array<PaletteEntry, 256> GreyPalette{};

  // Picture surfaces (sizes in screen pixels). The surface handles identify the
  // model's surfaces: 1 PicCam, 2 Overlay, 3 PicZoom.
  int32_t CamDC = 0;
  int32_t CamViewWidth = 0, CamViewHeight = 0;
  int32_t OverlayDC = 0;
  int32_t OverlayWidth = 0, OverlayHeight = 0;
  int32_t ZoomDC = 0;
  int32_t ZoomWidth = 0, ZoomHeight = 0;
  int32_t ZoomBoxWidth = 0, ZoomBoxHeight = 0, ZoomBoxLeft = 0;

  // Selection in camera-view pixels and its two derived forms.
  int32_t SelLeft = 0, SelTop = 0, SelWidth = 0, SelHeight = 0;
  int32_t OverlaySelLeft = 0, OverlaySelTop = 0, OverlaySelWidth = 0, OverlaySelHeight = 0;
  int32_t AoiLeft = 0, AoiTop = 0, AoiWidth = 0, AoiHeight = 0;
  double ImageScaleX = 0.0, ImageScaleY = 0.0;
  double OverlayScaleX = 0.0, OverlayScaleY = 0.0;

  // Pixel checks and histogram.
  bool HistogramOn = false;
  bool NoSignalCheckOn = false;
  bool SaturationCheckOn = false;
  int32_t NoSignalThreshold = 0;
  int32_t SaturationThreshold = 0;
  std::array<double, 256> HistogramBins{};
  double HistogramMax = 0.0;
  int32_t CheckColumn = 0, CheckRow = 0;

  // Shots.
  int32_t WaitMinutes = 0;
  int32_t ElapsedSeconds = 0;
  double LastShotTime = 0.0;  // date and time in days; 0 none
  double WaitTime = 0.0;      // seconds
  int32_t WaitLength = 0;     // whole seconds (countdown mode) or milliseconds (period mode)
  std::string PictureFileName;
  std::string RecordFileName;

  // Analog inputs.
  std::array<ChannelRecord, 4> ChannelTable{};
  bool DaqAcquisitionOn = false;
  DaqTaskHandle AiTask = 0;
  std::string DaqDevicePrefix;
  uint32_t AiChannelCount = 0;
};

}  // namespace ostrelo
