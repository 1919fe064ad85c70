#pragma once
// A started main window on simulated devices with a small picture, its save dialog
// answered with a name in a temporary folder, and the window timers run in simulated
// time.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "shell/Numbers.h"
#include "shots/ShotsTestSupport.h"
#include "support/TestRig.h"

namespace ostrelo::testing {

inline constexpr VbColour kLightBlue = Rgb(192, 192, 255);

struct SeriesRig : OperatorGestures<SeriesRig> {
  explicit SeriesRig(LocalTime start = LocalTime{2011, 3, 25, 12, 0, 0, 43200.0}) {
    rig.clock.Set(start);
    EXPECT_TRUE(rig.form.Load());
    rig.form.st.DaqAcquisitionOn = false;
    loop = std::make_unique<TimerLoop>(rig.form, rig.clock);
  }

  Form1& form() { return rig.form; }
  std::string Chosen() const { return folder / "im110325-.bmp"; }
  std::string Picture(int32_t n) const { return folder / ("im110325-" + FormatNumber(n, "0000") + ".bmp"); }
  std::string Record() const { return folder / "im110325.xls"; }

  // Runs the timers until shot n has been taken; the steady time it was taken at.
  int64_t RunUntilShot(int32_t n, int64_t maxMs) {
    EXPECT_TRUE(loop->RunUntil([&] { return form().ShotCounter >= n; }, maxMs)) << "shot " << n << " not taken";
    return rig.clock.SteadyMs();
  }

  // Seconds since midnight written in the stamps of the record's shot lines.
  std::vector<double> StampSeconds() const {
    std::vector<double> seconds;
    const auto lines = SplitLines(ReadFile(Record()));
    for (size_t i = 1; i < lines.size(); ++i) {
      const auto fields = SplitFields(lines[i]);
      seconds.push_back(std::stod(fields.at(1).substr(8)));
    }
    return seconds;
  }

  void ExpectIdle(bool liveRunning) {
    const MainWindowModel& ui = form().ui;
    EXPECT_FALSE(form().MultiShot);
    EXPECT_EQ(ui.Command2.caption, "Multiple shots");
    EXPECT_EQ(ui.Command2.backColour, kLightBlue);
    EXPECT_TRUE(ui.Command1.enabled);
    EXPECT_TRUE(ui.PicCam.enabled);
    EXPECT_FALSE(ui.CheckWarning.visible);
    EXPECT_FALSE(ui.Picture1.visible);
    EXPECT_FALSE(ui.Timer1.enabled());
    EXPECT_EQ(ui.VisuTimer.enabled(), liveRunning);
    EXPECT_EQ(form().st.LastShotTime, 0.0);
    EXPECT_FALSE(form().TickBusy);
  }

  void ExpectRunning() {
    const MainWindowModel& ui = form().ui;
    EXPECT_TRUE(form().MultiShot);
    EXPECT_EQ(ui.Command2.caption, "STOP !");
    EXPECT_EQ(ui.Command2.backColour, Rgb(255, 0, 0));
    EXPECT_FALSE(ui.Command1.enabled);
    EXPECT_FALSE(ui.PicCam.enabled);
    EXPECT_TRUE(ui.CheckWarning.visible);
    EXPECT_TRUE(ui.Timer1.enabled());
  }

  TempFolder folder;
  Rig rig{64, 48};
  std::unique_ptr<TimerLoop> loop;
};

}  // namespace ostrelo::testing
