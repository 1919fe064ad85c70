#pragma once
// A drawing surface of the window model: the inner area of a picture box as 32-bit
// pixels laid out as 0xFFRRGGBB, lines top first, so the view can show it as it is.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace ostrelo {

// Colours as the window's properties hold them: red in the low byte (255 red, 65280 green).
using VbColour = uint32_t;
inline constexpr VbColour kVbRed = 255;
inline constexpr VbColour kVbGreen = 65280;
inline constexpr VbColour Rgb(uint32_t r, uint32_t g, uint32_t b) { return r | (g << 8) | (b << 16); }

// Pixel value on a surface for a property colour.
inline constexpr uint32_t PixelFromVb(VbColour c) {
  return 0xFF000000u | ((c & 0xFFu) << 16) | (c & 0xFF00u) | ((c >> 16) & 0xFFu);
}
inline constexpr uint32_t GreyPixel(uint8_t g) { return 0xFF000000u | (uint32_t{g} * 0x010101u); }

struct Surface {
  int32_t width = 0;
  int32_t height = 0;
  std::vector<uint32_t> pixels;
  // Bumped by every change, so a view repaints only surfaces that changed.
  uint64_t revision = 0;

  void Resize(int32_t w, int32_t h, uint32_t fill);
  void Fill(uint32_t pixel);
  // A dot of drawWidth x drawWidth pixels centred on (x, y), clipped to the surface.
  void Point(int32_t x, int32_t y, uint32_t pixel, int32_t drawWidth);
  // A straight line from (x0, y0) to (x1, y1), both ends included, clipped.
  void Line(int32_t x0, int32_t y0, int32_t x1, int32_t y1, uint32_t pixel, int32_t drawWidth = 1);
  uint32_t At(int32_t x, int32_t y) const { return pixels[static_cast<size_t>(y) * width + x]; }
  void Touch() { ++revision; }
};

// Copies a source rectangle onto a destination rectangle, scaling it to fit by
// dropping or repeating pixels (no blending): destination offset (i, j) takes source
// pixel (sx + i * sw / dw, sy + j * sh / dh), integer division. Parts of either
// rectangle outside its surface are skipped.
void StretchCopy(const Surface& src, int32_t sx, int32_t sy, int32_t sw, int32_t sh,
                 Surface& dst, int32_t dx, int32_t dy, int32_t dw, int32_t dh);

}  // namespace ostrelo
