#include "camera/SurfaceDisplay.h"

#include <cstring>

namespace ostrelo {

int32_t SurfaceDisplay::Init(int32_t) { return 1; }

void SurfaceDisplay::SetImage(int32_t, const uint8_t* pixels, int32_t width, int32_t height, int32_t bitsPerPixel,
                              int32_t pitch) {
  pixels_ = pixels;
  width_ = width;
  height_ = height;
  bytesPerPixel_ = bitsPerPixel > 8 ? (bitsPerPixel + 7) / 8 : 1;
  pitch_ = pitch > 0 ? pitch : width * bytesPerPixel_;
  pending_ = pixels != nullptr && width > 0 && height > 0 && pitch_ >= width * bytesPerPixel_;
}

void SurfaceDisplay::PrepareTables() {
  const Geometry g{width_, height_, bytesPerPixel_, pitch_, target_.width, target_.height};
  if (g == tablesFor_) return;
  tablesFor_ = g;
  // The grey level is the most significant byte of a little-endian pixel.
  const size_t msb = static_cast<size_t>(bytesPerPixel_ - 1);
  columnOffsets_.resize(static_cast<size_t>(g.viewWidth));
  for (int32_t x = 0; x < g.viewWidth; ++x) {
    const auto column = static_cast<size_t>(static_cast<int64_t>(x) * width_ / g.viewWidth);
    columnOffsets_[static_cast<size_t>(x)] = column * static_cast<size_t>(bytesPerPixel_) + msb;
  }
  lineOffsets_.resize(static_cast<size_t>(g.viewHeight));
  for (int32_t y = 0; y < g.viewHeight; ++y) {
    const auto line = static_cast<size_t>(static_cast<int64_t>(y) * height_ / g.viewHeight);
    lineOffsets_[static_cast<size_t>(y)] = line * static_cast<size_t>(pitch_);
  }
}

void SurfaceDisplay::Update(int32_t) {
  // Only a newly set picture is painted: the pixels of an older one may belong to a
  // request the camera has taken back. The surface keeps the last painting.
  if (!pending_) {
    target_.Touch();
    return;
  }
  pending_ = false;
  const int32_t dw = target_.width, dh = target_.height;
  if (dw > 0 && dh > 0) {
    PrepareTables();
    const size_t* columns = columnOffsets_.data();
    const uint32_t* previous = nullptr;
    size_t previousLine = ~size_t{0};
    for (int32_t y = 0; y < dh; ++y) {
      const size_t line = lineOffsets_[static_cast<size_t>(y)];
      uint32_t* out = target_.pixels.data() + static_cast<size_t>(y) * dw;
      if (line == previousLine) {
        // Enlarged pictures repeat lines: copy the one just painted.
        std::memcpy(out, previous, static_cast<size_t>(dw) * sizeof(uint32_t));
      } else {
        const uint8_t* in = pixels_ + line;
        for (int32_t x = 0; x < dw; ++x) out[x] = GreyPixel(in[columns[x]]);
        previousLine = line;
      }
      previous = out;
    }
  }
  target_.Touch();
}

void SurfaceDisplay::Deinit(int32_t*) {
  pixels_ = nullptr;
  pending_ = false;
}

}  // namespace ostrelo
