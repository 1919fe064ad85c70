#include "shell/Surface.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

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

namespace {

// For destination offsets 0..dn-1 of a stretch from n source elements starting at
// s0 onto dn destination elements starting at d0: the source index of each offset
// (s0 + offset * n / dn, dropping or repeating), and the contiguous range of offsets
// whose source and destination both lie inside their surfaces (the source index is
// monotonic in the offset, so the valid offsets form one run).
struct StretchAxis {
  int32_t first = 0, last = 0;  // valid offsets [first, last)
};

StretchAxis BuildAxis(int32_t s0, int32_t n, int32_t srcSize, int32_t d0, int32_t dn, int32_t dstSize,
                      std::vector<int32_t>& table) {
  StretchAxis axis;
  axis.first = std::max(0, -d0);
  axis.last = std::min(dn, dstSize - d0);
  if (axis.first >= axis.last) return {0, 0};
  table.resize(static_cast<size_t>(dn));
  // Exact integer stepping: index = s0 + floor(i * n / dn) without a division per entry.
  int64_t whole = s0, rest = 0;
  for (int32_t i = 0; i < dn; ++i) {
    table[static_cast<size_t>(i)] = static_cast<int32_t>(whole);
    rest += n;
    while (rest >= dn) {
      rest -= dn;
      ++whole;
    }
  }
  while (axis.first < axis.last && table[static_cast<size_t>(axis.first)] < 0) ++axis.first;
  while (axis.last > axis.first && table[static_cast<size_t>(axis.last) - 1] >= srcSize) --axis.last;
  if (axis.first >= axis.last) return {0, 0};
  return axis;
}

}  // namespace

void StretchCopy(const Surface& src, int32_t sx, int32_t sy, int32_t sw, int32_t sh,
                 Surface& dst, int32_t dx, int32_t dy, int32_t dw, int32_t dh) {
  if (sw <= 0 || sh <= 0 || dw <= 0 || dh <= 0) return;
  // Kept between calls: the live view stretches the same sizes every 200 ms.
  thread_local std::vector<int32_t> columns, rows;
  const StretchAxis cx = BuildAxis(sx, sw, src.width, dx, dw, dst.width, columns);
  const StretchAxis cy = BuildAxis(sy, sh, src.height, dy, dh, dst.height, rows);
  if (cx.first < cx.last && cy.first < cy.last) {
    const size_t count = static_cast<size_t>(cx.last - cx.first);
    const int32_t* col = columns.data() + cx.first;
    // Equal widths copy each line as it is.
    const bool sameWidth = sw == dw;
    int32_t previousSource = -1;
    const uint32_t* previousLine = nullptr;
    for (int32_t y = cy.first; y < cy.last; ++y) {
      const int32_t fy = rows[static_cast<size_t>(y)];
      uint32_t* out = dst.pixels.data() + static_cast<size_t>(dy + y) * dst.width + dx + cx.first;
      if (fy == previousSource) {
        // An enlargement repeats the line just written.
        std::memcpy(out, previousLine, count * sizeof(uint32_t));
      } else {
        const uint32_t* in = src.pixels.data() + static_cast<size_t>(fy) * src.width;
        if (sameWidth) {
          std::memcpy(out, in + col[0], count * sizeof(uint32_t));
        } else {
          for (size_t i = 0; i < count; ++i) out[i] = in[col[i]];
        }
        previousSource = fy;
      }
      previousLine = out;
    }
  }
  dst.Touch();
}

}  // namespace ostrelo
