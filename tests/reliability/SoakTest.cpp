// Long unattended series in simulated time, with acquisition on, the pixel checks, the
// histogram and the warning screen on, through the real handlers and the window
// timers: every shot leaves its picture and its record line, numbered without gap, and
// the process holds no more memory and no more open files at the end than after its
// first thousand shots.
//
// ctest runs short series (3000 shots at 0.1 s; one simulated hour of a countdown at
// 60 s, across midnight); scripts/soak sets OSTRELO_SOAK_SHOTS (period mode) and
// OSTRELO_SOAK_MINUTES (countdown mode) for the full size. Each test prints its figures.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdio>

#include "reliability/ReliabilitySupport.h"

namespace ostrelo {
namespace {

using testing::MeasureProcess;
using testing::ProcessFigures;
using testing::WorkRig;

// Resident memory may differ by a few pages between two measurements for reasons that
// are not growth: the allocator keeping or returning a freed block, the record's name
// strings, stack pages touched once. Real growth of even a few bytes per shot shows
// as hundreds of kilobytes over the series. Descriptors are compared exactly.
constexpr int64_t kRssNoiseKb = 64;

// Under AddressSanitizer freed blocks wait in a quarantine of up to 256 MB before they
// are reused, so resident memory grows with every allocation whatever the program
// keeps: there only the descriptors are compared, and LeakSanitizer reports any block
// still held at exit. The sanitized build also runs about ten times slower, so its
// short series are shorter still.
#if defined(__SANITIZE_ADDRESS__)
#define OSTRELO_SOAK_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define OSTRELO_SOAK_SANITIZED 1
#endif
#endif
#ifdef OSTRELO_SOAK_SANITIZED
constexpr bool kResidentMemoryIsMeaningful = false;
constexpr int64_t kDefaultShots = 1000;
constexpr int64_t kDefaultCountdownMinutes = 20;
#else
constexpr bool kResidentMemoryIsMeaningful = true;
constexpr int64_t kDefaultShots = 3000;
constexpr int64_t kDefaultCountdownMinutes = 60;
#endif
constexpr int32_t kCheckpointShots = 1000;

// The series start just before midnight, so that their stamps cross into the next day:
// the period series after 300 shots, the countdown series after three minutes.
const LocalTime kPeriodStart{2011, 3, 25, 23, 59, 30, 23 * 3600.0 + 59 * 60.0 + 30.0};
const LocalTime kCountdownStart{2011, 3, 25, 23, 57, 0, 23 * 3600.0 + 57 * 60.0};

struct Figures {
  int64_t shots = 0;
  int64_t checkpointShots = 0;
  ProcessFigures atCheckpoint, atEnd;
  int64_t picturesChecked = 0, linesChecked = 0;
  double simulatedHours = 0.0, seconds = 0.0;
  int64_t visuTicks = 0, shotTicks = 0;
};

void Print(const char* what, const Figures& f) {
  std::printf("soak %s: %" PRId64 " shots in %.1f simulated hours (%" PRId64 " shot-timer ticks, %" PRId64
              " live-view ticks); %" PRId64 " pictures and %" PRId64 " record lines checked; after %" PRId64
              " shots RSS %" PRId64 " kB, %" PRId64 " fds; at the end RSS %" PRId64 " kB, %" PRId64 " fds; %.1f s\n",
              what, f.shots, f.simulatedHours, f.shotTicks, f.visuTicks, f.picturesChecked, f.linesChecked,
              f.checkpointShots, f.atCheckpoint.rssKb, f.atCheckpoint.fds, f.atEnd.rssKb, f.atEnd.fds, f.seconds);
  std::fflush(stdout);
}

void ExpectNoGrowth(const Figures& f) {
  EXPECT_EQ(f.atEnd.fds, f.atCheckpoint.fds) << "open file descriptors";
  if (kResidentMemoryIsMeaningful) {
    EXPECT_LE(f.atEnd.rssKb - f.atCheckpoint.rssKb, kRssNoiseKb) << "resident memory grew";
  }
}

// Starts a series with everything an operator can switch on.
void StartWatchedSeries(WorkRig& w, const std::string& wait) {
  w.AllChecksOn();
  w.StartSeries(wait);
  ASSERT_EQ(w.form().ShotCounter, 1);
  w.Tick(w.form().ui.CheckWarning, &Form1::CheckWarning_Click);
}

// Runs the series until it has taken shots, measuring the process after the checkpoint.
// Between chunks the test's own record of busy-pointer changes is emptied: it is the
// fake dialogs' log, not the program's memory.
void RunShots(WorkRig& w, int32_t shots, int32_t checkpoint, Figures& f) {
  MeasureProcess();  // the first reading touches pages of its own (stream buffers, locale)
  for (int32_t target = std::min(checkpoint, shots);; target = std::min(target + 1000, shots)) {
    ASSERT_TRUE(w.RunUntilShot(target, int64_t{1000} * 86400 * 400)) << "shot " << target;
    w.rig.dialogs.busyChanges.clear();
    if (target == checkpoint) f.atCheckpoint = MeasureProcess();
    if (target == shots) break;
  }
}

TEST(Soak, PeriodSeriesKeepsEveryShotWithoutGrowth) {
  const auto started = std::chrono::steady_clock::now();
  Figures f;
  f.shots = testing::EnvNumber("OSTRELO_SOAK_SHOTS", kDefaultShots);
  f.checkpointShots = std::min<int64_t>(kCheckpointShots, f.shots / 3);
  WorkRig w(kPeriodStart);
  const int64_t t0 = w.rig.clock.SteadyMs();
  StartWatchedSeries(w, "0.1");
  RunShots(w, static_cast<int32_t>(f.shots), static_cast<int32_t>(f.checkpointShots), f);
  f.atEnd = MeasureProcess();
  w.ClickSeries();  // STOP
  EXPECT_EQ(w.form().phase(), Phase::Running);
  EXPECT_TRUE(w.rig.dialogs.messages.empty());
  EXPECT_EQ(w.form().ShotCounter, f.shots);
  f.simulatedHours = static_cast<double>(w.rig.clock.SteadyMs() - t0) / 3600000.0;
  f.visuTicks = w.loop->visuTicks;
  f.shotTicks = w.loop->shotTicks;

  const testing::SeriesFiles files = testing::CheckSeriesFiles(w, static_cast<int32_t>(f.shots), true);
  f.picturesChecked = files.picturesChecked;
  f.linesChecked = files.linesChecked;
  // One shot every 100 ms: the stamps (seconds held in single precision, written to
  // hundredths) step by 0.1 s, across midnight too.
  int off = 0;
  for (size_t i = 1; i < files.stamps.size() && off < 10; ++i) {
    const double gap = testing::StampGap(files.stamps[i - 1], files.stamps[i]);
    if (gap < 0.08 || gap > 0.12) {
      ADD_FAILURE() << "shots " << i << " and " << i + 1 << " lie " << gap << " s apart";
      ++off;
    }
  }
  EXPECT_NE(files.stamps.front().first, files.stamps.back().first) << "the series crossed midnight";
  EXPECT_EQ(f.shotTicks, f.shots - 1) << "every tick shot; the first shot was the click's";
  f.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  Print("period 0.1 s", f);
  ExpectNoGrowth(f);
}

TEST(Soak, CountdownSeriesOverDaysKeepsEveryShotWithoutGrowth) {
  const auto started = std::chrono::steady_clock::now();
  Figures f;
  const int64_t minutes = testing::EnvNumber("OSTRELO_SOAK_MINUTES", kDefaultCountdownMinutes);
  constexpr int32_t kWaitSeconds = 60;
  // The first shot at the click, then one at every whole minute of the clock.
  f.shots = minutes * 60 / kWaitSeconds + 1;
  f.checkpointShots = std::min<int64_t>(kCheckpointShots, f.shots / 3);
  WorkRig w(kCountdownStart);
  const int64_t t0 = w.rig.clock.SteadyMs();
  StartWatchedSeries(w, std::to_string(kWaitSeconds));
  ASSERT_EQ(w.form().ui.Timer1.interval(), 500);
  RunShots(w, static_cast<int32_t>(f.checkpointShots), static_cast<int32_t>(f.checkpointShots), f);
  // The rest of the time, an hour at a time.
  const int64_t runMs = minutes * 60000;
  while (w.rig.clock.SteadyMs() - t0 < runMs) {
    w.loop->RunFor(std::min<int64_t>(3600000, runMs - (w.rig.clock.SteadyMs() - t0)));
    w.rig.dialogs.busyChanges.clear();
    ASSERT_EQ(w.form().phase(), Phase::Running);
  }
  f.atEnd = MeasureProcess();
  w.ClickSeries();  // STOP
  EXPECT_TRUE(w.rig.dialogs.messages.empty());
  EXPECT_EQ(w.form().ShotCounter, f.shots) << "one shot per minute of " << minutes << " minutes";
  f.simulatedHours = static_cast<double>(w.rig.clock.SteadyMs() - t0) / 3600000.0;
  f.visuTicks = w.loop->visuTicks;
  f.shotTicks = w.loop->shotTicks;
  // Between shots the live view ran: about two live grabs per countdown tick.
  EXPECT_GT(f.visuTicks, f.shotTicks);

  const testing::SeriesFiles files = testing::CheckSeriesFiles(w, w.form().ShotCounter, true);
  f.picturesChecked = files.picturesChecked;
  f.linesChecked = files.linesChecked;
  int off = 0;
  for (size_t i = 1; i < files.stamps.size() && off < 10; ++i) {
    // Whole-second readings: between the wait less one second and the wait plus half one.
    const double gap = testing::StampGap(files.stamps[i - 1], files.stamps[i]);
    if (gap < kWaitSeconds - 1.01 || gap > kWaitSeconds + 0.51) {
      ADD_FAILURE() << "shots " << i << " and " << i + 1 << " lie " << gap << " s apart";
      ++off;
    }
  }
  EXPECT_NE(files.stamps.front().first, files.stamps.back().first) << "the series crossed midnight";
  f.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  Print("countdown 60 s", f);
  ExpectNoGrowth(f);
}

}  // namespace
}  // namespace ostrelo
