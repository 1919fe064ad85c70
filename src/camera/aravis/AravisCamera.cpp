// AravisCamera as the camera driver interface: checks each call's handles and arguments
// and hands it to its Impl (AravisCameraImpl.h).

#include "camera/aravis/AravisCamera.h"

#include <arv.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "camera/LineCopy.h"
#include "camera/aravis/AravisCameraImpl.h"

namespace ostrelo {

namespace {

using aravis::Failed;
using aravis::kBaseListHandle;
using aravis::kDeviceHandle;
using aravis::kDeviceManagerHandle;
using aravis::kDriverHandle;
using aravis::kGainHandle;

// Aravis's interfaces and device list are process-wide.
std::atomic<bool> gAravisTaken{false};

}  // namespace

AravisCamera::AravisCamera(AravisOptions options) : impl_(std::make_unique<Impl>(std::move(options))) {}

AravisCamera::~AravisCamera() {
  Close();
  impl_->device.Stop();  // a slow release finishes here
}

std::string AravisCamera::deviceId() const { return impl_->chosenId.value_or(""); }
std::string AravisCamera::deviceAddress() const { return impl_->chosenAddress; }
AravisCamera::Mode AravisCamera::mode() const { return impl_->mode; }
uint64_t AravisCamera::framesDiscarded() const { return impl_->discarded; }
int64_t AravisCamera::lastPictureReceptionUs() const { return impl_->lastReceptionUs; }
bool AravisCamera::deviceLost() const { return impl_->opened && (!impl_->current || impl_->current->lost); }
uint64_t AravisCamera::reconnections() const { return impl_->reconnections; }

void AravisCamera::ForgetConnection() {
  if (impl_->current) impl_->current->lost = true;
}

int32_t AravisCamera::Init(int32_t* deviceManager) {
  Impl& m = *impl_;
  if (!m.initialised) {
    if (gAravisTaken.exchange(true)) return kBusy;
    m.initialised = true;
    m.device.Start();
  }
  m.OnDevice(
      [&m] {
        if (!m.aravisUp) {
          m.aravisUp = true;
          m.ChooseInterfaces();
        }
        m.ListDevices();
      },
      -1);
  if (deviceManager != nullptr) *deviceManager = kDeviceManagerHandle;
  return 0;
}

int32_t AravisCamera::GetDevice(int32_t* device, int32_t, const std::string& searchString, int32_t deviceNumber,
                                char wildcard) {
  Impl& m = *impl_;
  if (!m.initialised) return kNotInitialised;
  if (device == nullptr || deviceNumber < 0) return kBadArgument;
  if (m.opened) return kBusy;  // the device in use is not changed under it
  bool found = false;
  m.OnDevice([&] { found = m.ChooseDevice(searchString, deviceNumber, wildcard); }, -1);
  if (!found) return kNoDevice;
  *device = kDeviceHandle;
  return 0;
}

int32_t AravisCamera::OpenDevice(int32_t device, int32_t* driver) {
  Impl& m = *impl_;
  if (!m.initialised) return kNotInitialised;
  if (device != kDeviceHandle || !m.chosenId || driver == nullptr) return kBadHandle;
  if (!m.opened) {
    std::shared_ptr<Impl::Link> l;
    int32_t status = kOpenFailed;
    m.OnDevice([&] { status = m.Open(l); }, -1);
    if (status != 0) return status;
    m.opened = true;
    m.Adopt(std::move(l));
  }
  *driver = kDriverHandle;
  return 0;
}

int32_t AravisCamera::FindList(int32_t driver, const std::string& listName, int32_t, int32_t, int32_t* list) {
  Impl& m = *impl_;
  if (!m.IsDriver(driver) || list == nullptr) return kBadHandle;
  if (listName != "Base") return kBadArgument;
  *list = kBaseListHandle;
  return 0;
}

int32_t AravisCamera::GetHandle(int32_t list, const std::string& propertyName, int32_t* property) {
  Impl& m = *impl_;
  if (list != kBaseListHandle || !m.opened || property == nullptr) return kBadHandle;
  if (propertyName != "Gain_dB") return kBadArgument;
  const int32_t status = m.Control(
      [](Impl::Link& l, double&) {
        GError* error = nullptr;
        const bool available = arv_camera_is_gain_available(l.camera, &error);
        return Failed(error) || !available ? kBadArgument : 0;
      },
      nullptr);
  if (status != 0) return status;
  *property = kGainHandle;
  return 0;
}

int32_t AravisCamera::GetF(int32_t property, double* value, int32_t index) {
  Impl& m = *impl_;
  if (property != kGainHandle || !m.opened || value == nullptr) return kBadHandle;
  if (index != 0 && index != -1 && index != -2) return kBadArgument;
  return m.Control(
      [index](Impl::Link& l, double& result) {
        GError* error = nullptr;
        if (index == 0) {
          result = arv_camera_get_gain(l.camera, &error);
        } else {
          double minimum = 0.0, maximum = 0.0;
          arv_camera_get_gain_bounds(l.camera, &minimum, &maximum, &error);
          result = index == -1 ? maximum : minimum;
        }
        return Failed(error) ? kFeatureError : 0;
      },
      value);
}

int32_t AravisCamera::SetF(int32_t property, double value, int32_t index) {
  Impl& m = *impl_;
  if (property != kGainHandle || !m.opened) return kBadHandle;
  if (index != 0 || !std::isfinite(value)) return kBadArgument;
  Impl* impl = impl_.get();
  return m.Control(
      [impl, value](Impl::Link& l, double&) {
        impl->gainWanted = value;
        double held = 0.0;
        const int32_t status = Impl::ApplyGain(l, value, held);
        impl->gainHeld = std::isnan(held) ? std::nullopt : std::optional<double>(held);
        return status;
      },
      nullptr);
}

int32_t AravisCamera::ImageRequestSingle(int32_t driver, int32_t, int32_t* requestUsed) {
  Impl& m = *impl_;
  if (!m.IsDriver(driver)) return kBadHandle;
  return m.Request(requestUsed);
}

int32_t AravisCamera::ImageRequestWaitFor(int32_t driver, int32_t timeoutMs, int32_t, int32_t* requestNumber) {
  Impl& m = *impl_;
  if (!m.IsDriver(driver) || requestNumber == nullptr) return kBadHandle;
  return m.WaitFor(timeoutMs, requestNumber);
}

int32_t AravisCamera::GetImageRequestBufferData(int32_t driver, int32_t requestNumber, RequestBufferInfo* info) {
  Impl& m = *impl_;
  Impl::Locked* entry = m.FindLocked(driver, requestNumber);
  if (entry == nullptr || info == nullptr) return kNoRequest;
  if (!Impl::Describe(*entry)) return kNotMono8;
  info->pixelFormat = static_cast<int32_t>(ARV_PIXEL_FORMAT_MONO_8);
  info->size = entry->width * entry->height;
  info->height = entry->height;
  info->width = entry->width;
  info->linePitch = entry->width;
  info->channelCount = 1;
  info->data = entry->pixels;
  return 0;
}

int32_t AravisCamera::GetImageRequestBufferChannelData(int32_t driver, int32_t requestNumber, int32_t channel,
                                                       RequestChannelInfo* info, char* description,
                                                       int32_t descriptionLength) {
  Impl& m = *impl_;
  Impl::Locked* entry = m.FindLocked(driver, requestNumber);
  if (entry == nullptr || info == nullptr) return kNoRequest;
  if (channel != 0) return kBadArgument;
  if (!Impl::Describe(*entry)) return kNotMono8;
  info->channelOffset = 0;
  info->linePitch = entry->width;
  info->pixelPitch = 1;
  if (description != nullptr && descriptionLength > 0) {
    std::snprintf(description, static_cast<size_t>(descriptionLength), "%s", "Mono8");
  }
  return 0;
}

int32_t AravisCamera::GetImageRequestBufferImageData(int32_t driver, int32_t requestNumber, int32_t channel, int32_t,
                                                     int32_t width, int32_t height, uint8_t* destination,
                                                     int32_t destinationSize) {
  return CopyImage(driver, requestNumber, channel, width, height, destination, destinationSize, nullptr);
}

int32_t AravisCamera::GetImageRequestBufferImageLines(int32_t driver, int32_t requestNumber, int32_t channel, int32_t,
                                                      int32_t width, int32_t height, uint8_t* destination,
                                                      int32_t destinationSize, LineObserver& observer) {
  return CopyImage(driver, requestNumber, channel, width, height, destination, destinationSize, &observer);
}

int32_t AravisCamera::CopyImage(int32_t driver, int32_t requestNumber, int32_t channel, int32_t width, int32_t height,
                                uint8_t* destination, int32_t destinationSize, LineObserver* observer) {
  Impl& m = *impl_;
  Impl::Locked* entry = m.FindLocked(driver, requestNumber);
  if (entry == nullptr) return kNoRequest;
  if (channel != 0 || destination == nullptr) return kBadArgument;
  if (!Impl::Describe(*entry)) return kNotMono8;
  if (width != entry->width || height != entry->height) return kBadArgument;
  if (static_cast<int64_t>(width) * height > destinationSize) return kBadArgument;
  CopyLinesShown(entry->pixels, width, width, height, destination, observer);
  return 0;
}

int32_t AravisCamera::ImageRequestUnlock(int32_t driver, int32_t requestNumber) {
  Impl& m = *impl_;
  if (!m.IsDriver(driver)) return kBadHandle;
  auto it = m.locked.find(requestNumber);
  if (it == m.locked.end()) return kNoRequest;
  m.Update();
  m.GiveBack(it->second.buffer, it->second.link);
  m.locked.erase(it);
  return 0;
}

int32_t AravisCamera::CloseDevice(int32_t driver, int32_t device) {
  Impl& m = *impl_;
  if (!m.IsDriver(driver) || device != kDeviceHandle) return kBadHandle;
  m.CloseConnection();
  return 0;
}

int32_t AravisCamera::Close() {
  Impl& m = *impl_;
  if (m.opened) m.CloseConnection();
  if (!m.initialised) return 0;
  m.initialised = false;
  // Like the release of a camera that stopped answering, this may take the transport's
  // time-outs: the caller waits at most kControlWaitMs (not at all when the release of
  // the camera already outlasted that), the device thread finishes it (the destructor
  // waits for it), and Aravis is free for another object only then.
  m.OnDevice(
      [&m] {
        m.ReleaseAll();
        if (m.aravisUp) arv_shutdown();
        m.aravisUp = false;
        m.deviceIds.clear();
        m.deviceAddresses.clear();
        gAravisTaken = false;
      },
      m.releaseLate ? 0 : kControlWaitMs, /*keep=*/true);
  m.releaseLate = false;
  return 0;
}

std::unique_ptr<AravisCamera> MakeAravisCamera(AravisOptions options) {
  return std::make_unique<AravisCamera>(std::move(options));
}

}  // namespace ostrelo
