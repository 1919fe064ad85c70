#include "camera/aravis/PixelConversion.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace ostrelo {

namespace {

template <int kShift>
inline uint8_t Top(const uint8_t* pixel) {
  uint16_t value;
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(&value, pixel, sizeof value);
  } else {
    value = static_cast<uint16_t>(pixel[0] | (pixel[1] << 8));
  }
  return static_cast<uint8_t>(value >> kShift);
}

// A fixed shift and inner blocks of fixed length: the compiler makes the inner loop
// vector code (16-bit shifts and a pack) even at -O2, where it vectorises only loops
// that leave no remainder.
template <int kShift>
void Convert(const uint8_t* __restrict from, uint8_t* __restrict to, size_t count) {
  constexpr size_t kBlock = 64;
  size_t i = 0;
  for (; i + kBlock <= count; i += kBlock) {
    for (size_t j = 0; j < kBlock; ++j) to[i + j] = Top<kShift>(from + 2 * (i + j));
  }
  for (; i < count; ++i) to[i] = Top<kShift>(from + 2 * i);
}

}  // namespace

int GreyBits(uint32_t pixelFormat) {
  switch (pixelFormat) {
    case Pfnc::Mono8: return 8;
    case Pfnc::Mono10: return 10;
    case Pfnc::Mono12: return 12;
    case Pfnc::Mono16: return 16;
    default: return 0;
  }
}

void TopEightBits(const uint8_t* from, uint8_t* to, size_t count, int bits) {
  switch (bits) {
    case 10: return Convert<2>(from, to, count);
    case 12: return Convert<4>(from, to, count);
    case 16: return Convert<8>(from, to, count);
    default: break;
  }
  const int shift = std::clamp(bits - 8, 0, 8);
  for (size_t i = 0; i < count; ++i) {
    const unsigned value = from[2 * i] | (static_cast<unsigned>(from[2 * i + 1]) << 8);
    to[i] = static_cast<uint8_t>(value >> shift);
  }
}

}  // namespace ostrelo
