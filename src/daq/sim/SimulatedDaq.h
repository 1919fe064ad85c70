#pragma once
// A DAQ card without hardware: device "Dev1" with the analog inputs ai0..ai3, each
// carrying a signal of its own (a slow sine, a constant, a ramp, noise around 0 V)
// plus a little noise. Single-ended wiring also picks up a common-mode offset and
// mains hum that differential wiring rejects; every sample is clipped to the
// channel's range. A finite read takes its acquisition time on the given clock.
// Tests script it to inject faults and record the calls made to it.

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "shell/DaqDriver.h"
#include "shell/Platform.h"

namespace ostrelo {

class SimulatedDaq final : public DaqDriver {
 public:
  static constexpr int kInputs = 4;
  static constexpr const char* kDevice = "Dev1";

  // Statuses of the simulated driver, in the ranges the real driver uses.
  static constexpr int32_t kInvalidTask = -200088;          // unknown or cleared task handle
  static constexpr int32_t kDuplicateTask = -200089;        // a task of that name exists
  static constexpr int32_t kInvalidAttribute = -200077;     // an argument the card does not accept
  static constexpr int32_t kNoSuchChannel = -200170;        // physical channel not on the card
  static constexpr int32_t kDuplicateChannel = -200489;     // channel already in the task
  static constexpr int32_t kBufferTooSmall = -200229;       // read array too small
  static constexpr int32_t kSamplesNotAvailable = -200284;  // read timed out
  static constexpr int32_t kNoChannels = -200478;           // read on a task without channels
  static constexpr int32_t kTimingNotSet = -200300;         // read before the sample clock was set
  static constexpr int32_t kScriptedFailure = -200220;      // default status of a scripted failure
  static constexpr int32_t kDeviceGone = -201003;           // the device cannot be accessed (unplugged)

  // Per-input model of the signals, in volts, with t in seconds.
  static constexpr double kSineAmplitude = 2.0;  // ai0
  static constexpr double kSinePeriodS = 20.0;
  static constexpr double kConstantVolts = 1.25;  // ai1
  static constexpr double kRampLow = -5.0;        // ai2, a sawtooth
  static constexpr double kRampHigh = 5.0;
  static constexpr double kRampPeriodS = 30.0;
  static constexpr double kNoiseOnlySigma = 0.05;   // ai3
  static constexpr double kNoiseSigma = 0.002;      // on every input
  static constexpr double kCommonModeVolts = 0.35;  // single-ended only
  static constexpr double kHumVolts = 0.1;          // single-ended only, 50 Hz
  static constexpr double kHumHz = 50.0;

  explicit SimulatedDaq(Clock& clock, uint32_t seed = 1);

  // Faults and timing, set by tests. A status below 0 is an error, above 0 a warning.
  struct Script {
    bool instant = false;  // reads return at once instead of lasting the acquisition
    // Unplugged while the clock's steady time is below this: every call but clearing
    // fails with kDeviceGone, and a task used meanwhile stays failed until it is
    // cleared, as after a real card's reset.
    int64_t awayUntilMs = 0;
    int32_t resetMs = 0;           // how long a device reset takes
    int32_t createTaskStatus = 0;  // a negative status fails the creation (no task is made)
    int32_t failChannel = -1;      // creating Dev1/ai<n> fails with failChannelStatus
    int32_t failChannelStatus = kScriptedFailure;
    int32_t timingStatus = 0;                   // returned by the sample-clock set-up (negative: not applied)
    int32_t numChansStatus = 0;                 // returned by the channel count (negative: count not written)
    int32_t readStatus = 0;                     // returned by the read (negative: nothing read)
    int32_t warning = 0;                        // a positive status every otherwise successful call returns
    std::map<int32_t, std::string> errorTexts;  // texts of scripted statuses (may hold NULs)
    int32_t samplesRead = -1;                   // >= 0: the read reports this count per channel; only as
                                                // many as were asked for are stored
    std::optional<uint32_t> reportedChannels;   // the channel count reports this instead
    std::array<std::optional<double>, kInputs> constantVolts;  // a noise-free constant input
  } script;

  // Every call as "Name(arg,arg,...)", when recording is on.
  bool recordCalls = false;
  std::vector<std::string> calls;

  // Tasks that exist now, and what one of them holds.
  size_t taskCount() const { return tasks_.size(); }
  struct ChannelInfo {
    int input = 0;  // ai number
    int32_t terminalConfig = 0;
    double minVal = 0.0, maxVal = 0.0;
  };
  std::vector<ChannelInfo> channels(DaqTaskHandle task) const;
  uint64_t reads() const { return reads_; }

  // The voltage the card sees on an input at time t (s), before noise and clipping.
  double InputVolts(int input, int32_t terminalConfig, double t) const;

  int32_t CreateTask(const std::string& taskName, DaqTaskHandle* task) override;
  int32_t ClearTask(DaqTaskHandle task) override;
  int32_t CreateAIVoltageChan(DaqTaskHandle task, const std::string& physicalChannel, const std::string& nameToAssign,
                              int32_t terminalConfig, double minVal, double maxVal, int32_t units,
                              const std::string& customScaleName) override;
  int32_t CfgSampClkTiming(DaqTaskHandle task, const std::string& source, double rate, int32_t activeEdge,
                           int32_t sampleMode, uint64_t sampsPerChan) override;
  int32_t GetTaskNumChans(DaqTaskHandle task, uint32_t* data) override;
  int32_t ReadAnalogF64(DaqTaskHandle task, int32_t numSampsPerChan, double timeout, uint32_t fillMode,
                        double* readArray, uint32_t arraySizeInSamps, int32_t* sampsPerChanRead,
                        uint32_t* reserved) override;
  int32_t GetErrorString(int32_t errorCode, char* errorString, uint32_t bufferSize) override;
  int32_t ResetDevice(const std::string& deviceName) override;

 private:
  struct Task {
    std::string name;
    std::vector<ChannelInfo> channels;
    bool timed = false;
    double rate = 0.0;
    uint64_t sampsPerChan = 0;
    bool lost = false;  // used while the card was away
  };
  bool Away() const;
  // kDeviceGone for a task used while away or since, 0 otherwise.
  int32_t Gone(Task& t) const;
  void Log(const std::string& call);
  int32_t Ok() const { return script.warning > 0 ? script.warning : 0; }
  Task* Find(DaqTaskHandle task);
  double Sample(const ChannelInfo& c, double t);

  Clock& clock_;
  std::map<DaqTaskHandle, Task> tasks_;
  DaqTaskHandle nextHandle_ = 0x1000;
  uint64_t reads_ = 0;
  std::mt19937 random_;
  std::normal_distribution<double> gauss_{0.0, 1.0};
};

}  // namespace ostrelo
