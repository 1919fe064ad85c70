#include "inspection/CheckPass.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "shell/Form1.h"
#include "shell/Numbers.h"
#include "shell/ReusePool.h"
#include "shell/VectorLevel.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace ostrelo {

// The marks of one pass, drawn on Overlay when it is read. The samples are taken in
// groups of up to sixteen along a line; every group with a mark is one entry: the
// group's first sample number (byte index / 12) shifted left by 32 over the two mark
// bits of each of its samples, the first in the lowest bits. Entries are in storage order.
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
      for (auto bits = static_cast<uint32_t>(group); bits != 0;) {
        const int j = __builtin_ctz(bits) / 2;
        const uint32_t m = (bits >> (2 * j)) & 3u;
        bits &= ~(3u << (2 * j));
        const auto i = static_cast<int64_t>((group >> 32) + static_cast<uint64_t>(j)) * kSampleStep;
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
using Counts = std::array<std::array<uint32_t, 256>, 4>;
template <bool kMarking, bool kCounting>
size_t WalkLine(const uint8_t* p, int64_t span, uint64_t s, const MarkTables& marks, Counts& counts, uint64_t* out,
                size_t n) {
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
      out[n] = s << 32 | m;
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
    out[n] = s << 32 | m;
    n += m != 0;
  }
  return n;
}

#if defined(__x86_64__)
#define OSTRELO_AVX512 __attribute__((target("avx512f,avx512bw,avx512vl,avx512vbmi,bmi,bmi2")))
// The marks as ranges of grey levels: saturated from satFrom up, no signal up to noTo,
// each when on.
struct MarkRanges {
  uint8_t satFrom = 255, noTo = 0;
  bool satOn = false, noOn = false;
};

// WalkLine by AVX-512, sixteen samples (192 bytes) at a time: the samples gathered into
// one register by two byte permutations, both thresholds tested on all sixteen at once,
// and one entry a group with a mark, its bits spread from the comparisons' masks; no
// per-sample work but the counts. Loads past the line's last sample are masked off.
class Walk512 {
 public:
  static constexpr int64_t kGroupBytes = 16 * kSampleStep;

  OSTRELO_AVX512 explicit Walk512(const MarkRanges& ranges)
      : satFrom_(_mm512_set1_epi8(static_cast<char>(ranges.satFrom))),
        noTo_(_mm512_set1_epi8(static_cast<char>(ranges.noTo))),
        satOn_(ranges.satOn ? ~__mmask64{0} : 0),
        noOn_(ranges.noOn ? ~__mmask64{0} : 0) {
    // Sample k of a group is byte 12k: samples 0 to 10 lie in its first two 64-byte
    // blocks, 11 to 15 in the third (bytes 4, 16, ... of it).
    alignas(64) static constexpr uint8_t kFirstTwo[64] = {0, 12, 24, 36, 48, 60, 72, 84, 96, 108, 120};
    alignas(64) static constexpr uint8_t kThird[64] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 4, 16, 28, 40, 52};
    firstTwo_ = _mm512_load_si512(kFirstTwo);
    third_ = _mm512_load_si512(kThird);
  }

  // The group at g (sample number s), of which `bytes` bytes belong to the line.
  template <bool kMarking, bool kCounting>
  OSTRELO_AVX512 size_t Group(const uint8_t* g, int64_t bytes, uint64_t s, Counts& counts, uint64_t* out,
                              size_t n) const {
    const bool whole = bytes > kGroupBytes - kSampleStep;
    if constexpr (kMarking) {
      __mmask64 live = 0xFFFF, a = ~__mmask64{0}, b = ~__mmask64{0}, c = (__mmask64{1} << 53) - 1;
      if (!whole) {
        live = _bzhi_u64(live, static_cast<uint32_t>((bytes - 1) / kSampleStep + 1));
        a = Lead(bytes, 0);
        b = Lead(bytes, 64);
        c = Lead(bytes, 128);
      }
      const __m512i x = _mm512_maskz_loadu_epi8(a, g), y = _mm512_maskz_loadu_epi8(b, g + 64);
      const __m512i z = _mm512_maskz_loadu_epi8(c, g + 128);
      const __m512i v = _mm512_mask_permutexvar_epi8(_mm512_permutex2var_epi8(x, firstTwo_, y), 0xF800, third_, z);
      const auto sat = static_cast<uint32_t>(_mm512_mask_cmpge_epu8_mask(live & satOn_, v, satFrom_));
      const auto no = static_cast<uint32_t>(_mm512_mask_cmple_epu8_mask(live & noOn_, v, noTo_));
      const uint32_t m = _pdep_u32(sat, 0x55555555u) | _pdep_u32(no, 0xAAAAAAAAu);
      out[n] = s << 32 | m;
      n += m != 0;
    }
    if constexpr (kCounting) {
      if (whole) {
        for (int64_t k = 0; k < 16; k += 4) {
          ++counts[0][g[12 * k]];
          ++counts[1][g[12 * k + 12]];
          ++counts[2][g[12 * k + 24]];
          ++counts[3][g[12 * k + 36]];
        }
      } else {
        for (int64_t k = 0; 12 * k < bytes; ++k) ++counts[static_cast<size_t>(k & 3)][g[12 * k]];
      }
    }
    return n;
  }

 private:
  // The lanes of a 64-byte block `from` bytes on that hold some of the first `bytes`.
  OSTRELO_AVX512 static __mmask64 Lead(int64_t bytes, int64_t from) {
    return _bzhi_u64(~0ull, static_cast<uint32_t>(std::clamp<int64_t>(bytes - from, 0, 64)));
  }

  __m512i satFrom_, noTo_, firstTwo_, third_;
  __mmask64 satOn_, noOn_;
};

// A band's bytes copied past the cache 64 bytes a step by 512-bit streaming stores,
// from the destination's first 64-byte boundary, asking for the bytes 4 KB ahead.
class Stream512 {
 public:
  Stream512(const uint8_t* source, uint8_t* destination, int64_t bytes)
      : source_(source), destination_(destination), bytes_(bytes) {
    at_ = std::min<int64_t>(bytes, (64 - static_cast<int64_t>(reinterpret_cast<uintptr_t>(destination) & 63u)) & 63);
    std::memcpy(destination, source, static_cast<size_t>(at_));
  }
  // Copies on until the bytes before `want` are copied (but the last part line).
  OSTRELO_AVX512 void Upto(int64_t want) {
    for (; at_ < want && at_ + 64 <= bytes_; at_ += 64) {
      _mm_prefetch(reinterpret_cast<const char*>(source_ + at_ + kCopyAhead), _MM_HINT_T1);
      _mm512_stream_si512(reinterpret_cast<__m512i*>(destination_ + at_), _mm512_loadu_si512(source_ + at_));
    }
  }
  OSTRELO_AVX512 void Finish() {
    Upto(bytes_);
    std::memcpy(destination_ + at_, source_ + at_, static_cast<size_t>(bytes_ - at_));
  }

 private:
  static constexpr int64_t kCopyAhead = 4096;
  const uint8_t* source_;
  uint8_t* destination_;
  int64_t bytes_, at_ = 0;
};

// WalkLine's marks by AVX-512.
template <bool kCounting>
OSTRELO_AVX512 size_t WalkLine512(const MarkRanges& ranges, const uint8_t* p, int64_t span, uint64_t s, Counts& counts,
                                  uint64_t* out, size_t n) {
  const Walk512 walk(ranges);
  for (int64_t i = 0; i <= span; i += Walk512::kGroupBytes, s += 16) {
    __builtin_prefetch(p + i + kPrefetchAhead);
    __builtin_prefetch(p + i + kPrefetchAhead + 64);
    __builtin_prefetch(p + i + kPrefetchAhead + 128);
    n = walk.Group<true, kCounting>(p + i, span - i + 1, s, counts, out, n);
  }
  return n;
}

// The lines of a band that hold samples to walk, their bytes numbered in the frame.
struct BandRows {
  int64_t bandStart = 0;  // the band's first byte
  int64_t fromRow = 0, toRow = -1, width = 0, firstColumn = 0, lastColumn = -1, lastByte = -1;
};

// Copies a band of `bytes` bytes and walks its rows: each group of sixteen samples just
// after the copy has read its bytes, from the first-level cache, while the copy's reads
// from memory are under way.
template <bool kMarking, bool kCounting>
OSTRELO_AVX512 size_t CopyWalkBand(const uint8_t* source, uint8_t* destination, int64_t bytes, const BandRows& rows,
                                   const MarkRanges& ranges, Counts& counts, uint64_t* out, size_t n) {
  const Walk512 walk(ranges);
  Stream512 copy(source, destination, bytes);
  for (int64_t row = rows.fromRow; row <= rows.toRow; ++row) {
    const int64_t rowStart = row * rows.width;
    const int64_t to = std::min(rowStart + rows.lastColumn, rows.lastByte);
    const int64_t first = (rowStart + rows.firstColumn + kSampleStep - 1) / kSampleStep * kSampleStep;
    auto s = static_cast<uint64_t>(first / kSampleStep);
    const int64_t end = to - rows.bandStart;
    for (int64_t i = first - rows.bandStart; i <= end; i += Walk512::kGroupBytes, s += 16) {
      copy.Upto(i + Walk512::kGroupBytes);
      n = walk.Group<kMarking, kCounting>(source + i, end - i + 1, s, counts, out, n);
    }
  }
  copy.Finish();
  return n;
}
#undef OSTRELO_AVX512
#endif

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
  for (int32_t v = 0; v < 256; ++v) {
    if ((marks_[0][v] & kMarkSaturated) != 0 && !satOn_) satOn_ = true, satFrom_ = static_cast<uint8_t>(v);
    if ((marks_[0][v] & kMarkNoSignal) != 0) noOn_ = true, noTo_ = static_cast<uint8_t>(v);
  }
  wide_ = Vectors() == VectorLevel::Avx512;
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
    uint64_t* out = MarkRoom(1);
#if defined(__x86_64__)
    if (wide_) {
      marked_ =
          counting_
              ? WalkLine512<true>({satFrom_, noTo_, satOn_, noOn_}, p, to - first, sample, counts_, out, marked_)
              : WalkLine512<false>({satFrom_, noTo_, satOn_, noOn_}, p, to - first, sample, counts_, out, marked_);
      continue;
    }
#endif
    marked_ = counting_ ? WalkLine<true, true>(p, to - first, sample, marks_, counts_, out, marked_)
                        : WalkLine<true, false>(p, to - first, sample, marks_, counts_, out, marked_);
  }
}

uint64_t* CheckWalk::MarkRoom(int64_t lines) {
  std::vector<uint64_t>& groups = list_->groups;
  const size_t room = marked_ + static_cast<size_t>(std::max<int64_t>(lines, 0)) * lineGroups_;
  if (groups.size() < room) groups.resize(std::max(2 * groups.size(), room));
  return groups.data();
}

bool CheckWalk::CopyLines(int32_t first, int32_t count, const uint8_t* pixels, int64_t pitch, uint8_t* destination) {
#if defined(__x86_64__)
  if (!wide_ || first != nextRow_ || count <= 0 || pitch != width_) return false;
  nextRow_ = int64_t{first} + count;
  const BandRows rows{first * width_,
                      std::max<int64_t>(first, firstRow_),
                      std::min(nextRow_ - 1, lastRow_),
                      width_,
                      firstColumn_,
                      lastColumn_,
                      lastByte_};
  const MarkRanges ranges{satFrom_, noTo_, satOn_, noOn_};
  const int64_t bytes = count * width_;
  if (!marking_) {
    if (counting_) {
      CopyWalkBand<false, true>(pixels, destination, bytes, rows, ranges, counts_, nullptr, 0);
    } else {
      CopyWalkBand<false, false>(pixels, destination, bytes, rows, ranges, counts_, nullptr, 0);
    }
    return true;
  }
  uint64_t* out = MarkRoom(rows.toRow - rows.fromRow + 1);
  marked_ = counting_ ? CopyWalkBand<true, true>(pixels, destination, bytes, rows, ranges, counts_, out, marked_)
                      : CopyWalkBand<true, false>(pixels, destination, bytes, rows, ranges, counts_, out, marked_);
  return true;
#else
  (void)first, (void)count, (void)pixels, (void)pitch, (void)destination;
  return false;
#endif
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
