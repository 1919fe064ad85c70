// The DAQ unit on a simulated card: start-up, the Acquisition switch and its states,
// the channel reading, and driver errors reaching the operator.

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "daq/GestionES_NI.h"
#include "shell/Numbers.h"
#include "shell/ProgramError.h"
#include "support/TestRig.h"

namespace ostrelo {
namespace {

using testing::Rig;

enum class DaqState { Acquiring, Paused, Disabled, Other };

DaqState StateOf(const Form1& f) {
  const bool optionsOn = f.ui.Option1[0].enabled && f.ui.Option1[1].enabled;
  const bool optionsOff = !f.ui.Option1[0].enabled && !f.ui.Option1[1].enabled;
  const auto& box = f.ui.AcquiCheck;
  if (f.st.DaqAcquisitionOn && box.value == 1 && box.enabled && optionsOff) return DaqState::Acquiring;
  if (!f.st.DaqAcquisitionOn && box.value == 0 && box.enabled && optionsOn) return DaqState::Paused;
  if (!f.st.DaqAcquisitionOn && box.value == 0 && !box.enabled && optionsOff) return DaqState::Disabled;
  return DaqState::Other;
}

void Click(Form1& f, int32_t tick) {
  f.ui.AcquiCheck.value = tick;
  f.Dispatch([&] { f.AcquiCheck_Click(); });
}

void Choose(Form1& f, int option) {
  f.ui.Option1[0].value = option == 0;
  f.ui.Option1[1].value = option == 1;
}

int CountCalls(const std::vector<std::string>& calls, const std::string& prefix) {
  int n = 0;
  for (const auto& c : calls) n += c.rfind(prefix, 0) == 0;
  return n;
}

void ExpectNamesAndUnits(const AcquisitionState& st) {
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(st.ChannelTable[i].Name, "Canal " + std::to_string(i));
    EXPECT_EQ(st.ChannelTable[i].Unit, "Volts");
  }
}

TEST(DaqStartup, CardPresentCreatesTheTaskAndFourSingleEndedChannelsSilently) {
  Rig rig;
  ASSERT_TRUE(rig.form.Load());
  EXPECT_TRUE(rig.dialogs.messages.empty());
  EXPECT_EQ(StateOf(rig.form), DaqState::Acquiring);
  EXPECT_EQ(rig.form.st.DaqDevicePrefix, "Dev1/");
  const auto channels = rig.daq.channels(rig.form.st.AiTask);
  ASSERT_EQ(channels.size(), 4u);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(channels[i].input, i);
    EXPECT_EQ(channels[i].terminalConfig, DAQmx::Val_RSE);
    EXPECT_EQ(channels[i].minVal, -10.0);
    EXPECT_EQ(channels[i].maxVal, 10.0);
  }
  ExpectNamesAndUnits(rig.form.st);
}

// -1: the task cannot be created; 0..3: that channel cannot be created.
class DaqStartupWithoutCard : public ::testing::TestWithParam<int> {};

TEST_P(DaqStartupWithoutCard, OneMessageThenAcquisitionDisabledAndTheProgramGoesOn) {
  Rig rig;
  rig.daq.recordCalls = true;
  if (GetParam() < 0) {
    rig.daq.script.createTaskStatus = -200220;
  } else {
    rig.daq.script.failChannel = GetParam();
  }
  ASSERT_TRUE(rig.form.Load());
  ASSERT_EQ(rig.dialogs.messages.size(), 1u);
  EXPECT_EQ(rig.dialogs.messages[0].text, "No NI card found, data acquisition disabled");
  EXPECT_EQ(rig.dialogs.messages[0].title, "Ostrelo");
  EXPECT_EQ(StateOf(rig.form), DaqState::Disabled);
  EXPECT_EQ(rig.form.phase(), Phase::Running);
  EXPECT_TRUE(rig.form.ui.VisuTimer.enabled());
  ExpectNamesAndUnits(rig.form.st);
  // Start-up tries all four channels of a created task before it reacts once.
  EXPECT_EQ(CountCalls(rig.daq.calls, "CreateAIVoltageChan"), GetParam() < 0 ? 0 : 4);
  // A click echoed by the view after the box was unticked from code leaves it greyed.
  rig.form.Dispatch([&] { rig.form.AcquiCheck_Click(); });
  EXPECT_EQ(StateOf(rig.form), DaqState::Disabled);
  EXPECT_EQ(rig.dialogs.messages.size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(TaskOrChannel, DaqStartupWithoutCard, ::testing::Values(-1, 0, 1, 2, 3));

// The states of the Acquisition switch after a sequence of operator actions.
struct SwitchCase {
  const char* name;
  std::vector<int32_t> ticks;  // successive values clicked into the box
  int failChannelOnLastTick;   // -1: the card stays healthy
  DaqState expected;
};

void PrintTo(const SwitchCase& c, std::ostream* os) { *os << c.name; }

class AcquisitionSwitch : public ::testing::TestWithParam<SwitchCase> {};

TEST_P(AcquisitionSwitch, EndsInTheExpectedState) {
  const SwitchCase& c = GetParam();
  Rig rig;
  ASSERT_TRUE(rig.form.Load());
  for (size_t i = 0; i < c.ticks.size(); ++i) {
    if (i + 1 == c.ticks.size()) rig.daq.script.failChannel = c.failChannelOnLastTick;
    Click(rig.form, c.ticks[i]);
  }
  EXPECT_EQ(StateOf(rig.form), c.expected);
  const bool failed = c.expected == DaqState::Disabled;
  EXPECT_EQ(rig.dialogs.messages.size(), failed ? 1u : 0u);
  // Never more than the one task the program owns.
  EXPECT_EQ(rig.daq.taskCount(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Sequences, AcquisitionSwitch,
                         ::testing::Values(SwitchCase{"Untick", {0}, -1, DaqState::Paused},
                                           SwitchCase{"UntickTick", {0, 1}, -1, DaqState::Acquiring},
                                           SwitchCase{"UntickTickTwice", {0, 1, 0, 1}, -1, DaqState::Acquiring},
                                           SwitchCase{"TickFailsOnChannel0", {0, 1}, 0, DaqState::Disabled},
                                           SwitchCase{"TickFailsOnChannel3", {0, 1}, 3, DaqState::Disabled}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(AcquisitionSwitch, UntickKeepsTheTaskAndItsChannels) {
  Rig rig;
  ASSERT_TRUE(rig.form.Load());
  const DaqTaskHandle task = rig.form.st.AiTask;
  rig.daq.recordCalls = true;
  Click(rig.form, 0);
  EXPECT_TRUE(rig.daq.calls.empty());
  EXPECT_EQ(rig.daq.channels(task).size(), 4u);
}

// Untick, choose the wiring, tick: the old task goes before "AI-TASK" is made again.
class WiringChoice : public ::testing::TestWithParam<std::pair<int, int32_t>> {};

TEST_P(WiringChoice, ChannelsAreCreatedAnewWithTheChosenWiring) {
  const auto [option, terminal] = GetParam();
  Rig rig;
  ASSERT_TRUE(rig.form.Load());
  const DaqTaskHandle old = rig.form.st.AiTask;
  Click(rig.form, 0);
  Choose(rig.form, option);
  rig.daq.recordCalls = true;
  Click(rig.form, 1);

  ASSERT_GE(rig.daq.calls.size(), 2u);
  EXPECT_EQ(rig.daq.calls[0], "ClearTask(" + std::to_string(old) + ")");
  EXPECT_EQ(rig.daq.calls[1], "CreateTask(AI-TASK)");
  EXPECT_NE(rig.form.st.AiTask, old);
  const auto channels = rig.daq.channels(rig.form.st.AiTask);
  ASSERT_EQ(channels.size(), 4u);
  for (const auto& ch : channels) EXPECT_EQ(ch.terminalConfig, terminal);
  EXPECT_EQ(StateOf(rig.form), DaqState::Acquiring);
}

INSTANTIATE_TEST_SUITE_P(RseOrDiff, WiringChoice,
                         ::testing::Values(std::pair{1, DAQmx::Val_Diff}, std::pair{0, DAQmx::Val_RSE}));

TEST(AcquisitionSwitch, FailureOnATickStopsAtTheFailingChannel) {
  Rig rig;
  ASSERT_TRUE(rig.form.Load());
  Click(rig.form, 0);
  rig.daq.recordCalls = true;
  rig.daq.script.failChannel = 1;
  Click(rig.form, 1);
  EXPECT_EQ(CountCalls(rig.daq.calls, "CreateAIVoltageChan"), 2);  // ai0, then the failing ai1
  EXPECT_EQ(StateOf(rig.form), DaqState::Disabled);
  ASSERT_EQ(rig.dialogs.messages.size(), 1u);
  EXPECT_EQ(rig.dialogs.messages[0].text, "No NI card found, data acquisition disabled");
}

TEST(AcquisitionSwitch, TaskCreationFailureOnATickDisables) {
  Rig rig;
  ASSERT_TRUE(rig.form.Load());
  Click(rig.form, 0);
  rig.daq.script.createTaskStatus = -50103;
  Click(rig.form, 1);
  EXPECT_EQ(StateOf(rig.form), DaqState::Disabled);
  EXPECT_EQ(rig.dialogs.messages.size(), 1u);
}

TEST(ClearDaqTasks, WithoutATaskDoesNothing) {
  Rig rig;
  rig.daq.recordCalls = true;
  ClearDaqTasks(rig.form);
  EXPECT_TRUE(rig.daq.calls.empty());
}

TEST(ClearDaqTasks, ClearsTheTaskAndKeepsItsHandle) {
  Rig rig;
  ASSERT_TRUE(rig.form.Load());
  const DaqTaskHandle task = rig.form.st.AiTask;
  ASSERT_NE(task, 0u);
  ClearDaqTasks(rig.form);
  EXPECT_EQ(rig.daq.taskCount(), 0u);
  EXPECT_EQ(rig.form.st.AiTask, task);
}

TEST(DaqShutdown, ClosingTheWindowClearsTheTask) {
  Rig rig;
  ASSERT_TRUE(rig.form.Load());
  rig.form.Unload();
  EXPECT_EQ(rig.daq.taskCount(), 0u);
}

// A constant input and what the window shows for it.
struct ConstantCase {
  double volts;
  double value;
  const char* caption;
};

void PrintTo(const ConstantCase& c, std::ostream* os) { *os << c.volts << " V"; }

class ConstantInput : public ::testing::TestWithParam<ConstantCase> {};

TEST_P(ConstantInput, ValueIsMinusTheMeanAndShowsWithItsSign) {
  Rig rig;
  ASSERT_TRUE(rig.form.Load());
  rig.daq.script.instant = true;
  rig.daq.script.constantVolts[1] = GetParam().volts;
  const double value = ReadDaqInputs(rig.form, 1);
  EXPECT_EQ(value, GetParam().value);
  EXPECT_EQ(FormatNumber(value, Daq::kValuePattern), GetParam().caption);
  EXPECT_EQ(rig.form.st.AiChannelCount, 4u);
}

INSTANTIATE_TEST_SUITE_P(Volts, ConstantInput,
                         ::testing::Values(ConstantCase{2.5, -2.5, "02.500"}, ConstantCase{-2.5, 2.5, "-02.500"},
                                           ConstantCase{0.0, 0.0, "-00.000"}, ConstantCase{12.0, -10.0, "10.000"}),
                         [](const auto& info) { return "Caption" + std::to_string(info.index); });

// Each input at its own level, so a sample taken from the wrong channel shows.
class ReadCount : public ::testing::TestWithParam<int32_t> {};

TEST_P(ReadCount, EveryChannelIsAveragedOverItsOwnSamples) {
  Rig rig;
  ASSERT_TRUE(rig.form.Load());
  rig.daq.script.instant = true;
  rig.daq.script.samplesRead = GetParam();
  for (int i = 0; i < 4; ++i) rig.daq.script.constantVolts[i] = 1.5 + i;
  for (uint8_t k = 0; k < 4; ++k) EXPECT_EQ(ReadDaqInputs(rig.form, k), -(1.5 + k)) << "channel " << int(k);
}

// Short, full, and a count beyond what was asked (held to the samples the buffer holds).
INSTANTIATE_TEST_SUITE_P(Samples, ReadCount, ::testing::Values(700, 800, 900, 1));

TEST(ReadDaqInputs, ReadLastsTheAcquisitionTime) {
  Rig rig;
  ASSERT_TRUE(rig.form.Load());
  const int64_t before = rig.clock.SteadyMs();
  ReadDaqInputs(rig.form, 0);
  EXPECT_EQ(rig.clock.SteadyMs() - before, 80);
}

TEST(ReadDaqInputs, WarningsAreIgnored) {
  Rig rig;
  rig.daq.script.warning = 200077;
  ASSERT_TRUE(rig.form.Load());
  EXPECT_EQ(StateOf(rig.form), DaqState::Acquiring);
  EXPECT_TRUE(rig.dialogs.messages.empty());
  rig.daq.script.constantVolts[2] = 3.0;
  rig.daq.script.readStatus = 200010;
  EXPECT_EQ(ReadDaqInputs(rig.form, 2), -3.0);
}

// A driver error in a grab run by a window event ends the program with its number and text.
struct ErrorCase {
  const char* name;
  int32_t SimulatedDaq::Script::*status;
};

void PrintTo(const ErrorCase& c, std::ostream* os) { *os << c.name; }

class DaqErrorInEvent : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(DaqErrorInEvent, EndsTheProgramWithNumberAndDriverText) {
  Rig rig;
  ASSERT_TRUE(rig.form.Load());
  rig.daq.script.instant = true;
  rig.daq.script.*GetParam().status = -200284;
  rig.daq.script.errorTexts[-200284] = std::string("Samples not acquired.\0Detail", 29);
  rig.form.Dispatch([&] { ReadDaqInputs(rig.form, 0); });
  ASSERT_EQ(rig.dialogs.messages.size(), 1u);
  EXPECT_EQ(rig.dialogs.messages[0].text, "Run-time error '-200284':\n\nSamples not acquired.");
  EXPECT_EQ(rig.dialogs.messages[0].title, "Ostrelo");
  EXPECT_EQ(rig.form.phase(), Phase::Ended);
  EXPECT_EQ(rig.daq.taskCount(), 0u);  // shut-down cleared the task
  EXPECT_EQ(rig.daq.reads(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Steps, DaqErrorInEvent,
                         ::testing::Values(ErrorCase{"Timing", &SimulatedDaq::Script::timingStatus},
                                           ErrorCase{"ChannelCount", &SimulatedDaq::Script::numChansStatus},
                                           ErrorCase{"Read", &SimulatedDaq::Script::readStatus}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace ostrelo
