#include "camera/LineCopy.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "shell/VectorLevel.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#include <immintrin.h>
#include <xmmintrin.h>
#endif

namespace ostrelo {

namespace {

// A band stays in the core's second-level cache between its two readings.
constexpr int64_t kBandBytes = int64_t{64} * 1024;
// A picture copied past the cache goes in bands of a few lines, and each band's copy asks
// for the bytes kCopyAhead further on: they come from memory while the observer reads
// the next bands from the cache. Of bands of 8, 11, 16, 32 and 64 KB, 11 KB measured
// fastest at both 2448 x 2048 and 5472 x 3648 (16 KB slower at the first, 8 KB at both).
constexpr int64_t kStreamBandBytes = int64_t{11} * 1024;
constexpr int64_t kCopyAhead = int64_t{64} * 1024;
// Smaller pictures are copied into the cache, where a shot's writer finds them next.
constexpr int64_t kStreamFrom = int64_t{4} * 1024 * 1024;

#if defined(__SSE2__)
// The bytes from the destination's first 64-byte boundary on, a line at a time by two
// 256-bit stores, so that every line is written whole by one pair (from a 32-byte
// boundary the grab measured 1.4 x slower); returns how many it copied. The bytes
// 4 KB ahead are asked for into the second-level cache.
constexpr int64_t kWideAhead = 4096;
// Copies the bytes before the destination's first 64-byte boundary; returns their count.
size_t CopyToLineStart(uint8_t* destination, const uint8_t* source, size_t bytes) {
  const size_t head = std::min(bytes, (64 - (reinterpret_cast<uintptr_t>(destination) & 63u)) & 63u);
  std::memcpy(destination, source, head);
  return head;
}
__attribute__((target("avx2"))) size_t StreamWide(uint8_t* destination, const uint8_t* source, size_t bytes) {
  size_t at = CopyToLineStart(destination, source, bytes);
  for (; at + 64 <= bytes; at += 64) {
    _mm_prefetch(reinterpret_cast<const char*>(source + at + kWideAhead), _MM_HINT_T1);
    const auto* from = reinterpret_cast<const __m256i*>(source + at);
    auto* to = reinterpret_cast<__m256i*>(destination + at);
    const __m256i a = _mm256_loadu_si256(from), b = _mm256_loadu_si256(from + 1);
    _mm256_stream_si256(to, a);
    _mm256_stream_si256(to + 1, b);
  }
  return at;
}
// The same, each line written by one 512-bit store.
__attribute__((target("avx512f"))) size_t StreamWhole(uint8_t* destination, const uint8_t* source, size_t bytes) {
  size_t at = CopyToLineStart(destination, source, bytes);
  for (; at + 64 <= bytes; at += 64) {
    _mm_prefetch(reinterpret_cast<const char*>(source + at + kWideAhead), _MM_HINT_T1);
    _mm512_stream_si512(reinterpret_cast<__m512i*>(destination + at), _mm512_loadu_si512(source + at));
  }
  return at;
}
#endif

// Past the cache, when stream is set, by streaming stores where the processor has them.
void CopyBytes(uint8_t* destination, const uint8_t* source, size_t bytes, bool stream) {
#if defined(__SSE2__)
  const VectorLevel level = stream ? Vectors() : VectorLevel::Plain;
  if (level >= VectorLevel::Avx2) {
    const size_t at =
        level == VectorLevel::Avx512 ? StreamWhole(destination, source, bytes) : StreamWide(destination, source, bytes);
    std::memcpy(destination + at, source + at, bytes - at);
    return;
  }
  if (level == VectorLevel::Sse2) {
    size_t at = CopyToLineStart(destination, source, bytes);
    for (; at + 64 <= bytes; at += 64) {
      _mm_prefetch(reinterpret_cast<const char*>(source + at + kCopyAhead), _MM_HINT_T2);
      const auto* from = reinterpret_cast<const __m128i*>(source + at);
      auto* to = reinterpret_cast<__m128i*>(destination + at);
      const __m128i a = _mm_loadu_si128(from), b = _mm_loadu_si128(from + 1);
      const __m128i c = _mm_loadu_si128(from + 2), d = _mm_loadu_si128(from + 3);
      _mm_stream_si128(to, a);
      _mm_stream_si128(to + 1, b);
      _mm_stream_si128(to + 2, c);
      _mm_stream_si128(to + 3, d);
    }
    std::memcpy(destination + at, source + at, bytes - at);
    return;
  }
#endif
  std::memcpy(destination, source, bytes);
}

// count lines of width bytes, pitch apart in source, into destination without padding.
void CopyRows(uint8_t* destination, const uint8_t* source, int64_t pitch, int32_t width, int32_t count, bool stream) {
  const auto lineBytes = static_cast<size_t>(width);
  if (pitch == width) {
    CopyBytes(destination, source, lineBytes * static_cast<size_t>(count), stream);
    return;
  }
  for (int32_t y = 0; y < count; ++y) CopyBytes(destination + y * lineBytes, source + y * pitch, lineBytes, stream);
}

}  // namespace

void CopyLinesShown(const uint8_t* source, int64_t sourcePitch, int32_t width, int32_t lines, uint8_t* destination,
                    LineObserver* observer) {
  if (width <= 0 || lines <= 0) return;
  if (observer == nullptr) {
    CopyRows(destination, source, sourcePitch, width, lines, false);
    return;
  }
  const bool stream = int64_t{width} * lines >= kStreamFrom;
  const auto band =
      static_cast<int32_t>(std::clamp<int64_t>((stream ? kStreamBandBytes : kBandBytes) / width, 1, lines));
  for (int32_t first = 0; first < lines; first += band) {
    const int32_t count = std::min(band, lines - first);
    const uint8_t* from = source + first * sourcePitch;
    uint8_t* to = destination + static_cast<size_t>(first) * static_cast<size_t>(width);
    if (stream && observer->CopyLines(first, count, from, sourcePitch, to)) continue;
    observer->Lines(first, count, from, sourcePitch);
    CopyRows(to, from, sourcePitch, width, count, stream);
  }
#if defined(__SSE2__)
  if (stream) _mm_sfence();  // the streamed stores are seen before anything after the copy
#endif
}

}  // namespace ostrelo
