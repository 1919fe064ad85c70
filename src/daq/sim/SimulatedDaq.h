#pragma once
// A DAQ card without hardware: device "Dev1" with ai0..ai3.

#include <cstdint>
#include <string>

#include "daq/DaqDriver.h"
#include "shell/Platform.h"

namespace ostrelo {

class SimulatedDaq final : public DaqDriver {
 public:
  explicit SimulatedDaq(Clock& clock) : clock_(clock) {}

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
  Clock& clock_;
  uint32_t channels_ = 0;
};

}  // namespace ostrelo
