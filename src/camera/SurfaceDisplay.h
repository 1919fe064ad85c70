#pragma once
// The display of the camera view: paints the whole grey picture stretched over the
// whole camera surface, dropping or repeating pixels.

#include <cstdint>

#include "camera/Display.h"
#include "shell/Surface.h"

namespace ostrelo {

class SurfaceDisplay final : public Display {
 public:
  explicit SurfaceDisplay(Surface& target) : target_(target) {}

  int32_t Init(int32_t windowHandle) override;
  void SetImage(int32_t display, const uint8_t* pixels, int32_t width, int32_t height, int32_t bitsPerPixel,
                int32_t pitch) override;
  void Update(int32_t display) override;
  void Deinit(int32_t* display) override;

 private:
  Surface& target_;
  const uint8_t* pixels_ = nullptr;
  int32_t width_ = 0, height_ = 0;
  bool pending_ = false;  // a picture was set and not yet painted
};

}  // namespace ostrelo
