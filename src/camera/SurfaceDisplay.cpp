#include "camera/SurfaceDisplay.h"

#include <bit>
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
    columnOffsets_[static_cast<size_t>(x)] = static_cast<uint32_t>(column * static_cast<size_t>(bytesPerPixel_) + msb);
  }
  lineOffsets_.resize(static_cast<size_t>(g.viewHeight));
  for (int32_t y = 0; y < g.viewHeight; ++y) {
    const auto line = static_cast<size_t>(static_cast<int64_t>(y) * height_ / g.viewHeight);
    lineOffsets_[static_cast<size_t>(y)] = line * static_cast<size_t>(pitch_);
  }
}

std::shared_ptr<GreyPicture> SurfaceDisplay::FreePicture() {
  for (auto& p : pictures_) {
    if (p != nullptr && p.use_count() == 1) return p;
  }
  // All still shown somewhere: a new one, kept in place of the oldest.
  auto fresh = std::make_shared<GreyPicture>();
  pictures_[nextPicture_++ % pictures_.size()] = fresh;
  return fresh;
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
  if (dw <= 0 || dh <= 0) {
    target_.Touch();
    return;
  }
  PrepareTables();
  std::shared_ptr<GreyPicture> view = FreePicture();
  view->width = dw;
  view->height = dh;
  view->grey.resize(static_cast<size_t>(dw) * static_cast<size_t>(dh));
  const uint32_t* columns = columnOffsets_.data();
  const size_t lineBytes = static_cast<size_t>(width_) * static_cast<size_t>(bytesPerPixel_);
  size_t previousLine = ~size_t{0};
  for (int32_t y = 0; y < dh; ++y) {
    const size_t line = lineOffsets_[static_cast<size_t>(y)];
    uint8_t* out = view->grey.data() + static_cast<size_t>(y) * dw;
    if (line == previousLine) {
      // Enlarged pictures repeat lines: copy the one just taken.
      std::memcpy(out, out - dw, static_cast<size_t>(dw));
      continue;
    }
    previousLine = line;
    // The camera's fresh buffer is not in cache: ask for the next line while this one
    // is read.
    if (y + 1 < dh) {
      const uint8_t* next = pixels_ + lineOffsets_[static_cast<size_t>(y) + 1];
      for (size_t k = 0; k < lineBytes; k += 64) __builtin_prefetch(next + k);
    }
    const uint8_t* in = pixels_ + line;
    int32_t x = 0;
    // Eight at a time, put together for one store.
    for (; x + 8 <= dw; x += 8) {
      const uint32_t* c = columns + x;
      uint64_t eight = 0;
      for (int k = 0; k < 8; ++k) {
        const int shift = std::endian::native == std::endian::little ? 8 * k : 56 - 8 * k;
        eight |= uint64_t{in[c[k]]} << shift;
      }
      std::memcpy(out + x, &eight, sizeof eight);
    }
    for (; x < dw; ++x) out[x] = in[columns[x]];
  }
  target_.Lay(std::make_shared<GreyLayer>(std::move(view)));
}

void SurfaceDisplay::Deinit(int32_t*) {
  pixels_ = nullptr;
  pending_ = false;
}

}  // namespace ostrelo
