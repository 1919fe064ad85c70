#include "inspection/CheckPass.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

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

// Draws the marks on Overlay. A dot wholly inside the surface is written directly; one
// at an edge goes through the surface's own clipped point. Either way the pixels are
// those of Surface::Point.
class Dots {
 public:
  Dots(Surface& surface, int32_t drawWidth) : s_(surface), w_(std::max(1, drawWidth)) {}
  ~Dots() {
    if (drawn_) s_.Touch();
  }
  void Draw(int32_t x, int32_t y, uint32_t pixel) {
    drawn_ = true;
    const int32_t x0 = x - w_ / 2, y0 = y - w_ / 2;
    if (x0 < 0 || y0 < 0 || x0 > s_.width - w_ || y0 > s_.height - w_) {
      s_.Point(x, y, pixel, w_);
      return;
    }
    uint32_t* row = s_.pixels.data() + static_cast<size_t>(y0) * s_.width + x0;
    if (w_ == 4) {
      for (int32_t k = 0; k < 4; ++k, row += s_.width) row[0] = row[1] = row[2] = row[3] = pixel;
      return;
    }
    for (int32_t k = 0; k < w_; ++k, row += s_.width) std::fill_n(row, w_, pixel);
  }

 private:
  Surface& s_;
  const int32_t w_;
  bool drawn_ = false;
};

// Overlay column of every picture column of the area: (column * OverlayWidth) div
// ImageWidth, carried as quotient and remainder from one column to the next instead of
// divided anew.
std::vector<int32_t> OverlayColumns(int64_t firstColumn, int64_t lastColumn, int64_t overlayWidth, int64_t width) {
  std::vector<int32_t> xs(static_cast<size_t>(lastColumn - firstColumn + 1));
  const int64_t stepQuotient = overlayWidth / width, stepRemainder = overlayWidth % width;
  int64_t x = firstColumn * overlayWidth / width, remainder = firstColumn * overlayWidth % width;
  for (int32_t& out : xs) {
    out = static_cast<int32_t>(x);
    x += stepQuotient;
    remainder += stepRemainder;
    if (remainder >= width) {
      remainder -= width;
      ++x;
    }
  }
  return xs;
}

// The marks of one row's samples, in storage order. Green is drawn last: when both
// hold it covers the red dot exactly, so the red one is not drawn at all.
void MarkRow(const uint8_t* bytes, int64_t first, int64_t to, int64_t rowStart, const std::array<uint8_t, 256>& marks,
             const int32_t* xs, int32_t y, Dots& dots) {
  const uint32_t red = PixelFromVb(kVbRed), green = PixelFromVb(kVbGreen);
  for (int64_t i = first; i <= to; i += kSampleStep) {
    const uint8_t m = marks[bytes[i]];
    if (m == 0) continue;
    dots.Draw(xs[i - rowStart], y, (m & kMarkNoSignal) ? green : red);
  }
}

// Samples the frame and returns the count of each grey level among the examined pixels.
// Rows outside the area are skipped whole and, within a row, the samples are reached
// by steps of 12 from the first one inside the area, so no sample costs a division.
// A row is counted first, noting whether any of its samples asks for a mark; only
// such a row is walked again for its marks.
std::array<uint32_t, 256> WalkFrame(Form1& f) {
  const AcquisitionState& st = f.st;
  // Four tables, used in turn: a run of one grey level would otherwise make every
  // increment wait for the previous one.
  std::array<std::array<uint32_t, 256>, 4> counts{};
  std::array<uint32_t, 256> total{};
  const int64_t width = st.ImageWidth, height = st.ImageHeight;
  const int64_t lastByte = std::min<int64_t>(st.FrameByteCount, static_cast<int64_t>(st.FrameBytes.size()) - 1);
  if (width <= 0 || height <= 0 || lastByte < 0) return total;

  // Strictly inside the area, and inside the buffer's lines.
  const int64_t firstColumn = std::max<int64_t>(int64_t{st.AoiLeft} + 1, 0);
  const int64_t lastColumn = std::min<int64_t>(int64_t{st.AoiLeft} + st.AoiWidth - 1, width - 1);
  const int64_t firstRow = std::max<int64_t>(int64_t{st.AoiTop} + 1, 0);
  const int64_t lastRow = std::min<int64_t>(int64_t{st.AoiTop} + st.AoiHeight - 1, lastByte / width);
  if (firstColumn > lastColumn) return total;

  const uint8_t* bytes = st.FrameBytes.data();
  const std::array<uint8_t, 256> marks = MarkTable(st);
  Dots dots(f.ui.OverlaySurface, f.ui.OverlayDrawWidth);
  const int64_t overlayWidth = std::max(st.OverlayWidth, 0), overlayHeight = st.OverlayHeight;
  std::vector<int32_t> xs;  // made for the first row with a mark

  int64_t rowStart = firstRow * width;
  for (int64_t row = firstRow; row <= lastRow; ++row, rowStart += width) {
    const int64_t from = rowStart + firstColumn;
    const int64_t to = std::min(rowStart + lastColumn, lastByte);
    const int64_t first = (from + kSampleStep - 1) / kSampleStep * kSampleStep;
    if (first > to) continue;

    // The marks the samples ask for, gathered over the row: most rows need none.
    uint32_t wanted = 0;
    int64_t i = first;
    for (; i + 3 * kSampleStep <= to; i += 4 * kSampleStep) {
      const uint8_t v0 = bytes[i], v1 = bytes[i + 12], v2 = bytes[i + 24], v3 = bytes[i + 36];
      ++counts[0][v0];
      ++counts[1][v1];
      ++counts[2][v2];
      ++counts[3][v3];
      wanted |= marks[v0] | marks[v1] | marks[v2] | marks[v3];
    }
    for (; i <= to; i += kSampleStep) {
      const uint8_t v = bytes[i];
      ++counts[0][v];
      wanted |= marks[v];
    }
    if (wanted == 0) continue;

    if (xs.empty()) xs = OverlayColumns(firstColumn, lastColumn, overlayWidth, width);
    // Lines past the picture's height (a later picture smaller than the buffer) mark
    // off the surface; the bound only keeps the position a small number.
    const int32_t y = static_cast<int32_t>(std::min<int64_t>(row * overlayHeight / height, kFarOff));
    MarkRow(bytes, first, to, rowStart + firstColumn, marks, xs.data(), y, dots);
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
