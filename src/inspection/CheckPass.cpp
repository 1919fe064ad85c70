#include "inspection/CheckPass.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "shell/Form1.h"
#include "shell/Numbers.h"
#include "shell/ReusePool.h"

namespace ostrelo {

namespace {

constexpr int64_t kSampleStep = 12;
constexpr VbColour kBarColour = 255;     // red
constexpr VbColour kOutlineColour = 25;  // very dark red
constexpr uint8_t kMarkSaturated = 1;
constexpr uint8_t kMarkNoSignal = 2;
constexpr int64_t kFarOff = int64_t{1} << 24;
constexpr int64_t kPrefetchAhead = 4096;

// What a grey level asks for: a mark of each kind the switches and thresholds call for,
// shifted into place for the sample's position in a group of four (below).
using MarkTables = std::array<std::array<uint8_t, 256>, 4>;
MarkTables MarkTable(const AcquisitionState& st) {
  MarkTables marks{};
  for (int32_t v = 0; v < 256; ++v) {
    uint8_t m = 0;
    if (st.SaturationCheckOn && v >= st.SaturationThreshold) m |= kMarkSaturated;
    if (st.NoSignalCheckOn && v <= st.NoSignalThreshold) m |= kMarkNoSignal;
    for (int j = 0; j < 4; ++j) marks[j][v] = static_cast<uint8_t>(m << (2 * j));
  }
  return marks;
}

// The marks of one pass, drawn on Overlay when it is read. The samples are taken four by
// four along a line; every group with a mark is one entry: the group's first sample
// number (byte index / 12) shifted left by eight over the two mark bits of each of its
// samples, the first in the lowest bits. Entries are in storage order.
struct MarkList {
  std::vector<uint64_t> groups;
  size_t count = 0;
  int64_t width = 1, height = 1, overlayWidth = 0, overlayHeight = 0;
  int32_t drawWidth = 1;
};

// The dots of Surface::Point, in the order the pass met their samples. Green is drawn
// last: when both marks hold it covers the red dot exactly, so the red one is not drawn.
class MarkLayer final : public SurfaceLayer {
 public:
  explicit MarkLayer(std::shared_ptr<const MarkList> list) : list_(std::move(list)) {}
  void Draw(uint32_t* pixels, int32_t width, int32_t height) const override {
    const MarkList& l = *list_;
    const uint32_t red = PixelFromVb(kVbRed), green = PixelFromVb(kVbGreen);
    // The Overlay column of every picture column: (column * OverlayWidth) div
    // ImageWidth, carried as quotient and remainder instead of divided anew.
    std::vector<int32_t> xs(static_cast<size_t>(l.width));
    const int64_t stepQuotient = l.overlayWidth / l.width, stepRemainder = l.overlayWidth % l.width;
    int64_t x = 0, remainder = 0;
    for (int32_t& out : xs) {
      out = static_cast<int32_t>(x);
      x += stepQuotient;
      remainder += stepRemainder;
      if (remainder >= l.width) {
        remainder -= l.width;
        ++x;
      }
    }
    const int32_t w = std::max(1, l.drawWidth), half = w / 2;
    int64_t lineStart = 0, lineEnd = 0;  // bytes of the line of the last sample
    int32_t y = 0;
    for (size_t k = 0; k < l.count; ++k) {
      const uint64_t group = l.groups[k];
      for (int j = 0; j < 4; ++j) {
        const auto m = static_cast<uint32_t>(group >> (2 * j)) & 3u;
        if (m == 0) continue;
        const auto i = static_cast<int64_t>((group >> 8) + static_cast<uint64_t>(j)) * kSampleStep;
        if (i < lineStart || i >= lineEnd) {
          const int64_t row = i / l.width;
          lineStart = row * l.width;
          lineEnd = lineStart + l.width;
          // Lines past the picture's height (a later picture smaller than the buffer)
          // mark off the surface; the bound only keeps the position a small number.
          y = static_cast<int32_t>(std::min<int64_t>(row * l.overlayHeight / l.height, kFarOff));
        }
        const int32_t dotX = xs[static_cast<size_t>(i - lineStart)];
        const uint32_t pixel = (m & kMarkNoSignal) ? green : red;
        const int32_t x0 = dotX - half, y0 = y - half;
        if (x0 < 0 || y0 < 0 || x0 > width - w || y0 > height - w) {
          DrawDot(pixels, width, height, dotX, y, pixel, w);
          continue;
        }
        uint32_t* row = pixels + static_cast<size_t>(y0) * width + x0;
        for (int32_t r = 0; r < w; ++r, row += width) std::fill_n(row, w, pixel);
      }
    }
  }
  bool Opaque() const override { return false; }

 private:
  std::shared_ptr<const MarkList> list_;
};

// One line's samples, from byte first (a multiple of 12) up to byte to, in one go: each
// counted in one of four tables in turn (a run of one grey level would otherwise make
// every increment wait for the previous one) and, when marking, each group of four with
// a mark appended to out without a branch. out has room for every group of the line.
template <bool kMarking>
size_t WalkLine(const uint8_t* bytes, int64_t first, int64_t to, const MarkTables& marks,
                std::array<std::array<uint32_t, 256>, 4>& counts, uint64_t* out, size_t n) {
  auto s = static_cast<uint64_t>(first / kSampleStep);
  int64_t i = first;
  for (; i + 3 * kSampleStep <= to; i += 4 * kSampleStep, s += 4) {
    // A large frame has left the cache by the time it is walked.
    __builtin_prefetch(bytes + i + kPrefetchAhead);
    const uint8_t v0 = bytes[i], v1 = bytes[i + 12], v2 = bytes[i + 24], v3 = bytes[i + 36];
    ++counts[0][v0];
    ++counts[1][v1];
    ++counts[2][v2];
    ++counts[3][v3];
    if constexpr (kMarking) {
      const uint32_t m = marks[0][v0] | marks[1][v1] | marks[2][v2] | marks[3][v3];
      out[n] = s << 8 | m;
      n += m != 0;
    }
  }
  uint32_t m = 0;
  for (int j = 0; i <= to; i += kSampleStep, ++j) {
    const uint8_t v = bytes[i];
    ++counts[0][v];
    m |= marks[j][v];
  }
  if constexpr (kMarking) {
    out[n] = s << 8 | m;
    n += m != 0;
  }
  return n;
}

// Samples the frame in one pass: returns the count of each grey level among the examined
// pixels and lists the marked ones. Rows outside the area are skipped whole and, within
// a row, the samples are reached by steps of 12 from the first one inside the area, so
// no sample costs a division.
std::array<uint32_t, 256> WalkFrame(const AcquisitionState& st, MarkList& list) {
  std::array<std::array<uint32_t, 256>, 4> counts{};
  std::array<uint32_t, 256> total{};
  list.count = 0;
  const int64_t width = st.ImageWidth, height = st.ImageHeight;
  const int64_t lastByte = std::min<int64_t>(st.FrameByteCount, static_cast<int64_t>(st.FrameBytes.size()) - 1);
  if (width <= 0 || height <= 0 || lastByte < 0) return total;
  list.width = width;
  list.height = height;

  // Strictly inside the area, and inside the buffer's lines.
  const int64_t firstColumn = std::max<int64_t>(int64_t{st.AoiLeft} + 1, 0);
  const int64_t lastColumn = std::min<int64_t>(int64_t{st.AoiLeft} + st.AoiWidth - 1, width - 1);
  const int64_t firstRow = std::max<int64_t>(int64_t{st.AoiTop} + 1, 0);
  const int64_t lastRow = std::min<int64_t>(int64_t{st.AoiTop} + st.AoiHeight - 1, lastByte / width);
  if (firstColumn > lastColumn) return total;

  const uint8_t* bytes = st.FrameBytes.data();
  const MarkTables marks = MarkTable(st);
  const bool marking = std::any_of(marks[0].begin(), marks[0].end(), [](uint8_t m) { return m != 0; });
  const auto lineGroups = static_cast<size_t>((lastColumn - firstColumn) / (4 * kSampleStep) + 2);
  size_t n = 0;
  int64_t rowStart = firstRow * width;
  for (int64_t row = firstRow; row <= lastRow; ++row, rowStart += width) {
    const int64_t from = rowStart + firstColumn;
    const int64_t to = std::min(rowStart + lastColumn, lastByte);
    const int64_t first = (from + kSampleStep - 1) / kSampleStep * kSampleStep;
    if (first > to) continue;
    if (!marking) {
      WalkLine<false>(bytes, first, to, marks, counts, nullptr, 0);
      continue;
    }
    if (list.groups.size() < n + lineGroups) list.groups.resize(std::max(2 * list.groups.size(), n + lineGroups));
    n = WalkLine<true>(bytes, first, to, marks, counts, list.groups.data(), n);
  }
  list.count = n;

  for (int32_t v = 0; v < 256; ++v) total[v] = counts[0][v] + counts[1][v] + counts[2][v] + counts[3][v];
  return total;
}

// The histogram as Histo shows it, from the bins in per cent of the largest.
class HistogramLayer final : public SurfaceLayer {
 public:
  HistogramLayer(const std::array<double, 256>& percent, uint32_t background)
      : percent_(percent), background_(background) {}
  void Draw(uint32_t* pixels, int32_t w, int32_t h) const override {
    std::fill(pixels, pixels + static_cast<size_t>(w) * static_cast<size_t>(h), background_);
    const uint32_t bar = PixelFromVb(kBarColour), outline = PixelFromVb(kOutlineColour);
    const int32_t bottom = HistoLine(0.0, h);
    int32_t previousX = HistoColumn(0, w), previousTop = HistoLine(percent_[0], h);
    for (int32_t g = 1; g < 256; ++g) {
      const int32_t x = HistoColumn(g, w), top = HistoLine(percent_[g], h);
      DrawLine(pixels, w, h, x, bottom, x, top, bar);
      DrawLine(pixels, w, h, previousX, previousTop, x, top, outline);
      previousX = x;
      previousTop = top;
    }
  }
  bool Opaque() const override { return true; }

 private:
  std::array<double, 256> percent_;
  uint32_t background_;
};

void DrawHistogram(Form1& f) {
  AcquisitionState& st = f.st;
  auto& bins = st.HistogramBins;
  double largest = 1.0;
  for (double b : bins) largest = std::max(largest, b);
  st.HistogramMax = largest;
  for (double& b : bins) b = b / largest * 100.0;
  // Cleared to the background, then the bars and the outline: drawn when Histo is read.
  f.ui.HistoSurface.Lay(std::make_shared<HistogramLayer>(bins, PixelFromVb(f.ui.Histo.backColour)));
}

}  // namespace

int32_t HistoColumn(double x, int32_t innerWidth) { return RoundToInt32(x * std::max(innerWidth - 1, 0) / 255.0); }

int32_t HistoLine(double y, int32_t innerHeight) {
  return RoundToInt32((100.0 - y) * std::max(innerHeight - 1, 0) / 100.0);
}

void RunCheckPass(Form1& f) {
  AcquisitionState& st = f.st;
  // A mark list that no pending drawing holds any more.
  thread_local ReusePool<MarkList, 4> lists;
  const std::shared_ptr<MarkList> list = lists.Free();
  list->overlayWidth = std::max(st.OverlayWidth, 0);
  list->overlayHeight = st.OverlayHeight;
  list->drawWidth = f.ui.OverlayDrawWidth;
  const std::array<uint32_t, 256> counts = WalkFrame(st, *list);
  // The marks are drawn when Overlay is next read, onto what it holds now.
  if (list->count > 0) f.ui.OverlaySurface.Lay(std::make_shared<MarkLayer>(list));
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
