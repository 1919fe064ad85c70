#include "camera/LineCopy.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace ostrelo {

namespace {

// A band stays in the core's second-level cache between its two readings.
constexpr int64_t kBandBytes = int64_t{64} * 1024;
// Smaller pictures are copied into the cache, where a shot's writer finds them next.
constexpr int64_t kStreamFrom = int64_t{4} * 1024 * 1024;

void CopyPastTheCache(uint8_t* destination, const uint8_t* source, size_t bytes, bool stream) {
  if (!stream) {
    std::memcpy(destination, source, bytes);
    return;
  }
#if defined(__SSE2__)
  const size_t head = std::min(bytes, (16 - (reinterpret_cast<uintptr_t>(destination) & 15u)) & 15u);
  std::memcpy(destination, source, head);
  size_t at = head;
  for (; at + 64 <= bytes; at += 64) {
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
#else
  std::memcpy(destination, source, bytes);
#endif
}

}  // namespace

void CopyLinesShown(const uint8_t* source, int64_t sourcePitch, int32_t width, int32_t lines, uint8_t* destination,
                    LineObserver* observer) {
  if (width <= 0 || lines <= 0) return;
  const auto lineBytes = static_cast<size_t>(width);
  if (observer == nullptr) {
    if (sourcePitch == width) {
      std::memcpy(destination, source, lineBytes * static_cast<size_t>(lines));
      return;
    }
    for (int32_t y = 0; y < lines; ++y) {
      std::memcpy(destination + static_cast<size_t>(y) * lineBytes, source + y * sourcePitch, lineBytes);
    }
    return;
  }
  const auto band = static_cast<int32_t>(std::clamp<int64_t>(kBandBytes / width, 1, lines));
  const bool stream = int64_t{width} * lines >= kStreamFrom;
  for (int32_t first = 0; first < lines; first += band) {
    const int32_t count = std::min(band, lines - first);
    const uint8_t* from = source + first * sourcePitch;
    uint8_t* to = destination + static_cast<size_t>(first) * lineBytes;
    observer->Lines(first, count, from, sourcePitch);
    if (sourcePitch == width) {
      CopyPastTheCache(to, from, lineBytes * static_cast<size_t>(count), stream);
      continue;
    }
    for (int32_t y = 0; y < count; ++y) {
      CopyPastTheCache(to + y * lineBytes, from + y * sourcePitch, lineBytes, stream);
    }
  }
#if defined(__SSE2__)
  _mm_sfence();  // the streamed stores are seen before anything after the copy
#endif
}

}  // namespace ostrelo
