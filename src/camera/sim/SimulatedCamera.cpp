#include "camera/sim/SimulatedCamera.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

#include "camera/LineCopy.h"

namespace ostrelo {

namespace {

constexpr int32_t kRampPeriod = 512;  // pixels of one rise and fall of the ramp
constexpr uint8_t kRampLow = 16;      // the ramp's darkest and brightest grey levels:
constexpr uint8_t kRampHigh = 239;    // mid-tones, clear of both ends
constexpr size_t kSpareBuffersKept = 4;

std::string Str(int32_t v) { return std::to_string(v); }

}  // namespace

SimulatedCamera::SimulatedCamera(Clock& clock, int32_t width, int32_t height)
    : clock_(clock), width_(width), height_(height) {}

void SimulatedCamera::SetFrameSize(int32_t width, int32_t height) {
  width_ = width;
  height_ = height;
}

SimulatedCamera::Request* SimulatedCamera::Find(int32_t number) {
  for (auto& r : requests_) {
    if (r.number == number) return &r;
  }
  return nullptr;
}

int32_t SimulatedCamera::lockedRequests() const {
  return static_cast<int32_t>(
      std::count_if(requests_.begin(), requests_.end(), [](const Request& r) { return r.locked; }));
}

int32_t SimulatedCamera::queuedRequests() const {
  return static_cast<int32_t>(
      std::count_if(requests_.begin(), requests_.end(), [](const Request& r) { return r.queued; }));
}

// ---- The scene ----

void SimulatedCamera::PrepareScene(int32_t width, int32_t height) {
  if (scene_.width == width && scene_.height == height && scene_.gain == gain_) return;
  scene_.width = width;
  scene_.height = height;
  scene_.gain = gain_;

  // The gain as a grey-level table: everything brighter by the same factor, clipped at
  // white; black stays black.
  std::array<uint8_t, 256> gained{};
  const double factor = std::pow(10.0, gain_ / 20.0);
  for (int v = 0; v < 256; ++v) gained[v] = static_cast<uint8_t>(std::min(255.0, std::round(v * factor)));

  // Line y of a picture is this line from offset y + drift: a diagonal ramp rising and
  // falling once every kRampPeriod pixels.
  scene_.ramp.resize(static_cast<size_t>(width) + height + kRampPeriod);
  for (size_t k = 0; k < scene_.ramp.size(); ++k) {
    const int32_t t = static_cast<int32_t>(k % kRampPeriod);
    const int32_t up = t < kRampPeriod / 2 ? t : kRampPeriod - 1 - t;  // 0..255
    scene_.ramp[k] = gained[kRampLow + up * (kRampHigh - kRampLow) / (kRampPeriod / 2 - 1)];
  }

  scene_.spotRadius = std::max(1, height / 12);
  scene_.spotCentreY = height * 2 / 3;
  scene_.spotHalfWidth.resize(2 * static_cast<size_t>(scene_.spotRadius) + 1);
  const int32_t r = scene_.spotRadius;
  for (size_t i = 0; i < scene_.spotHalfWidth.size(); ++i) {
    const int32_t dy = static_cast<int32_t>(i) - r;
    scene_.spotHalfWidth[i] = static_cast<int32_t>(std::sqrt(static_cast<double>(r * r - dy * dy)));
  }
}

void SimulatedCamera::RenderScene(uint8_t* pixels, int32_t width, int32_t height, int64_t atMs) {
  if (width <= 0 || height <= 0) return;
  PrepareScene(width, height);
  const int64_t drift = std::max<int64_t>(0, atMs) * kDriftPixelsPerSecond / 1000;
  const size_t shift = static_cast<size_t>(drift % kRampPeriod);
  const size_t w = static_cast<size_t>(width);
  for (int32_t y = 0; y < height; ++y) {
    std::memcpy(pixels + static_cast<size_t>(y) * w, scene_.ramp.data() + y + shift, w);
  }

  // A saturated block on the left and a black block on the right, in the upper part.
  auto block = [&](int32_t x0, int32_t y0, int32_t bw, int32_t bh, uint8_t grey) {
    const int32_t x1 = std::min(width, x0 + bw), y1 = std::min(height, y0 + bh);
    for (int32_t y = std::max(0, y0); y < y1; ++y) {
      if (x1 > x0) std::memset(pixels + static_cast<size_t>(y) * w + x0, grey, static_cast<size_t>(x1 - x0));
    }
  };
  block(width / 16, height / 8, std::max(1, width / 6), std::max(1, height / 6), 255);
  block(width * 11 / 16, height / 8, std::max(1, width / 6), std::max(1, height / 6), 0);

  // A saturated spot crossing the lower part from left to right.
  const int32_t r = scene_.spotRadius;
  const int64_t track = static_cast<int64_t>(width) + 2 * static_cast<int64_t>(r);
  const auto cx = static_cast<int32_t>((drift * 3 / 2) % track) - r;
  for (size_t i = 0; i < scene_.spotHalfWidth.size(); ++i) {
    const int32_t y = scene_.spotCentreY - r + static_cast<int32_t>(i);
    if (y < 0 || y >= height) continue;
    const int32_t half = scene_.spotHalfWidth[i];
    const int32_t x0 = std::max(0, cx - half), x1 = std::min(width, cx + half + 1);
    if (x1 > x0) std::memset(pixels + static_cast<size_t>(y) * w + x0, 255, static_cast<size_t>(x1 - x0));
  }
}

void SimulatedCamera::Render(Request& r) {
  r.width = width_;
  r.height = height_;
  const size_t size = static_cast<size_t>(std::max(0, width_)) * static_cast<size_t>(std::max(0, height_));
  if (r.pixels.empty() && !spareBuffers_.empty()) {
    r.pixels = std::move(spareBuffers_.back());
    spareBuffers_.pop_back();
  }
  r.pixels.resize(size);
  const uint64_t index = frameIndex_++;
  if (size == 0) return;
  if (painter_) {
    painter_(r.pixels.data(), width_, height_, index);
  } else {
    RenderScene(r.pixels.data(), width_, height_, script.instant ? clock_.SteadyMs() : r.dueMs);
  }
}

void SimulatedCamera::Release(Request& r) {
  if (spareBuffers_.size() < kSpareBuffersKept && r.pixels.capacity() > 0) spareBuffers_.push_back(std::move(r.pixels));
}

// ---- Device manager ----

int32_t SimulatedCamera::Init(int32_t* deviceManager) {
  Log([] { return std::string("DMR_Init"); });
  if (script.failInit) return kFailure;
  *deviceManager = 1;
  return 0;
}

int32_t SimulatedCamera::GetDevice(int32_t* device, int32_t searchMode, const std::string& searchString,
                                   int32_t deviceNumber, char wildcard) {
  Log([&] {
    return "DMR_GetDevice(" + Str(searchMode) + "," + searchString + "," + Str(deviceNumber) + "," +
           Str(static_cast<int>(wildcard)) + ")";
  });
  *device = kDeviceHandle;
  return 0;
}

int32_t SimulatedCamera::OpenDevice(int32_t device, int32_t* driver) {
  Log([&] { return "DMR_OpenDevice(" + Str(device) + ")"; });
  if (device != kDeviceHandle) return kFailure;
  *driver = kDriverHandle;
  open_ = true;
  return 0;
}

int32_t SimulatedCamera::FindList(int32_t driver, const std::string& listName, int32_t listType, int32_t flags,
                                  int32_t* list) {
  Log([&] { return "DMR_FindList(" + Str(driver) + "," + listName + "," + Str(listType) + "," + Str(flags) + ")"; });
  if (!open_ || driver != kDriverHandle || !script.gainProperty || listName != "Base") return kFailure;
  *list = kListHandle;
  return 0;
}

int32_t SimulatedCamera::GetHandle(int32_t list, const std::string& propertyName, int32_t* property) {
  Log([&] { return "OBJ_GetHandle(" + Str(list) + "," + propertyName + ")"; });
  if (list != kListHandle || propertyName != "Gain_dB") return kFailure;
  *property = kGainHandle;
  return 0;
}

int32_t SimulatedCamera::GetF(int32_t property, double* value, int32_t index) {
  Log([&] { return "OBJ_GetF(" + Str(property) + "," + Str(index) + ")"; });
  if (property != kGainHandle) return kFailure;
  switch (index) {
    case 0: *value = gain_; return 0;
    case -1: *value = kGainMax; return 0;
    case -2: *value = kGainMin; return 0;
    default: return kFailure;
  }
}

int32_t SimulatedCamera::SetF(int32_t property, double value, int32_t index) {
  Log([&] { return "OBJ_SetF(" + Str(property) + "," + std::to_string(value) + "," + Str(index) + ")"; });
  if (property != kGainHandle || index != 0 || !std::isfinite(value)) return kFailure;
  gain_ = std::clamp(value, kGainMin, kGainMax);
  return 0;
}

int32_t SimulatedCamera::ImageRequestSingle(int32_t driver, int32_t requestControl, int32_t* requestUsed) {
  Log([&] { return "DMR_ImageRequestSingle(" + Str(driver) + "," + Str(requestControl) + ")"; });
  if (!open_ || driver != kDriverHandle) return kFailure;
  if (script.failRequest > 0) {
    --script.failRequest;
    return kFailure;
  }
  Request r;
  r.number = nextNumber_++;
  r.queued = true;
  if (!script.instant) {
    // The first exposure that starts after the request, and no frame serves two requests.
    const int64_t interval = std::max(1, script.frameIntervalMs);
    const int64_t now = clock_.SteadyMs();
    const int64_t exposureStart = (now + interval - 1) / interval * interval;
    r.dueMs = std::max(exposureStart + interval, lastDueMs_ + interval);
    lastDueMs_ = r.dueMs;
  }
  requests_.push_back(std::move(r));
  *requestUsed = requests_.back().number;
  return 0;
}

int32_t SimulatedCamera::ImageRequestWaitFor(int32_t driver, int32_t timeoutMs, int32_t queue, int32_t* requestNumber) {
  Log([&] { return "DMR_ImageRequestWaitFor(" + Str(driver) + "," + Str(timeoutMs) + "," + Str(queue) + ")"; });
  if (!open_ || driver != kDriverHandle) return kFailure;
  // Requests are served in the order they were asked for.
  auto it = std::find_if(requests_.begin(), requests_.end(), [](const Request& r) { return r.queued; });
  const bool silent = script.noPicture || clock_.SteadyMs() < script.silentUntilMs;
  if (it == requests_.end() || silent || timedOutWaits_ < script.waitsBeforePicture) {
    if (it != requests_.end()) ++timedOutWaits_;
    clock_.SleepMs(timeoutMs);
    return kWaitTimeout;
  }
  if (!script.instant) {
    const int64_t wait = it->dueMs - clock_.SteadyMs();
    if (wait > timeoutMs) {
      clock_.SleepMs(timeoutMs);
      return kWaitTimeout;
    }
    if (wait > 0) clock_.SleepMs(static_cast<int32_t>(wait));
  }
  timedOutWaits_ = 0;
  it->queued = false;
  it->locked = true;
  Render(*it);
  *requestNumber = it->number;
  return 0;
}

int32_t SimulatedCamera::GetImageRequestBufferData(int32_t driver, int32_t requestNumber, RequestBufferInfo* info) {
  Log([&] { return "DMR_GetImageRequestBufferData(" + Str(driver) + "," + Str(requestNumber) + ")"; });
  if (script.failBufferData > 0) {
    --script.failBufferData;
    return kFailure;
  }
  Request* r = Find(requestNumber);
  if (!open_ || driver != kDriverHandle || r == nullptr || !r->locked) return kFailure;
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
  Log([&] {
    return "DMR_GetImageRequestBufferChannelData(" + Str(driver) + "," + Str(requestNumber) + "," + Str(channel) + ")";
  });
  if (script.failChannelData > 0) {
    --script.failChannelData;
    return kFailure;
  }
  Request* r = Find(requestNumber);
  if (!open_ || driver != kDriverHandle || r == nullptr || !r->locked || channel != 0) return kFailure;
  info->channelOffset = 0;
  info->linePitch = r->width;
  info->pixelPitch = 1;
  return 0;
}

int32_t SimulatedCamera::GetImageRequestBufferImageData(int32_t driver, int32_t requestNumber, int32_t, int32_t,
                                                        int32_t width, int32_t height, uint8_t* destination,
                                                        int32_t destinationSize) {
  return CopyImage(driver, requestNumber, width, height, destination, destinationSize, nullptr);
}

int32_t SimulatedCamera::GetImageRequestBufferImageLines(int32_t driver, int32_t requestNumber, int32_t, int32_t,
                                                         int32_t width, int32_t height, uint8_t* destination,
                                                         int32_t destinationSize, LineObserver& observer) {
  return CopyImage(driver, requestNumber, width, height, destination, destinationSize, &observer);
}

int32_t SimulatedCamera::CopyImage(int32_t driver, int32_t requestNumber, int32_t width, int32_t height,
                                   uint8_t* destination, int32_t destinationSize, LineObserver* observer) {
  Log([&] {
    return "DMR_GetImageRequestBufferImageData(" + Str(driver) + "," + Str(requestNumber) + "," + Str(width) + "," +
           Str(height) + "," + Str(destinationSize) + ")";
  });
  Request* r = Find(requestNumber);
  if (!open_ || driver != kDriverHandle || r == nullptr || !r->locked || destination == nullptr ||
      destinationSize < 0 || width <= 0 || height <= 0) {
    return kFailure;
  }
  // Lines of the asked width, top down without padding, cut to the picture and to the
  // room given: never a byte past destinationSize.
  const size_t room = static_cast<size_t>(destinationSize);
  const size_t lineOut = static_cast<size_t>(width);
  const size_t take = static_cast<size_t>(std::min(width, r->width));
  const int32_t lines = std::min(height, r->height);
  if (take == 0) return 0;
  // Whole lines of the picture's width are shown as they are copied; the line the room
  // cuts is copied unseen, as is a picture of another width.
  if (lineOut == take && take == static_cast<size_t>(r->width)) {
    const auto whole = static_cast<int32_t>(std::min<size_t>(static_cast<size_t>(lines), room / take));
    CopyLinesShown(r->pixels.data(), r->width, width, whole, destination, observer);
    const size_t at = static_cast<size_t>(whole) * take;
    if (whole < lines && at < room) std::memcpy(destination + at, r->pixels.data() + at, room - at);
    return 0;
  }
  for (int32_t y = 0; y < lines; ++y) {
    const size_t at = static_cast<size_t>(y) * lineOut;
    if (at >= room) break;
    std::memcpy(destination + at, r->pixels.data() + static_cast<size_t>(y) * r->width, std::min(take, room - at));
  }
  return 0;
}

int32_t SimulatedCamera::ImageRequestUnlock(int32_t driver, int32_t requestNumber) {
  Log([&] { return "DMR_ImageRequestUnlock(" + Str(driver) + "," + Str(requestNumber) + ")"; });
  if (script.failUnlock > 0) {
    --script.failUnlock;
    return kFailure;
  }
  auto it = std::find_if(requests_.begin(), requests_.end(),
                         [&](const Request& r) { return r.number == requestNumber && r.locked; });
  if (!open_ || driver != kDriverHandle || it == requests_.end()) return kFailure;
  Release(*it);
  requests_.erase(it);
  return 0;
}

int32_t SimulatedCamera::CloseDevice(int32_t driver, int32_t device) {
  Log([&] { return "DMR_CloseDevice(" + Str(driver) + "," + Str(device) + ")"; });
  if (driver != kDriverHandle || device != kDeviceHandle) return kFailure;
  open_ = false;
  for (Request& r : requests_) Release(r);
  requests_.clear();
  return 0;
}

int32_t SimulatedCamera::Close() {
  Log([] { return std::string("DMR_Close"); });
  return 0;
}

}  // namespace ostrelo
