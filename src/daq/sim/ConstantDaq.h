#pragma once
// A card whose four inputs hold constant voltages and whose every call answers at once,
// for measuring and testing what the program does around the card: a read can be made
// to fail, and the calls that bear on the order of a grab can be logged.

#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "shell/DaqDriver.h"

namespace ostrelo {

class ConstantDaq : public DaqDriver {
 public:
  static constexpr int32_t kReadError = -200279;
  static constexpr const char* kReadErrorText = "Samples are no longer available";

  std::array<double, 4> volts{};  // the voltage on ai0..ai3
  int32_t failReadNumber = 0;     // this read (1 = the first) fails with kReadError
  int32_t reads = 0;
  // Told "DAQmxClearTask" and "DAQmxReadAnalogF64" as they are called.
  std::function<void(const std::string&)> log;

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

 private:
  void Log(const std::string& call) {
    if (log) log(call);
  }
  uint32_t channels_ = 0;
};

}  // namespace ostrelo
