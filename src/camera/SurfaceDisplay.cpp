#include "camera/SurfaceDisplay.h"

namespace ostrelo {

int32_t SurfaceDisplay::Init(int32_t) { return 1; }

void SurfaceDisplay::SetImage(int32_t, const uint8_t* pixels, int32_t width, int32_t height, int32_t, int32_t) {
  pixels_ = pixels;
  width_ = width;
  height_ = height;
  pending_ = pixels != nullptr && width > 0 && height > 0;
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
  for (int32_t y = 0; y < dh; ++y) {
    const uint8_t* src = pixels_ + static_cast<size_t>(static_cast<int64_t>(y) * height_ / dh) * width_;
    uint32_t* dst = target_.pixels.data() + static_cast<size_t>(y) * dw;
    for (int32_t x = 0; x < dw; ++x) dst[x] = GreyPixel(src[static_cast<int64_t>(x) * width_ / dw]);
  }
  target_.Touch();
}

void SurfaceDisplay::Deinit(int32_t*) { pixels_ = nullptr; pending_ = false; }

}  // namespace ostrelo
