// DAQ faults during a realistic series, acquisition on: a read that times out and
// driver errors, in a live-view tick and in a shot tick fired by the timer, end the
// program after one message box with the driver's status and text, and every file
// written before stays byte for byte as it was. Warnings change nothing; a card
// missing at start-up leaves a series whose record has no channel columns.

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

// A read that waits out its 10 s time-out; a card unplugged during the read; the
// sample clock refused; a task that has vanished when its channels are counted.
const DaqFault kFaults[] = {
    {"ReadTimeout", FaultyDaq::Step::Read, SimulatedDaq::kSamplesNotAvailable,
     "Some or all of the samples requested have not yet been acquired.", 10000},
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

TEST_P(DaqFaultInSeries, EndsTheProgramWithTheDriversErrorAndKeepsEveryFile) {
  const Case c = GetParam();
  WorkRig w;
  Form1& f = w.form();
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

  // A shot tick is the only event that reads while TickBusy is set.
  FaultyDaq& card = w.rig.faults;
  const bool inShot = c.where == Where::PeriodShot || c.where == Where::CountdownShot;
  card.armed = [&f, inShot] { return f.TickBusy == inShot; };
  card.step = c.fault.step;
  card.status = c.fault.status;
  card.stallMs = c.fault.stallMs;
  w.rig.daq.script.errorTexts[c.fault.status] = c.fault.text;
  const int64_t liveBefore = w.loop->visuTicks;
  w.loop->RunFor(countdown ? 90000 : 5000);

  EXPECT_EQ(card.faults, 1) << "the program ended at the first failing call";
  ASSERT_EQ(w.rig.dialogs.messages.size(), 1u);
  EXPECT_EQ(w.rig.dialogs.messages[0].text,
            "Run-time error '" + std::to_string(c.fault.status) + "':\n\n" + c.fault.text);
  EXPECT_EQ(w.rig.dialogs.messages[0].title, "Ostrelo");
  EXPECT_EQ(f.phase(), Phase::Ended);
  EXPECT_NE(f.exitCode(), 0);
  if (c.where == Where::PeriodShot) {
    EXPECT_EQ(w.loop->visuTicks, liveBefore) << "no live view in a period series";
  }
  // Nothing written for the failed shot, nothing changed before it.
  EXPECT_EQ(f.ShotCounter, taken);
  EXPECT_EQ(testing::Snapshot(w.folderPath), before);
  // Shut down in order: timers off, the camera's request given back, the task cleared.
  EXPECT_FALSE(f.ui.Timer1.enabled());
  EXPECT_FALSE(f.ui.VisuTimer.enabled());
  EXPECT_EQ(w.rig.camera.lockedRequests(), 0);
  EXPECT_EQ(w.rig.daq.taskCount(), 0u);
  EXPECT_FALSE(w.rig.dialogs.busy);
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
