#include "shell/Surface.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <type_traits>

namespace ostrelo {

namespace {

// Pending layers that do not cover the surface pile up when nobody reads it; past this
// many they are drawn.
constexpr size_t kMostPendingLayers = 8;

}  // namespace

// ---- The pixels and their pending layers ----

SurfacePixels& SurfacePixels::operator=(const SurfacePixels& other) {
  if (this != &other) {
    v_ = other.Settled();
    pending_.clear();
  }
  return *this;
}

void SurfacePixels::assign(size_t count, uint32_t pixel) {
  pending_.clear();
  v_.assign(count, pixel);
}

void SurfacePixels::Settle() const {
  SurfaceLayers layers;
  layers.swap(pending_);
  if (v_.size() != static_cast<size_t>(width_) * static_cast<size_t>(height_)) return;
  for (const auto& layer : layers) layer->Draw(v_.data(), width_, height_);
}

// ---- Drawing ----

void Surface::Resize(int32_t w, int32_t h, uint32_t fill) {
  width = std::max(0, w);
  height = std::max(0, h);
  pixels.assign(static_cast<size_t>(width) * height, fill);
  Touch();
}

void Surface::Fill(uint32_t pixel) {
  std::vector<uint32_t>& v = pixels.Discarded();
  std::fill(v.begin(), v.end(), pixel);
  Touch();
}

void DrawDot(uint32_t* pixels, int32_t width, int32_t height, int32_t x, int32_t y, uint32_t pixel, int32_t drawWidth) {
  const int32_t w = std::max(1, drawWidth);
  const int32_t x0 = std::max(0, x - w / 2), y0 = std::max(0, y - w / 2);
  const int32_t x1 = std::min(width, x - w / 2 + w), y1 = std::min(height, y - w / 2 + w);
  for (int32_t yy = y0; yy < y1; ++yy) {
    uint32_t* row = pixels + static_cast<size_t>(yy) * width;
    for (int32_t xx = x0; xx < x1; ++xx) row[xx] = pixel;
  }
}

void Surface::Point(int32_t x, int32_t y, uint32_t pixel, int32_t drawWidth) {
  DrawDot(pixels.data(), width, height, x, y, pixel, drawWidth);
  Touch();
}

void DrawLine(uint32_t* pixels, int32_t width, int32_t height, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
              uint32_t pixel, int32_t drawWidth) {
  // Bresenham, with each step drawn as a dot of the drawing width.
  const int32_t dx = std::abs(x1 - x0), sx = x0 < x1 ? 1 : -1;
  const int32_t dy = -std::abs(y1 - y0), sy = y0 < y1 ? 1 : -1;
  int32_t err = dx + dy;
  for (;;) {
    if (drawWidth <= 1) {
      if (x0 >= 0 && y0 >= 0 && x0 < width && y0 < height) pixels[static_cast<size_t>(y0) * width + x0] = pixel;
    } else {
      DrawDot(pixels, width, height, x0, y0, pixel, drawWidth);
    }
    if (x0 == x1 && y0 == y1) break;
    const int32_t e2 = 2 * err;
    if (e2 >= dy) {
      err += dy;
      x0 += sx;
    }
    if (e2 <= dx) {
      err += dx;
      y0 += sy;
    }
  }
}

void Surface::Line(int32_t x0, int32_t y0, int32_t x1, int32_t y1, uint32_t pixel, int32_t drawWidth) {
  DrawLine(pixels.data(), width, height, x0, y0, x1, y1, pixel, drawWidth);
  Touch();
}

void Surface::Lay(std::shared_ptr<const SurfaceLayer> layer) {
  if (layer->Opaque()) {
    pixels.pending_.clear();
  } else if (pixels.pending_.size() >= kMostPendingLayers) {
    pixels.Settle();
  }
  pixels.width_ = width;
  pixels.height_ = height;
  pixels.pending_.push_back(std::move(layer));
  Touch();
}

void Surface::MakeOwned() const {
  for (auto& layer : pixels.pending_) {
    if (auto owned = layer->Owned()) layer = std::move(owned);
  }
}

BorrowScope::BorrowScope(Surface* surface) : surface_(surface) {
  if (surface_ != nullptr) surface_->borrowing = true;
}

void BorrowScope::End() {
  if (surface_ == nullptr) return;
  surface_->borrowing = false;
  surface_->MakeOwned();
  surface_ = nullptr;
}

void GreyLayer::Draw(uint32_t* pixels, int32_t width, int32_t height) const {
  const GreyPicture& p = *picture_;
  if (p.width != width || p.height != height) return;
  const uint8_t* in = p.grey.data();
  const size_t n = static_cast<size_t>(width) * static_cast<size_t>(height);
  for (size_t i = 0; i < n; ++i) pixels[i] = GreyPixel(in[i]);
}

// ---- Stretching ----

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

// One stretch, its tables built for the given surfaces.
struct Stretch {
  int32_t sx, sy, sw, sh, dx, dy, dw, dh;

  // Whether it writes every pixel of a dstWidth x dstHeight destination.
  bool Covers(const StretchAxis& cx, const StretchAxis& cy, int32_t dstWidth, int32_t dstHeight) const {
    return dx + cx.first == 0 && dx + cx.last == dstWidth && dy + cy.first == 0 && dy + cy.last == dstHeight;
  }

  // Source lines of srcWidth elements (bytes of grey or pixels) onto destination pixels.
  template <class Element>
  void Run(const Element* src, int32_t srcWidth, int32_t srcHeight, uint32_t* dst, int32_t dstWidth,
           int32_t dstHeight) const {
    // Kept between calls: the live view stretches the same sizes every 200 ms.
    thread_local std::vector<int32_t> columns, rows;
    const StretchAxis cx = BuildAxis(sx, sw, srcWidth, dx, dw, dstWidth, columns);
    const StretchAxis cy = BuildAxis(sy, sh, srcHeight, dy, dh, dstHeight, rows);
    if (cx.first >= cx.last || cy.first >= cy.last) return;
    const size_t count = static_cast<size_t>(cx.last - cx.first);
    const int32_t* col = columns.data() + cx.first;
    // Equal widths copy each line as it is.
    const bool sameWidth = sw == dw;
    int32_t previousSource = -1;
    const uint32_t* previousLine = nullptr;
    for (int32_t y = cy.first; y < cy.last; ++y) {
      const int32_t fy = rows[static_cast<size_t>(y)];
      uint32_t* out = dst + static_cast<size_t>(dy + y) * dstWidth + dx + cx.first;
      if (fy == previousSource) {
        // An enlargement repeats the line just written.
        std::memcpy(out, previousLine, count * sizeof(uint32_t));
      } else {
        const Element* in = src + static_cast<size_t>(fy) * srcWidth;
        if (sameWidth) {
          const Element* from = in + col[0];
          if constexpr (std::is_same_v<Element, uint32_t>) {
            std::memcpy(out, from, count * sizeof(uint32_t));
          } else {
            for (size_t i = 0; i < count; ++i) out[i] = GreyPixel(from[i]);
          }
        } else {
          for (size_t i = 0; i < count; ++i) out[i] = Pixel(in[col[i]]);
        }
        previousSource = fy;
      }
      previousLine = out;
    }
  }

  static uint32_t Pixel(uint32_t p) { return p; }
  static uint32_t Pixel(uint8_t g) { return GreyPixel(g); }
};

// Pixels to draw a source in before it is stretched, kept from one drawing to the next
// (a view is read at every grab); one buffer per level of sources drawn within sources.
class Scratch {
 public:
  explicit Scratch(size_t n) {
    auto& buffers = Buffers();
    if (buffers.size() <= Depth()) buffers.push_back(std::make_unique<std::vector<uint32_t>>());
    buffer_ = buffers[Depth()++].get();
    if (buffer_->size() < n) buffer_->resize(n);
  }
  ~Scratch() { --Depth(); }
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;
  uint32_t* data() { return buffer_->data(); }

 private:
  static std::vector<std::unique_ptr<std::vector<uint32_t>>>& Buffers() {
    thread_local std::vector<std::unique_ptr<std::vector<uint32_t>>> buffers;
    return buffers;
  }
  static size_t& Depth() {
    thread_local size_t depth = 0;
    return depth;
  }
  std::vector<uint32_t>* buffer_;
};

// A stretch from a source that is itself still to be drawn: its layers, and its size.
class StretchLayer final : public SurfaceLayer {
 public:
  StretchLayer(SurfaceLayers source, int32_t sourceWidth, int32_t sourceHeight, const Stretch& stretch, bool opaque)
      : source_(std::move(source)), width_(sourceWidth), height_(sourceHeight), stretch_(stretch), opaque_(opaque) {}

  void Draw(uint32_t* pixels, int32_t width, int32_t height) const override {
    // A bare grey picture is stretched as it is; anything else is drawn first.
    if (source_.size() == 1) {
      if (const auto* grey = dynamic_cast<const GreyLayer*>(source_.front().get())) {
        const GreyPicture& p = grey->picture();
        if (p.width != width_ || p.height != height_) return;
        stretch_.Run(p.grey.data(), width_, height_, pixels, width, height);
        return;
      }
    }
    Scratch drawn(static_cast<size_t>(width_) * static_cast<size_t>(height_));
    for (const auto& layer : source_) layer->Draw(drawn.data(), width_, height_);
    stretch_.Run(drawn.data(), width_, height_, pixels, width, height);
  }
  bool Opaque() const override { return opaque_; }

 private:
  SurfaceLayers source_;
  int32_t width_, height_;
  Stretch stretch_;
  bool opaque_;
};

}  // namespace

void StretchCopy(const Surface& src, int32_t sx, int32_t sy, int32_t sw, int32_t sh, Surface& dst, int32_t dx,
                 int32_t dy, int32_t dw, int32_t dh) {
  if (sw <= 0 || sh <= 0 || dw <= 0 || dh <= 0) return;
  const Stretch stretch{sx, sy, sw, sh, dx, dy, dw, dh};
  const SurfaceLayers& pending = src.pixels.pending();
  if (&src != &dst && !pending.empty() && pending.front()->Opaque()) {
    // The source is still to be drawn, from data of its own: so is the copy.
    src.MakeOwned();
    const bool whole = sx == 0 && sy == 0 && dx == 0 && dy == 0 && sw == dw && sh == dh && sw == src.width &&
                       sh == src.height && src.width == dst.width && src.height == dst.height;
    if (whole) {
      for (const auto& layer : pending) dst.Lay(layer);
      return;
    }
    thread_local std::vector<int32_t> columns, rows;
    const StretchAxis cx = BuildAxis(sx, sw, src.width, dx, dw, dst.width, columns);
    const StretchAxis cy = BuildAxis(sy, sh, src.height, dy, dh, dst.height, rows);
    if (cx.first < cx.last && cy.first < cy.last) {
      dst.Lay(std::make_shared<StretchLayer>(pending, src.width, src.height, stretch,
                                             stretch.Covers(cx, cy, dst.width, dst.height)));
    } else {
      dst.Touch();
    }
    return;
  }
  const std::vector<uint32_t>& in = src.pixels.Settled();
  std::vector<uint32_t>& out = dst.pixels.Settled();
  stretch.Run(in.data(), src.width, src.height, out.data(), dst.width, dst.height);
  dst.Touch();
}

}  // namespace ostrelo
