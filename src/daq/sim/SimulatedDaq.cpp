#include "daq/sim/SimulatedDaq.h"

#include <algorithm>
#include <cstring>

namespace ostrelo {

// TODO(daq): signals, wiring, faults.
int32_t SimulatedDaq::CreateTask(const std::string&, DaqTaskHandle* task) {
  *task = 1;
  channels_ = 0;
  return 0;
}
int32_t SimulatedDaq::ClearTask(DaqTaskHandle) { return 0; }
int32_t SimulatedDaq::CreateAIVoltageChan(DaqTaskHandle, const std::string&, const std::string&, int32_t, double,
                                          double, int32_t, const std::string&) {
  ++channels_;
  return 0;
}
int32_t SimulatedDaq::CfgSampClkTiming(DaqTaskHandle, const std::string&, double, int32_t, int32_t, uint64_t) {
  return 0;
}
int32_t SimulatedDaq::GetTaskNumChans(DaqTaskHandle, uint32_t* data) {
  *data = channels_;
  return 0;
}
int32_t SimulatedDaq::ReadAnalogF64(DaqTaskHandle, int32_t numSampsPerChan, double, uint32_t, double* readArray,
                                    uint32_t arraySizeInSamps, int32_t* sampsPerChanRead, uint32_t*) {
  const uint32_t n = std::min<uint32_t>(arraySizeInSamps, static_cast<uint32_t>(numSampsPerChan) * channels_);
  for (uint32_t i = 0; i < n; ++i) readArray[i] = 0.0;
  *sampsPerChanRead = numSampsPerChan;
  (void)clock_;
  return 0;
}
int32_t SimulatedDaq::GetErrorString(int32_t, char* errorString, uint32_t bufferSize) {
  const char* text = "Simulated error";
  if (bufferSize == 0) return static_cast<int32_t>(std::strlen(text) + 1);
  std::strncpy(errorString, text, bufferSize - 1);
  errorString[bufferSize - 1] = '\0';
  return 0;
}

}  // namespace ostrelo
