#include "shots/BitmapWriter.h"

#include <gtest/gtest.h>

#include "shell/ProgramError.h"
#include "shots/ShotsTestSupport.h"
#include "support/TestRig.h"

namespace ostrelo {
namespace {

using testing::ReadBmp;
using testing::ReadFile;
using testing::Rig;
using testing::TempFolder;

// A frame as start-up and a grab leave it: the grey ramp palette and a pattern in
// which neighbouring pixels differ, so a shifted or flipped row shows.
void PrepareFrame(AcquisitionState& st, int32_t width, int32_t height, uint8_t seed = 0) {
  for (int i = 0; i < 256; ++i) {
    const auto v = static_cast<uint8_t>(i);
    st.GreyPalette[i] = PaletteEntry{v, v, v, 0};
  }
  st.ImageWidth = width;
  st.ImageHeight = height;
  st.FrameByteCount = width * height;
  st.FrameBytes.assign(static_cast<size_t>(st.FrameByteCount) + 1, 0);
  for (int32_t r = 0; r < height; ++r) {
    for (int32_t c = 0; c < width; ++c) {
      st.FrameBytes[static_cast<size_t>(r) * width + c] = static_cast<uint8_t>(r * 31 + c * 7 + seed);
    }
  }
}

void SetArea(AcquisitionState& st, int32_t left, int32_t top, int32_t width, int32_t height) {
  st.AoiLeft = left;
  st.AoiTop = top;
  st.AoiWidth = width;
  st.AoiHeight = height;
}

struct SizeCase {
  int32_t frameWidth, frameHeight;
  int32_t left, top, width, height;
  uint32_t rowBytes, fileSize, dataSize;
};

class BitmapLayoutTest : public ::testing::TestWithParam<SizeCase> {};

TEST_P(BitmapLayoutTest, WritesTheTableByteForByte) {
  const SizeCase& k = GetParam();
  Rig rig;
  TempFolder folder;
  AcquisitionState& st = rig.form.st;
  PrepareFrame(st, k.frameWidth, k.frameHeight);
  SetArea(st, k.left, k.top, k.width, k.height);
  const std::string name = folder / "area.bmp";
  SaveAoiBitmap(rig.form, name);

  const std::string b = ReadFile(name);
  ASSERT_EQ(b.size(), k.fileSize);
  EXPECT_EQ(BmpRowBytes(k.width), k.rowBytes);
  // The 54 header bytes, field by field.
  EXPECT_EQ(testing::Le16(b, 0), 19778);
  EXPECT_EQ(testing::Le32(b, 2), k.fileSize);
  EXPECT_EQ(testing::Le16(b, 6), 0);
  EXPECT_EQ(testing::Le16(b, 8), 0);
  EXPECT_EQ(testing::Le32(b, 10), 1078u);
  EXPECT_EQ(testing::Le32(b, 14), 40u);
  EXPECT_EQ(testing::Le32(b, 18), static_cast<uint32_t>(k.width));
  EXPECT_EQ(testing::Le32(b, 22), static_cast<uint32_t>(k.height));
  EXPECT_EQ(testing::Le16(b, 26), 1);
  EXPECT_EQ(testing::Le16(b, 28), 8);
  EXPECT_EQ(testing::Le32(b, 30), 0u);
  EXPECT_EQ(testing::Le32(b, 34), k.dataSize);
  EXPECT_EQ(testing::Le32(b, 38), 3780u);
  EXPECT_EQ(testing::Le32(b, 42), 3780u);
  EXPECT_EQ(testing::Le32(b, 46), 0u);
  EXPECT_EQ(testing::Le32(b, 50), 0u);
  // Palette: entry i is i, i, i, 0.
  EXPECT_EQ(b.substr(54, 4), std::string("\0\0\0\0", 4));
  EXPECT_EQ(b.substr(1074, 4), std::string("\xFF\xFF\xFF\0", 4));
  for (int i = 0; i < 256; ++i) {
    ASSERT_EQ(b.substr(54 + 4 * i, 4), std::string({char(i), char(i), char(i), '\0'})) << "palette entry " << i;
  }
  // Rows bottom-up, each padded with zeros to the row size.
  for (int32_t k2 = 0; k2 < k.height; ++k2) {
    const size_t rowAt = 1078 + static_cast<size_t>(k2) * k.rowBytes;
    const int32_t line = k.top + k.height - 1 - k2;
    for (int32_t i = 0; i < k.width; ++i) {
      ASSERT_EQ(static_cast<uint8_t>(b[rowAt + i]),
                st.FrameBytes[static_cast<size_t>(line) * k.frameWidth + k.left + i])
          << "file row " << k2 << " byte " << i;
    }
    for (uint32_t i = k.width; i < k.rowBytes; ++i) ASSERT_EQ(b[rowAt + i], '\0') << "pad of file row " << k2;
  }
  // Byte 1078: the bottom-left pixel of the area; the last row: its top line.
  EXPECT_EQ(static_cast<uint8_t>(b[1078]),
            st.FrameBytes[static_cast<size_t>(k.top + k.height - 1) * k.frameWidth + k.left]);
  EXPECT_EQ(b.compare(b.size() - k.rowBytes, k.width,
                      reinterpret_cast<const char*>(&st.FrameBytes[static_cast<size_t>(k.top) * k.frameWidth + k.left]),
                      k.width),
            0);

  // An independent reading shows the area upright with the frame's grey levels.
  const testing::BmpPicture p = ReadBmp(b);
  ASSERT_EQ(p.width, k.width);
  ASSERT_EQ(p.height, k.height);
  for (int32_t r = 0; r < k.height; ++r) {
    for (int32_t c = 0; c < k.width; ++c) {
      ASSERT_EQ(p.pixels[static_cast<size_t>(r) * k.width + c],
                st.FrameBytes[static_cast<size_t>(k.top + r) * k.frameWidth + k.left + c])
          << "line " << r << " column " << c;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Areas, BitmapLayoutTest,
                         ::testing::Values(SizeCase{640, 480, 0, 0, 640, 480, 640, 308278, 307200},  // no pad bytes
                                           SizeCase{5, 3, 0, 0, 5, 3, 8, 1102, 24},  // 3 pad bytes a row
                                           SizeCase{1, 1, 0, 0, 1, 1, 4, 1082, 4},
                                           SizeCase{64, 48, 13, 7, 5, 3, 8, 1102, 24},  // not at the origin
                                           SizeCase{64, 48, 0, 0, 64, 48, 64, 1078 + 64 * 48, 64 * 48},
                                           SizeCase{64, 48, 57, 40, 7, 8, 8, 1078 + 64, 64},  // touching the far corner
                                           SizeCase{1280, 1024, 3, 5, 1277, 1019, 1280, 1078 + 1280 * 1019,
                                                    1280 * 1019}));

TEST(BitmapWriter, ShowsTheBusyPointerOnlyWhileWriting) {
  Rig rig;
  TempFolder folder;
  PrepareFrame(rig.form.st, 8, 8);
  SetArea(rig.form.st, 0, 0, 8, 8);
  SaveAoiBitmap(rig.form, folder / "a.bmp");
  EXPECT_EQ(rig.dialogs.busyChanges, (std::vector<bool>{true, false}));
}

TEST(BitmapWriter, OverwritingALongerFileLeavesNoTail) {
  Rig rig;
  TempFolder folder;
  const std::string name = folder / "same.bmp";
  PrepareFrame(rig.form.st, 640, 480);
  SetArea(rig.form.st, 0, 0, 640, 480);
  SaveAoiBitmap(rig.form, name);
  SetArea(rig.form.st, 2, 2, 5, 3);
  SaveAoiBitmap(rig.form, name);
  const std::string b = ReadFile(name);
  EXPECT_EQ(b.size(), 1102u);
  EXPECT_EQ(testing::Le32(b, 2), 1102u);
  EXPECT_EQ(testing::FolderContent(folder.path()), std::vector<std::string>{"same.bmp"});
}

TEST(BitmapWriter, PadBytesStayZeroWhenTheBufferIsReused) {
  Rig rig;
  TempFolder folder;
  AcquisitionState& st = rig.form.st;
  PrepareFrame(st, 16, 4);
  std::fill(st.FrameBytes.begin(), st.FrameBytes.end(), 0xFF);
  SetArea(st, 0, 0, 16, 4);  // fills the reused buffer with 0xFF
  SaveAoiBitmap(rig.form, folder / "wide.bmp");
  SetArea(st, 0, 0, 13, 4);  // 3 pad bytes a row
  SaveAoiBitmap(rig.form, folder / "narrow.bmp");
  const std::string b = ReadFile(folder / "narrow.bmp");
  ASSERT_EQ(b.size(), 1078u + 16 * 4);
  for (int row = 0; row < 4; ++row) {
    EXPECT_EQ(b.substr(1078 + 16 * row + 13, 3), std::string(3, '\0')) << "row " << row;
  }
}

struct BadArea {
  int32_t left, top, width, height;
  const char* why;
};
class AreaOutsideFrameTest : public ::testing::TestWithParam<BadArea> {};

TEST_P(AreaOutsideFrameTest, IsRefusedWithoutReadingOutsideTheFrame) {
  const BadArea& a = GetParam();
  Rig rig;
  TempFolder folder;
  PrepareFrame(rig.form.st, 32, 24);
  SetArea(rig.form.st, a.left, a.top, a.width, a.height);
  try {
    SaveAoiBitmap(rig.form, folder / "bad.bmp");
    ADD_FAILURE() << "accepted: " << a.why;
  } catch (const ProgramError& e) {
    EXPECT_EQ(e.number(), ErrorNumber::kAreaOutsideFrame) << a.why;
  }
  EXPECT_TRUE(testing::FolderContent(folder.path()).empty()) << a.why;
  EXPECT_FALSE(rig.dialogs.busy) << a.why;
}

INSTANTIATE_TEST_SUITE_P(Areas, AreaOutsideFrameTest,
                         ::testing::Values(BadArea{0, 0, 0, 10, "zero width"}, BadArea{0, 0, 10, 0, "zero height"},
                                           BadArea{-1, 0, 10, 10, "left of the frame"},
                                           BadArea{0, -1, 10, 10, "above the frame"},
                                           BadArea{23, 0, 10, 10, "past the right edge"},
                                           BadArea{0, 15, 10, 10, "past the bottom"},
                                           BadArea{0, 0, 33, 24, "wider than the frame"},
                                           BadArea{2147483647, 0, 1, 1, "left at the 32-bit limit"},
                                           BadArea{0, 0, 2147483647, 2147483647, "size at the 32-bit limit"}));

TEST(BitmapWriter, RefusesAPictureLargerThanTheBufferSizedAtStartUp) {
  Rig rig;
  TempFolder folder;
  PrepareFrame(rig.form.st, 32, 24);
  // The camera now reports a taller picture than the buffer holds.
  rig.form.st.ImageHeight = 48;
  SetArea(rig.form.st, 0, 20, 32, 10);
  EXPECT_THROW(SaveAoiBitmap(rig.form, folder / "bad.bmp"), ProgramError);
  EXPECT_TRUE(testing::FolderContent(folder.path()).empty());
}

TEST(BitmapWriter, AMissingFolderIsReportedAndThePointerRestored) {
  Rig rig;
  TempFolder folder;
  PrepareFrame(rig.form.st, 8, 8);
  SetArea(rig.form.st, 0, 0, 8, 8);
  try {
    SaveAoiBitmap(rig.form, folder / "gone/a.bmp");
    ADD_FAILURE() << "no error";
  } catch (const ProgramError& e) {
    EXPECT_EQ(e.number(), ErrorNumber::kPathNotFound);
    EXPECT_NE(e.description().find("gone/a.bmp"), std::string::npos) << e.description();
  }
  EXPECT_EQ(rig.dialogs.busyChanges, (std::vector<bool>{true, false}));
}

TEST(BitmapWriter, AFailedRewriteKeepsTheEarlierPictureWhole) {
  if (!testing::kChildProcesses) GTEST_SKIP() << "a child process of its own";
  TempFolder folder;
  const std::string name = folder / "keep.bmp";
  std::string before;
  {
    Rig rig;
    PrepareFrame(rig.form.st, 64, 64, 1);
    SetArea(rig.form.st, 0, 0, 64, 64);
    SaveAoiBitmap(rig.form, name);
    before = ReadFile(name);
  }
  testing::RunInChild([&] {
    Rig rig;
    PrepareFrame(rig.form.st, 64, 64, 2);
    SetArea(rig.form.st, 0, 0, 64, 64);
    testing::LimitFileSize(2000);  // the new picture stops half-way
    try {
      SaveAoiBitmap(rig.form, name);
      ADD_FAILURE() << "no error";
    } catch (const ProgramError& e) {
      EXPECT_EQ(e.number(), ErrorNumber::kDiskFull);
    }
    EXPECT_FALSE(rig.dialogs.busy);
  });
  EXPECT_EQ(ReadFile(name), before);
  EXPECT_EQ(testing::FolderContent(folder.path()), std::vector<std::string>{"keep.bmp"});
}

}  // namespace
}  // namespace ostrelo
