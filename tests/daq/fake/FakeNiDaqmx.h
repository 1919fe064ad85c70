#pragma once
// A stand-in for the NI-DAQmx library, built as a loadable module by the tests: it
// exports the eight driver functions with the driver's C prototypes, returns scripted
// statuses and records the arguments it receives. Tests reach its state through
// FakeDaqmx_State(), looked up in the same loaded module.

#include <atomic>
#include <cstdint>

enum FakeDaqmxFn {
  kFakeCreateTask,
  kFakeClearTask,
  kFakeCreateChan,
  kFakeTiming,
  kFakeNumChans,
  kFakeRead,
  kFakeErrorString,
  kFakeResetDevice,
  kFakeFnCount
};

struct FakeDaqmxState {
  // Script.
  int32_t status[kFakeFnCount];  // returned by each function
  uintptr_t handleToGive;        // written by DAQmxCreateTask
  uint32_t channelCount;         // written by DAQmxGetTaskNumChans
  int32_t samplesRead;           // reported by DAQmxReadAnalogF64
  double fillBase;               // the read stores fillBase + i at index i, within the array
  char errorText[256];           // may hold NULs
  uint32_t errorTextLength;
  // A card that drops out: the reads after the first lostAfterReads good ones fail with
  // lostStatus, and so does every call but clearing until lostForResets resets were
  // refused; then the card answers again. 0: never.
  int32_t lostAfterReads, lostStatus, lostForResets;
  int32_t resetMs;  // how long a reset takes
  // Every hangEvery-th read hangs hangMs, or until release is set; FAKE_DAQMX_HANG="<ms>,<every>".
  int32_t hangEvery, hangMs;
  std::atomic<int32_t> hanging, release;

  // Every call in order (FakeDaqmxFn values), up to its size.
  uint8_t sequence[256];
  uint32_t sequenceLength;
  char deviceName[64];  // of the last reset
  // Record of the last call of each function.
  int32_t calls[kFakeFnCount];
  void* handle[kFakeFnCount];
  char taskName[64];
  char physicalChannel[64], nameToAssign[64], customScaleName[64];
  int32_t terminalConfig, units;
  double minVal, maxVal;
  char source[64];
  double rate;
  int32_t activeEdge, sampleMode;
  uint64_t sampsPerChan;
  int32_t numSampsPerChan;
  double timeout;
  uint32_t fillMode, arraySizeInSamps;
  int reservedWasNull;
  int32_t errorCode;
  uint32_t bufferSize;
};

using FakeDaqmxStateFn = FakeDaqmxState* (*)();
