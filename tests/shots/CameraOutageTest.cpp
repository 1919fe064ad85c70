// A camera that stops answering for a while and comes back, during a one shot, in the
// middle of a period-mode series, and between the shots of a countdown series. Shorter
// than a shot's limit, nothing is lost: the shot waits for the camera, and the run goes
// on numbering without gap, one record line per picture. (An outage longer than the
// limit is in ShotFailureTest; one during the live view alone in LiveViewTest.)

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "camera/GrabFrame.h"
#include "shots/SeriesTestSupport.h"

namespace ostrelo {
namespace {

using testing::ReadFile;
using testing::SeriesRig;
using testing::SplitFields;
using testing::SplitLines;

// Frame k is filled with grey level k (mod 256): a picture tells which frame it is.
void PaintFrameNumbers(SeriesRig& s) {
  s.rig.camera.SetPainter([](uint8_t* pixels, int32_t w, int32_t h, uint64_t k) {
    std::fill(pixels, pixels + static_cast<size_t>(w) * h, static_cast<uint8_t>(k));
  });
}

// Pictures 1..n, each of a different frame, each with its line, in order, one header.
void ExpectShotsWithoutGap(SeriesRig& s, int32_t n) {
  const auto lines = SplitLines(ReadFile(s.Record()));
  ASSERT_EQ(lines.size(), static_cast<size_t>(n) + 1);
  EXPECT_EQ(lines[0], "Image \tTime");
  std::set<uint8_t> frames;
  for (int32_t i = 1; i <= n; ++i) {
    const auto fields = SplitFields(lines[static_cast<size_t>(i)]);
    ASSERT_EQ(fields.size(), 2u) << "line " << i;
    EXPECT_NE(fields[0].find(FormatNumber(i, "0000") + ".bmp"), std::string::npos) << fields[0];
    const testing::BmpPicture p = testing::ReadBmp(ReadFile(s.Picture(i)));
    ASSERT_FALSE(p.pixels.empty()) << "picture " << i;
    frames.insert(p.pixels[0]);
  }
  EXPECT_EQ(frames.size(), static_cast<size_t>(n)) << "every shot saved a frame of its own";
  EXPECT_FALSE(std::filesystem::exists(s.Picture(n + 1)));
}

TEST(CameraOutage, OneShotWaitsForACameraThatComesBackWithinTheShotsLimit) {
  SeriesRig s;
  PaintFrameNumbers(s);
  s.AnswerDialog();
  const uint64_t framesBefore = s.rig.camera.framesDelivered();
  const int64_t back = s.rig.clock.SteadyMs() + kShotGrabBudgetMs / 2;
  s.rig.camera.script.silentUntilMs = back;
  s.ClickOneShot();  // its own grab gives up; the shot is the next tick's
  s.loop->RunFor(kShotGrabBudgetMs);
  EXPECT_EQ(s.form().phase(), Phase::Running);
  EXPECT_TRUE(s.rig.dialogs.messages.empty());
  EXPECT_EQ(s.form().ShotCounter, 1);
  EXPECT_FALSE(s.form().OneShot);
  EXPECT_TRUE(s.form().ui.VisuTimer.enabled());
  ExpectShotsWithoutGap(s, 1);
  // The picture saved came after the camera's return.
  const testing::BmpPicture p = testing::ReadBmp(ReadFile(s.Picture(1)));
  EXPECT_GT(p.pixels[0], static_cast<uint8_t>(framesBefore));
  EXPECT_GE(s.rig.clock.SteadyMs(), back);
}

TEST(CameraOutage, PeriodSeriesGoesOnAfterACameraOutageShorterThanTheShotsLimit) {
  SeriesRig s;
  PaintFrameNumbers(s);
  s.EnterWait("0.5");
  s.AnswerDialog();
  s.ClickSeries();
  s.RunUntilShot(5, 5000);
  const int64_t silentFrom = s.rig.clock.SteadyMs();
  s.rig.camera.script.silentUntilMs = silentFrom + 4000;
  s.RunUntilShot(12, 20000);
  s.ClickSeries();
  EXPECT_EQ(s.form().phase(), Phase::Running);
  EXPECT_TRUE(s.rig.dialogs.messages.empty());
  ASSERT_EQ(s.form().ShotCounter, 12);
  ExpectShotsWithoutGap(s, 12);
  // The shot that waited is stamped when it began; the outage shows as one long interval.
  const std::vector<double> seconds = s.StampSeconds();
  ASSERT_EQ(seconds.size(), 12u);
  double longest = 0;
  for (size_t i = 1; i < seconds.size(); ++i) {
    EXPECT_GE(seconds[i], seconds[i - 1]);
    longest = std::max(longest, seconds[i] - seconds[i - 1]);
  }
  EXPECT_GE(longest, 3.0);
}

TEST(CameraOutage, CountdownSeriesLiveViewRidesOutAnOutageBetweenShots) {
  SeriesRig s;
  s.EnterWait("60");
  s.AnswerDialog();
  s.ClickSeries();
  ASSERT_EQ(s.form().ShotCounter, 1);
  s.loop->RunFor(10000);
  const uint64_t view = s.form().ui.CamSurface.revision;
  const int64_t ticksBefore = s.loop->visuTicks;
  s.rig.camera.script.silentUntilMs = s.rig.clock.SteadyMs() + 20000;
  // Short of the end of the outage by more than a live grab's limit: no grab reaches it.
  s.loop->RunFor(20000 - 2 * kLiveGrabBudgetMs);
  // The live view kept ticking, found no picture, and showed nothing new.
  EXPECT_GT(s.loop->visuTicks, ticksBefore);
  EXPECT_EQ(s.form().ui.CamSurface.revision, view);
  EXPECT_EQ(s.form().ShotCounter, 1);
  s.loop->RunFor(2 * kLiveGrabBudgetMs + 1000);
  EXPECT_GT(s.form().ui.CamSurface.revision, view) << "the live view shows pictures again";
  s.RunUntilShot(2, 40000);
  s.ClickSeries();
  EXPECT_TRUE(s.rig.dialogs.messages.empty());
  ExpectShotsWithoutGap(s, 2);
  const std::vector<double> seconds = s.StampSeconds();
  ASSERT_EQ(seconds.size(), 2u);
  EXPECT_NEAR(seconds[1] - seconds[0], 60.0, 1.0) << "the second shot on time";
}

}  // namespace
}  // namespace ostrelo
