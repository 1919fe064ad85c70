#include "daq/nidaqmx/NiDaqmxDriver.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace ostrelo {

// The driver's C types: int32 and uInt32 are 32 bits, uInt64 64 bits, float64 a double,
// bool32 a 32-bit unsigned integer and TaskHandle a pointer. The driver's functions use
// the standard calling convention on 32-bit Windows.
#if defined(_WIN32)
#define OSTRELO_DAQMX_CALL __stdcall
#else
#define OSTRELO_DAQMX_CALL
#endif

namespace {
using int32 = int32_t;
using uInt32 = uint32_t;
using uInt64 = uint64_t;
using float64 = double;
using bool32 = uint32_t;
using TaskHandle = void*;
}  // namespace

struct NiDaqmxDriver::Api {
  int32(OSTRELO_DAQMX_CALL* createTask)(const char taskName[], TaskHandle* taskHandle) = nullptr;
  int32(OSTRELO_DAQMX_CALL* clearTask)(TaskHandle taskHandle) = nullptr;
  int32(OSTRELO_DAQMX_CALL* createAIVoltageChan)(TaskHandle taskHandle, const char physicalChannel[],
                                                 const char nameToAssignToChannel[], int32 terminalConfig,
                                                 float64 minVal, float64 maxVal, int32 units,
                                                 const char customScaleName[]) = nullptr;
  // The samples-per-channel count is 64 bits wide: a 32-bit import would leave the
  // upper half of the argument undefined.
  int32(OSTRELO_DAQMX_CALL* cfgSampClkTiming)(TaskHandle taskHandle, const char source[], float64 rate,
                                              int32 activeEdge, int32 sampleMode,
                                              uInt64 sampsPerChanToAcquire) = nullptr;
  int32(OSTRELO_DAQMX_CALL* getTaskNumChans)(TaskHandle taskHandle, uInt32* data) = nullptr;
  int32(OSTRELO_DAQMX_CALL* readAnalogF64)(TaskHandle taskHandle, int32 numSampsPerChan, float64 timeout,
                                           bool32 fillMode, float64 readArray[], uInt32 arraySizeInSamps,
                                           int32* sampsPerChanRead, bool32* reserved) = nullptr;
  int32(OSTRELO_DAQMX_CALL* getErrorString)(int32 errorCode, char errorString[], uInt32 bufferSize) = nullptr;
};

namespace {

#ifdef _WIN32
const char* const kDefaultLibraries[] = {"nicaiu.dll"};

void* OpenLibrary(const std::string& path, std::string& error) {
  HMODULE module = LoadLibraryA(path.c_str());
  if (module == nullptr) error = path + ": cannot be loaded (error " + std::to_string(GetLastError()) + ")";
  return reinterpret_cast<void*>(module);
}
template <typename Fn>
void Resolve(void* library, const char* name, Fn& fn) {
  fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name)));
}
void CloseLibrary(void* library) { FreeLibrary(static_cast<HMODULE>(library)); }
#else
// The development link name first, then the run-time name the driver installs.
const char* const kDefaultLibraries[] = {"libnidaqmx.so", "libnidaqmx.so.1"};

void* OpenLibrary(const std::string& path, std::string& error) {
  dlerror();
  void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    const char* why = dlerror();
    error = why != nullptr ? why : path + ": cannot be loaded";
  }
  return library;
}
template <typename Fn>
void Resolve(void* library, const char* name, Fn& fn) {
  fn = reinterpret_cast<Fn>(dlsym(library, name));
}
void CloseLibrary(void* library) { dlclose(library); }
#endif

TaskHandle ToDriver(DaqTaskHandle task) { return reinterpret_cast<TaskHandle>(task); }

}  // namespace

NiDaqmxDriver::NiDaqmxDriver(const std::string& libraryPath) {
  if (libraryPath.empty()) {
    for (const char* name : kDefaultLibraries) {
      std::string error;
      library_ = OpenLibrary(name, error);
      if (library_ != nullptr) break;
      loadError_ += (loadError_.empty() ? "" : "; ") + error;
    }
  } else {
    library_ = OpenLibrary(libraryPath, loadError_);
  }
  if (library_ == nullptr) return;
  loadError_.clear();

  auto api = std::make_unique<Api>();
  std::string missing;
  auto resolve = [&](const char* name, auto& fn) {
    Resolve(library_, name, fn);
    if (fn == nullptr) missing += (missing.empty() ? "" : ", ") + std::string(name);
  };
  resolve("DAQmxCreateTask", api->createTask);
  resolve("DAQmxClearTask", api->clearTask);
  resolve("DAQmxCreateAIVoltageChan", api->createAIVoltageChan);
  resolve("DAQmxCfgSampClkTiming", api->cfgSampClkTiming);
  resolve("DAQmxGetTaskNumChans", api->getTaskNumChans);
  resolve("DAQmxReadAnalogF64", api->readAnalogF64);
  resolve("DAQmxGetErrorString", api->getErrorString);
  if (!missing.empty()) {
    // A partial driver is no driver: none of its functions is called.
    loadError_ = "the NI-DAQmx library lacks " + missing;
    CloseLibrary(library_);
    library_ = nullptr;
    return;
  }
  api_ = std::move(api);
}

NiDaqmxDriver::~NiDaqmxDriver() {
  api_.reset();
  if (library_ != nullptr) CloseLibrary(library_);
}

int32_t NiDaqmxDriver::CreateTask(const std::string& taskName, DaqTaskHandle* task) {
  if (!api_) return kNotLoaded;
  // The handle stays as it was if the driver does not write it.
  TaskHandle handle = task != nullptr ? ToDriver(*task) : nullptr;
  const int32_t status = api_->createTask(taskName.c_str(), task != nullptr ? &handle : nullptr);
  if (task != nullptr) *task = reinterpret_cast<DaqTaskHandle>(handle);
  return status;
}

int32_t NiDaqmxDriver::ClearTask(DaqTaskHandle task) {
  if (!api_) return kNotLoaded;
  return api_->clearTask(ToDriver(task));
}

int32_t NiDaqmxDriver::CreateAIVoltageChan(DaqTaskHandle task, const std::string& physicalChannel,
                                           const std::string& nameToAssign, int32_t terminalConfig, double minVal,
                                           double maxVal, int32_t units, const std::string& customScaleName) {
  if (!api_) return kNotLoaded;
  return api_->createAIVoltageChan(ToDriver(task), physicalChannel.c_str(), nameToAssign.c_str(), terminalConfig,
                                   minVal, maxVal, units, customScaleName.c_str());
}

int32_t NiDaqmxDriver::CfgSampClkTiming(DaqTaskHandle task, const std::string& source, double rate,
                                        int32_t activeEdge, int32_t sampleMode, uint64_t sampsPerChan) {
  if (!api_) return kNotLoaded;
  return api_->cfgSampClkTiming(ToDriver(task), source.c_str(), rate, activeEdge, sampleMode, sampsPerChan);
}

int32_t NiDaqmxDriver::GetTaskNumChans(DaqTaskHandle task, uint32_t* data) {
  if (!api_) return kNotLoaded;
  return api_->getTaskNumChans(ToDriver(task), data);
}

int32_t NiDaqmxDriver::ReadAnalogF64(DaqTaskHandle task, int32_t numSampsPerChan, double timeout,
                                     uint32_t fillMode, double* readArray, uint32_t arraySizeInSamps,
                                     int32_t* sampsPerChanRead, uint32_t* reserved) {
  if (!api_) return kNotLoaded;
  return api_->readAnalogF64(ToDriver(task), numSampsPerChan, timeout, fillMode, readArray, arraySizeInSamps,
                             sampsPerChanRead, reserved);
}

int32_t NiDaqmxDriver::GetErrorString(int32_t errorCode, char* errorString, uint32_t bufferSize) {
  if (api_) return api_->getErrorString(errorCode, errorString, bufferSize);
  // Same contract as the driver's: size 0 asks for the size needed, NUL included.
  const std::string text = "NI-DAQmx is not available: " + loadError_;
  if (bufferSize == 0 || errorString == nullptr) return static_cast<int32_t>(text.size() + 1);
  const size_t copied = std::min<size_t>(text.size(), bufferSize - 1);
  std::memcpy(errorString, text.data(), copied);
  errorString[copied] = '\0';
  return 0;
}

std::unique_ptr<NiDaqmxDriver> LoadNiDaqmx(const std::string& libraryPath) {
  return std::make_unique<NiDaqmxDriver>(libraryPath);
}

}  // namespace ostrelo
