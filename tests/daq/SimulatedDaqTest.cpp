// The simulated card behaves as a card would for what the program relies on: its
// device and channels, per-task channels, wiring, range, timing and scripted faults.

#include <gtest/gtest.h>

#include <cmath>
#include <numeric>
#include <string>
#include <vector>

#include "daq/sim/SimulatedDaq.h"

namespace ostrelo {
namespace {

struct Card {
  ManualClock clock;
  SimulatedDaq daq{clock};
  DaqTaskHandle task = 0;

  // A task with the given inputs, timed for 800 samples at 10 kHz.
  void Make(std::vector<int> inputs, int32_t wiring, double lo = -10.0, double hi = 10.0) {
    ASSERT_EQ(daq.CreateTask("T", &task), 0);
    for (int i : inputs) {
      ASSERT_EQ(daq.CreateAIVoltageChan(task, "Dev1/ai" + std::to_string(i), "", wiring, lo, hi, DAQmx::Val_Volts, ""),
                0);
    }
    ASSERT_EQ(daq.CfgSampClkTiming(task, "OnboardClock", 10000.0, DAQmx::Val_Rising, DAQmx::Val_FiniteSamps, 800), 0);
  }
  // All samples of one read, grouped by channel.
  std::vector<double> Read(size_t channels, int32_t* n = nullptr) {
    std::vector<double> data(channels * 800);
    int32_t read = 0;
    EXPECT_EQ(daq.ReadAnalogF64(task, 800, 10.0, 0, data.data(), static_cast<uint32_t>(data.size()), &read, nullptr),
              0);
    if (n != nullptr) *n = read;
    return data;
  }
};

double Mean(const std::vector<double>& v, size_t from, size_t n) {
  return std::accumulate(v.begin() + from, v.begin() + from + n, 0.0) / n;
}

TEST(SimulatedDaq, UnknownPhysicalChannelsFail) {
  Card card;
  ASSERT_EQ(card.daq.CreateTask("T", &card.task), 0);
  for (const char* name : {"Dev1/ai4", "Dev2/ai0", "Dev1/ao0", "dev1/ai0", "Dev1/ai", "Dev1/ai10", "Dev1/ai0 "}) {
    EXPECT_EQ(card.daq.CreateAIVoltageChan(card.task, name, "", DAQmx::Val_RSE, -10, 10, DAQmx::Val_Volts, ""),
              SimulatedDaq::kNoSuchChannel)
        << name;
  }
  EXPECT_TRUE(card.daq.channels(card.task).empty());
}

TEST(SimulatedDaq, ChannelsBelongToTheirTaskAndClearingRemovesIt) {
  Card card;
  DaqTaskHandle a = 0, b = 0;
  ASSERT_EQ(card.daq.CreateTask("A", &a), 0);
  ASSERT_EQ(card.daq.CreateTask("B", &b), 0);
  EXPECT_NE(a, b);
  EXPECT_EQ(card.daq.CreateTask("A", &b), SimulatedDaq::kDuplicateTask);
  ASSERT_EQ(card.daq.CreateAIVoltageChan(a, "Dev1/ai2", "", DAQmx::Val_RSE, -10, 10, DAQmx::Val_Volts, ""), 0);
  uint32_t count = 99;
  EXPECT_EQ(card.daq.GetTaskNumChans(a, &count), 0);
  EXPECT_EQ(count, 1u);
  EXPECT_EQ(card.daq.GetTaskNumChans(b, &count), 0);
  EXPECT_EQ(count, 0u);

  EXPECT_EQ(card.daq.ClearTask(a), 0);
  EXPECT_EQ(card.daq.ClearTask(a), SimulatedDaq::kInvalidTask);
  EXPECT_EQ(card.daq.GetTaskNumChans(a, &count), SimulatedDaq::kInvalidTask);
  DaqTaskHandle again = 0;
  EXPECT_EQ(card.daq.CreateTask("A", &again), 0);  // the name is free once cleared
}

TEST(SimulatedDaq, InputsCarryDistinctSignals) {
  Card card;
  card.Make({0, 1, 2, 3}, DAQmx::Val_Diff);
  const auto first = card.Read(4);
  card.clock.Advance(5000);
  const auto later = card.Read(4);
  // ai0: a slow sine, moving between reads; ai1: a constant; ai2: a rising ramp; ai3: noise around 0 V.
  EXPECT_NEAR(Mean(first, 0, 800), SimulatedDaq::kSineAmplitude * std::sin(2 * M_PI * 0.04 / 20), 0.01);
  EXPECT_GT(Mean(later, 0, 800), 1.0);
  EXPECT_NEAR(Mean(first, 800, 800), SimulatedDaq::kConstantVolts, 0.001);
  EXPECT_NEAR(Mean(later, 800, 800), SimulatedDaq::kConstantVolts, 0.001);
  EXPECT_GT(Mean(later, 1600, 800), Mean(first, 1600, 800) + 1.0);
  EXPECT_NEAR(Mean(first, 2400, 800), 0.0, 0.02);
  double square = 0;
  for (size_t i = 2400; i < 3200; ++i) square += first[i] * first[i];
  EXPECT_NEAR(std::sqrt(square / 800), SimulatedDaq::kNoiseOnlySigma, 0.01);
}

TEST(SimulatedDaq, DifferentialWiringRemovesTheCommonModeOffset) {
  Card rse, diff;
  rse.Make({1}, DAQmx::Val_RSE);
  diff.Make({1}, DAQmx::Val_Diff);
  // 80 ms hold four whole periods of the 50 Hz hum: only the offset is left in the mean.
  EXPECT_NEAR(Mean(rse.Read(1), 0, 800), SimulatedDaq::kConstantVolts + SimulatedDaq::kCommonModeVolts, 0.002);
  EXPECT_NEAR(Mean(diff.Read(1), 0, 800), SimulatedDaq::kConstantVolts, 0.002);
}

TEST(SimulatedDaq, SamplesAreClippedToTheChannelRange) {
  Card card;
  card.daq.script.constantVolts = {12.0, -15.0, 0.5, 2.0};
  card.Make({0, 1, 2}, DAQmx::Val_Diff);
  ASSERT_EQ(card.daq.CreateAIVoltageChan(card.task, "Dev1/ai3", "", DAQmx::Val_Diff, -1, 1, DAQmx::Val_Volts, ""), 0);
  const auto data = card.Read(4);
  EXPECT_EQ(data[0], 10.0);
  EXPECT_EQ(data[800], -10.0);
  EXPECT_EQ(data[1600], 0.5);
  EXPECT_EQ(data[2400], 1.0);
  EXPECT_EQ(card.daq.CreateAIVoltageChan(card.task, "Dev1/ai0", "", DAQmx::Val_Diff, -20, 20, DAQmx::Val_Volts, ""),
            SimulatedDaq::kInvalidAttribute);
}

TEST(SimulatedDaq, ReadLastsTheAcquisitionUnlessInstant) {
  Card card;
  card.Make({0, 1}, DAQmx::Val_RSE);
  card.Read(2);
  EXPECT_EQ(card.clock.SteadyMs(), 80);
  card.daq.script.instant = true;
  card.Read(2);
  EXPECT_EQ(card.clock.SteadyMs(), 80);
  // A time-out shorter than the acquisition ends the read with an error.
  card.daq.script.instant = false;
  std::vector<double> data(1600);
  int32_t n = -1;
  EXPECT_EQ(card.daq.ReadAnalogF64(card.task, 800, 0.05, 0, data.data(), 1600, &n, nullptr),
            SimulatedDaq::kSamplesNotAvailable);
  EXPECT_EQ(n, 0);
}

TEST(SimulatedDaq, ReadChecksTheArraySizeAndHonoursTheFillMode) {
  Card card;
  card.daq.script.constantVolts = {1.0, 2.0, std::nullopt, std::nullopt};
  card.Make({0, 1}, DAQmx::Val_Diff);
  std::vector<double> data(1600);
  int32_t n = 0;
  EXPECT_EQ(card.daq.ReadAnalogF64(card.task, 800, 10, 0, data.data(), 1599, &n, nullptr),
            SimulatedDaq::kBufferTooSmall);
  EXPECT_EQ(card.daq.ReadAnalogF64(card.task, 800, 10, 1, data.data(), 1600, &n, nullptr), 0);
  EXPECT_EQ(data[0], 1.0);
  EXPECT_EQ(data[1], 2.0);
  EXPECT_EQ(data[1599], 2.0);
}

TEST(SimulatedDaq, ScriptedCountsShapeTheRead) {
  Card card;
  card.daq.script.constantVolts = {1.0, 2.0, std::nullopt, std::nullopt};
  card.Make({0, 1}, DAQmx::Val_Diff);
  int32_t n = 0;
  card.daq.script.samplesRead = 700;
  auto data = card.Read(2, &n);
  EXPECT_EQ(n, 700);
  EXPECT_EQ(data[699], 1.0);
  EXPECT_EQ(data[700], 2.0);          // the second channel follows after 700 samples
  EXPECT_EQ(data[1400], 0.0);         // nothing beyond the samples read
  card.daq.script.samplesRead = 900;  // reported only: no more than asked is stored
  data = card.Read(2, &n);
  EXPECT_EQ(n, 900);
  EXPECT_EQ(data[800], 2.0);
  card.daq.script.reportedChannels = 7u;
  uint32_t count = 0;
  EXPECT_EQ(card.daq.GetTaskNumChans(card.task, &count), 0);
  EXPECT_EQ(count, 7u);
}

TEST(SimulatedDaq, ScriptedErrorTextComesBackInTwoCalls) {
  Card card;
  card.daq.script.errorTexts[-200279] = "Overwritten.";
  const int32_t needed = card.daq.GetErrorString(-200279, nullptr, 0);
  EXPECT_EQ(needed, 13);
  std::vector<char> text(needed);
  EXPECT_EQ(card.daq.GetErrorString(-200279, text.data(), needed), 0);
  EXPECT_STREQ(text.data(), "Overwritten.");
  EXPECT_GT(card.daq.GetErrorString(SimulatedDaq::kSamplesNotAvailable, nullptr, 0), 1);
}

}  // namespace
}  // namespace ostrelo
