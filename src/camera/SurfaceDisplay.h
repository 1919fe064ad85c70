#pragma once
// The display of the camera view: paints the whole grey picture stretched over the
// whole camera surface, dropping or repeating pixels.
//
// Update takes the picture's grey levels at the view's size (at once, as the camera may
// take its buffer back right after, or at the end of a BorrowScope open on the surface)
// and lays them on the surface; they become 32-bit pixels only when the view is read.
// Inside a BorrowScope, the lines of an 8-bit picture shown through PictureLines are taken
// as they come, while the copy has them in the cache; the rest at the end of the scope.

#include <cstdint>
#include <memory>
#include <vector>

#include "camera/LineGather.h"
#include "shell/Display.h"
#include "shell/ReusePool.h"
#include "shell/Surface.h"

namespace ostrelo {

class SurfaceDisplay final : public Display, private LineObserver {
 public:
  explicit SurfaceDisplay(Surface& target) : target_(target) {}

  int32_t Init(int32_t windowHandle) override;
  // pitch: bytes from one line to the next, 0 for lines without padding. Pictures of
  // more than 8 bits per pixel are shown by their most significant byte (little endian).
  void SetImage(int32_t display, const uint8_t* pixels, int32_t width, int32_t height, int32_t bitsPerPixel,
                int32_t pitch) override;
  void Update(int32_t display) override;
  LineObserver* PictureLines(int32_t display) override;
  void Deinit(int32_t* display) override;

 private:
  struct Geometry {
    int32_t width = -1, height = -1, bytesPerPixel = 0, pitch = 0, viewWidth = -1, viewHeight = -1;
    bool operator==(const Geometry&) const = default;
  };
  class BorrowedPicture;
  void PrepareTables(const Geometry& g);
  // The picture's grey levels at the view's size.
  std::shared_ptr<const GreyPicture> TakeView(const uint8_t* pixels, const Geometry& g);
  void TakeLines(const uint8_t* base, size_t baseOffset, const Geometry& g, GreyPicture& view, int32_t from,
                 int32_t to);
  void Lines(int32_t first, int32_t count, const uint8_t* pixels, int64_t pitch) override;

  Surface& target_;
  const uint8_t* pixels_ = nullptr;
  int32_t width_ = 0, height_ = 0, bytesPerPixel_ = 1, pitch_ = 0;
  bool pending_ = false;  // a picture was set and not yet painted

  // Source byte offset of each view column and of each view line; rebuilt only when
  // the picture's or the view's geometry changes.
  LineGather columns_;
  std::vector<size_t> lineOffsets_;
  // Grey pictures for the view: one that no pending drawing holds any more is reused.
  ReusePool<GreyPicture, 3> pictures_;
  Geometry tablesFor_;
  // The view of the borrowed picture, taken down to line `lines` while the copy showed it.
  struct EarlyView {
    std::shared_ptr<GreyPicture> view;
    const uint8_t* pixels = nullptr;
    Geometry geometry;
    int32_t lines = 0;
  };
  EarlyView early_;
};

}  // namespace ostrelo
