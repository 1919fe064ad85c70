#include "daq/sim/ConstantDaq.h"

#include <cstring>

namespace ostrelo {

int32_t ConstantDaq::CreateTask(const std::string&, DaqTaskHandle* task) {
  *task = 0x5a;
  channels_ = 0;
  return 0;
}

int32_t ConstantDaq::ClearTask(DaqTaskHandle) {
  Log("DAQmxClearTask");
  return 0;
}

int32_t ConstantDaq::CreateAIVoltageChan(DaqTaskHandle, const std::string&, const std::string&, int32_t, double, double,
                                         int32_t, const std::string&) {
  ++channels_;
  return 0;
}

int32_t ConstantDaq::CfgSampClkTiming(DaqTaskHandle, const std::string&, double, int32_t, int32_t, uint64_t) {
  return 0;
}

int32_t ConstantDaq::GetTaskNumChans(DaqTaskHandle, uint32_t* data) {
  *data = channels_;
  return 0;
}

int32_t ConstantDaq::ReadAnalogF64(DaqTaskHandle, int32_t numSampsPerChan, double, uint32_t, double* readArray,
                                   uint32_t arraySizeInSamps, int32_t* sampsPerChanRead, uint32_t*) {
  ++reads;
  Log("DAQmxReadAnalogF64");
  if (reads == failReadNumber) return kReadError;
  const auto n = static_cast<uint32_t>(numSampsPerChan);
  for (uint32_t c = 0; c < channels_ && c < volts.size(); ++c) {
    for (uint32_t k = 0; k < n && c * n + k < arraySizeInSamps; ++k) readArray[c * n + k] = volts[c];
  }
  *sampsPerChanRead = numSampsPerChan;
  return 0;
}

int32_t ConstantDaq::GetErrorString(int32_t, char* errorString, uint32_t bufferSize) {
  const size_t needed = std::strlen(kReadErrorText) + 1;
  if (bufferSize == 0) return static_cast<int32_t>(needed);
  std::strncpy(errorString, kReadErrorText, bufferSize - 1);
  errorString[bufferSize - 1] = '\0';
  return 0;
}

}  // namespace ostrelo
