// The live view: VisuTimer grabs every 200 ms, switched by the Live box.

#include <gtest/gtest.h>

#include "GrabRig.h"
#include "camera/GrabFrame.h"

namespace ostrelo::testing {
namespace {

class LiveViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    rig.Start();
    rig.form.st.DaqAcquisitionOn = false;
  }
  void ClickLive(int32_t value) {
    rig.form.ui.LiveCheck.value = value;
    rig.form.Dispatch([&] { rig.form.LiveCheck_Click(); });
  }
  uint64_t Frames() const { return rig.camera.framesDelivered(); }

  GrabRig rig;
  TimerLoop loop{rig.form, rig.clock};
};

TEST_F(LiveViewTest, RunsFromStartUpEveryTwoHundredMilliseconds) {
  EXPECT_TRUE(rig.form.ui.VisuTimer.enabled());
  EXPECT_EQ(rig.form.ui.VisuTimer.interval(), 200);
  const uint64_t frames = Frames();
  const uint64_t view = rig.form.ui.CamSurface.revision;
  loop.RunFor(1000);
  EXPECT_EQ(loop.visuTicks, 5);
  EXPECT_EQ(Frames(), frames + 5);
  EXPECT_GT(rig.form.ui.CamSurface.revision, view);
}

TEST_F(LiveViewTest, UntickingStopsTheGrabsAtOnceAndTickingResumesThem) {
  loop.RunFor(300);  // one tick at 200 ms
  ClickLive(0);
  EXPECT_FALSE(rig.form.ui.VisuTimer.enabled());
  const uint64_t frames = Frames();
  loop.RunFor(5000);
  EXPECT_EQ(Frames(), frames);

  ClickLive(1);
  EXPECT_TRUE(rig.form.ui.VisuTimer.enabled());
  EXPECT_EQ(rig.form.ui.VisuTimer.interval(), 200);
  loop.RunFor(199);
  EXPECT_EQ(Frames(), frames);
  loop.RunFor(1);
  EXPECT_EQ(Frames(), frames + 1);
  loop.RunFor(400);
  EXPECT_EQ(Frames(), frames + 3);
}

TEST_F(LiveViewTest, LiveBoxSwitchesOnlyTheTimer) {
  MainWindowModel& ui = rig.form.ui;
  std::vector<std::pair<bool, bool>> before;
  for (const Control* c : ui.Controls()) before.emplace_back(c->enabled, c->visible);
  ClickLive(0);
  ClickLive(1);
  ClickLive(0);
  std::vector<std::pair<bool, bool>> after;
  for (const Control* c : ui.Controls()) after.emplace_back(c->enabled, c->visible);
  EXPECT_EQ(after, before);
  EXPECT_FALSE(ui.Timer1.enabled());
}

TEST_F(LiveViewTest, SilentCameraLeavesTimeBetweenTicksAndTheViewRecovers) {
  rig.camera.script.noPicture = true;
  const uint64_t view = rig.form.ui.CamSurface.revision;
  loop.RunFor(3000);
  // The first silent grab gives up after a second, the later ones after half; the next
  // tick comes an interval later and leaves the camera alone, so other events get their
  // turn in between. The window says why the picture stands still.
  EXPECT_EQ(loop.visuTicks, 6);
  EXPECT_EQ(loop.longestMs, kGrabBudgetMs);
  EXPECT_EQ(rig.form.ui.CamSurface.revision, view);
  EXPECT_EQ(rig.form.ui.CameraNotice, "Camera not answering since 12:00:01");
  EXPECT_LE(rig.camera.queuedRequests(), 1);

  rig.camera.script.noPicture = false;
  loop.RunFor(1000);
  EXPECT_GT(rig.form.ui.CamSurface.revision, view);
  EXPECT_EQ(rig.camera.queuedRequests(), 0);
  EXPECT_EQ(rig.camera.lockedRequests(), 1);
  EXPECT_EQ(rig.form.ui.CameraNotice, "");
}

}  // namespace
}  // namespace ostrelo::testing
