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
  early_ = {};
}

void SurfaceDisplay::PrepareTables(const Geometry& g) {
  if (g == tablesFor_) return;
  tablesFor_ = g;
  // The grey level is the most significant byte of a little-endian pixel.
  const size_t msb = static_cast<size_t>(g.bytesPerPixel - 1);
  std::vector<uint32_t> columns(static_cast<size_t>(g.viewWidth));
  for (int32_t x = 0; x < g.viewWidth; ++x) {
    const auto column = static_cast<size_t>(static_cast<int64_t>(x) * g.width / g.viewWidth);
    columns[static_cast<size_t>(x)] = static_cast<uint32_t>(column * static_cast<size_t>(g.bytesPerPixel) + msb);
  }
  columns_.Prepare(std::move(columns), static_cast<size_t>(g.width) * static_cast<size_t>(g.bytesPerPixel));
  lineOffsets_.resize(static_cast<size_t>(g.viewHeight));
  for (int32_t y = 0; y < g.viewHeight; ++y) {
    const auto line = static_cast<size_t>(static_cast<int64_t>(y) * g.height / g.viewHeight);
    lineOffsets_[static_cast<size_t>(y)] = line * static_cast<size_t>(g.pitch);
  }
}

// The picture as the camera left it, read when the surface's borrowing ends (or when the
// view is read before that).
class SurfaceDisplay::BorrowedPicture final : public SurfaceLayer {
 public:
  BorrowedPicture(SurfaceDisplay& display, const uint8_t* pixels, const Geometry& g)
      : display_(display), pixels_(pixels), geometry_(g) {}
  void Draw(uint32_t* pixels, int32_t width, int32_t height) const override { Owned()->Draw(pixels, width, height); }
  bool Opaque() const override { return true; }
  std::shared_ptr<const SurfaceLayer> Owned() const override {
    return std::make_shared<GreyLayer>(display_.TakeView(pixels_, geometry_));
  }

 private:
  SurfaceDisplay& display_;
  const uint8_t* pixels_;
  Geometry geometry_;
};

void SurfaceDisplay::Update(int32_t) {
  // Only a newly set picture is painted: the pixels of an older one may belong to a
  // request the camera has taken back. The surface keeps the last painting.
  if (!pending_) {
    target_.Touch();
    return;
  }
  pending_ = false;
  const Geometry g{width_, height_, bytesPerPixel_, pitch_, target_.width, target_.height};
  if (g.viewWidth <= 0 || g.viewHeight <= 0) {
    target_.Touch();
    return;
  }
  early_ = {};
  if (target_.borrowing) {
    if (g.bytesPerPixel == 1) {
      PrepareTables(g);
      early_ = {pictures_.Free(), pixels_, g, 0};
      early_.view->width = g.viewWidth;
      early_.view->height = g.viewHeight;
      early_.view->grey.resize(static_cast<size_t>(g.viewWidth) * static_cast<size_t>(g.viewHeight));
    }
    target_.Lay(std::make_shared<BorrowedPicture>(*this, pixels_, g));
  } else {
    target_.Lay(std::make_shared<GreyLayer>(TakeView(pixels_, g)));
  }
}

LineObserver* SurfaceDisplay::PictureLines(int32_t) { return this; }

void SurfaceDisplay::Lines(int32_t first, int32_t count, const uint8_t* pixels, int64_t pitch) {
  EarlyView& e = early_;
  if (e.view == nullptr || count <= 0 || first < 0 || pitch != e.geometry.pitch) return;
  PrepareTables(e.geometry);
  const size_t firstByte = static_cast<size_t>(first) * static_cast<size_t>(pitch);
  const size_t endByte = firstByte + static_cast<size_t>(count) * static_cast<size_t>(pitch);
  // A view line above the band was not shown: it and those below it are taken at the end.
  if (e.lines >= e.geometry.viewHeight || lineOffsets_[static_cast<size_t>(e.lines)] < firstByte) return;
  int32_t to = e.lines;
  while (to < e.geometry.viewHeight && lineOffsets_[static_cast<size_t>(to)] < endByte) ++to;
  TakeLines(pixels, firstByte, e.geometry, *e.view, e.lines, to);
  e.lines = to;
}

std::shared_ptr<const GreyPicture> SurfaceDisplay::TakeView(const uint8_t* pixels, const Geometry& g) {
  PrepareTables(g);
  if (early_.view != nullptr && early_.pixels == pixels && early_.geometry == g) {
    std::shared_ptr<GreyPicture> view = std::move(early_.view);
    TakeLines(pixels, 0, g, *view, early_.lines, g.viewHeight);
    early_ = {};
    return view;
  }
  std::shared_ptr<GreyPicture> view = pictures_.Free();
  view->width = g.viewWidth;
  view->height = g.viewHeight;
  view->grey.resize(static_cast<size_t>(g.viewWidth) * static_cast<size_t>(g.viewHeight));
  TakeLines(pixels, 0, g, *view, 0, g.viewHeight);
  return view;
}

// View lines from to to (excluded); base holds the picture's byte baseOffset.
void SurfaceDisplay::TakeLines(const uint8_t* base, size_t baseOffset, const Geometry& g, GreyPicture& view,
                               int32_t from, int32_t to) {
  const int32_t dw = g.viewWidth;
  const size_t lineBytes = static_cast<size_t>(g.width) * static_cast<size_t>(g.bytesPerPixel);
  size_t previousLine = from > 0 ? lineOffsets_[static_cast<size_t>(from) - 1] : ~size_t{0};
  for (int32_t y = from; y < to; ++y) {
    const size_t line = lineOffsets_[static_cast<size_t>(y)];
    uint8_t* out = view.grey.data() + static_cast<size_t>(y) * dw;
    if (line == previousLine) {
      // Enlarged pictures repeat lines: copy the one just taken.
      std::memcpy(out, out - dw, static_cast<size_t>(dw));
      continue;
    }
    previousLine = line;
    // The buffer may not be in cache: ask for the next line while this one is read.
    if (y + 1 < to) {
      const uint8_t* next = base + (lineOffsets_[static_cast<size_t>(y) + 1] - baseOffset);
      for (size_t k = 0; k < lineBytes; k += 64) __builtin_prefetch(next + k);
    }
    columns_.Run(base + (line - baseOffset), out);
  }
}

void SurfaceDisplay::Deinit(int32_t*) {
  // The camera takes its buffers back after this.
  target_.MakeOwned();
  pixels_ = nullptr;
  pending_ = false;
}

}  // namespace ostrelo
