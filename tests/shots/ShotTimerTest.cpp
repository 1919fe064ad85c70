// The wait entry, the one shot and the series, run in simulated time.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <tuple>

#include "shots/SeriesTestSupport.h"
#include "support/ProcessLocale.h"

namespace ostrelo {
namespace {

using testing::FolderContent;
using testing::ReadFile;
using testing::SeriesRig;

const std::string kNotice =
    "\r                Please don't touch this computer\r                         Test in progress ";

std::string CountdownLine(int32_t remaining, int32_t total) {
  return kNotice + "\r\r            " + std::to_string(remaining) + "/" + std::to_string(total) +
         "s remained before next shot";
}

// ---- Wait entry ----

struct WaitCase {
  const char* text;
  int32_t selStart, selLength;
  const char* textAfter;
  double waitTime;
  int32_t waitMinutes, waitLength, periodMs;
};
class WaitEntryTest : public ::testing::TestWithParam<std::tuple<WaitCase, const char*>> {};

TEST_P(WaitEntryTest, EnterValidatesTheWait) {
  const auto& [c, locale] = GetParam();
  const testing::ProcessLocale inLocale(locale);
  testing::Rig rig;
  Form1& f = rig.form;
  f.ui.TimeText.caption = c.text;
  f.ui.TimeText.selStart = c.selStart;
  f.ui.TimeText.selLength = c.selLength;
  f.TimeText_Change();
  EXPECT_EQ(f.ui.TimeText.foreColour, Rgb(0, 255, 0));
  f.st.ElapsedSeconds = 7;
  f.TimeText_KeyPress(kKeyEnter);
  EXPECT_EQ(f.ui.TimeText.caption, c.textAfter);
  EXPECT_DOUBLE_EQ(f.st.WaitTime, c.waitTime);
  EXPECT_EQ(f.st.WaitMinutes, c.waitMinutes);
  EXPECT_EQ(f.st.WaitLength, c.waitLength);
  EXPECT_EQ(f.ui.Timer1.interval(), c.periodMs);
  EXPECT_EQ(f.ui.TimeText.foreColour, Rgb(255, 0, 0));
  EXPECT_EQ(f.st.ElapsedSeconds, c.waitMinutes != 0 ? 0 : 7);
  EXPECT_FALSE(f.ui.Timer1.enabled()) << "the entry neither starts nor stops the timer";
}

INSTANTIATE_TEST_SUITE_P(
    Waits, WaitEntryTest,
    ::testing::Combine(
        ::testing::Values(
            WaitCase{"0.5", 3, 0, "0.5", 0.5, 0, 500, 500}, WaitCase{"59.4", 4, 0, "59.4", 59.4, 0, 59400, 59400},
            WaitCase{"59.5", 4, 0, "59.5", 59.5, 1, 60, 500},  // countdown from here
            WaitCase{"90.5", 4, 0, "90.5", 90.5, 1, 90, 500},  // the half goes to 90
            WaitCase{"0.1", 3, 0, "0.1", 0.1, 0, 100, 100}, WaitCase{"86400", 5, 0, "86400", 86400, 1440, 86400, 500},
            WaitCase{" 12.5 s", 7, 0, " 12.5 s", 12.5, 0, 12500, 12500},
            WaitCase{"2,5", 3, 0, "2,5", 2.5, 0, 2500, 2500}, WaitCase{"1e3", 3, 0, "1e3", 1000, 16, 1000, 500},
            WaitCase{"0,1", 3, 0, "0,1", 0.1, 0, 100, 100},
            // Out of range or no number: 0.5 at the caret or over the selection.
            WaitCase{"0", 1, 0, "00.5", 0.5, 0, 500, 500}, WaitCase{"0.05", 0, 4, "0.5", 0.5, 0, 500, 500},
            WaitCase{"100000", 0, 6, "0.5", 0.5, 0, 500, 500},
            WaitCase{"86400.5", 0, 0, "0.586400.5", 0.5, 0, 500, 500}, WaitCase{"abc", 1, 1, "a0.5c", 0.5, 0, 500, 500},
            WaitCase{"0,05", 4, 0, "0,050.5", 0.5, 0, 500, 500}, WaitCase{"-2", 0, 0, "0.5-2", 0.5, 0, 500, 500},
            WaitCase{"x\xC3\xA9y", 2, 1,
                     "x\xC3\xA9"
                     "0.5",
                     0.5, 0, 500, 500},                        // characters, not bytes
            WaitCase{"zz", 9, 4, "zz0.5", 0.5, 0, 500, 500}),  // selection past the end
        ::testing::ValuesIn(testing::kOperatorLocales)),
    [](const auto& info) { return testing::NameInLocale(info); });

TEST(WaitEntry, EmptyTextKeepsThePreviousWait) {
  testing::Rig rig;
  Form1& f = rig.form;
  f.ui.TimeText.caption = "3";
  f.TimeText_KeyPress(kKeyEnter);
  const uint64_t generation = f.ui.Timer1.generation();
  f.ui.TimeText.caption = "";
  f.TimeText_KeyPress(kKeyEnter);
  EXPECT_DOUBLE_EQ(f.st.WaitTime, 3.0);
  EXPECT_EQ(f.ui.TimeText.caption, "");
  EXPECT_EQ(f.ui.Timer1.interval(), 3000);
  EXPECT_GT(f.ui.Timer1.generation(), generation) << "applied again";
}

TEST(WaitEntry, EmptyTextBeforeAnyWaitBecomesTheDefault) {
  testing::Rig rig;
  rig.form.ui.TimeText.caption = "";
  rig.form.TimeText_KeyPress(kKeyEnter);
  EXPECT_EQ(rig.form.ui.TimeText.caption, "0.5");
  EXPECT_DOUBLE_EQ(rig.form.st.WaitTime, 0.5);
  EXPECT_EQ(rig.form.ui.Timer1.interval(), 500);
}

TEST(WaitEntry, OtherKeysChangeNothing) {
  testing::Rig rig;
  Form1& f = rig.form;
  f.ui.TimeText.caption = "7";
  f.TimeText_Change();
  for (int32_t key : {8, 10, 27, int32_t{'0'}, int32_t{'.'}}) f.TimeText_KeyPress(key);
  EXPECT_EQ(f.st.WaitTime, 0.0);
  EXPECT_EQ(f.ui.Timer1.interval(), 200);
  EXPECT_EQ(f.ui.TimeText.foreColour, Rgb(0, 255, 0));
}

// ---- One shot ----

TEST(OneShot, TakesOnePictureAtTheTickAfter100Ms) {
  SeriesRig s;
  s.AnswerDialog();
  s.ClickOneShot();
  EXPECT_EQ(s.rig.dialogs.saveRequests.size(), 1u);
  EXPECT_TRUE(s.form().OneShot);
  EXPECT_FALSE(s.form().ui.VisuTimer.enabled());
  EXPECT_TRUE(s.form().ui.Timer1.enabled());
  EXPECT_EQ(s.form().ui.Timer1.interval(), 100);
  s.loop->RunFor(99);
  EXPECT_EQ(s.form().ShotCounter, 0);
  s.loop->RunFor(1);
  EXPECT_EQ(s.form().ShotCounter, 1);
  EXPECT_FALSE(s.form().OneShot);
  EXPECT_FALSE(s.form().ui.Timer1.enabled());
  EXPECT_TRUE(s.form().ui.VisuTimer.enabled());
  EXPECT_EQ(s.form().st.LastShotTime, 0.0);
  EXPECT_EQ(s.form().ui.RafLabel.caption, "0001");
  EXPECT_EQ(s.form().ui.Label1.caption, " " + s.Picture(1));
  EXPECT_EQ(s.form().ui.Label3.caption, s.Record());
  EXPECT_EQ(ReadFile(s.Record()), "Image \tTime\r\n" + s.Picture(1) + "\t2011032543200.10\r\n");

  // The next one shot asks nothing and appends.
  s.loop->RunFor(5000);
  s.ClickOneShot();
  s.loop->RunFor(100);
  EXPECT_EQ(s.rig.dialogs.saveRequests.size(), 1u);
  EXPECT_EQ(FolderContent(s.folder.path()),
            (std::vector<std::string>{"im110325-0001.bmp", "im110325-0002.bmp", "im110325.xls"}));
  EXPECT_EQ(testing::SplitLines(ReadFile(s.Record())).size(), 3u);
}

TEST(OneShot, TwoQuickClicksGiveOneShot) {
  SeriesRig s;
  s.AnswerDialog();
  s.ClickOneShot();
  s.loop->RunFor(60);
  s.ClickOneShot();
  s.loop->RunFor(1000);
  EXPECT_EQ(s.form().ShotCounter, 1);
  EXPECT_EQ(s.rig.dialogs.saveRequests.size(), 1u);
  EXPECT_EQ(s.loop->shotTicks, 1);
}

TEST(OneShot, LiveViewRunsAfterwardsEvenWithLiveUnticked) {
  SeriesRig s;
  s.form().ui.LiveCheck.value = 0;
  s.form().Dispatch([&] { s.form().LiveCheck_Click(); });
  ASSERT_FALSE(s.form().ui.VisuTimer.enabled());
  s.AnswerDialog();
  s.ClickOneShot();
  s.loop->RunFor(100);
  ASSERT_EQ(s.form().ShotCounter, 1);
  const int64_t before = s.loop->visuTicks;
  s.loop->RunFor(1000);
  EXPECT_EQ(s.loop->visuTicks - before, 5);
}

// Changes the process's current folder for its lifetime.
class CurrentFolder {
 public:
  explicit CurrentFolder(const std::filesystem::path& to) : previous_(std::filesystem::current_path()) {
    std::filesystem::current_path(to);
  }
  ~CurrentFolder() { std::filesystem::current_path(previous_); }

 private:
  std::filesystem::path previous_;
};

TEST(OneShot, CancelledDialogShootsIntoTheCurrentFolder) {
  SeriesRig s;
  CurrentFolder here(s.folder.path());
  s.ClickOneShot();  // no answer: cancel
  s.loop->RunFor(100);
  EXPECT_EQ(s.form().ShotCounter, 1);
  EXPECT_EQ(s.form().st.PictureFileName, "im110325-.bmp");
  EXPECT_EQ(s.form().ui.Label3.caption, "im110325.xls");
  EXPECT_EQ(s.form().ui.Label1.caption, " im110325-0001.bmp");
  EXPECT_EQ(FolderContent(s.folder.path()), (std::vector<std::string>{"im110325-0001.bmp", "im110325.xls"}));
  EXPECT_EQ(s.form().phase(), Phase::Running);
}

// ---- Series in period mode ----

struct PeriodCase {
  const char* wait;
  int32_t periodMs;
};
class PeriodSeriesTest : public ::testing::TestWithParam<PeriodCase> {};

TEST_P(PeriodSeriesTest, FirstShotAtTheClickThenOneEveryPeriod) {
  const PeriodCase& c = GetParam();
  SeriesRig s;
  s.EnterWait(c.wait);
  s.AnswerDialog();
  const int64_t start = s.rig.clock.SteadyMs();
  s.ClickSeries();
  EXPECT_EQ(s.form().ShotCounter, 1) << "the first shot is taken during the click";
  s.ExpectRunning();
  EXPECT_FALSE(s.form().ui.VisuTimer.enabled());
  EXPECT_EQ(s.form().ui.Timer1.interval(), c.periodMs);
  for (int32_t n = 2; n <= 5; ++n) {
    EXPECT_EQ(s.RunUntilShot(n, 10LL * c.periodMs) - start, static_cast<int64_t>(n - 1) * c.periodMs);
  }
  EXPECT_EQ(s.loop->visuTicks, 0) << "the live view stays stopped in period mode";
  EXPECT_EQ(s.form().ui.Picture1Text, kNotice) << "no countdown in period mode";
  const auto stamps = s.StampSeconds();
  ASSERT_EQ(stamps.size(), 5u);
  for (size_t i = 1; i < stamps.size(); ++i) EXPECT_NEAR(stamps[i] - stamps[i - 1], c.periodMs / 1000.0, 0.0051);

  s.ClickSeries();  // STOP
  s.ExpectIdle(true);
  s.loop->RunFor(3LL * c.periodMs);
  EXPECT_EQ(s.form().ShotCounter, 5);
}

INSTANTIATE_TEST_SUITE_P(Waits, PeriodSeriesTest,
                         ::testing::Values(PeriodCase{"0.5", 500}, PeriodCase{"0.1", 100}, PeriodCase{"2,5", 2500},
                                           PeriodCase{"59.4", 59400}));

TEST(Series, StopWithLiveUntickedLeavesTheLiveViewStopped) {
  SeriesRig s;
  s.form().ui.LiveCheck.value = 0;
  s.EnterWait("0.5");
  s.AnswerDialog();
  s.ClickSeries();
  s.loop->RunFor(1000);
  s.ClickSeries();
  s.ExpectIdle(false);
}

TEST(Series, StartsAtTheShownWaitAfterAOneShotOrBeforeAnyEntry) {
  // Before any Enter the box shows 0.5: the series runs at 500 ms, not the 200 ms the
  // timer starts with.
  {
    SeriesRig s;
    s.AnswerDialog();
    s.ClickSeries();
    EXPECT_EQ(s.form().ui.Timer1.interval(), 500);
    EXPECT_EQ(s.RunUntilShot(2, 5000), 500);
  }
  // After a one shot (which fires at 100 ms) the validated 2 s holds.
  {
    SeriesRig s;
    s.EnterWait("2");
    s.AnswerDialog();
    s.ClickOneShot();
    s.loop->RunFor(100);
    ASSERT_EQ(s.form().ShotCounter, 1);
    const int64_t start = s.rig.clock.SteadyMs();
    s.ClickSeries();
    EXPECT_EQ(s.form().ShotCounter, 2);
    EXPECT_EQ(s.RunUntilShot(3, 10000) - start, 2000);
  }
}

// ---- Series in countdown mode ----

struct CountdownCase {
  const char* wait;
  int32_t totalSeconds;
  double startFraction;  // of the clock's second at the click
};
class CountdownSeriesTest : public ::testing::TestWithParam<CountdownCase> {};

TEST_P(CountdownSeriesTest, ShotsBetweenWaitLessOneAndWaitPlusHalfASecond) {
  const CountdownCase& c = GetParam();
  SeriesRig s(LocalTime{2011, 3, 25, 12, 0, 0, 43200.0 + c.startFraction});
  s.EnterWait(c.wait);
  EXPECT_EQ(s.form().st.WaitLength, c.totalSeconds);
  s.AnswerDialog();
  int64_t previous = s.rig.clock.SteadyMs();
  s.ClickSeries();
  EXPECT_EQ(s.form().ui.Timer1.interval(), 500);
  int64_t liveBefore = s.loop->visuTicks;
  for (int32_t n = 2; n <= 4; ++n) {
    const int64_t at = s.RunUntilShot(n, (c.totalSeconds + 5) * 1000LL);
    const int64_t gap = at - previous;
    EXPECT_GE(gap, (c.totalSeconds - 1) * 1000LL) << "shot " << n;
    EXPECT_LE(gap, c.totalSeconds * 1000LL + 500) << "shot " << n;
    EXPECT_GT(s.loop->visuTicks, liveBefore) << "the live view runs between shots";
    EXPECT_FALSE(s.form().ui.Picture1.visible) << "warning screen not ticked";
    previous = at;
    liveBefore = s.loop->visuTicks;
  }
}

INSTANTIATE_TEST_SUITE_P(Waits, CountdownSeriesTest,
                         ::testing::Values(CountdownCase{"59.5", 60, 0.0}, CountdownCase{"59.5", 60, 0.7},
                                           CountdownCase{"90.5", 90, 0.2}, CountdownCase{"120", 120, 0.99}));

// Clock readings a quarter second past the whole second: the shots' readings and the
// ticks' readings never fall on a second's boundary.
const LocalTime kQuarterPast{2011, 3, 25, 12, 0, 0, 43200.25};

TEST(Countdown, WarningScreenCountsDownToOneThenShoots) {
  SeriesRig s(kQuarterPast);
  s.EnterWait("120");
  s.AnswerDialog();
  s.ClickSeries();
  s.form().ui.CheckWarning.value = 1;
  s.form().Dispatch([&] { s.form().CheckWarning_Click(); });
  std::vector<int32_t> shown;
  while (s.form().ShotCounter == 1) {
    s.loop->RunFor(500);
    const std::string& text = s.form().ui.Picture1Text;
    const size_t at = text.rfind("            ");
    if (s.form().ShotCounter == 1) {
      EXPECT_TRUE(s.form().ui.Picture1.visible);
      shown.push_back(std::stoi(text.substr(at + 12)));
      EXPECT_EQ(text, CountdownLine(shown.back(), 120));
    }
    if (s.rig.clock.SteadyMs() == 45000) {
      EXPECT_EQ(text, CountdownLine(75, 120));
    }
    ASSERT_LT(s.rig.clock.SteadyMs(), 200000);
  }
  EXPECT_EQ(s.rig.clock.SteadyMs(), 120000);
  ASSERT_FALSE(shown.empty());
  EXPECT_EQ(shown.front(), 120);
  EXPECT_EQ(shown.back(), 1);
  for (size_t i = 1; i < shown.size(); ++i) EXPECT_LE(shown[i], shown[i - 1]);
  EXPECT_TRUE(s.form().ui.Picture1.visible) << "shown again at the end of the shooting tick";
  s.loop->RunFor(500);
  EXPECT_EQ(s.form().ui.Picture1Text, CountdownLine(120, 120)) << "from the full wait again";
}

TEST(Countdown, LongestWaitShowsItsRemainderOneSecondAfterTheShot) {
  SeriesRig s(kQuarterPast);
  s.EnterWait("86400");
  EXPECT_EQ(s.form().st.WaitMinutes, 1440);
  s.AnswerDialog();
  s.ClickSeries();
  s.loop->RunFor(1000);
  EXPECT_EQ(s.form().ui.Picture1Text, CountdownLine(86399, 86400));
  EXPECT_EQ(s.form().ShotCounter, 1);
}

TEST(Countdown, AClockPutForwardShootsAtTheNextTick) {
  SeriesRig s;
  s.EnterWait("600");
  s.AnswerDialog();
  s.ClickSeries();
  s.loop->RunFor(10000);
  EXPECT_EQ(s.form().ShotCounter, 1);
  s.rig.clock.Set(LocalTime{2011, 3, 25, 13, 0, 10, 46810.0});  // an hour forward
  s.loop->RunFor(500);
  EXPECT_EQ(s.form().ShotCounter, 2);
  s.loop->RunFor(500);
  // Half a second after that shot the whole-second clock stands 0 or 1 s past it.
  EXPECT_THAT(s.form().ui.Picture1Text, ::testing::AnyOf(CountdownLine(600, 600), CountdownLine(599, 600)))
      << "the series goes on from that shot";
}

// ---- Changes during a series, several series ----

TEST(Series, AWaitChangedDuringTheSeriesHoldsFromTheNextTick) {
  SeriesRig s;
  s.EnterWait("0.5");
  s.AnswerDialog();
  s.ClickSeries();
  s.RunUntilShot(3, 5000);
  s.EnterWait("2");
  const int64_t changed = s.rig.clock.SteadyMs();
  EXPECT_EQ(s.RunUntilShot(4, 5000) - changed, 2000);
  EXPECT_EQ(s.RunUntilShot(5, 5000) - changed, 4000);
}

TEST(Series, ChangingToCountdownShootsAtOnceWhenTheFirstShotIsOlderThanTheWait) {
  SeriesRig s;
  s.EnterWait("0.5");
  s.AnswerDialog();
  s.ClickSeries();
  s.loop->RunFor(70000);  // period mode keeps the reading of the series' first shot
  const int32_t taken = s.form().ShotCounter;
  EXPECT_EQ(taken, 141);
  s.EnterWait("60");
  s.loop->RunFor(500);
  EXPECT_EQ(s.form().ShotCounter, taken + 1);
  const int64_t at = s.rig.clock.SteadyMs();
  const int64_t next = s.RunUntilShot(taken + 2, 70000);
  EXPECT_GE(next - at, 59000);
  EXPECT_LE(next - at, 60500);
}

TEST(Series, TwoSeriesContinueTheNumbersAndTheRecord) {
  SeriesRig s;
  s.EnterWait("1");
  s.AnswerDialog();
  s.ClickSeries();
  s.RunUntilShot(3, 5000);
  s.ClickSeries();
  s.loop->RunFor(4000);
  s.ClickSeries();
  s.RunUntilShot(5, 5000);
  s.ClickSeries();
  EXPECT_EQ(s.rig.dialogs.saveRequests.size(), 1u);
  const auto lines = testing::SplitLines(ReadFile(s.Record()));
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[0], "Image \tTime");
  for (int32_t n = 1; n <= 5; ++n) {
    EXPECT_EQ(testing::SplitFields(lines[n])[0], s.Picture(n));
    EXPECT_TRUE(std::filesystem::exists(s.Picture(n)));
  }
}

struct CancelCase {
  bool liveTicked;
};
class SeriesCancelTest : public ::testing::TestWithParam<bool> {};

TEST_P(SeriesCancelTest, CancelAtTheFirstStartRestoresIdleAndWritesNothing) {
  const bool liveTicked = GetParam();
  SeriesRig s;
  s.form().ui.LiveCheck.value = liveTicked ? 1 : 0;
  s.form().ui.CheckWarning.value = 1;
  s.ClickSeries();  // no answer: cancel
  s.ExpectIdle(liveTicked);
  EXPECT_EQ(s.form().st.PictureFileName, "");
  EXPECT_EQ(s.form().ShotCounter, 0);
  EXPECT_TRUE(s.rig.dialogs.messages.empty()) << "no message";
  EXPECT_TRUE(FolderContent(s.folder.path()).empty());
  s.loop->RunFor(2000);
  EXPECT_EQ(s.loop->shotTicks, 0);
  // The next start asks again.
  s.AnswerDialog();
  s.ClickSeries();
  EXPECT_EQ(s.rig.dialogs.saveRequests.size(), 2u);
  EXPECT_EQ(s.form().ShotCounter, 1);
}

INSTANTIATE_TEST_SUITE_P(Live, SeriesCancelTest, ::testing::Bool());

TEST(Series, LiveViewGoesOnWhileTheStartsDialogIsOpen) {
  SeriesRig s;
  s.EnterWait("0.5");
  s.AnswerDialog();
  int64_t duringDialog = 0;
  s.rig.dialogs.whileModal = [&] {
    const int64_t before = s.loop->visuTicks;
    s.loop->RunFor(1000);
    duringDialog = s.loop->visuTicks - before;
  };
  s.ClickSeries();
  EXPECT_EQ(duringDialog, 5);
  EXPECT_FALSE(s.form().ui.VisuTimer.enabled());
  EXPECT_EQ(s.form().ShotCounter, 1);
}

TEST(Series, AOneShotAfterASeriesWithTheWarningTickedShowsTheScreen) {
  SeriesRig s;
  s.EnterWait("0.5");
  s.AnswerDialog();
  s.ClickSeries();
  s.form().ui.CheckWarning.value = 1;
  s.loop->RunFor(1000);
  EXPECT_TRUE(s.form().ui.Picture1.visible);
  s.ClickSeries();
  EXPECT_FALSE(s.form().ui.Picture1.visible);
  EXPECT_FALSE(s.form().ui.CheckWarning.visible);
  EXPECT_EQ(s.form().ui.CheckWarning.value, 1) << "the hidden box keeps its tick";
  s.ClickOneShot();
  s.loop->RunFor(100);
  EXPECT_EQ(s.form().ShotCounter, 4);
  EXPECT_TRUE(s.form().ui.Picture1.visible);
}

TEST(ShotTick, ATickThatFindsTheShotTimerBusyDoesNothingMore) {
  SeriesRig s;
  s.AnswerDialog();
  s.ClickSeries();
  s.form().ui.CheckWarning.value = 1;
  s.form().ui.Picture1.visible = true;
  s.form().TickBusy = true;
  s.form().Timer1_Timer();
  EXPECT_FALSE(s.form().ui.Picture1.visible) << "the first step still runs";
  EXPECT_EQ(s.form().ShotCounter, 1);
  EXPECT_TRUE(s.form().TickBusy);
}

}  // namespace
}  // namespace ostrelo
