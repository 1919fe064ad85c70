#include "shell/Surface.h"

#include <algorithm>
#include <cstdlib>

namespace ostrelo {

void Surface::Resize(int32_t w, int32_t h, uint32_t fill) {
  width = std::max(0, w);
  height = std::max(0, h);
  pixels.assign(static_cast<size_t>(width) * height, fill);
  Touch();
}

void Surface::Fill(uint32_t pixel) {
  std::fill(pixels.begin(), pixels.end(), pixel);
  Touch();
}

void Surface::Point(int32_t x, int32_t y, uint32_t pixel, int32_t drawWidth) {
  const int32_t w = std::max(1, drawWidth);
  const int32_t x0 = std::max(0, x - w / 2), y0 = std::max(0, y - w / 2);
  const int32_t x1 = std::min(width, x - w / 2 + w), y1 = std::min(height, y - w / 2 + w);
  for (int32_t yy = y0; yy < y1; ++yy) {
    uint32_t* row = pixels.data() + static_cast<size_t>(yy) * width;
    for (int32_t xx = x0; xx < x1; ++xx) row[xx] = pixel;
  }
  Touch();
}

void Surface::Line(int32_t x0, int32_t y0, int32_t x1, int32_t y1, uint32_t pixel, int32_t drawWidth) {
  // Bresenham, with each step drawn as a dot of the drawing width.
  const int32_t dx = std::abs(x1 - x0), sx = x0 < x1 ? 1 : -1;
  const int32_t dy = -std::abs(y1 - y0), sy = y0 < y1 ? 1 : -1;
  int32_t err = dx + dy;
  for (;;) {
    if (drawWidth <= 1) {
      if (x0 >= 0 && y0 >= 0 && x0 < width && y0 < height) pixels[static_cast<size_t>(y0) * width + x0] = pixel;
    } else {
      Point(x0, y0, pixel, drawWidth);
    }
    if (x0 == x1 && y0 == y1) break;
    const int32_t e2 = 2 * err;
    if (e2 >= dy) { err += dy; x0 += sx; }
    if (e2 <= dx) { err += dx; y0 += sy; }
  }
  Touch();
}

void StretchCopy(const Surface& src, int32_t sx, int32_t sy, int32_t sw, int32_t sh,
                 Surface& dst, int32_t dx, int32_t dy, int32_t dw, int32_t dh) {
  if (sw <= 0 || sh <= 0 || dw <= 0 || dh <= 0) return;
  for (int32_t y = 0; y < dh; ++y) {
    const int32_t ty = dy + y;
    if (ty < 0 || ty >= dst.height) continue;
    const int32_t fy = sy + static_cast<int32_t>(static_cast<int64_t>(y) * sh / dh);
    if (fy < 0 || fy >= src.height) continue;
    const uint32_t* srow = src.pixels.data() + static_cast<size_t>(fy) * src.width;
    uint32_t* drow = dst.pixels.data() + static_cast<size_t>(ty) * dst.width;
    for (int32_t x = 0; x < dw; ++x) {
      const int32_t tx = dx + x;
      if (tx < 0 || tx >= dst.width) continue;
      const int32_t fx = sx + static_cast<int32_t>(static_cast<int64_t>(x) * sw / dw);
      if (fx < 0 || fx >= src.width) continue;
      drow[tx] = srow[fx];
    }
  }
  dst.Touch();
}

}  // namespace ostrelo
