#include "daq/nidaqmx/NiDaqmxDriver.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#ifndef _WIN32
#include <glob.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string_view>
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
  // Optional: a driver without it cannot reset a card that dropped out.
  int32(OSTRELO_DAQMX_CALL* resetDevice)(const char deviceName[]) = nullptr;
};

namespace {

#ifdef _WIN32
// The name its Windows run-time installs, found by the system's own search (System32).
constexpr const char* kLinkName = "nicaiu.dll";
#else
// The link name exists only with the driver's development package; a run-time
// installation has the versioned names alone (libnidaqmx.so.<major>,
// libnidaqmx.so.<version>), which dlopen does not guess.
constexpr const char* kLinkName = "libnidaqmx.so";
constexpr std::string_view kVersionedPrefix = "libnidaqmx.so.";

void AddDirectory(std::vector<std::string>& dirs, std::string dir) {
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  if (!dir.empty() && dir.front() == '/' && std::find(dirs.begin(), dirs.end(), dir) == dirs.end()) {
    dirs.push_back(std::move(dir));
  }
}

// The directories of an ld.so.conf file and of the files it includes. Entries are
// separated by blanks, commas, colons or new lines; "#" starts a comment.
void ReadLdSoConf(const std::string& file, std::vector<std::string>& dirs, int depth) {
  if (depth > 8) return;  // a file that includes itself
  std::ifstream in(file);
  std::string line;
  while (std::getline(in, line)) {
    line = line.substr(0, line.find('#'));
    std::replace_if(
        line.begin(), line.end(), [](char c) { return c == ',' || c == ':' || c == '\t'; }, ' ');
    std::istringstream words(line);
    std::string word;
    if (!(words >> word)) continue;
    if (word == "include") {
      while (words >> word) {
        // A relative pattern is relative to the including file's folder.
        if (word.front() != '/') word.insert(0, file, 0, file.rfind('/') + 1);
        glob_t found{};
        if (glob(word.c_str(), 0, nullptr, &found) == 0) {
          for (size_t i = 0; i < found.gl_pathc; ++i) ReadLdSoConf(found.gl_pathv[i], dirs, depth + 1);
        }
        globfree(&found);
      }
    } else if (word != "hwcap") {
      do AddDirectory(dirs, word);
      while (words >> word);
    }
  }
}

// Where the dynamic linker looks: LD_LIBRARY_PATH, the folders of /etc/ld.so.conf,
// then the usual system folders.
std::vector<std::string> LibrarySearchPath() {
  std::vector<std::string> dirs;
  if (const char* env = std::getenv("LD_LIBRARY_PATH")) {
    std::istringstream entries(env);
    std::string dir;
    while (std::getline(entries, dir, ':')) AddDirectory(dirs, dir);
  }
  ReadLdSoConf("/etc/ld.so.conf", dirs, 0);
#if defined(__x86_64__)
  for (const char* dir : {"/usr/local/lib/x86_64-linux-gnu", "/lib/x86_64-linux-gnu", "/usr/lib/x86_64-linux-gnu"})
    AddDirectory(dirs, dir);
#elif defined(__aarch64__)
  for (const char* dir : {"/usr/local/lib/aarch64-linux-gnu", "/lib/aarch64-linux-gnu", "/usr/lib/aarch64-linux-gnu"})
    AddDirectory(dirs, dir);
#endif
  for (const char* dir : {"/usr/local/lib", "/lib64", "/usr/lib64", "/lib", "/usr/lib"}) AddDirectory(dirs, dir);
  return dirs;
}

// The numbers after "libnidaqmx.so."; empty when the name is anything else.
std::vector<unsigned long> VersionOf(const std::string& name) {
  std::vector<unsigned long> version;
  if (name.compare(0, kVersionedPrefix.size(), kVersionedPrefix) != 0) return {};
  std::istringstream parts(name.substr(kVersionedPrefix.size()));
  std::string part;
  while (std::getline(parts, part, '.')) {
    if (part.empty() || part.size() > 9 || part.find_first_not_of("0123456789") != std::string::npos) return {};
    version.push_back(std::stoul(part));
  }
  return version;
}

// Every libnidaqmx.so.<version> in the search path, highest version first, each file
// once (under its highest name: the major-version link names the full-version file).
std::vector<std::string> VersionedLibraries(const std::vector<std::string>& dirs) {
  struct Found {
    std::vector<unsigned long> version;
    std::filesystem::path path;
  };
  std::vector<Found> found;
  for (const std::string& dir : dirs) {
    std::error_code ec;
    for (std::filesystem::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
      std::vector<unsigned long> version = VersionOf(it->path().filename().string());
      if (!version.empty()) found.push_back({std::move(version), it->path()});
    }
  }
  // Stable: of equal versions, the one earlier in the search path comes first.
  std::stable_sort(found.begin(), found.end(), [](const Found& a, const Found& b) { return a.version > b.version; });
  std::vector<std::string> paths;
  std::vector<std::filesystem::path> seen;
  for (const Found& f : found) {
    std::error_code ec;
    const std::filesystem::path file = std::filesystem::canonical(f.path, ec);
    if (ec || std::find(seen.begin(), seen.end(), file) != seen.end()) continue;
    seen.push_back(file);
    paths.push_back(f.path.string());
  }
  return paths;
}

std::string Joined(const std::vector<std::string>& items) {
  std::string text;
  for (const std::string& item : items) text += (text.empty() ? "" : ", ") + item;
  return text;
}
#endif

// The program keeps the driver's task handle as the integer it is; the driver gets its pointer back.
// NOLINTNEXTLINE(performance-no-int-to-ptr)
TaskHandle ToDriver(DaqTaskHandle task) { return reinterpret_cast<TaskHandle>(task); }

// An error text longer than this is cut; no driver text comes near it.
constexpr int32_t kMaxErrorText = 64 * 1024;

// Calls inside the library, of every driver: a read the program stopped waiting for
// may return after its driver is gone, into the library, which is then kept loaded.
std::atomic<int> callsInLibrary{0};

class InLibrary {
 public:
  InLibrary() { ++callsInLibrary; }
  ~InLibrary() { --callsInLibrary; }
  InLibrary(const InLibrary&) = delete;
  InLibrary& operator=(const InLibrary&) = delete;
};

}  // namespace

NiDaqmxDriver::NiDaqmxDriver(const std::string& libraryPath) {
  std::vector<std::string> tried;
  auto attempt = [&](const std::string& path) {
    library_ = std::make_unique<SharedLibrary>(path);
    if (library_->loaded()) {
      loadedFrom_ = path;
      return true;
    }
    tried.push_back(library_->error());
    library_.reset();
    return false;
  };
  if (!libraryPath.empty()) {
    attempt(libraryPath);
  } else {
    [[maybe_unused]] const bool found = attempt(kLinkName);
#ifndef _WIN32
    if (!found) {
      const std::vector<std::string> dirs = LibrarySearchPath();
      const std::vector<std::string> versioned = VersionedLibraries(dirs);
      for (const std::string& path : versioned) {
        if (attempt(path)) break;
      }
      if (versioned.empty()) tried.push_back("no " + std::string(kVersionedPrefix) + "<version> in " + Joined(dirs));
    }
#endif
  }
  if (library_ == nullptr) {
    loadError_ = "tried ";
    for (size_t i = 0; i < tried.size(); ++i) loadError_ += (i == 0 ? "" : "; ") + tried[i];
    return;
  }
  auto api = std::make_unique<Api>();
  std::string missing;
  auto resolve = [&](const char* name, auto& fn) {
    library_->Resolve(name, fn);
    if (fn == nullptr) missing += (missing.empty() ? "" : ", ") + std::string(name);
  };
  resolve("DAQmxCreateTask", api->createTask);
  resolve("DAQmxClearTask", api->clearTask);
  resolve("DAQmxCreateAIVoltageChan", api->createAIVoltageChan);
  resolve("DAQmxCfgSampClkTiming", api->cfgSampClkTiming);
  resolve("DAQmxGetTaskNumChans", api->getTaskNumChans);
  resolve("DAQmxReadAnalogF64", api->readAnalogF64);
  resolve("DAQmxGetErrorString", api->getErrorString);
  library_->Resolve("DAQmxResetDevice", api->resetDevice);
  if (!missing.empty()) {
    // A partial driver is no driver: none of its functions is called.
    loadError_ = loadedFrom_ + " lacks " + missing;
    loadedFrom_.clear();
    library_.reset();
    return;
  }
  api_ = std::move(api);
}

NiDaqmxDriver::~NiDaqmxDriver() {
  if (reset_.valid()) reset_.wait();  // it calls into the library
  api_.reset();
  // NOLINTNEXTLINE(bugprone-unused-return-value): left loaded for a call still inside it
  if (callsInLibrary > 0) (void)library_.release();
}

int32_t NiDaqmxDriver::Reported(const std::string& call, int32_t status) {
  if (status >= 0) {
    lastReported_ = 0;
    return status;
  }
  if (status == lastReported_) return status;  // the same answer for every channel
  lastReported_ = status;
  if (!api_) {
    std::fprintf(stderr, "ostrelo: NI-DAQmx: no driver library: %s\n", loadError_.c_str());
    return status;
  }
  char probe[] = "0";
  const int32_t needed = std::clamp<int32_t>(GetErrorString(status, probe, 0), 1, kMaxErrorText);
  std::vector<char> text(static_cast<size_t>(needed) + 1, '\0');
  GetErrorString(status, text.data(), static_cast<uint32_t>(needed));
  std::fprintf(stderr, "ostrelo: NI-DAQmx: %s failed with status %d: %s\n", call.c_str(), static_cast<int>(status),
               text.data());
  return status;
}

int32_t NiDaqmxDriver::CreateTask(const std::string& taskName, DaqTaskHandle* task) {
  if (!api_) return Reported("DAQmxCreateTask", kNotLoaded);
  // The handle stays as it was if the driver does not write it.
  TaskHandle handle = task != nullptr ? ToDriver(*task) : nullptr;
  const InLibrary inside;
  const int32_t status = api_->createTask(taskName.c_str(), task != nullptr ? &handle : nullptr);
  if (task != nullptr) *task = reinterpret_cast<DaqTaskHandle>(handle);
  return Reported("DAQmxCreateTask", status);
}

int32_t NiDaqmxDriver::ClearTask(DaqTaskHandle task) {
  if (!api_) return kNotLoaded;
  const InLibrary inside;
  return api_->clearTask(ToDriver(task));
}

int32_t NiDaqmxDriver::CreateAIVoltageChan(DaqTaskHandle task, const std::string& physicalChannel,
                                           const std::string& nameToAssign, int32_t terminalConfig, double minVal,
                                           double maxVal, int32_t units, const std::string& customScaleName) {
  const std::string call = "DAQmxCreateAIVoltageChan " + physicalChannel;
  if (!api_) return Reported(call, kNotLoaded);
  const InLibrary inside;
  return Reported(call, api_->createAIVoltageChan(ToDriver(task), physicalChannel.c_str(), nameToAssign.c_str(),
                                                  terminalConfig, minVal, maxVal, units, customScaleName.c_str()));
}

int32_t NiDaqmxDriver::CfgSampClkTiming(DaqTaskHandle task, const std::string& source, double rate, int32_t activeEdge,
                                        int32_t sampleMode, uint64_t sampsPerChan) {
  if (!api_) return kNotLoaded;
  const InLibrary inside;
  return api_->cfgSampClkTiming(ToDriver(task), source.c_str(), rate, activeEdge, sampleMode, sampsPerChan);
}

int32_t NiDaqmxDriver::GetTaskNumChans(DaqTaskHandle task, uint32_t* data) {
  if (!api_) return kNotLoaded;
  const InLibrary inside;
  return api_->getTaskNumChans(ToDriver(task), data);
}

int32_t NiDaqmxDriver::ReadAnalogF64(DaqTaskHandle task, int32_t numSampsPerChan, double timeout, uint32_t fillMode,
                                     double* readArray, uint32_t arraySizeInSamps, int32_t* sampsPerChanRead,
                                     uint32_t* reserved) {
  if (!api_) return kNotLoaded;
  const InLibrary inside;
  return api_->readAnalogF64(ToDriver(task), numSampsPerChan, timeout, fillMode, readArray, arraySizeInSamps,
                             sampsPerChanRead, reserved);
}

int32_t NiDaqmxDriver::ResetDevice(const std::string& deviceName) {
  if (!api_) return kNotLoaded;
  if (api_->resetDevice == nullptr) return 0;
  if (!reset_.valid()) {
    auto* const reset = api_->resetDevice;
    reset_ = std::async(std::launch::async, [reset, deviceName] { return reset(deviceName.c_str()); });
  }
  if (reset_.wait_for(std::chrono::milliseconds(kResetWaitMs)) != std::future_status::ready) return kResetRunning;
  return Reported("DAQmxResetDevice " + deviceName, reset_.get());
}

int32_t NiDaqmxDriver::GetErrorString(int32_t errorCode, char* errorString, uint32_t bufferSize) {
  if (api_) {
    const InLibrary inside;
    return api_->getErrorString(errorCode, errorString, bufferSize);
  }
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
