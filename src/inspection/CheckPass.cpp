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

namespace {

constexpr int64_t kSampleStep = 12;
constexpr VbColour kBarColour = 255;     // red
constexpr VbColour kOutlineColour = 25;  // very dark red
constexpr uint8_t kMarkSaturated = 1;
constexpr uint8_t kMarkNoSignal = 2;
constexpr int64_t kFarOff = int64_t{1} << 24;
constexpr int64_t kPrefetchAhead = 4096;

using MarkTables = CheckWalk::MarkTables;
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

// One line's samples, from its byte at p (sample number s) over the next span bytes, in
// one go: when counting, each counted in one of four tables in turn (a run of one grey
// level would otherwise make every increment wait for the previous one) and, when
// marking, each group of four with a mark appended to out without a branch. out has
// room for every group of the line.
template <bool kMarking, bool kCounting>
size_t WalkLine(const uint8_t* p, int64_t span, uint64_t s, const MarkTables& marks,
                std::array<std::array<uint32_t, 256>, 4>& counts, uint64_t* out, size_t n) {
  int64_t i = 0;
  for (; i + 3 * kSampleStep <= span; i += 4 * kSampleStep, s += 4) {
    // A large frame has left the cache by the time it is walked.
    __builtin_prefetch(p + i + kPrefetchAhead);
    const uint8_t v0 = p[i], v1 = p[i + 12], v2 = p[i + 24], v3 = p[i + 36];
    if constexpr (kCounting) {
      ++counts[0][v0];
      ++counts[1][v1];
      ++counts[2][v2];
      ++counts[3][v3];
    }
    if constexpr (kMarking) {
      const uint32_t m = marks[0][v0] | marks[1][v1] | marks[2][v2] | marks[3][v3];
      out[n] = s << 8 | m;
      n += m != 0;
    }
  }
  uint32_t m = 0;
  for (int j = 0; i <= span; i += kSampleStep, ++j) {
    const uint8_t v = p[i];
    if constexpr (kCounting) ++counts[0][v];
    m |= marks[j][v];
  }
  if constexpr (kMarking) {
    out[n] = s << 8 | m;
    n += m != 0;
  }
  return n;
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

void RunCheckPass(Form1& f) { CheckWalk(f).Finish(); }

// The pass samples the frame once: it counts the grey levels of the examined pixels and
// lists the marked ones. Rows outside the area are skipped whole and, within a row, the
// samples are reached by steps of 12 from the first one inside the area, so no sample
// costs a division.
CheckWalk::CheckWalk(Form1& f) : f_(f) {
  const AcquisitionState& st = f.st;
  // A mark list that no pending drawing holds any more.
  thread_local ReusePool<MarkList, 4> lists;
  list_ = lists.Free();
  list_->count = 0;
  list_->overlayWidth = std::max(st.OverlayWidth, 0);
  list_->overlayHeight = st.OverlayHeight;
  list_->drawWidth = f.ui.OverlayDrawWidth;
  width_ = st.ImageWidth;
  lastByte_ = std::min<int64_t>(st.FrameByteCount, static_cast<int64_t>(st.FrameBytes.size()) - 1);
  if (width_ <= 0 || st.ImageHeight <= 0 || lastByte_ < 0) return;
  list_->width = width_;
  list_->height = st.ImageHeight;

  // Strictly inside the area, and inside the buffer's lines.
  firstColumn_ = std::max<int64_t>(int64_t{st.AoiLeft} + 1, 0);
  lastColumn_ = std::min<int64_t>(int64_t{st.AoiLeft} + st.AoiWidth - 1, width_ - 1);
  firstRow_ = std::max<int64_t>(int64_t{st.AoiTop} + 1, 0);
  lastRow_ = std::min<int64_t>(int64_t{st.AoiTop} + st.AoiHeight - 1, lastByte_ / width_);
  if (firstColumn_ > lastColumn_) return;
  empty_ = false;
  marks_ = MarkTable(st);
  counting_ = st.HistogramOn;
  marking_ = std::any_of(marks_[0].begin(), marks_[0].end(), [](uint8_t m) { return m != 0; });
  lineGroups_ = static_cast<size_t>((lastColumn_ - firstColumn_) / (4 * kSampleStep) + 2);
}

CheckWalk::~CheckWalk() = default;

void CheckWalk::Lines(int32_t first, int32_t count, const uint8_t* pixels, int64_t pitch) {
  if (first != nextRow_ || count <= 0) return;
  nextRow_ = int64_t{first} + count;
  if (empty_) return;
  const int64_t from = std::max<int64_t>(first, firstRow_), to = std::min(nextRow_ - 1, lastRow_);
  if (from <= to) WalkRows(from, to, pixels + (from - first) * pitch, pitch);
}

// Rows fromRow to toRow, fromRow's first byte at firstLine.
void CheckWalk::WalkRows(int64_t fromRow, int64_t toRow, const uint8_t* firstLine, int64_t pitch) {
  const uint8_t* line = firstLine;
  int64_t rowStart = fromRow * width_;
  for (int64_t row = fromRow; row <= toRow; ++row, rowStart += width_, line += pitch) {
    const int64_t from = rowStart + firstColumn_;
    const int64_t to = std::min(rowStart + lastColumn_, lastByte_);
    const int64_t first = (from + kSampleStep - 1) / kSampleStep * kSampleStep;
    if (first > to) continue;
    const uint8_t* p = line + (first - rowStart);
    const auto sample = static_cast<uint64_t>(first / kSampleStep);
    // The histogram's counts are most of the walk's work: they are made only for it.
    if (!marking_) {
      if (counting_) WalkLine<false, true>(p, to - first, sample, marks_, counts_, nullptr, 0);
      continue;
    }
    std::vector<uint64_t>& groups = list_->groups;
    if (groups.size() < marked_ + lineGroups_) groups.resize(std::max(2 * groups.size(), marked_ + lineGroups_));
    marked_ = counting_ ? WalkLine<true, true>(p, to - first, sample, marks_, counts_, groups.data(), marked_)
                        : WalkLine<true, false>(p, to - first, sample, marks_, counts_, groups.data(), marked_);
  }
}

void CheckWalk::Finish() {
  AcquisitionState& st = f_.st;
  const int64_t from = std::max(nextRow_, firstRow_);
  if (!empty_ && from <= lastRow_) WalkRows(from, lastRow_, st.FrameBytes.data() + from * width_, width_);
  list_->count = marked_;
  // The marks are drawn when Overlay is next read, onto what it holds now.
  if (list_->count > 0) f_.ui.OverlaySurface.Lay(std::make_shared<MarkLayer>(list_));
  // The pass leaves the walk's position at its last sample, as a walk over every sample would.
  if (st.ImageWidth > 0 && lastByte_ >= 0) {
    const int64_t lastSample = lastByte_ / kSampleStep * kSampleStep;
    st.CheckRow = static_cast<int32_t>(lastSample / st.ImageWidth);
    st.CheckColumn = static_cast<int32_t>(lastSample % st.ImageWidth);
  }
  if (!st.HistogramOn) return;
  for (int32_t v = 0; v < 256; ++v) {
    st.HistogramBins[v] = counts_[0][v] + counts_[1][v] + counts_[2][v] + counts_[3][v];
  }
  DrawHistogram(f_);
}

}  // namespace ostrelo
