#pragma once
// A drawing surface of the window model: the inner area of a picture box as 32-bit
// pixels laid out as 0xFFRRGGBB, lines top first, so the view can show it as it is.
//
// The live view redraws its surfaces at every grab, and most of that drawing is never
// looked at (the overlay is hidden, a covered window paints nothing). So a surface may
// hold drawings not yet done, its pending layers, each made only of data of its own.
// Every access to the pixels first finishes them: what a reader sees is exactly what
// drawing at once would have given, only the time of the work moves.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace ostrelo {

// Colours as the window's properties hold them: red in the low byte (255 red, 65280 green).
using VbColour = uint32_t;
inline constexpr VbColour kVbRed = 255;
inline constexpr VbColour kVbGreen = 65280;
inline constexpr VbColour Rgb(uint32_t r, uint32_t g, uint32_t b) { return r | (g << 8) | (b << 16); }

// Pixel value on a surface for a property colour.
inline constexpr uint32_t PixelFromVb(VbColour c) {
  return 0xFF000000u | ((c & 0xFFu) << 16) | (c & 0xFF00u) | ((c >> 16) & 0xFFu);
}
inline constexpr uint32_t GreyPixel(uint8_t g) { return 0xFF000000u | (uint32_t{g} * 0x010101u); }

// A drawing kept until the pixels are read. It holds everything it draws from, except
// inside a BorrowScope (below).
class SurfaceLayer {
 public:
  virtual ~SurfaceLayer() = default;
  // Draws onto the pixels of a width x height surface (its size when it was laid).
  virtual void Draw(uint32_t* pixels, int32_t width, int32_t height) const = 0;
  // Whether it sets every pixel, so that nothing under it can show.
  virtual bool Opaque() const = 0;
  // For a layer that reads memory it does not own (see BorrowScope): the same drawing
  // with a copy of what it needs. nullptr for a layer that owns its data.
  virtual std::shared_ptr<const SurfaceLayer> Owned() const { return nullptr; }
};
using SurfaceLayers = std::vector<std::shared_ptr<const SurfaceLayer>>;

// The pixels of a surface, width * height of them. Reading or writing them through any
// member below first draws the pending layers, oldest first.
class SurfacePixels {
 public:
  using value_type = uint32_t;
  using size_type = size_t;
  using iterator = std::vector<uint32_t>::iterator;
  using const_iterator = std::vector<uint32_t>::const_iterator;

  SurfacePixels() = default;
  SurfacePixels(const SurfacePixels& other) : v_(other.Settled()) {}
  SurfacePixels& operator=(const SurfacePixels& other);
  SurfacePixels(SurfacePixels&&) noexcept = default;
  SurfacePixels& operator=(SurfacePixels&&) noexcept = default;

  const std::vector<uint32_t>& Settled() const {
    if (!pending_.empty()) Settle();
    return v_;
  }
  std::vector<uint32_t>& Settled() {
    if (!pending_.empty()) Settle();
    return v_;
  }
  operator const std::vector<uint32_t>&() const { return Settled(); }

  const uint32_t* data() const { return Settled().data(); }
  uint32_t* data() { return Settled().data(); }
  size_t size() const { return v_.size(); }
  bool empty() const { return v_.empty(); }
  const_iterator begin() const { return Settled().begin(); }
  const_iterator end() const { return Settled().end(); }
  iterator begin() { return Settled().begin(); }
  iterator end() { return Settled().end(); }
  const uint32_t& operator[](size_t i) const { return Settled()[i]; }
  uint32_t& operator[](size_t i) { return Settled()[i]; }
  // Every pixel set to one value; pending layers are dropped, not drawn.
  void assign(size_t count, uint32_t pixel);

  friend bool operator==(const SurfacePixels& a, const SurfacePixels& b) { return a.Settled() == b.Settled(); }
  friend bool operator==(const SurfacePixels& a, const std::vector<uint32_t>& b) { return a.Settled() == b; }

  // The drawings not yet done, oldest first.
  const SurfaceLayers& pending() const { return pending_; }
  // The pixels about to be overwritten whole: pending layers dropped, not drawn.
  std::vector<uint32_t>& Discarded() {
    pending_.clear();
    return v_;
  }

 private:
  friend struct Surface;
  void Settle() const;

  mutable std::vector<uint32_t> v_;
  mutable SurfaceLayers pending_;
  int32_t width_ = 0, height_ = 0;  // the size the pending layers were laid for
};

struct Surface {
  int32_t width = 0;
  int32_t height = 0;
  SurfacePixels pixels;
  // Bumped by every change, so a view repaints only surfaces that changed.
  uint64_t revision = 0;

  void Resize(int32_t w, int32_t h, uint32_t fill);
  void Fill(uint32_t pixel);
  // A dot of drawWidth x drawWidth pixels centred on (x, y), clipped to the surface.
  void Point(int32_t x, int32_t y, uint32_t pixel, int32_t drawWidth);
  // A straight line from (x0, y0) to (x1, y1), both ends included, clipped.
  void Line(int32_t x0, int32_t y0, int32_t x1, int32_t y1, uint32_t pixel, int32_t drawWidth = 1);
  uint32_t At(int32_t x, int32_t y) const { return pixels[static_cast<size_t>(y) * width + x]; }
  void Touch() { ++revision; }
  // A drawing to be done when the pixels are next read; a change like any other. An
  // opaque one replaces whatever was pending.
  void Lay(std::shared_ptr<const SurfaceLayer> layer);
  // Pending layers that read memory the surface does not own take a copy of it (what
  // they draw stays the same).
  void MakeOwned() const;

  // While a BorrowScope is open, layers may read memory owned by someone else.
  bool borrowing = false;
};

// Lets a surface hold drawings that read memory it does not own, until the scope ends:
// then they take a copy of what they need. The grab opens one over the camera view from
// the display's painting to the frame copy, so the display reads the camera's buffer
// once the copy has brought it into the cache, still before the camera may take it back.
class BorrowScope {
 public:
  explicit BorrowScope(Surface* surface);
  ~BorrowScope() { End(); }
  BorrowScope(const BorrowScope&) = delete;
  BorrowScope& operator=(const BorrowScope&) = delete;
  void End();

 private:
  Surface* surface_;
};

// Surface::Point and Surface::Line on bare pixels.
void DrawDot(uint32_t* pixels, int32_t width, int32_t height, int32_t x, int32_t y, uint32_t pixel, int32_t drawWidth);
void DrawLine(uint32_t* pixels, int32_t width, int32_t height, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
              uint32_t pixel, int32_t drawWidth = 1);

// A grey picture of a surface's size, one byte per pixel, lines top first.
struct GreyPicture {
  int32_t width = 0, height = 0;
  std::vector<uint8_t> grey;
};

// Shows a grey picture of the surface's own size.
class GreyLayer final : public SurfaceLayer {
 public:
  explicit GreyLayer(std::shared_ptr<const GreyPicture> picture) : picture_(std::move(picture)) {}
  void Draw(uint32_t* pixels, int32_t width, int32_t height) const override;
  bool Opaque() const override { return true; }
  const GreyPicture& picture() const { return *picture_; }

 private:
  std::shared_ptr<const GreyPicture> picture_;
};

// Copies a source rectangle onto a destination rectangle, scaling it to fit by
// dropping or repeating pixels (no blending): destination offset (i, j) takes source
// pixel (sx + i * sw / dw, sy + j * sh / dh), integer division. Parts of either
// rectangle outside its surface are skipped. A source still to be drawn is not drawn
// for it: the destination gets the copy as a pending layer.
void StretchCopy(const Surface& src, int32_t sx, int32_t sy, int32_t sw, int32_t sh, Surface& dst, int32_t dx,
                 int32_t dy, int32_t dw, int32_t dh);

}  // namespace ostrelo
