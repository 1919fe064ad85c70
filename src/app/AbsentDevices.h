#pragma once
// Stand-ins for a device backend that could not be loaded at all: every call fails, so
// start-up takes its ordinary road for a missing camera or card.

#include "shell/CameraDriver.h"
#include "shell/DaqDriver.h"

namespace ostrelo::qtui {

class AbsentCamera final : public CameraDriver {
 public:
  static constexpr int32_t kFailure = -2100;
  int32_t Init(int32_t*) override { return kFailure; }
  int32_t GetDevice(int32_t*, int32_t, const std::string&, int32_t, char) override { return kFailure; }
  int32_t OpenDevice(int32_t, int32_t*) override { return kFailure; }
  int32_t FindList(int32_t, const std::string&, int32_t, int32_t, int32_t*) override { return kFailure; }
  int32_t GetHandle(int32_t, const std::string&, int32_t*) override { return kFailure; }
  int32_t GetF(int32_t, double*, int32_t) override { return kFailure; }
  int32_t SetF(int32_t, double, int32_t) override { return kFailure; }
  int32_t ImageRequestSingle(int32_t, int32_t, int32_t*) override { return kFailure; }
  int32_t ImageRequestWaitFor(int32_t, int32_t, int32_t, int32_t*) override { return kFailure; }
  int32_t GetImageRequestBufferData(int32_t, int32_t, RequestBufferInfo*) override { return kFailure; }
  int32_t GetImageRequestBufferChannelData(int32_t, int32_t, int32_t, RequestChannelInfo*, char*, int32_t) override {
    return kFailure;
  }
  int32_t GetImageRequestBufferImageData(int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, uint8_t*,
                                         int32_t) override {
    return kFailure;
  }
  int32_t ImageRequestUnlock(int32_t, int32_t) override { return kFailure; }
  int32_t CloseDevice(int32_t, int32_t) override { return kFailure; }
  int32_t Close() override { return kFailure; }
};

class AbsentDaq final : public DaqDriver {
 public:
  static constexpr int32_t kFailure = -1;
  int32_t CreateTask(const std::string&, DaqTaskHandle*) override { return kFailure; }
  int32_t ClearTask(DaqTaskHandle) override { return kFailure; }
  int32_t CreateAIVoltageChan(DaqTaskHandle, const std::string&, const std::string&, int32_t, double, double, int32_t,
                              const std::string&) override {
    return kFailure;
  }
  int32_t CfgSampClkTiming(DaqTaskHandle, const std::string&, double, int32_t, int32_t, uint64_t) override {
    return kFailure;
  }
  int32_t GetTaskNumChans(DaqTaskHandle, uint32_t*) override { return kFailure; }
  int32_t ReadAnalogF64(DaqTaskHandle, int32_t, double, uint32_t, double*, uint32_t, int32_t*, uint32_t*) override {
    return kFailure;
  }
  int32_t GetErrorString(int32_t errorCode, char* errorString, uint32_t bufferSize) override;
};

}  // namespace ostrelo::qtui
