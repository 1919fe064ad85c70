#pragma once
// The display of the camera view: paints the whole grey picture stretched over the
// whole camera surface, dropping or repeating pixels.

#include <cstdint>
#include <vector>

#include "camera/Display.h"
#include "shell/Surface.h"

namespace ostrelo {

class SurfaceDisplay final : public Display {
 public:
  explicit SurfaceDisplay(Surface& target) : target_(target) {}

  int32_t Init(int32_t windowHandle) override;
  // pitch: bytes from one line to the next, 0 for lines without padding. Pictures of
  // more than 8 bits per pixel are shown by their most significant byte (little endian).
  void SetImage(int32_t display, const uint8_t* pixels, int32_t width, int32_t height, int32_t bitsPerPixel,
                int32_t pitch) override;
  void Update(int32_t display) override;
  void Deinit(int32_t* display) override;

 private:
  void PrepareTables();

  Surface& target_;
  const uint8_t* pixels_ = nullptr;
  int32_t width_ = 0, height_ = 0, bytesPerPixel_ = 1, pitch_ = 0;
  bool pending_ = false;  // a picture was set and not yet painted

  // Source byte offset of each view column and of each view line; rebuilt only when
  // the picture's or the view's geometry changes.
  std::vector<size_t> columnOffsets_, lineOffsets_;
  struct Geometry {
    int32_t width = -1, height = -1, bytesPerPixel = 0, pitch = 0, viewWidth = -1, viewHeight = -1;
    bool operator==(const Geometry&) const = default;
  } tablesFor_;
};

}  // namespace ostrelo
