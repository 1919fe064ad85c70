#pragma once
// NI-DAQmx loaded at run time: no link-time dependency on the driver. The library is
// opened when the driver object is made and the seven functions the program calls are
// looked up. On Linux the link name libnidaqmx.so is tried first (the system's library
// search), then, since a run-time installation has only versioned names, every
// libnidaqmx.so.<version> in the folders of LD_LIBRARY_PATH, /etc/ld.so.conf and the
// system's library folders, highest version first; on Windows nicaiu.dll. When the
// library or any of the functions is missing, nothing is called: every operation
// fails with kNotLoaded and GetErrorString explains why, so start-up takes the
// no-card path.
//
// A failure to create the task or a channel (the no-card road of start-up) is also
// told on stderr: the libraries tried, or the driver's own text (once per status).

#include <future>
#include <memory>
#include <string>

#include "shell/DaqDriver.h"
#include "shell/SharedLibrary.h"

namespace ostrelo {

class NiDaqmxDriver final : public DaqDriver {
 public:
  // The status of every call when the driver library could not be used.
  static constexpr int32_t kNotLoaded = -1;
  // A device reset still running after kResetWaitMs: its answer is collected by the
  // next call, so a slow reset never holds the window longer.
  static constexpr int32_t kResetRunning = -2;
  static constexpr int kResetWaitMs = 1000;

  // Empty path: the driver's usual library name, found by the system's library search.
  explicit NiDaqmxDriver(const std::string& libraryPath = {});
  ~NiDaqmxDriver() override;
  NiDaqmxDriver(const NiDaqmxDriver&) = delete;
  NiDaqmxDriver& operator=(const NiDaqmxDriver&) = delete;

  bool loaded() const { return api_ != nullptr; }
  // Why the library could not be used (each library tried and why it failed); empty
  // when loaded.
  const std::string& loadError() const { return loadError_; }
  // The library in use; empty when none.
  const std::string& loadedFrom() const { return loadedFrom_; }

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

  struct Api;

 private:
  int32_t Reported(const std::string& call, int32_t status);

  std::unique_ptr<SharedLibrary> library_;
  std::unique_ptr<Api> api_;
  std::string loadError_;
  std::string loadedFrom_;
  int32_t lastReported_ = 0;
  std::future<int32_t> reset_;
};

// Always returns a driver; check loaded() or simply let CreateTask fail.
std::unique_ptr<NiDaqmxDriver> LoadNiDaqmx(const std::string& libraryPath = {});

}  // namespace ostrelo
