// The nearest-neighbour stretches: the camera display and the copy between surfaces.

#include <gtest/gtest.h>

#include <ostream>
#include <vector>

#include "camera/SurfaceDisplay.h"
#include "shell/Surface.h"

namespace ostrelo {
namespace {

// A surface whose every pixel tells where it is.
Surface Numbered(int32_t w, int32_t h) {
  Surface s;
  s.Resize(w, h, 0);
  for (int32_t y = 0; y < h; ++y) {
    for (int32_t x = 0; x < w; ++x) s.pixels[static_cast<size_t>(y) * w + x] = 0xFF000000u | (y << 12) | x;
  }
  return s;
}
uint32_t Tag(int32_t x, int32_t y) { return 0xFF000000u | (y << 12) | x; }
constexpr uint32_t kBlank = 0xFF0000FFu;

struct StretchCase {
  const char* name;
  friend std::ostream& operator<<(std::ostream& os, const StretchCase& c) { return os << c.name; }
  int32_t sx, sy, sw, sh, dx, dy, dw, dh;
};
class StretchCopyTest : public ::testing::TestWithParam<StretchCase> {};

// Every destination pixel inside both surfaces takes the source pixel at
// (sx + i * sw / dw, sy + j * sh / dh); every other pixel is left alone.
TEST_P(StretchCopyTest, DropsOrRepeatsPixelsAndSkipsWhatLiesOutside) {
  const StretchCase& c = GetParam();
  const Surface src = Numbered(40, 30);
  Surface dst;
  dst.Resize(50, 35, kBlank);
  const uint64_t revision = dst.revision;
  StretchCopy(src, c.sx, c.sy, c.sw, c.sh, dst, c.dx, c.dy, c.dw, c.dh);
  EXPECT_GT(dst.revision, revision);
  for (int32_t y = 0; y < dst.height; ++y) {
    for (int32_t x = 0; x < dst.width; ++x) {
      const int32_t i = x - c.dx, j = y - c.dy;
      uint32_t expected = kBlank;
      if (i >= 0 && j >= 0 && i < c.dw && j < c.dh) {
        const int32_t fx = c.sx + i * c.sw / c.dw, fy = c.sy + j * c.sh / c.dh;
        if (fx >= 0 && fy >= 0 && fx < src.width && fy < src.height) expected = Tag(fx, fy);
      }
      ASSERT_EQ(dst.At(x, y), expected) << "at " << x << "," << y;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Rectangles, StretchCopyTest,
                         ::testing::Values(StretchCase{"SameSize", 0, 0, 40, 30, 0, 0, 40, 30},
                                           StretchCase{"Enlarge", 5, 4, 7, 6, 0, 0, 50, 35},
                                           StretchCase{"Reduce", 0, 0, 40, 30, 3, 2, 13, 7},
                                           StretchCase{"SameWidthOffset", 10, 3, 20, 10, 25, 20, 20, 20},
                                           StretchCase{"SourceRunsOff", 30, 25, 20, 10, 0, 0, 40, 20},
                                           StretchCase{"SourceStartsBefore", -10, -5, 20, 20, 0, 0, 40, 40},
                                           StretchCase{"DestinationRunsOff", 0, 0, 40, 30, 30, 20, 40, 30},
                                           StretchCase{"DestinationStartsBefore", 0, 0, 40, 30, -20, -10, 40, 30},
                                           StretchCase{"AllOutside", 100, 100, 5, 5, 0, 0, 10, 10}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(StretchCopy, EmptyRectangleCopiesNothing) {
  const Surface src = Numbered(4, 4);
  Surface dst;
  dst.Resize(4, 4, kBlank);
  StretchCopy(src, 0, 0, 0, 4, dst, 0, 0, 4, 4);
  StretchCopy(src, 0, 0, 4, 4, dst, 0, 0, 4, -1);
  EXPECT_EQ(dst.pixels, std::vector<uint32_t>(16, kBlank));
}

struct DisplayCase {
  const char* name;
  friend std::ostream& operator<<(std::ostream& os, const DisplayCase& c) { return os << c.name; }
  int32_t width, height, viewWidth, viewHeight;
};
class SurfaceDisplayTest : public ::testing::TestWithParam<DisplayCase> {};

TEST_P(SurfaceDisplayTest, PaintsTheWholePictureOverTheWholeView) {
  const DisplayCase& c = GetParam();
  std::vector<uint8_t> picture(static_cast<size_t>(c.width) * c.height);
  for (size_t i = 0; i < picture.size(); ++i) picture[i] = static_cast<uint8_t>(i * 37 % 256);
  Surface view;
  view.Resize(c.viewWidth, c.viewHeight, kBlank);
  SurfaceDisplay display(view);
  const int32_t handle = display.Init(101);
  display.SetImage(handle, picture.data(), c.width, c.height, 8, 0);
  display.Update(handle);
  for (int32_t y = 0; y < c.viewHeight; ++y) {
    for (int32_t x = 0; x < c.viewWidth; ++x) {
      const size_t source = static_cast<size_t>(y * c.height / c.viewHeight) * c.width + x * c.width / c.viewWidth;
      ASSERT_EQ(view.At(x, y), GreyPixel(picture[source])) << "at " << x << "," << y;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Sizes, SurfaceDisplayTest,
                         ::testing::Values(DisplayCase{"Reduce", 1280, 1024, 456, 342},
                                           DisplayCase{"Enlarge", 17, 9, 456, 342},
                                           DisplayCase{"Wide", 10240, 16, 456, 342},
                                           DisplayCase{"OnePixel", 1, 1, 5, 3}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SurfaceDisplay, SixteenBitPicturesShowTheirHighByteAndLinePitchIsHonoured) {
  // 2 x 2 pixels of 16 bits, lines padded to 6 bytes.
  const uint8_t picture[] = {0x11, 0xA0, 0x22, 0xB0, 0xEE, 0xEE, 0x33, 0xC0, 0x44, 0xD0, 0xEE, 0xEE};
  Surface view;
  view.Resize(2, 2, kBlank);
  SurfaceDisplay display(view);
  display.SetImage(1, picture, 2, 2, 16, 6);
  display.Update(1);
  EXPECT_EQ(view.pixels, (std::vector<uint32_t>{GreyPixel(0xA0), GreyPixel(0xB0), GreyPixel(0xC0), GreyPixel(0xD0)}));
}

TEST(SurfaceDisplay, RepaintWithoutNewPictureKeepsThePaintingAndReadsNothing) {
  std::vector<uint8_t> picture(4, 200);
  Surface view;
  view.Resize(2, 2, kBlank);
  SurfaceDisplay display(view);
  display.SetImage(1, picture.data(), 2, 2, 8, 0);
  display.Update(1);
  // The request behind the pixels is given back; a later repaint must not read them.
  picture.assign(4, 7);
  const uint64_t revision = view.revision;
  display.Update(1);
  EXPECT_EQ(view.pixels, std::vector<uint32_t>(4, GreyPixel(200)));
  EXPECT_GT(view.revision, revision);
}

}  // namespace
}  // namespace ostrelo
