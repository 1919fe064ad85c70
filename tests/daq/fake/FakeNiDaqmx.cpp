// The fake NI-DAQmx module (see FakeNiDaqmx.h). Built complete, without
// DAQmxReadAnalogF64 (FAKE_DAQMX_OMIT_READ) to stand for a driver lacking a function,
// and as an answering card under the driver's own name (FAKE_DAQMX_CARD).

#include "FakeNiDaqmx.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace {

FakeDaqmxState state;

#ifdef FAKE_DAQMX_CARD
// Built as a card that simply answers (for runs of the whole program): a task, four
// channels, every read complete.
struct CardDefaults {
  CardDefaults() {
    state.handleToGive = 1;
    state.channelCount = 4;
    state.samplesRead = 800;
  }
} cardDefaults;
#endif

// Holds the read as a driver that ignores its time-out would.
[[maybe_unused]] void MaybeHang() {
  static std::atomic<int32_t> begun{0};
  const char* env = std::getenv("FAKE_DAQMX_HANG");
  if (begun == 0 && env != nullptr) std::sscanf(env, "%d,%d", &state.hangMs, &state.hangEvery);
  if (state.hangEvery <= 0 || ++begun % state.hangEvery != 0) return;
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(state.hangMs);
  for (state.hanging = 1; state.release == 0 && std::chrono::steady_clock::now() < until;)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  state.release = state.hanging = 0;
}

void Copy(char (&to)[64], const char* from) {
  std::strncpy(to, from != nullptr ? from : "(null)", sizeof to - 1);
  to[sizeof to - 1] = '\0';
}

// The card is away from the read after its good ones until enough resets were tried.
bool Lost() {
  return state.lostAfterReads > 0 && state.calls[kFakeRead] > state.lostAfterReads &&
         state.calls[kFakeResetDevice] <= state.lostForResets;
}

int32_t Called(FakeDaqmxFn fn, void* handle) {
  ++state.calls[fn];
  state.handle[fn] = handle;
  if (state.sequenceLength < sizeof state.sequence) state.sequence[state.sequenceLength++] = static_cast<uint8_t>(fn);
  if (fn != kFakeClearTask && Lost()) return state.lostStatus;
  return state.status[fn];
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) FakeDaqmxState* FakeDaqmx_State() { return &state; }

__attribute__((visibility("default"))) int32_t DAQmxCreateTask(const char taskName[], void** taskHandle) {
  Copy(state.taskName, taskName);
  *taskHandle = reinterpret_cast<void*>(state.handleToGive);
  return Called(kFakeCreateTask, nullptr);
}

__attribute__((visibility("default"))) int32_t DAQmxClearTask(void* taskHandle) {
  return Called(kFakeClearTask, taskHandle);
}

__attribute__((visibility("default"))) int32_t DAQmxCreateAIVoltageChan(void* taskHandle, const char physicalChannel[],
                                                                        const char nameToAssignToChannel[],
                                                                        int32_t terminalConfig, double minVal,
                                                                        double maxVal, int32_t units,
                                                                        const char customScaleName[]) {
  Copy(state.physicalChannel, physicalChannel);
  Copy(state.nameToAssign, nameToAssignToChannel);
  Copy(state.customScaleName, customScaleName);
  state.terminalConfig = terminalConfig;
  state.minVal = minVal;
  state.maxVal = maxVal;
  state.units = units;
  return Called(kFakeCreateChan, taskHandle);
}

__attribute__((visibility("default"))) int32_t DAQmxCfgSampClkTiming(void* taskHandle, const char source[], double rate,
                                                                     int32_t activeEdge, int32_t sampleMode,
                                                                     uint64_t sampsPerChanToAcquire) {
  Copy(state.source, source);
  state.rate = rate;
  state.activeEdge = activeEdge;
  state.sampleMode = sampleMode;
  state.sampsPerChan = sampsPerChanToAcquire;
  return Called(kFakeTiming, taskHandle);
}

__attribute__((visibility("default"))) int32_t DAQmxGetTaskNumChans(void* taskHandle, uint32_t* data) {
  *data = state.channelCount;
  return Called(kFakeNumChans, taskHandle);
}

#ifndef FAKE_DAQMX_OMIT_READ
__attribute__((visibility("default"))) int32_t DAQmxReadAnalogF64(void* taskHandle, int32_t numSampsPerChan,
                                                                  double timeout, uint32_t fillMode, double readArray[],
                                                                  uint32_t arraySizeInSamps, int32_t* sampsPerChanRead,
                                                                  uint32_t* reserved) {
  state.numSampsPerChan = numSampsPerChan;
  state.timeout = timeout;
  state.fillMode = fillMode;
  state.arraySizeInSamps = arraySizeInSamps;
  state.reservedWasNull = reserved == nullptr;
  for (uint32_t i = 0; i < arraySizeInSamps; ++i) readArray[i] = state.fillBase + i;
  *sampsPerChanRead = state.samplesRead;
  MaybeHang();
  return Called(kFakeRead, taskHandle);
}
#endif

__attribute__((visibility("default"))) int32_t DAQmxResetDevice(const char deviceName[]) {
  Copy(state.deviceName, deviceName);
  std::this_thread::sleep_for(std::chrono::milliseconds(state.resetMs));
  return Called(kFakeResetDevice, nullptr);
}

__attribute__((visibility("default"))) int32_t DAQmxGetErrorString(int32_t errorCode, char errorString[],
                                                                   uint32_t bufferSize) {
  state.errorCode = errorCode;
  state.bufferSize = bufferSize;
  ++state.calls[kFakeErrorString];
  if (bufferSize == 0) return static_cast<int32_t>(state.errorTextLength + 1);
  const uint32_t copied = std::min(state.errorTextLength, bufferSize - 1);
  std::memcpy(errorString, state.errorText, copied);
  errorString[copied] = '\0';
  return state.status[kFakeErrorString];
}

}  // extern "C"
