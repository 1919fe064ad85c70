// A camera that stops answering for a while and comes back, during a series in both
// modes and during a one shot. Nothing ends the run: a shot that finds no picture is
// not taken and is tried again at the next ticks, numbering goes on without a gap, no
// shot saves a picture older than itself, and the window says what is going on.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <set>

#include "camera/GrabFrame.h"
#include "shots/SeriesTestSupport.h"

namespace ostrelo {
namespace {

using testing::ReadFile;
using testing::SeriesRig;
using testing::SplitFields;
using testing::SplitLines;

struct OutageRig : SeriesRig {
  OutageRig() {
    // Frame k is painted with its number, low and high byte in turn: a picture tells
    // which frame it is.
    rig.camera.SetPainter([](uint8_t* pixels, int32_t w, int32_t h, uint64_t k) {
      for (size_t i = 0; i < static_cast<size_t>(w) * h; ++i) pixels[i] = static_cast<uint8_t>(i % 2 ? k >> 8 : k);
    });
    form().logSink = [this](const std::string& line) { log.push_back(line); };
    AnswerDialog();
  }
  uint64_t FrameOf(int32_t n) const {
    const std::vector<uint8_t> p = testing::ReadBmp(ReadFile(Picture(n))).pixels;
    return p.at(0) | static_cast<uint64_t>(p.at(1)) << 8;
  }
  std::vector<std::string> log;
};

// Pictures 1..n, each of a frame of its own, each with its line, in order, one header.
void ExpectShotsWithoutGap(OutageRig& s, int32_t n) {
  const auto lines = SplitLines(ReadFile(s.Record()));
  ASSERT_EQ(lines.size(), static_cast<size_t>(n) + 1);
  std::set<uint64_t> frames;
  for (int32_t i = 1; i <= n; ++i) {
    EXPECT_NE(SplitFields(lines[static_cast<size_t>(i)]).at(0).find(FormatNumber(i, "0000") + ".bmp"),
              std::string::npos);
    frames.insert(s.FrameOf(i));
  }
  EXPECT_EQ(frames.size(), static_cast<size_t>(n)) << "every shot saved a frame of its own";
  EXPECT_FALSE(std::filesystem::exists(s.Picture(n + 1)));
}

struct SeriesOutage {
  const char* name;
  const char* wait;
  int64_t startsAfterShotMs;  // from the shot before the outage
  int64_t lengthMs;
  int32_t shotsNotTaken;  // in the log line; -1: no outage noticed
  bool stopDuringOutage;
};
void PrintTo(const SeriesOutage& c, std::ostream* os) { *os << c.name; }

class SeriesThroughOutage : public ::testing::TestWithParam<SeriesOutage> {};

TEST_P(SeriesThroughOutage, GoesOnWithoutGapOrStaleFrame) {
  const SeriesOutage& c = GetParam();
  OutageRig s;
  s.EnterWait(c.wait);
  s.ClickSeries();
  s.RunUntilShot(3, 200000);
  s.loop->RunFor(c.startsAfterShotMs);
  const int64_t from = s.rig.clock.SteadyMs();
  const uint64_t framesBefore = s.rig.camera.framesDelivered();
  s.rig.camera.script.silentUntilMs = from + c.lengthMs;
  s.loop->longestMs = 0;
  if (c.stopDuringOutage) {
    s.loop->RunFor(1000);
    EXPECT_NE(s.form().ui.CameraNotice.find("Camera not answering since 12:0"), std::string::npos);
    s.ClickSeries();
    EXPECT_LE(s.rig.clock.SteadyMs() - from, 1000 + kGrabBudgetMs) << "STOP waited for one grab at most";
    s.ExpectIdle(true);
    s.loop->RunFor(c.lengthMs + 5000);
    EXPECT_EQ(s.form().ShotCounter, 3);
  } else {
    s.loop->RunFor(c.lengthMs - 500);
    EXPECT_EQ(s.form().ui.CameraNotice.empty(), c.shotsNotTaken < 0);
    s.RunUntilShot(6, 200000);
    s.ClickSeries();
  }
  EXPECT_LE(s.loop->longestMs, kGrabBudgetMs + kGrabRetryPauseMs) << "the longest hold of the window";
  EXPECT_EQ(s.form().phase(), Phase::Running);
  EXPECT_TRUE(s.rig.dialogs.messages.empty());
  EXPECT_EQ(s.form().ui.CameraNotice, "");
  const int32_t taken = s.form().ShotCounter;
  ExpectShotsWithoutGap(s, taken);
  if (taken > 3) {
    EXPECT_GE(s.FrameOf(4), framesBefore) << "the shot after the outage is newer than it";
    const std::vector<double> t = s.StampSeconds();
    // The delayed shot is taken as soon as the camera is back, and stamped then; a
    // countdown runs its next wait from it.
    if (std::string(c.wait) != "60" || c.startsAfterShotMs + c.lengthMs > 60000) {  // a shot was due meanwhile
      const double back = (c.startsAfterShotMs + c.lengthMs) / 1000.0;
      EXPECT_GE(t[3] - t[2], back - 1.0);
      EXPECT_LE(t[3] - t[2], back + 2.0);
    }
    if (std::string(c.wait) == "60") {
      EXPECT_NEAR(t[4] - t[3], 60.0, 1.0);
    }
  }
  if (c.shotsNotTaken < 0) {
    EXPECT_TRUE(s.log.empty());
  } else {
    ASSERT_EQ(s.log.size(), 1u);
    EXPECT_EQ(s.log[0].rfind("Camera not answering from 2011-03-25 12:0", 0), 0u) << s.log[0];
    EXPECT_NE(s.log[0].find("), " + ShotsNotTakenText(c.shotsNotTaken)), std::string::npos) << s.log[0];
  }
}

INSTANTIATE_TEST_SUITE_P(Outages, SeriesThroughOutage,
                         ::testing::Values(SeriesOutage{"PeriodShorterThanAGrab", "0.5", 100, 600, -1, false},
                                           SeriesOutage{"PeriodTwentySeconds", "0.5", 100, 20000, 39, false},
                                           SeriesOutage{"CountdownAcrossADueShot", "60", 50000, 20000, 0, false},
                                           SeriesOutage{"CountdownBetweenShots", "60", 10000, 20000, 0, false},
                                           SeriesOutage{"StopDuringTheOutage", "0.1", 0, 20000, 10, true}),
                         [](const auto& info) { return std::string(info.param.name); });

// A camera slower than one grab (a long exposure): every shot of a series is still
// taken, each with a picture of its own asked for when the shot first tried.
TEST(SlowCamera, EveryShotOfASeriesGetsAPictureOfItsOwn) {
  OutageRig s;
  s.rig.camera.script.instant = false;
  s.rig.camera.script.frameIntervalMs = 1500;
  s.EnterWait("0.5");
  s.ClickSeries();
  s.RunUntilShot(4, 60000);
  s.ClickSeries();
  EXPECT_TRUE(s.rig.dialogs.messages.empty());
  ExpectShotsWithoutGap(s, 4);
}

// The camera and the DAQ card away in a series, one during, after or around the other
// (ms from shot 3). A shot due meanwhile waits for both. Each device is visited at least
// once a second, whatever the series' wait: its line runs from its last answer, within a
// second before it went, to its next, within a second after it came back, and counts the
// shots due meanwhile (one each 0.5 s); the first outage's notice first.
struct BothAway {
  const char* name;
  const char* wait;
  int64_t cameraFromMs, cameraMs, cardFromMs, cardMs;
  int32_t cameraNotTaken, cardNotTaken;  // in the log lines; -1: no line
};
void PrintTo(const BothAway& c, std::ostream* os) { *os << c.name; }

class SeriesThroughBothOutages : public ::testing::TestWithParam<BothAway> {};

TEST_P(SeriesThroughBothOutages, WaitsForBothAndSaysSo) {
  const BothAway& c = GetParam();
  OutageRig s;
  s.form().st.DaqAcquisitionOn = true;
  s.EnterWait(c.wait);
  s.ClickSeries();
  const int64_t from = s.RunUntilShot(3, 200000);
  const double wallAtShot3 = s.rig.clock.Now().secondsSinceMidnight;
  int64_t cameraAt = 0, cardAt = 0;  // when each really went, from shot 3
  s.loop->longestMs = 0;
  bool cardNoticed = false;
  std::string firstOfBoth;
  s.loop->RunUntil(
      [&] {
        const int64_t t = s.rig.clock.SteadyMs() - from;
        if (t >= c.cameraFromMs && s.rig.camera.script.silentUntilMs == 0)
          s.rig.camera.script.silentUntilMs = from + (cameraAt = t) + c.cameraMs;
        if (t >= c.cardFromMs && s.rig.daq.script.awayUntilMs == 0)
          s.rig.daq.script.awayUntilMs = from + (cardAt = t) + c.cardMs;
        cardNoticed |= !s.form().ui.CardNotice.empty();
        const std::vector<std::string> shown = s.form().ui.DeviceNotices();
        if (shown.size() == 2 && firstOfBoth.empty()) firstOfBoth = shown[0].substr(0, shown[0].find(" not"));
        return t > std::max(c.cameraFromMs + c.cameraMs, c.cardFromMs + c.cardMs) + 3000;
      },
      60000);
  s.ClickSeries();
  EXPECT_EQ(cardNoticed, c.cardNotTaken >= 0);
  if (c.cameraFromMs != c.cardFromMs && !firstOfBoth.empty()) {
    EXPECT_EQ(firstOfBoth, c.cameraFromMs < c.cardFromMs ? "Camera" : "DAQ card");
  }
  EXPECT_LE(s.loop->longestMs, kGrabBudgetMs + kGrabRetryPauseMs) << "the longest hold of the window";
  EXPECT_EQ(s.form().ui.CameraNotice, "");
  EXPECT_EQ(s.form().ui.CardNotice, "");
  EXPECT_TRUE(s.rig.dialogs.messages.empty());
  ExpectShotsWithoutGap(s, s.form().ShotCounter);
  for (const auto& [device, notTaken, awayMs, lengthMs] : {std::tuple{"Camera", c.cameraNotTaken, cameraAt, c.cameraMs},
                                                           std::tuple{"DAQ card", c.cardNotTaken, cardAt, c.cardMs}}) {
    const auto line =
        std::find_if(s.log.begin(), s.log.end(), [&](const std::string& l) { return l.rfind(device, 0) == 0; });
    ASSERT_EQ(line != s.log.end(), notTaken >= 0) << device;
    if (notTaken < 0) continue;
    int h0 = 0, m0 = 0, s0 = 0, h1 = 0, m1 = 0, s1 = 0, count = -1;
    ASSERT_EQ(std::sscanf(line->c_str() + std::string(device).size(),
                          " not answering from %*d-%*d-%*d %d:%d:%d to %*d-%*d-%*d %d:%d:%d (%*d s), %d shot", &h0, &m0,
                          &s0, &h1, &m1, &s1, &count),
              7)
        << *line;
    // Whole seconds: the last answer within [away - 1, away], the next within [back, back + 1].
    const double away = wallAtShot3 + static_cast<double>(awayMs) / 1000.0, back = away + lengthMs / 1000.0;
    EXPECT_TRUE(s0 + 60 * (m0 + 60 * h0) > away - 2.0 && s0 + 60 * (m0 + 60 * h0) <= away) << *line;
    EXPECT_TRUE(s1 + 60 * (m1 + 60 * h1) > back - 1.0 && s1 + 60 * (m1 + 60 * h1) <= back + 1.0) << *line;
    EXPECT_NEAR(count, notTaken, 3) << *line;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Outages, SeriesThroughBothOutages,
    ::testing::Values(BothAway{"CardAlone", "0.5", 0, 0, 100, 5000, -1, 10},
                      BothAway{"BothTogether", "0.5", 100, 5000, 100, 8000, 10, 16},
                      BothAway{"CardOnlyWhileTheCameraIsAway", "0.5", 100, 10000, 3000, 3000, 20, 6},
                      BothAway{"CameraDuringTheCard", "0.5", 3000, 3000, 100, 10000, 6, 20},
                      BothAway{"CardAfterTheCamera", "0.5", 100, 3000, 5000, 3000, 6, 6},
                      BothAway{"LongWaitCardWhileTheCameraIsAway", "30", 2000, 10000, 5000, 3000, 0, 0},
                      BothAway{"LongWaitCardAfterTheCamera", "30", 2000, 3000, 8000, 3000, 0, 0}),
    [](const auto& info) { return std::string(info.param.name); });

struct OneShotOutage {
  const char* name;
  int64_t lengthMs;
  bool taken;
  bool card;  // the DAQ card away rather than the camera
};
void PrintTo(const OneShotOutage& c, std::ostream* os) { *os << c.name; }

class OneShotThroughOutage : public ::testing::TestWithParam<OneShotOutage> {};

TEST_P(OneShotThroughOutage, WaitsForTheCameraUpToItsLimitThenSaysSo) {
  const OneShotOutage& c = GetParam();
  OutageRig s;
  s.form().st.DaqAcquisitionOn = c.card;
  s.loop->RunFor(1000);  // the live view: the card has read
  const int64_t from = s.rig.clock.SteadyMs();
  const uint64_t framesBefore = s.rig.camera.framesDelivered();
  (c.card ? s.rig.daq.script.awayUntilMs : s.rig.camera.script.silentUntilMs) = from + c.lengthMs;
  s.ClickOneShot();
  s.loop->RunUntil([&] { return !s.form().OneShot; }, 30000);
  EXPECT_FALSE(s.form().OneShot);
  EXPECT_FALSE(s.form().ui.Timer1.enabled());
  EXPECT_TRUE(s.form().ui.VisuTimer.enabled());
  EXPECT_EQ(s.form().phase(), Phase::Running);
  if (c.taken) {
    EXPECT_TRUE(s.rig.dialogs.messages.empty());
    ExpectShotsWithoutGap(s, 1);
    EXPECT_GE(s.FrameOf(1), framesBefore);
    EXPECT_GE(s.rig.clock.SteadyMs(), from + c.lengthMs);
    return;
  }
  ASSERT_EQ(s.rig.dialogs.messages.size(), 1u);
  EXPECT_EQ(s.rig.dialogs.messages[0].text, c.card ? "No voltages from the DAQ card" : "No picture from the camera");
  EXPECT_EQ(s.rig.dialogs.messages[0].title, "Ostrelo");
  const int64_t spent = s.rig.clock.SteadyMs() - from;
  EXPECT_GE(spent, 10000 - kGrabBudgetMs) << "the patience less one try";
  EXPECT_LE(spent, 12000);
  EXPECT_EQ(s.form().ShotCounter, 0);
  EXPECT_TRUE(testing::FolderContent(s.folder.path()).empty());
  // Once the device is back, a one shot is taken as usual.
  s.loop->RunFor(c.lengthMs);
  s.ClickOneShot();
  s.loop->RunFor(1000);
  ExpectShotsWithoutGap(s, 1);
}

// Closed while the card and then the camera are away: each outage still gets its line,
// and the program ends as usual.
TEST(CameraOutage, ClosingDuringOutagesLogsThem) {
  OutageRig s;
  s.form().st.DaqAcquisitionOn = true;
  s.loop->RunFor(1000);
  s.rig.daq.script.awayUntilMs = s.rig.clock.SteadyMs() + 60000;
  s.loop->RunFor(1000);
  s.rig.camera.script.silentUntilMs = s.rig.clock.SteadyMs() + 60000;
  s.loop->RunFor(3000);
  s.form().Unload();
  EXPECT_EQ(s.form().exitCode(), 0);
  ASSERT_EQ(s.log.size(), 2u);
  for (const std::string& line : s.log)
    EXPECT_NE(line.find(" s, still away at shut-down), 0 shots not taken"), std::string::npos) << line;
}

INSTANTIATE_TEST_SUITE_P(Outages, OneShotThroughOutage,
                         ::testing::Values(OneShotOutage{"FiveSeconds", 5000, true, false},
                                           OneShotOutage{"TwentySeconds", 20000, false, false},
                                           OneShotOutage{"CardFiveSeconds", 5000, true, true},
                                           OneShotOutage{"CardTwentySeconds", 20000, false, true}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace ostrelo
