#include "camera/sim/SimulatedCamera.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace ostrelo {

SimulatedCamera::SimulatedCamera(Clock& clock, int32_t width, int32_t height)
    : clock_(clock), width_(width), height_(height) {}

void SimulatedCamera::SetFrameSize(int32_t width, int32_t height) {
  width_ = width;
  height_ = height;
}

void SimulatedCamera::Log(const std::string& call) {
  if (recordCalls) calls.push_back(call);
}

SimulatedCamera::Request* SimulatedCamera::Find(int32_t number) {
  for (auto& r : requests_) {
    if (r.number == number) return &r;
  }
  return nullptr;
}

int32_t SimulatedCamera::lockedRequests() const {
  return static_cast<int32_t>(std::count_if(requests_.begin(), requests_.end(), [](const Request& r) { return r.locked; }));
}

int32_t SimulatedCamera::queuedRequests() const {
  return static_cast<int32_t>(std::count_if(requests_.begin(), requests_.end(), [](const Request& r) { return r.queued; }));
}

int32_t SimulatedCamera::Init(int32_t* deviceManager) {
  Log("DMR_Init");
  if (script.failInit) return kFailure;
  *deviceManager = 1;
  return 0;
}

int32_t SimulatedCamera::GetDevice(int32_t* device, int32_t searchMode, const std::string& searchString,
                                   int32_t deviceNumber, char wildcard) {
  Log("DMR_GetDevice(" + std::to_string(searchMode) + "," + searchString + "," + std::to_string(deviceNumber) + "," +
      std::to_string(static_cast<int>(wildcard)) + ")");
  *device = kDeviceHandle;
  return 0;
}

int32_t SimulatedCamera::OpenDevice(int32_t device, int32_t* driver) {
  Log("DMR_OpenDevice(" + std::to_string(device) + ")");
  *driver = kDriverHandle;
  open_ = true;
  return 0;
}

int32_t SimulatedCamera::FindList(int32_t driver, const std::string& listName, int32_t listType, int32_t flags,
                                  int32_t* list) {
  Log("DMR_FindList(" + std::to_string(driver) + "," + listName + "," + std::to_string(listType) + "," +
      std::to_string(flags) + ")");
  if (!script.gainProperty || listName != "Base") return kFailure;
  *list = kListHandle;
  return 0;
}

int32_t SimulatedCamera::GetHandle(int32_t list, const std::string& propertyName, int32_t* property) {
  Log("OBJ_GetHandle(" + std::to_string(list) + "," + propertyName + ")");
  if (list != kListHandle || propertyName != "Gain_dB") return kFailure;
  *property = kGainHandle;
  return 0;
}

int32_t SimulatedCamera::GetF(int32_t property, double* value, int32_t index) {
  Log("OBJ_GetF(" + std::to_string(property) + "," + std::to_string(index) + ")");
  if (property != kGainHandle) return kFailure;
  switch (index) {
    case 0: *value = gain_; return 0;
    case -1: *value = kGainMax; return 0;
    case -2: *value = kGainMin; return 0;
    default: return kFailure;
  }
}

int32_t SimulatedCamera::SetF(int32_t property, double value, int32_t index) {
  Log("OBJ_SetF(" + std::to_string(property) + "," + std::to_string(value) + "," + std::to_string(index) + ")");
  if (property != kGainHandle || index != 0) return kFailure;
  gain_ = std::clamp(value, kGainMin, kGainMax);
  return 0;
}

int32_t SimulatedCamera::ImageRequestSingle(int32_t driver, int32_t requestControl, int32_t* requestUsed) {
  Log("DMR_ImageRequestSingle(" + std::to_string(driver) + "," + std::to_string(requestControl) + ")");
  if (script.failRequest > 0) {
    --script.failRequest;
    return kFailure;
  }
  Request r;
  r.number = nextNumber_++;
  r.queued = true;
  requests_.push_back(std::move(r));
  *requestUsed = requests_.back().number;
  return 0;
}

int32_t SimulatedCamera::ImageRequestWaitFor(int32_t driver, int32_t timeoutMs, int32_t queue, int32_t* requestNumber) {
  Log("DMR_ImageRequestWaitFor(" + std::to_string(driver) + "," + std::to_string(timeoutMs) + "," +
      std::to_string(queue) + ")");
  auto it = std::find_if(requests_.begin(), requests_.end(), [](const Request& r) { return r.queued; });
  if (it == requests_.end() || script.noPicture || timedOutWaits_ < script.waitsBeforePicture) {
    ++timedOutWaits_;
    clock_.SleepMs(timeoutMs);
    return kWaitTimeout;
  }
  if (!script.instant) {
    const int64_t now = clock_.SteadyMs();
    if (nextFrameDueMs_ > now) {
      const int64_t wait = nextFrameDueMs_ - now;
      if (wait > timeoutMs) {
        clock_.SleepMs(timeoutMs);
        return kWaitTimeout;
      }
      clock_.SleepMs(static_cast<int32_t>(wait));
    }
    nextFrameDueMs_ = std::max(nextFrameDueMs_, now) + script.frameIntervalMs;
  }
  timedOutWaits_ = 0;
  it->queued = false;
  it->locked = true;
  Render(*it);
  *requestNumber = it->number;
  return 0;
}

void SimulatedCamera::Render(Request& r) {
  r.width = width_;
  r.height = height_;
  r.pixels.resize(static_cast<size_t>(width_) * height_);
  const uint64_t index = frameIndex_++;
  if (painter_) {
    painter_(r.pixels.data(), width_, height_, index);
    return;
  }
  // A diagonal grey ramp drifting with time, a saturated bar and a black bar, brighter
  // with the gain.
  const double factor = std::pow(10.0, gain_ / 20.0);
  const int32_t shift = static_cast<int32_t>(index * 4 % 256);
  for (int32_t y = 0; y < height_; ++y) {
    uint8_t* row = r.pixels.data() + static_cast<size_t>(y) * width_;
    for (int32_t x = 0; x < width_; ++x) {
      const int32_t base = ((x + y) * 200 / (width_ + height_) + shift) % 200 + 20;
      row[x] = static_cast<uint8_t>(std::min(255.0, base * factor));
    }
    if (y > height_ / 8 && y < height_ / 4) {
      std::memset(row + width_ / 8, 255, static_cast<size_t>(width_ / 8));
      std::memset(row + width_ * 5 / 8, 0, static_cast<size_t>(width_ / 8));
    }
  }
}

int32_t SimulatedCamera::GetImageRequestBufferData(int32_t driver, int32_t requestNumber, RequestBufferInfo* info) {
  Log("DMR_GetImageRequestBufferData(" + std::to_string(driver) + "," + std::to_string(requestNumber) + ")");
  if (script.failBufferData > 0) {
    --script.failBufferData;
    return kFailure;
  }
  Request* r = Find(requestNumber);
  if (r == nullptr || !r->locked) return kFailure;
  info->pixelFormat = 1;
  info->size = static_cast<int32_t>(r->pixels.size());
  info->height = r->height;
  info->width = r->width;
  info->linePitch = r->width;
  info->channelCount = 1;
  info->data = r->pixels.data();
  return 0;
}

int32_t SimulatedCamera::GetImageRequestBufferChannelData(int32_t driver, int32_t requestNumber, int32_t channel,
                                                          RequestChannelInfo* info, char*, int32_t) {
  Log("DMR_GetImageRequestBufferChannelData(" + std::to_string(driver) + "," + std::to_string(requestNumber) + "," +
      std::to_string(channel) + ")");
  if (script.failChannelData > 0) {
    --script.failChannelData;
    return kFailure;
  }
  Request* r = Find(requestNumber);
  if (r == nullptr || !r->locked || channel != 0) return kFailure;
  info->channelOffset = 0;
  info->linePitch = r->width;
  info->pixelPitch = 1;
  return 0;
}

int32_t SimulatedCamera::GetImageRequestBufferImageData(int32_t driver, int32_t requestNumber, int32_t, int32_t,
                                                        int32_t width, int32_t height, uint8_t* destination,
                                                        int32_t destinationSize) {
  Log("DMR_GetImageRequestBufferImageData(" + std::to_string(driver) + "," + std::to_string(requestNumber) + "," +
      std::to_string(width) + "," + std::to_string(height) + "," + std::to_string(destinationSize) + ")");
  Request* r = Find(requestNumber);
  if (r == nullptr || !r->locked || destination == nullptr || destinationSize < 0) return kFailure;
  const int64_t wanted = static_cast<int64_t>(std::min(width, r->width)) * std::min(height, r->height);
  const size_t n = static_cast<size_t>(std::min<int64_t>(wanted, destinationSize));
  std::memcpy(destination, r->pixels.data(), n);
  return 0;
}

int32_t SimulatedCamera::ImageRequestUnlock(int32_t driver, int32_t requestNumber) {
  Log("DMR_ImageRequestUnlock(" + std::to_string(driver) + "," + std::to_string(requestNumber) + ")");
  if (script.failUnlock > 0) {
    --script.failUnlock;
    return kFailure;
  }
  auto it = std::find_if(requests_.begin(), requests_.end(),
                         [&](const Request& r) { return r.number == requestNumber && r.locked; });
  if (it == requests_.end()) return kFailure;
  requests_.erase(it);
  return 0;
}

int32_t SimulatedCamera::CloseDevice(int32_t driver, int32_t device) {
  Log("DMR_CloseDevice(" + std::to_string(driver) + "," + std::to_string(device) + ")");
  open_ = false;
  requests_.clear();
  return 0;
}

int32_t SimulatedCamera::Close() {
  Log("DMR_Close");
  return 0;
}

}  // namespace ostrelo
