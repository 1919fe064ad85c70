#pragma once
// NI-DAQmx loaded at run time: no link-time dependency on the driver. The library
// (libnidaqmx.so, or nicaiu.dll on Windows) is opened when the driver object is made
// and the seven functions the program calls are looked up. When the library or any
// of them is missing, nothing is called: every operation fails with kNotLoaded and
// GetErrorString explains why, so start-up takes the no-card path.

#include <memory>
#include <string>

#include "daq/DaqDriver.h"

namespace ostrelo {

class NiDaqmxDriver final : public DaqDriver {
 public:
  // The status of every call when the driver library could not be used.
  static constexpr int32_t kNotLoaded = -1;

  // Empty path: the driver's usual library name, found by the system's library search.
  explicit NiDaqmxDriver(const std::string& libraryPath = {});
  ~NiDaqmxDriver() override;
  NiDaqmxDriver(const NiDaqmxDriver&) = delete;
  NiDaqmxDriver& operator=(const NiDaqmxDriver&) = delete;

  bool loaded() const { return api_ != nullptr; }
  // Why the library could not be used; empty when loaded.
  const std::string& loadError() const { return loadError_; }

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

  struct Api;

 private:
  void* library_ = nullptr;
  std::unique_ptr<Api> api_;
  std::string loadError_;
};

// Always returns a driver; check loaded() or simply let CreateTask fail.
std::unique_ptr<NiDaqmxDriver> LoadNiDaqmx(const std::string& libraryPath = {});

}  // namespace ostrelo
