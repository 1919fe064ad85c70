#include <gtest/gtest.h>

#include <vector>

#include "shell/DeviceThread.h"
#include "shell/Platform.h"

namespace ostrelo {
namespace {

TEST(ManualClock, ManySmallStepsLandExactlyOnTheWholeSecond) {
  ManualClock clock(LocalTime{2011, 3, 25, 12, 0, 0, 43200.0});
  for (int i = 0; i < 5 * 3600 * 24; ++i) clock.Advance(200);  // one day in 200 ms steps
  const LocalTime t = clock.Now();
  EXPECT_EQ(t.year, 2011);
  EXPECT_EQ(t.month, 3);
  EXPECT_EQ(t.day, 26);
  EXPECT_EQ(t.hour, 12);
  EXPECT_EQ(t.minute, 0);
  EXPECT_EQ(t.second, 0);
  EXPECT_DOUBLE_EQ(t.secondsSinceMidnight, 43200.0);
}

// A device thread that really runs late, the window's time gone on meanwhile: its work
// still runs from the moment it was asked for, and the window's time is left alone.
TEST(ManualClock, DeviceWorkRunsFromWhenItWasAsked) {
  ManualClock clock;
  DeviceThread thread;
  thread.Start();
  clock.Advance(700);
  int64_t begun = -1, ended = -1;
  ASSERT_TRUE(thread.Run(
      [&] { clock.DeviceWorkBegins(0), begun = clock.SteadyMs(), clock.SleepMs(80), ended = clock.SteadyMs(); }));
  EXPECT_EQ((std::vector<int64_t>{begun, ended, clock.SteadyMs()}), (std::vector<int64_t>{0, 80, 700}));
}

struct CalendarCase {
  LocalTime start;
  int64_t advanceMs;
  int year, month, day, hour, minute, second;
};

class ManualClockCalendar : public ::testing::TestWithParam<CalendarCase> {};

TEST_P(ManualClockCalendar, CrossesDaysMonthsAndLeapYears) {
  const CalendarCase& c = GetParam();
  ManualClock clock(c.start);
  clock.Advance(c.advanceMs);
  const LocalTime t = clock.Now();
  EXPECT_EQ(t.year, c.year);
  EXPECT_EQ(t.month, c.month);
  EXPECT_EQ(t.day, c.day);
  EXPECT_EQ(t.hour, c.hour);
  EXPECT_EQ(t.minute, c.minute);
  EXPECT_EQ(t.second, c.second);
}

INSTANTIATE_TEST_SUITE_P(
    Examples, ManualClockCalendar,
    ::testing::Values(CalendarCase{{2011, 3, 25, 23, 59, 59, 86399.5}, 600, 2011, 3, 26, 0, 0, 0},
                      CalendarCase{{2012, 2, 28, 23, 0, 0, 82800.0}, 3600000, 2012, 2, 29, 0, 0, 0},
                      CalendarCase{{2011, 2, 28, 23, 0, 0, 82800.0}, 3600000, 2011, 3, 1, 0, 0, 0},
                      CalendarCase{{2026, 12, 31, 23, 59, 59, 86399.0}, 1000, 2027, 1, 1, 0, 0, 0}));

TEST(DateTimeDays, CountsDaysFromTheEndOf1899ToTheWholeSecond) {
  EXPECT_DOUBLE_EQ(DateTimeDays(LocalTime{1899, 12, 30, 0, 0, 0, 0.0}), 0.0);
  EXPECT_DOUBLE_EQ(DateTimeDays(LocalTime{1900, 1, 1, 12, 0, 0, 43200.0}), 2.5);
  // 25 March 2011 is day 40627.
  EXPECT_DOUBLE_EQ(DateTimeDays(LocalTime{2011, 3, 25, 6, 0, 0, 21600.9}), 40627.25);
}

}  // namespace
}  // namespace ostrelo
