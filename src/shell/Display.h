#pragma once
// The display that paints camera pictures into the camera view.

#include <cstdint>

#include "shell/CameraDriver.h"

namespace ostrelo {

class Display {
 public:
  virtual ~Display() = default;
  // Binds a display to the window with this handle; returns the display handle.
  virtual int32_t Init(int32_t windowHandle) = 0;
  // The picture to show; the pixels must stay valid until the next SetImage.
  virtual void SetImage(int32_t display, const uint8_t* pixels, int32_t width, int32_t height, int32_t bitsPerPixel,
                        int32_t pitch) = 0;
  // Paints the whole picture stretched over the whole view.
  virtual void Update(int32_t display) = 0;
  // For a display that takes the picture's lines as a copy of it brings them into the
  // cache: the observer to show them to, from the first line down. nullptr otherwise.
  virtual LineObserver* PictureLines(int32_t /*display*/) { return nullptr; }
  virtual void Deinit(int32_t* display) = 0;
};

}  // namespace ostrelo
