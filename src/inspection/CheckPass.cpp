#include "inspection/CheckPass.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "shell/Form1.h"
#include "shell/Numbers.h"
#include "shell/ReusePool.h"
#include "shell/VectorLevel.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#include <immintrin.h>
#endif

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
// one go: each counted in one of four tables in turn (a run of one grey level would
// otherwise make every increment wait for the previous one) and, when marking, each group
// of four with a mark appended to out without a branch. out has room for every group of
// the line.
template <bool kMarking>
size_t WalkLine(const uint8_t* p, int64_t span, uint64_t s, const MarkTables& marks,
                std::array<std::array<uint32_t, 256>, 4>& counts, uint64_t* out, size_t n) {
  int64_t i = 0;
  for (; i + 3 * kSampleStep <= span; i += 4 * kSampleStep, s += 4) {
    // A large frame has left the cache by the time it is walked.
    __builtin_prefetch(p + i + kPrefetchAhead);
    const uint8_t v0 = p[i], v1 = p[i + 12], v2 = p[i + 24], v3 = p[i + 36];
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
  for (int j = 0; i <= span; i += kSampleStep, ++j) {
    const uint8_t v = p[i];
    ++counts[0][v];
    m |= marks[j][v];
  }
  if constexpr (kMarking) {
    out[n] = s << 8 | m;
    n += m != 0;
  }
  return n;
}

#if defined(__SSE2__)
// The chunks of a line walked sixteen or thirty-two bytes at a time: every byte of a
// chunk is tested against both thresholds at once and the sampled ones are picked from
// the comparison's bit mask, so that a chunk without a mark costs its counts alone. The
// mark bits of sample j of a chunk land at bits 2j and 2j + 1, as in the group entries.
// Each returns where it stopped, after a whole number of groups, and leaves the rest to
// WalkLine.
struct Walked {
  int64_t bytes;
  uint64_t sample;
  size_t marked;
};

template <bool kMarking>
Walked WalkChunks16(const uint8_t* p, int64_t span, uint64_t s, const CheckWalk::Bounds& b,
                    std::array<std::array<uint32_t, 256>, 4>& counts, uint64_t* out, size_t n) {
  const __m128i high = _mm_set1_epi8(static_cast<char>(b.saturated)), low = _mm_set1_epi8(static_cast<char>(b.none));
  const __m128i highOn = _mm_set1_epi8(b.saturatedOn ? -1 : 0), lowOn = _mm_set1_epi8(b.noneOn ? -1 : 0);
  int64_t i = 0;
  for (; i + 47 <= span; i += 48, s += 4) {
    _mm_prefetch(reinterpret_cast<const char*>(p + i + kPrefetchAhead), _MM_HINT_T1);
    ++counts[0][p[i]];
    ++counts[1][p[i + 12]];
    ++counts[2][p[i + 24]];
    ++counts[3][p[i + 36]];
    if constexpr (kMarking) {
      // The sampled bytes of each sixteen: 0 and 12; 8; 4.
      constexpr uint32_t kSampled[3] = {0x1001u, 0x0100u, 0x0010u};
      uint32_t z[3];
      for (int64_t k = 0; k < 3; ++k) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i + 16 * k));
        const __m128i hi = _mm_and_si128(_mm_cmpeq_epi8(_mm_max_epu8(v, high), v), highOn);
        const __m128i lo = _mm_and_si128(_mm_cmpeq_epi8(_mm_min_epu8(v, low), v), lowOn);
        z[k] = (static_cast<uint32_t>(_mm_movemask_epi8(hi)) & kSampled[k]) |
               (static_cast<uint32_t>(_mm_movemask_epi8(lo)) & kSampled[k]) << 1;
      }
      const uint64_t m = (z[0] & 3u) | (z[0] >> 10 & 0xCu) | (z[1] >> 4 & 0x30u) | (z[2] << 2 & 0xC0u);
      out[n] = s << 8 | m;
      n += m != 0;
    }
  }
  return {i, s, n};
}

template <bool kMarking>
__attribute__((target("avx2"))) Walked WalkChunks32(const uint8_t* p, int64_t span, uint64_t s,
                                                    const CheckWalk::Bounds& b,
                                                    std::array<std::array<uint32_t, 256>, 4>& counts, uint64_t* out,
                                                    size_t n) {
  const __m256i high = _mm256_set1_epi8(static_cast<char>(b.saturated));
  const __m256i low = _mm256_set1_epi8(static_cast<char>(b.none));
  const __m256i highOn = _mm256_set1_epi8(b.saturatedOn ? -1 : 0), lowOn = _mm256_set1_epi8(b.noneOn ? -1 : 0);
  // Unmarked levels lie in [from, from + count): one comparison finds a marked byte.
  const int32_t from = b.noneOn ? b.none + 1 : 0, to = b.saturatedOn ? b.saturated : 256;
  const __m256i unmarkedFrom = _mm256_set1_epi8(static_cast<char>(from));
  const __m256i unmarkedCount = _mm256_set1_epi8(static_cast<char>(std::max(to - from, 0)));
  int64_t i = 0;
  for (; i + 95 <= span; i += 96, s += 8) {
    _mm_prefetch(reinterpret_cast<const char*>(p + i + kPrefetchAhead), _MM_HINT_T1);
    _mm_prefetch(reinterpret_cast<const char*>(p + i + kPrefetchAhead + 64), _MM_HINT_T1);
    for (int64_t k = 0; k < 8; ++k) ++counts[k & 3][p[i + 12 * k]];
    if constexpr (kMarking) {
      // The sampled bytes of each thirty-two: 0, 12, 24; 4, 16, 28; 8, 20.
      constexpr uint32_t kSampled[3] = {0x01001001u, 0x10010010u, 0x00100100u};
      __m256i v[3];
      uint32_t any = 0;
      for (int64_t k = 0; k < 3; ++k) {
        v[k] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + i + 32 * k));
        const __m256i d = _mm256_sub_epi8(v[k], unmarkedFrom);
        any |= static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(_mm256_max_epu8(d, unmarkedCount), d))) &
               kSampled[k];
      }
      if (any == 0) continue;
      uint32_t z[3];
      for (int64_t k = 0; k < 3; ++k) {
        const __m256i hi = _mm256_and_si256(_mm256_cmpeq_epi8(_mm256_max_epu8(v[k], high), v[k]), highOn);
        const __m256i lo = _mm256_and_si256(_mm256_cmpeq_epi8(_mm256_min_epu8(v[k], low), v[k]), lowOn);
        z[k] = (static_cast<uint32_t>(_mm256_movemask_epi8(hi)) & kSampled[k]) |
               (static_cast<uint32_t>(_mm256_movemask_epi8(lo)) & kSampled[k]) << 1;
      }
      const uint64_t g = (z[0] & 3u) | (z[0] >> 10 & 0xCu) | (z[0] >> 20 & 0x30u) | (z[1] << 2 & 0xC0u) |
                         (z[1] >> 8 & 0x300u) | (z[1] >> 18 & 0xC00u) | (z[2] << 4 & 0x3000u) | (z[2] >> 6 & 0xC000u);
      out[n] = s << 8 | (g & 0xFFu);
      n += (g & 0xFFu) != 0;
      out[n] = (s + 4) << 8 | g >> 8;
      n += (g >> 8) != 0;
    }
  }
  return {i, s, n};
}
#endif

// The widest walk the processor has for one line (see WalkLine).
template <bool kMarking>
size_t WalkLineAtLevel(VectorLevel level, const uint8_t* p, int64_t span, uint64_t s, const MarkTables& marks,
                       const CheckWalk::Bounds& b, std::array<std::array<uint32_t, 256>, 4>& counts, uint64_t* out,
                       size_t n) {
  int64_t i = 0;
#if defined(__SSE2__)
  if (level == VectorLevel::Avx2 || level == VectorLevel::Sse2) {
    const Walked w = level == VectorLevel::Avx2 ? WalkChunks32<kMarking>(p, span, s, b, counts, out, n)
                                                : WalkChunks16<kMarking>(p, span, s, b, counts, out, n);
    i = w.bytes;
    s = w.sample;
    n = w.marked;
  }
#else
  (void)level;
  (void)b;
#endif
  return WalkLine<kMarking>(p + i, span - i, s, marks, counts, out, n);
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
  marking_ = std::any_of(marks_[0].begin(), marks_[0].end(), [](uint8_t m) { return m != 0; });
  // The table's marks as two ranges: from the lowest saturated level up, and from 0 up to
  // the highest level without signal.
  for (int32_t v = 0; v < 256; ++v) {
    if ((marks_[0][v] & kMarkSaturated) != 0 && !bounds_.saturatedOn) {
      bounds_.saturatedOn = true;
      bounds_.saturated = static_cast<uint8_t>(v);
    }
    if ((marks_[0][v] & kMarkNoSignal) != 0) {
      bounds_.noneOn = true;
      bounds_.none = static_cast<uint8_t>(v);
    }
  }
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
  const VectorLevel level = Vectors();
  for (int64_t row = fromRow; row <= toRow; ++row, rowStart += width_, line += pitch) {
    const int64_t from = rowStart + firstColumn_;
    const int64_t to = std::min(rowStart + lastColumn_, lastByte_);
    const int64_t first = (from + kSampleStep - 1) / kSampleStep * kSampleStep;
    if (first > to) continue;
    const uint8_t* p = line + (first - rowStart);
    const auto sample = static_cast<uint64_t>(first / kSampleStep);
    if (!marking_) {
      WalkLineAtLevel<false>(level, p, to - first, sample, marks_, bounds_, counts_, nullptr, 0);
      continue;
    }
    std::vector<uint64_t>& groups = list_->groups;
    if (groups.size() < marked_ + lineGroups_) groups.resize(std::max(2 * groups.size(), marked_ + lineGroups_));
    marked_ = WalkLineAtLevel<true>(level, p, to - first, sample, marks_, bounds_, counts_, groups.data(), marked_);
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
