// The shot with the real frame grab and DAQ reading behind it: what is grabbed is what
// is saved and recorded, in the order stamp, count, labels, grab, picture, record.

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "camera/GrabFrame.h"
#include "shell/ProgramError.h"
#include "shots/SeriesTestSupport.h"
#include "shots/ShotProcedure.h"

namespace ostrelo {
namespace {

using testing::ReadFile;
using testing::SeriesRig;

// Pixel (r, c) of frame k: differs between frames, lines and columns.
uint8_t Painted(int32_t r, int32_t c, uint64_t k) { return static_cast<uint8_t>(r * 5 + c * 3 + k * 101); }

struct GrabSeen {
  int32_t shotCounter = -1;
  std::string number, picture;
  bool pictureExists = true;
  std::string record;
  int64_t steadyMs = -1;
};

TEST(ShotWithGrab, StampCountAndLabelsComeBeforeTheGrabPictureAndRecordAfter) {
  SeriesRig s(LocalTime{2011, 3, 25, 12, 34, 56, 45296.53});
  s.AnswerDialog();
  ChooseShotFile(s.form());
  // An area away from the origin, to see the right pixels saved.
  AcquisitionState& st = s.form().st;
  st.AoiLeft = 7;
  st.AoiTop = 5;
  st.AoiWidth = 13;
  st.AoiHeight = 9;

  GrabSeen seen;
  s.rig.camera.SetPainter([&](uint8_t* pixels, int32_t w, int32_t h, uint64_t k) {
    for (int32_t r = 0; r < h; ++r) {
      for (int32_t c = 0; c < w; ++c) pixels[static_cast<size_t>(r) * w + c] = Painted(r, c, k);
    }
    seen.shotCounter = s.form().ShotCounter;
    seen.number = s.form().ui.RafLabel.caption;
    seen.picture = s.form().ui.Label1.caption;
    seen.pictureExists = std::filesystem::exists(s.Picture(1));
    seen.record = ReadFile(s.Record());
    seen.steadyMs = s.rig.clock.SteadyMs();
  });
  // Acquisition on: the four reads take their time on the clock, after the stamp.
  st.DaqAcquisitionOn = true;
  s.rig.daq.script.constantVolts = {1.5, -1.5, 0.25, 0.0};
  for (auto& c : st.ChannelTable) c.Value = 99.0;  // what an earlier grab left
  const uint64_t framesBefore = s.rig.camera.framesDelivered();

  TakeShot(s.form());

  EXPECT_EQ(seen.shotCounter, 1);
  EXPECT_EQ(seen.number, "0001");
  EXPECT_EQ(seen.picture, " " + s.Picture(1));
  EXPECT_FALSE(seen.pictureExists);
  EXPECT_EQ(seen.record, "");
  EXPECT_GT(s.rig.clock.SteadyMs(), seen.steadyMs) << "the DAQ reads take time after the grab";

  // The stamp is the clock before the grab; the voltages are the ones this grab read.
  EXPECT_EQ(ReadFile(s.Record()),
            "Image \tTime\tCanal 0 (Volts)\tCanal 1 (Volts)\tCanal 2 (Volts)\tCanal 3 (Volts)\r\n" + s.Picture(1) +
                "\t2011032545296.53\t01.500\t-01.500\t00.250\t-00.000\r\n");

  // The picture is the area of the frame this grab brought, upright.
  const uint64_t k = s.rig.camera.framesDelivered() - 1;
  ASSERT_GT(s.rig.camera.framesDelivered(), framesBefore);
  const testing::BmpPicture p = testing::ReadBmp(ReadFile(s.Picture(1)));
  ASSERT_EQ(p.width, 13);
  ASSERT_EQ(p.height, 9);
  for (int32_t r = 0; r < 9; ++r) {
    for (int32_t c = 0; c < 13; ++c) {
      ASSERT_EQ(p.pixels[static_cast<size_t>(r) * 13 + c], Painted(5 + r, 7 + c, k)) << r << "," << c;
      ASSERT_EQ(p.pixels[static_cast<size_t>(r) * 13 + c],
                st.FrameBytes[static_cast<size_t>(5 + r) * st.ImageWidth + 7 + c]);
    }
  }
}

TEST(ShotWithGrab, ACameraWithoutPictureLeavesTheShotUntakenInsteadOfSavingTheLastFrame) {
  SeriesRig s;
  s.AnswerDialog();
  ChooseShotFile(s.form());
  ASSERT_TRUE(TakeShot(s.form()));
  const std::string record = ReadFile(s.Record());
  const std::string number = s.form().ui.RafLabel.caption, picture = s.form().ui.Label1.caption;
  s.rig.camera.script.noPicture = true;
  EXPECT_FALSE(TakeShot(s.form()));
  EXPECT_EQ(s.form().ShotCounter, 1);
  EXPECT_EQ(s.form().ui.RafLabel.caption, number);
  EXPECT_EQ(s.form().ui.Label1.caption, picture);
  EXPECT_FALSE(std::filesystem::exists(s.Picture(2)));
  EXPECT_EQ(ReadFile(s.Record()), record);
}

TEST(ShotWithGrab, EveryShotOfASeriesSavesItsOwnFrame) {
  SeriesRig s;
  s.rig.camera.SetPainter([](uint8_t* pixels, int32_t w, int32_t h, uint64_t k) {
    std::fill(pixels, pixels + static_cast<size_t>(w) * h, static_cast<uint8_t>(k));
  });
  s.EnterWait("0.5");
  s.AnswerDialog();
  s.ClickSeries();
  s.RunUntilShot(4, 5000);
  s.ClickSeries();
  std::set<uint8_t> levels;
  for (int32_t n = 1; n <= 4; ++n) {
    const testing::BmpPicture p = testing::ReadBmp(ReadFile(s.Picture(n)));
    ASSERT_FALSE(p.pixels.empty());
    levels.insert(p.pixels[0]);
  }
  EXPECT_EQ(levels.size(), 4u) << "four shots, four different frames";
}

}  // namespace
}  // namespace ostrelo
