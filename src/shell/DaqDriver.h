#pragma once
// The DAQ driver as the program uses it: one operation per NI-DAQmx function, with the
// driver's own argument types. Statuses: 0 success, negative error, positive warning.

#include <cstdint>
#include <string>

namespace ostrelo {

// A DAQmx task handle is a pointer in the driver's C interface.
using DaqTaskHandle = std::uintptr_t;

namespace DAQmx {
inline constexpr int32_t Val_RSE = 10083;
inline constexpr int32_t Val_Diff = 10106;
inline constexpr int32_t Val_Volts = 10348;
inline constexpr int32_t Val_Rising = 10280;
inline constexpr int32_t Val_FiniteSamps = 10178;
inline constexpr uint32_t Val_GroupByChannel = 0;
}  // namespace DAQmx

class DaqDriver {
 public:
  virtual ~DaqDriver() = default;
  virtual int32_t CreateTask(const std::string& taskName, DaqTaskHandle* task) = 0;
  virtual int32_t ClearTask(DaqTaskHandle task) = 0;
  virtual int32_t CreateAIVoltageChan(DaqTaskHandle task, const std::string& physicalChannel,
                                      const std::string& nameToAssign, int32_t terminalConfig, double minVal,
                                      double maxVal, int32_t units, const std::string& customScaleName) = 0;
  virtual int32_t CfgSampClkTiming(DaqTaskHandle task, const std::string& source, double rate, int32_t activeEdge,
                                   int32_t sampleMode, uint64_t sampsPerChan) = 0;
  virtual int32_t GetTaskNumChans(DaqTaskHandle task, uint32_t* data) = 0;
  virtual int32_t ReadAnalogF64(DaqTaskHandle task, int32_t numSampsPerChan, double timeout, uint32_t fillMode,
                                double* readArray, uint32_t arraySizeInSamps, int32_t* sampsPerChanRead,
                                uint32_t* reserved) = 0;
  // A card that dropped out answers again only after this. A driver without it has
  // nothing to reset.
  virtual int32_t ResetDevice(const std::string& /*deviceName*/) { return 0; }
  // With bufferSize 0: returns the size needed (NUL included). Otherwise fills the buffer.
  virtual int32_t GetErrorString(int32_t errorCode, char* errorString, uint32_t bufferSize) = 0;
};

}  // namespace ostrelo
