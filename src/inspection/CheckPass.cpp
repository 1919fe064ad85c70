#include "inspection/CheckPass.h"

#include <algorithm>
#include <array>
#include <cstdint>

#include "shell/Form1.h"
#include "shell/Numbers.h"

namespace ostrelo {

namespace {

constexpr int64_t kSampleStep = 12;
constexpr VbColour kBarColour = 255;     // red
constexpr VbColour kOutlineColour = 25;  // very dark red
constexpr uint8_t kMarkSaturated = 1;
constexpr uint8_t kMarkNoSignal = 2;
constexpr int64_t kFarOff = int64_t{1} << 24;

// What a grey level asks for: a mark of each kind the switches and thresholds call for.
std::array<uint8_t, 256> MarkTable(const AcquisitionState& st) {
  std::array<uint8_t, 256> marks{};
  for (int32_t v = 0; v < 256; ++v) {
    uint8_t m = 0;
    if (st.SaturationCheckOn && v >= st.SaturationThreshold) m |= kMarkSaturated;
    if (st.NoSignalCheckOn && v <= st.NoSignalThreshold) m |= kMarkNoSignal;
    marks[v] = m;
  }
  return marks;
}

// Samples the frame and returns the count of each grey level among the examined pixels.
// Rows outside the area are skipped whole and, within a row, the samples are reached
// by steps of 12 from the first one inside the area, so no sample costs a division.
std::array<uint32_t, 256> WalkFrame(Form1& f) {
  const AcquisitionState& st = f.st;
  // Four tables, used in turn: a run of one grey level would otherwise make every
  // increment wait for the previous one.
  std::array<std::array<uint32_t, 256>, 4> counts{};
  std::array<uint32_t, 256> total{};
  const int64_t width = st.ImageWidth, height = st.ImageHeight;
  const int64_t lastByte = std::min<int64_t>(st.FrameByteCount, static_cast<int64_t>(st.FrameBytes.size()) - 1);
  if (width <= 0 || height <= 0 || lastByte < 0) return total;

  const std::array<uint8_t, 256> marks = MarkTable(st);
  const uint32_t red = PixelFromVb(kVbRed), green = PixelFromVb(kVbGreen);
  const int32_t drawWidth = f.ui.OverlayDrawWidth;
  Surface& overlay = f.ui.OverlaySurface;
  const int64_t overlayWidth = st.OverlayWidth, overlayHeight = st.OverlayHeight;

  // Strictly inside the area, and inside the buffer's lines.
  const int64_t firstColumn = std::max<int64_t>(int64_t{st.AoiLeft} + 1, 0);
  const int64_t lastColumn = std::min<int64_t>(int64_t{st.AoiLeft} + st.AoiWidth - 1, width - 1);
  const int64_t firstRow = std::max<int64_t>(int64_t{st.AoiTop} + 1, 0);
  const int64_t lastRow = std::min<int64_t>(int64_t{st.AoiTop} + st.AoiHeight - 1, lastByte / width);
  const uint8_t* bytes = st.FrameBytes.data();

  if (firstColumn <= lastColumn) {
    int64_t rowStart = firstRow * width;
    for (int64_t row = firstRow; row <= lastRow; ++row, rowStart += width) {
      const int64_t from = rowStart + firstColumn;
      const int64_t to = std::min(rowStart + lastColumn, lastByte);
      int64_t i = (from + kSampleStep - 1) / kSampleStep * kSampleStep;
      if (i > to) continue;
      // Lines past the picture's height (a later picture smaller than the buffer) mark
      // off the surface; the bound only keeps the position a small number.
      const int32_t y = static_cast<int32_t>(std::min<int64_t>(row * overlayHeight / height, kFarOff));
      // Four samples at a time, one per table; the rest one by one.
      for (; i + 3 * kSampleStep <= to; i += 4 * kSampleStep) {
        const uint8_t v0 = bytes[i], v1 = bytes[i + 12], v2 = bytes[i + 24], v3 = bytes[i + 36];
        ++counts[0][v0];
        ++counts[1][v1];
        ++counts[2][v2];
        ++counts[3][v3];
        if ((marks[v0] | marks[v1] | marks[v2] | marks[v3]) != 0) {
          const uint8_t vs[4] = {v0, v1, v2, v3};
          for (int k = 0; k < 4; ++k) {
            const uint8_t m = marks[vs[k]];
            if (m == 0) continue;
            const int64_t column = i + k * kSampleStep - rowStart;
            const int32_t x = static_cast<int32_t>(column * overlayWidth / width);
            if (m & kMarkSaturated) overlay.Point(x, y, red, drawWidth);
            if (m & kMarkNoSignal) overlay.Point(x, y, green, drawWidth);
          }
        }
      }
      for (; i <= to; i += kSampleStep) {
        const uint8_t v = bytes[i];
        ++counts[0][v];
        const uint8_t m = marks[v];
        if (m == 0) continue;
        const int32_t x = static_cast<int32_t>((i - rowStart) * overlayWidth / width);
        if (m & kMarkSaturated) overlay.Point(x, y, red, drawWidth);
        if (m & kMarkNoSignal) overlay.Point(x, y, green, drawWidth);
      }
    }
  }

  for (int32_t v = 0; v < 256; ++v) total[v] = counts[0][v] + counts[1][v] + counts[2][v] + counts[3][v];
  return total;
}

void DrawHistogram(Form1& f) {
  AcquisitionState& st = f.st;
  auto& bins = st.HistogramBins;
  double largest = 1.0;
  for (double b : bins) largest = std::max(largest, b);
  st.HistogramMax = largest;

  Surface& histo = f.ui.HistoSurface;
  histo.Fill(PixelFromVb(f.ui.Histo.backColour));
  for (double& b : bins) b = b / largest * 100.0;

  const int32_t w = histo.width, h = histo.height;
  const uint32_t bar = PixelFromVb(kBarColour), outline = PixelFromVb(kOutlineColour);
  const int32_t bottom = HistoLine(0.0, h);
  for (int32_t g = 1; g < 256; ++g) {
    const int32_t x = HistoColumn(g, w), top = HistoLine(bins[g], h);
    histo.Line(x, bottom, x, top, bar);
    histo.Line(HistoColumn(g - 1, w), HistoLine(bins[g - 1], h), x, top, outline);
  }
}

}  // namespace

int32_t HistoColumn(double x, int32_t innerWidth) {
  return RoundToInt32(x * std::max(innerWidth - 1, 0) / 255.0);
}

int32_t HistoLine(double y, int32_t innerHeight) {
  return RoundToInt32((100.0 - y) * std::max(innerHeight - 1, 0) / 100.0);
}

void RunCheckPass(Form1& f) {
  AcquisitionState& st = f.st;
  const std::array<uint32_t, 256> counts = WalkFrame(f);
  // The pass leaves the walk's position at its last sample, as a walk over every sample would.
  const int64_t lastByte = std::min<int64_t>(st.FrameByteCount, static_cast<int64_t>(st.FrameBytes.size()) - 1);
  if (st.ImageWidth > 0 && lastByte >= 0) {
    const int64_t lastSample = lastByte / kSampleStep * kSampleStep;
    st.CheckRow = static_cast<int32_t>(lastSample / st.ImageWidth);
    st.CheckColumn = static_cast<int32_t>(lastSample % st.ImageWidth);
  }
  if (!st.HistogramOn) return;
  for (int32_t v = 0; v < 256; ++v) st.HistogramBins[v] = counts[v];
  DrawHistogram(f);
}

}  // namespace ostrelo
