#include "camera/LineGather.h"

#include <bit>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <tmmintrin.h>
#define OSTRELO_BYTE_SHUFFLE 1
#endif

namespace ostrelo {

namespace {

// Past this many pieces per block (a line over 20 times wider than the view) the bytes
// are picked one by one.
constexpr uint32_t kMostPieces = 24;

#ifdef OSTRELO_BYTE_SHUFFLE
bool HasByteShuffle() {
  static const bool has = __builtin_cpu_supports("ssse3");
  return has;
}

__attribute__((target("ssse3"))) void ShuffleBlocks(const uint8_t* line, uint8_t* out, const LineGather::Block* blocks,
                                                    size_t count, const std::array<uint8_t, 16>* masks) {
  for (size_t k = 0; k < count; ++k, out += 16) {
    const uint8_t* from = line + blocks[k].base;
    const std::array<uint8_t, 16>* m = masks + blocks[k].firstMask;
    __m128i sixteen = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(from)),
                                       _mm_loadu_si128(reinterpret_cast<const __m128i*>(m[0].data())));
    for (uint32_t p = 1; p < blocks[k].pieces; ++p) {
      const __m128i piece = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + size_t{16} * p));
      sixteen = _mm_or_si128(sixteen,
                             _mm_shuffle_epi8(piece, _mm_loadu_si128(reinterpret_cast<const __m128i*>(m[p].data()))));
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), sixteen);
  }
}
#endif

}  // namespace

void LineGather::Prepare(std::vector<uint32_t> offsets, size_t lineBytes) {
  offsets_ = std::move(offsets);
  blocks_.clear();
  masks_.clear();
#ifdef OSTRELO_BYTE_SHUFFLE
  if (!HasByteShuffle()) return;
  for (size_t first = 0; first + 16 <= offsets_.size(); first += 16) {
    const uint32_t base = offsets_[first];
    const uint32_t pieces = (offsets_[first + 15] - base) / 16 + 1;
    // Every piece read lies inside the line: the last blocks may be left to the
    // byte-by-byte loop.
    if (pieces > kMostPieces || base + size_t{16} * pieces > lineBytes) break;
    blocks_.push_back({base, pieces, static_cast<uint32_t>(masks_.size())});
    for (uint32_t p = 0; p < pieces; ++p) {
      std::array<uint8_t, 16> mask;
      for (size_t j = 0; j < 16; ++j) {
        const int64_t at = int64_t{offsets_[first + j]} - base - 16 * int64_t{p};
        mask[j] = at >= 0 && at < 16 ? static_cast<uint8_t>(at) : uint8_t{0x80};  // 0x80 gives a zero byte
      }
      masks_.push_back(mask);
    }
  }
#else
  (void)lineBytes;
#endif
}

void LineGather::Run(const uint8_t* line, uint8_t* out) const {
  size_t x = 0;
#ifdef OSTRELO_BYTE_SHUFFLE
  ShuffleBlocks(line, out, blocks_.data(), blocks_.size(), masks_.data());
  x = 16 * blocks_.size();
#endif
  const uint32_t* offsets = offsets_.data();
  const size_t n = offsets_.size();
  // Eight at a time, put together for one store.
  for (; x + 8 <= n; x += 8) {
    const uint32_t* c = offsets + x;
    uint64_t eight = 0;
    for (int k = 0; k < 8; ++k) {
      const int shift = std::endian::native == std::endian::little ? 8 * k : 56 - 8 * k;
      eight |= uint64_t{line[c[k]]} << shift;
    }
    std::memcpy(out + x, &eight, sizeof eight);
  }
  for (; x < n; ++x) out[x] = line[offsets[x]];
}

}  // namespace ostrelo
