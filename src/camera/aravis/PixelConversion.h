#pragma once
// Grey pictures deeper than 8 bits, as GenICam cameras send them unpacked (two bytes a
// pixel, little-endian: Mono10, Mono12, Mono16), brought to the program's 8-bit grey by
// keeping the top 8 bits of each pixel. No Aravis here: the conversion is tested and
// measured without a camera.

#include <cstddef>
#include <cstdint>

namespace ostrelo {

// GenICam pixel format codes (PFNC) of the grey formats the program takes.
namespace Pfnc {
inline constexpr uint32_t Mono8 = 0x01080001;
inline constexpr uint32_t Mono10 = 0x01100003;
inline constexpr uint32_t Mono12 = 0x01100005;
inline constexpr uint32_t Mono16 = 0x01100007;
}  // namespace Pfnc

// Significant bits per pixel of a format the program takes: 8 for Mono8; 10, 12 or 16
// for the unpacked deeper grey formats; 0 for any other (packed, colour, ...).
int GreyBits(uint32_t pixelFormat);

// One line of `count` pixels of `bits` significant bits (9 to 16) at `from`, two bytes
// each, little-endian: each becomes its top 8 bits (value >> (bits - 8)) at `to`. Bits
// above `bits` are ignored. `from` and `to` do not overlap.
void TopEightBits(const uint8_t* from, uint8_t* to, size_t count, int bits);

}  // namespace ostrelo
