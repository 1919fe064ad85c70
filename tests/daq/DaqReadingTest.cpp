// The channel reading and the error report against a driver whose every sample tells
// where it was stored, so the exact indexes summed are visible in the result.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "daq/GestionES_NI.h"
#include "shell/ProgramError.h"
#include "support/TestRig.h"

namespace ostrelo {
namespace {

// Stores index i at index i of the read array, as far as the array reaches.
class IndexDaq final : public DaqDriver {
 public:
  uint32_t channelCount = 4;
  int32_t samplesRead = 800;
  int32_t timingStatus = 0, readStatus = 0;
  std::string errorText;          // may hold NULs
  bool unterminatedText = false;  // fills the whole text buffer without a NUL
  int32_t neededSize = -2;        // -2: the text's size, NUL included

  uint64_t sampsPerChan = 0;
  uint32_t arraySize = 0;
  int32_t reads = 0;
  std::vector<std::pair<int32_t, uint32_t>> errorStringCalls;

  int32_t CreateTask(const std::string&, DaqTaskHandle* task) override {
    *task = 42;
    return 0;
  }
  int32_t ClearTask(DaqTaskHandle) override { return 0; }
  int32_t CreateAIVoltageChan(DaqTaskHandle, const std::string&, const std::string&, int32_t, double, double, int32_t,
                              const std::string&) override {
    return 0;
  }
  int32_t CfgSampClkTiming(DaqTaskHandle, const std::string&, double, int32_t, int32_t, uint64_t samps) override {
    sampsPerChan = samps;
    return timingStatus;
  }
  int32_t GetTaskNumChans(DaqTaskHandle, uint32_t* data) override {
    *data = channelCount;
    return 0;
  }
  int32_t ReadAnalogF64(DaqTaskHandle, int32_t, double, uint32_t, double* array, uint32_t size, int32_t* read,
                        uint32_t*) override {
    ++reads;
    arraySize = size;
    for (uint32_t i = 0; i < size; ++i) array[i] = i;
    *read = samplesRead;
    return readStatus;
  }
  int32_t GetErrorString(int32_t code, char* text, uint32_t size) override {
    errorStringCalls.emplace_back(code, size);
    if (size == 0) return neededSize != -2 ? neededSize : static_cast<int32_t>(errorText.size() + 1);
    if (unterminatedText) {
      std::memset(text, 'x', size);
      return 0;
    }
    const size_t n = std::min<size_t>(errorText.size(), size - 1);
    std::memcpy(text, errorText.data(), n);
    text[n] = '\0';
    return 0;
  }
};

struct IndexRig {
  ManualClock clock;
  SimulatedCamera camera{clock};
  testing::FakeDialogs dialogs;
  IndexDaq daq;
  Form1 form{Devices{camera, nullptr, daq, clock, dialogs}};
};

// Minus the mean of the integers first .. first + n - 1.
double MinusMeanOfRange(double first, double n) { return -(first + (n - 1) / 2); }

struct StrideCase {
  uint32_t channels;
  int32_t samplesRead;
  uint8_t channel;
  double expected;
};

void PrintTo(const StrideCase& c, std::ostream* os) {
  *os << c.channels << " channels, n=" << c.samplesRead << ", channel " << int(c.channel);
}

class Stride : public ::testing::TestWithParam<StrideCase> {};

TEST_P(Stride, SumsExactlyTheChannelsSamples) {
  const StrideCase& c = GetParam();
  IndexRig rig;
  rig.daq.channelCount = c.channels;
  rig.daq.samplesRead = c.samplesRead;
  EXPECT_EQ(ReadDaqInputs(rig.form, c.channel), c.expected);
  EXPECT_EQ(rig.daq.arraySize, c.channels * 800u);  // sized from this call's count
  EXPECT_EQ(rig.daq.sampsPerChan, 800u);
}

INSTANTIATE_TEST_SUITE_P(Indexes, Stride,
                         ::testing::Values(StrideCase{4, 800, 3, MinusMeanOfRange(2400, 800)},  // indexes 2400..3199
                                           StrideCase{4, 800, 0, MinusMeanOfRange(0, 800)},
                                           StrideCase{4, 700, 3,
                                                      MinusMeanOfRange(2100, 700)},  // stride 700: 2100..2799
                                           StrideCase{4, 700, 1, MinusMeanOfRange(700, 700)}, StrideCase{4, 1, 2, -2.0},
                                           // More reported than asked: held to the 800 the buffer holds per channel.
                                           StrideCase{4, 5000, 3, MinusMeanOfRange(2400, 800)},
                                           // The task's channel count changed since the last read.
                                           StrideCase{2, 800, 1, MinusMeanOfRange(800, 800)},
                                           StrideCase{6, 800, 3, MinusMeanOfRange(2400, 800)}),
                         [](const auto& info) {
                           const StrideCase& c = info.param;
                           return std::to_string(c.channels) + "Channels" + std::to_string(c.samplesRead) + "Read" +
                                  "Channel" + std::to_string(c.channel);
                         });

// Reads that cannot give the channel's mean raise the program's error instead.
struct GuardCase {
  const char* name;
  uint32_t channels;
  int32_t samplesRead;
  uint8_t channel;
  int32_t number;
  bool readMade;
};

void PrintTo(const GuardCase& c, std::ostream* os) { *os << c.name; }

class ReadGuard : public ::testing::TestWithParam<GuardCase> {};

TEST_P(ReadGuard, RaisesInsteadOfReadingOutsideTheBuffer) {
  const GuardCase& c = GetParam();
  IndexRig rig;
  rig.daq.channelCount = c.channels;
  rig.daq.samplesRead = c.samplesRead;
  try {
    ReadDaqInputs(rig.form, c.channel);
    FAIL() << "no error raised";
  } catch (const ProgramError& e) {
    EXPECT_EQ(e.number(), c.number);
    EXPECT_FALSE(e.description().empty());
  }
  EXPECT_EQ(rig.daq.reads, c.readMade ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(Faults, ReadGuard,
                         ::testing::Values(GuardCase{"ChannelNotInTask", 2, 800, 3, Daq::kChannelNotInTask, false},
                                           GuardCase{"NoChannels", 0, 800, 0, Daq::kChannelNotInTask, false},
                                           GuardCase{"AbsurdChannelCount", 0xFFFFFFFFu, 800, 0, Daq::kOutOfMemory,
                                                     false},
                                           GuardCase{"NoSamples", 4, 0, 0, Daq::kNoSamples, true},
                                           GuardCase{"NegativeCount", 4, -5, 0, Daq::kNoSamples, true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ReadDaqInputs, TimingErrorStopsBeforeTheRead) {
  IndexRig rig;
  rig.daq.timingStatus = -200077;
  rig.daq.errorText = "Bad clock";
  EXPECT_THROW(ReadDaqInputs(rig.form, 0), ProgramError);
  EXPECT_EQ(rig.daq.reads, 0);
}

// What ShowDaqError raises for a status and the driver's answer.
struct ErrorTextCase {
  const char* name;
  int32_t status;
  std::string driverText;
  bool unterminated;
  int32_t neededSize;  // -2: the text's own size
  bool raises;
  std::string description;
};

void PrintTo(const ErrorTextCase& c, std::ostream* os) { *os << c.name; }

class ShowDaqErrorCase : public ::testing::TestWithParam<ErrorTextCase> {};

TEST_P(ShowDaqErrorCase, RaisesStatusAndDriverText) {
  const ErrorTextCase& c = GetParam();
  IndexRig rig;
  rig.daq.errorText = c.driverText;
  rig.daq.unterminatedText = c.unterminated;
  rig.daq.neededSize = c.neededSize;
  if (!c.raises) {
    EXPECT_NO_THROW(ShowDaqError(rig.form, c.status));
    EXPECT_TRUE(rig.daq.errorStringCalls.empty());
    return;
  }
  try {
    ShowDaqError(rig.form, c.status);
    FAIL() << "no error raised";
  } catch (const ProgramError& e) {
    EXPECT_EQ(e.number(), c.status);
    EXPECT_EQ(e.description(), c.description);
  }
  // The size first, then the text in a buffer of that size.
  ASSERT_GE(rig.daq.errorStringCalls.size(), 1u);
  EXPECT_EQ(rig.daq.errorStringCalls[0], std::make_pair(c.status, 0u));
  if (rig.daq.errorStringCalls.size() > 1) {
    const int32_t needed = c.neededSize != -2 ? c.neededSize : static_cast<int32_t>(c.driverText.size() + 1);
    EXPECT_EQ(rig.daq.errorStringCalls[1], std::make_pair(c.status, static_cast<uint32_t>(needed)));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Statuses, ShowDaqErrorCase,
    ::testing::Values(ErrorTextCase{"Success", 0, "", false, -2, false, ""},
                      ErrorTextCase{"Warning", 200010, "Warning text", false, -2, false, ""},
                      ErrorTextCase{"Error", -200284, "Some samples were not acquired.", false, -2, true,
                                    "Some samples were not acquired."},
                      ErrorTextCase{"TextCutAtNul", -200088, std::string("Task invalid.\0stale bytes", 25), false, -2,
                                    true, "Task invalid."},
                      ErrorTextCase{"NoText", -1, "", false, -2, true, ""},
                      ErrorTextCase{"DriverCannotSize", -50103, "ignored", false, -200000, true, ""},
                      ErrorTextCase{"UnterminatedText", -200001, "abc", true, 4, true, "xxxx"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace ostrelo
