// DAQ faults during a realistic series, acquisition on, once the card has read: a read
// that times out and driver errors, in a live-view tick and in a shot tick, for five
// seconds. The card is away meanwhile: a shot due then waits for it, the card is
// brought back by itself, the series goes on without a gap and every line keeps its
// four voltages. Warnings change nothing; a card missing at start-up leaves a series
// whose record has no channel columns.

#include <gtest/gtest.h>

#include <string>

#include "reliability/ReliabilitySupport.h"

namespace ostrelo {
namespace {

using testing::FaultyDaq;
using testing::WorkRig;

struct DaqFault {
  const char* name;
  FaultyDaq::Step step;
  int32_t status;
  const char* text;  // the driver's text for status
  int32_t stallMs;   // how long the failing call blocks
};

// A read that waits out its 1 s time-out; a card unplugged during the read; the
// sample clock refused; a task that has vanished when its channels are counted.
const DaqFault kFaults[] = {
    {"ReadTimeout", FaultyDaq::Step::Read, SimulatedDaq::kSamplesNotAvailable,
     "Some or all of the samples requested have not yet been acquired.", 1000},
    {"DeviceGone", FaultyDaq::Step::Read, -201003,
     "Device cannot be accessed.\nPossible causes: Device is no longer present in the system.", 0},
    {"TimingRefused", FaultyDaq::Step::Timing, -50103, "The specified resource is reserved.", 0},
    {"TaskGone", FaultyDaq::Step::ChannelCount, SimulatedDaq::kInvalidTask,
     "Task specified is invalid or does not exist.", 0},
};

// Where the failing reading is made: the shot of a tick fired by the timer in period
// and in countdown mode, a live-view tick between two shots of a countdown series, and
// a live-view tick after a series was stopped.
enum class Where { PeriodShot, CountdownShot, LiveBetweenShots, LiveAfterSeries };
const char* const kWhere[] = {"PeriodShot", "CountdownShot", "LiveBetweenShots", "LiveAfterSeries"};

struct Case {
  DaqFault fault;
  Where where;
};
void PrintTo(const Case& c, std::ostream* os) { *os << c.fault.name << " in " << kWhere[static_cast<int>(c.where)]; }

class DaqFaultInSeries : public ::testing::TestWithParam<Case> {};

TEST_P(DaqFaultInSeries, TheCardIsAwayForAWhileAndTheSeriesGoesOn) {
  const Case c = GetParam();
  WorkRig w;
  Form1& f = w.form();
  std::vector<std::string> log;
  f.logSink = [&log](const std::string& line) { log.push_back(line); };
  ASSERT_TRUE(f.st.DaqAcquisitionOn);
  w.AllChecksOn();
  const bool countdown = c.where == Where::CountdownShot || c.where == Where::LiveBetweenShots;
  w.StartSeries(countdown ? "60" : "0.5");
  ASSERT_TRUE(w.RunUntilShot(countdown ? 3 : 10, 600000));
  if (c.where == Where::LiveAfterSeries) {
    w.ClickSeries();  // STOP: the live view runs again
    ASSERT_TRUE(f.ui.VisuTimer.enabled());
  }
  const int32_t taken = f.ShotCounter;
  const auto before = testing::Snapshot(w.folderPath);
  ASSERT_EQ(before.size(), static_cast<size_t>(taken) + 1);

  // A shot tick is the only event that reads while TickBusy is set; the card fails
  // for 5 s from the first read that fails.
  constexpr int64_t kAwayMs = 5000;
  FaultyDaq& card = w.rig.faults;
  const bool inShot = c.where == Where::PeriodShot || c.where == Where::CountdownShot;
  int64_t backAtMs = -1;
  card.armed = [&] {
    if (f.TickBusy != inShot) return false;
    if (backAtMs < 0) backAtMs = w.rig.clock.SteadyMs() + kAwayMs;
    return w.rig.clock.SteadyMs() < backAtMs;
  };
  card.step = c.fault.step;
  card.status = c.fault.status;
  card.stallMs = c.fault.stallMs;
  w.rig.daq.script.errorTexts[c.fault.status] = c.fault.text;
  w.rig.daq.script.resetMs = 1000;  // a slow reset, and then no read in the same event
  w.loop->longestMs = 0;
  ASSERT_TRUE(w.loop->RunUntil([&] { return card.faults > 0; }, 90000));
  EXPECT_EQ(f.ui.CardNotice.rfind("DAQ card not answering since 12:0", 0), 0u) << f.ui.CardNotice;
  w.loop->RunFor(kAwayMs + (countdown ? 130000 : 3000));

  EXPECT_TRUE(w.rig.dialogs.messages.empty());
  EXPECT_EQ(f.phase(), Phase::Running);
  EXPECT_LE(w.loop->longestMs, 1300) << "the longest hold of the window";
  EXPECT_EQ(f.ui.CardNotice, "");
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].rfind("DAQ card not answering from 2011-03-25 12:0", 0), 0u) << log[0];
  // Only a period series has shots due while the card is away; a countdown's shot is late.
  EXPECT_EQ(log[0].find("), 0 shots not taken") == std::string::npos, c.where == Where::PeriodShot) << log[0];
  // Whole shots after it, with no gap and their voltages; nothing before it changed.
  if (c.where != Where::LiveAfterSeries) {
    EXPECT_GE(f.ShotCounter, taken + 2);
    w.ClickSeries();
  }
  testing::CheckSeriesFiles(w, f.ShotCounter, true);
  auto after = testing::Snapshot(w.folderPath);
  for (const auto& [name, bytes] : before) EXPECT_EQ(after[name].substr(0, bytes.size()), bytes) << name;
}

std::vector<Case> AllCases() {
  std::vector<Case> cases;
  for (const DaqFault& fault : kFaults) {
    for (Where where : {Where::PeriodShot, Where::CountdownShot, Where::LiveBetweenShots, Where::LiveAfterSeries}) {
      cases.push_back({fault, where});
    }
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Faults, DaqFaultInSeries, ::testing::ValuesIn(AllCases()),
                         [](const ::testing::TestParamInfo<Case>& info) {
                           return std::string(info.param.fault.name) + "_" + kWhere[static_cast<int>(info.param.where)];
                         });

// Warnings from every call, start-up included, in live ticks and in the shots of a
// series: nothing is shown and the series goes on with its voltages.
TEST(DaqWarnings, AreIgnoredAndTheSeriesGoesOn) {
  WorkRig w(LocalTime{2011, 3, 25, 12, 0, 0, 43200.0}, [](SimulatedDaq& card) {
    card.script.warning = 200010;  // finite acquisition stopped before all samples were read
    card.script.constantVolts[1] = 1.25;
  });
  Form1& f = w.form();
  ASSERT_TRUE(f.st.DaqAcquisitionOn);
  w.loop->RunFor(1000);                  // live view with warnings
  w.rig.daq.script.readStatus = 200015;  // and another warning from the read itself
  w.StartSeries("0.5");
  ASSERT_TRUE(w.RunUntilShot(20, 60000));
  w.ClickSeries();
  w.loop->RunFor(1000);
  EXPECT_TRUE(w.rig.dialogs.messages.empty());
  EXPECT_EQ(f.phase(), Phase::Running);
  EXPECT_EQ(f.ui.AcquiCheck.value, 1);
  EXPECT_GE(w.rig.daq.reads(), 4u * (20 + 10));
  const testing::SeriesFiles files = testing::CheckSeriesFiles(w, 20, true);
  EXPECT_EQ(files.linesChecked, 20);
  const auto lines = testing::SplitLines(testing::ReadFile(w.Record()));
  for (size_t i = 1; i < lines.size(); ++i) {
    EXPECT_EQ(testing::SplitFields(lines[i]).at(3), "01.250") << "a mean of +1.25 V on ai1, line " << i;
  }
}

// The card missing at start-up (no task, or a channel that cannot be made): one
// message, then pictures and record lines without channel columns and no reading.
class CardMissingAtStartup : public ::testing::TestWithParam<int32_t> {};

TEST_P(CardMissingAtStartup, SeriesRunsWithoutChannelColumns) {
  const int32_t failingChannel = GetParam();
  WorkRig w(LocalTime{2011, 3, 25, 12, 0, 0, 43200.0}, [&](SimulatedDaq& card) {
    if (failingChannel < 0)
      card.script.createTaskStatus = SimulatedDaq::kNoSuchChannel;
    else
      card.script.failChannel = failingChannel;
  });
  Form1& f = w.form();
  ASSERT_EQ(w.rig.dialogs.messages.size(), 1u);
  EXPECT_EQ(w.rig.dialogs.messages[0].text, "No NI card found, data acquisition disabled");
  EXPECT_FALSE(f.st.DaqAcquisitionOn);
  EXPECT_EQ(f.ui.AcquiCheck.value, 0);
  EXPECT_FALSE(f.ui.AcquiCheck.enabled);

  w.AllChecksOn();
  w.loop->RunFor(1000);
  w.StartSeries("0.5");
  ASSERT_TRUE(w.RunUntilShot(20, 60000));
  w.ClickSeries();
  w.ClickOneShot();
  w.loop->RunFor(1000);
  EXPECT_EQ(f.ShotCounter, 21);
  EXPECT_EQ(w.rig.dialogs.messages.size(), 1u);
  EXPECT_EQ(f.phase(), Phase::Running);
  EXPECT_EQ(w.rig.daq.reads(), 0u);
  EXPECT_EQ(testing::CheckSeriesFiles(w, 21, false).linesChecked, 21);
}

INSTANTIATE_TEST_SUITE_P(TaskOrChannel, CardMissingAtStartup, ::testing::Values(-1, 2),
                         [](const auto& info) { return info.param < 0 ? std::string("NoTask") : "Channel2Fails"; });

}  // namespace
}  // namespace ostrelo
