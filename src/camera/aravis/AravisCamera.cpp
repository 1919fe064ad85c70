#include "camera/aravis/AravisCamera.h"

#include <arv.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <limits>
#include <map>
#include <optional>

#include "camera/aravis/FrameGate.h"

namespace ostrelo {

namespace {

constexpr int32_t kDeviceManagerHandle = 1;
constexpr int32_t kDeviceHandle = 10;
constexpr int32_t kDriverHandle = 20;
constexpr int32_t kBaseListHandle = 30;
constexpr int32_t kGainHandle = 31;

// The interfaces searched when none are given: real cameras only.
const char* const kCameraInterfaces[] = {"GigEVision", "USB3Vision"};

// Aravis's interfaces and device list are process-wide.
std::atomic<bool> gAravisTaken{false};

// Frames are polled in slices this long, so that lost triggers, a lost device and the
// caller's time-out are noticed in time.
constexpr int64_t kPollSliceUs = 20'000;
// A change of the wall clock against the steady clock beyond this is a clock step.
constexpr int64_t kClockStepUs = 500'000;
// When the camera states no frame rate.
constexpr int64_t kDefaultFramePeriodUs = 100'000;
// A trigger unanswered this long, plus twice the exposure, is lost. Far beyond what
// Aravis lets a frame take on its way (it closes incomplete frames much sooner).
constexpr int64_t kTriggerLostBaseUs = 2'000'000;
// After a trigger the camera did not take, the next attempt waits this long: each
// attempt can block for the transport's own time-outs.
constexpr int64_t kTriggerRetryUs = 1'000'000;
// How long an opened camera in trigger mode is watched for frames nobody triggered.
constexpr int64_t kTriggerProbeMinUs = 300'000;

void Warn(const std::string& text) { std::fprintf(stderr, "ostrelo: camera: %s\n", text.c_str()); }

// The search string of the device search: the wildcard character stands for any run
// of characters.
bool Matches(const char* pattern, const char* text, char wildcard) {
  if (*pattern == '\0') return *text == '\0';
  if (*pattern == wildcard) {
    for (const char* t = text;; ++t) {
      if (Matches(pattern + 1, t, wildcard)) return true;
      if (*t == '\0') return false;
    }
  }
  return *text != '\0' && *pattern == *text && Matches(pattern + 1, text + 1, wildcard);
}

bool Contains(const char** list, guint n, const char* item) {
  for (guint i = 0; i < n; ++i) {
    if (list[i] != nullptr && std::strcmp(list[i], item) == 0) return true;
  }
  return false;
}

// Takes a GError: true (and the error freed) when there was one.
bool Failed(GError*& error) {
  if (error == nullptr) return false;
  g_clear_error(&error);
  return true;
}

}  // namespace

struct AravisCamera::Impl {
  explicit Impl(AravisOptions o) : options(std::move(o)) {}

  struct Locked {
    ArvBuffer* buffer = nullptr;
    bool described = false;
    bool mono8 = false;
    int32_t width = 0, height = 0;
    const uint8_t* pixels = nullptr;  // width x height bytes, lines without padding
    std::vector<uint8_t> compact;     // holds the pixels when the camera pads its lines
  };

  AravisOptions options;
  bool initialised = false;
  std::vector<std::string> deviceIds;
  std::vector<std::string> deviceAddresses;
  std::optional<std::string> chosenId;
  std::string chosenAddress;

  ArvCamera* camera = nullptr;
  ArvDevice* device = nullptr;  // owned by camera
  ArvStream* stream = nullptr;
  gulong lostHandler = 0;
  std::atomic<bool> lost{false};
  bool acquiring = false;
  std::optional<FrameGate> gate;
  Mode mode = Mode::Closed;
  int32_t bufferCount = 4;

  int32_t nextRequest = 1;
  std::deque<int32_t> pending;                          // requests waiting, oldest first
  std::deque<std::pair<int32_t, ArvBuffer*>> finished;  // answered, not yet returned by a wait
  int64_t clockOffsetUs = 0;  // wall clock minus steady clock when the request was made
  int64_t triggerFailedAtUs = std::numeric_limits<int64_t>::min() / 2;  // steady clock
  std::map<int32_t, Locked> locked;
  uint64_t discarded = 0;
  int64_t lastReceptionUs = 0;

  static void OnControlLost(ArvDevice*, gpointer self) { static_cast<Impl*>(self)->lost = true; }

  bool open() const { return camera != nullptr; }

  void ChooseInterfaces() {
    std::vector<std::string> wanted = options.interfaces;
    if (wanted.empty()) wanted.assign(std::begin(kCameraInterfaces), std::end(kCameraInterfaces));
    for (unsigned i = 0; i < arv_get_n_interfaces(); ++i) {
      const char* id = arv_get_interface_id(i);
      if (id == nullptr) continue;
      if (std::find(wanted.begin(), wanted.end(), id) != wanted.end()) {
        arv_enable_interface(id);
      } else {
        arv_disable_interface(id);
      }
    }
  }

  void ListDevices() {
    arv_update_device_list();
    deviceIds.clear();
    deviceAddresses.clear();
    for (unsigned i = 0; i < arv_get_n_devices(); ++i) {
      const char* id = arv_get_device_id(i);
      const char* address = arv_get_device_address(i);
      deviceIds.emplace_back(id != nullptr ? id : "");
      deviceAddresses.emplace_back(address != nullptr ? address : "");
    }
  }

  bool IsDriver(int32_t driver) const { return driver == kDriverHandle && open(); }

  // Mono8 (or the format asked for) when the camera offers it.
  void ChoosePixelFormat() {
    GError* error = nullptr;
    guint n = 0;
    const char** formats = arv_camera_dup_available_pixel_formats_as_strings(camera, &n, &error);
    Failed(error);
    const bool offered = formats != nullptr && Contains(formats, n, options.pixelFormat.c_str());
    g_free(formats);
    if (!offered) {
      Warn("the camera does not offer " + options.pixelFormat + "; its pictures will be refused");
      return;
    }
    arv_camera_set_pixel_format_from_string(camera, options.pixelFormat.c_str(), &error);
    if (Failed(error)) Warn("the camera refused the pixel format " + options.pixelFormat);
  }

  bool SoftwareTriggerOffered() {
    GError* error = nullptr;
    const bool supported = arv_camera_is_software_trigger_supported(camera, &error);
    if (Failed(error) || !supported) return false;
    guint n = 0;
    const char** triggers = arv_camera_dup_available_triggers(camera, &n, &error);
    Failed(error);
    const bool frameStart = triggers != nullptr && Contains(triggers, n, "FrameStart");
    g_free(triggers);
    return frameStart;
  }

  bool SetSoftwareTrigger() {
    GError* error = nullptr;
    arv_camera_set_trigger(camera, "Software", &error);
    return !Failed(error);
  }

  void ClearTriggers() {
    GError* error = nullptr;
    arv_camera_clear_triggers(camera, &error);
    if (Failed(error)) Warn("the camera's trigger could not be switched off");
  }

  FrameGate::Timing ReadTiming() {
    FrameGate::Timing timing;
    GError* error = nullptr;
    timing.framePeriodUs = kDefaultFramePeriodUs;
    if (arv_camera_is_frame_rate_available(camera, &error)) {
      const double fps = arv_camera_get_frame_rate(camera, &error);
      if (error == nullptr && std::isfinite(fps) && fps > 0.01) timing.framePeriodUs = static_cast<int64_t>(1e6 / fps);
    }
    Failed(error);
    if (arv_camera_is_exposure_time_available(camera, &error)) {
      const double exposure = arv_camera_get_exposure_time(camera, &error);
      if (error == nullptr && std::isfinite(exposure) && exposure > 0 && exposure < 1e9) {
        timing.exposureUs = static_cast<int64_t>(exposure);
      }
    }
    Failed(error);
    timing.triggerLostUs = kTriggerLostBaseUs + 2 * timing.exposureUs;
    return timing;
  }

  bool StartAcquisition() {
    GError* error = nullptr;
    arv_camera_start_acquisition(camera, &error);
    acquiring = !Failed(error);
    return acquiring;
  }

  void StopAcquisition() {
    if (!acquiring) return;
    acquiring = false;
    GError* error = nullptr;
    arv_camera_stop_acquisition(camera, &error);
    Failed(error);
  }

  // A camera in trigger mode must stay silent until triggered: one that sends frames on
  // its own is run free instead.
  bool HonoursTrigger(const FrameGate::Timing& timing) {
    const int64_t probeUs = std::max(kTriggerProbeMinUs, 3 * (timing.framePeriodUs + timing.exposureUs));
    ArvBuffer* buffer = arv_stream_timeout_pop_buffer(stream, static_cast<guint64>(probeUs));
    if (buffer == nullptr) return true;
    arv_stream_push_buffer(stream, buffer);
    return false;
  }

  void SwitchToFreeRunning() {
    Warn("the camera exposes without its software trigger: each picture is now chosen by its timing");
    StopAcquisition();
    ClearTriggers();
    StartAcquisition();
    mode = Mode::FreeRunning;
  }

  void ReleaseDevice() {
    if (!open()) return;
    if (!lost) StopAcquisition();
    acquiring = false;
    for (auto& [number, entry] : locked) g_object_unref(entry.buffer);
    locked.clear();
    for (auto& [number, buffer] : finished) g_object_unref(buffer);
    finished.clear();
    pending.clear();
    if (stream != nullptr) g_object_unref(stream);  // stops its thread, frees its queued buffers
    stream = nullptr;
    if (lostHandler != 0) g_signal_handler_disconnect(device, lostHandler);
    lostHandler = 0;
    g_object_unref(camera);  // joins the device's own threads
    camera = nullptr;
    device = nullptr;
    gate.reset();
    mode = Mode::Closed;
  }

  int32_t Open() {
    GError* error = nullptr;
    camera = arv_camera_new(chosenId->c_str(), &error);
    if (camera == nullptr) {
      Failed(error);
      return kOpenFailed;
    }
    device = arv_camera_get_device(camera);
    lost = false;
    lostHandler = g_signal_connect(device, "control-lost", G_CALLBACK(&Impl::OnControlLost), this);

    ChoosePixelFormat();
    arv_camera_set_acquisition_mode(camera, ARV_ACQUISITION_MODE_CONTINUOUS, &error);
    Failed(error);

    using Exposure = AravisOptions::Exposure;
    bool triggered = false;
    if (options.exposure != Exposure::FreeRunning && SoftwareTriggerOffered()) triggered = SetSoftwareTrigger();
    if (options.exposure == Exposure::SoftwareTrigger && !triggered) {
      Warn("the camera offers no software trigger");
      ReleaseDevice();
      return kOpenFailed;
    }
    if (!triggered) ClearTriggers();
    const FrameGate::Timing timing = ReadTiming();

    const guint payload = arv_camera_get_payload(camera, &error);
    stream = Failed(error) || payload == 0 ? nullptr : arv_camera_create_stream(camera, nullptr, nullptr, &error);
    if (stream == nullptr) {
      Failed(error);
      ReleaseDevice();
      return kOpenFailed;
    }
    bufferCount = std::max(3, options.bufferCount);
    for (int32_t i = 0; i < bufferCount; ++i) arv_stream_push_buffer(stream, arv_buffer_new_allocate(payload));
    if (!StartAcquisition()) {
      ReleaseDevice();
      return kOpenFailed;
    }
    if (triggered && options.exposure == Exposure::Auto && !HonoursTrigger(timing)) {
      SwitchToFreeRunning();
      triggered = false;
    }
    mode = triggered ? Mode::Triggered : Mode::FreeRunning;
    gate.emplace(triggered ? FrameGate::Mode::Triggered : FrameGate::Mode::FreeRunning, timing);
    return 0;
  }

  // Sends the trigger of the current request; false when the camera did not take it.
  bool Trigger() {
    // Stamped before sending: the answer's reception cannot begin earlier.
    const int64_t sent = g_get_real_time();
    GError* error = nullptr;
    arv_camera_software_trigger(camera, &error);
    if (Failed(error)) {
      triggerFailedAtUs = g_get_monotonic_time();
      return false;
    }
    gate->TriggerSent(sent);
    return true;
  }

  bool TriggerRetryAllowed() const { return g_get_monotonic_time() - triggerFailedAtUs >= kTriggerRetryUs; }

  // Passes one delivered frame through the gate; false when it was given back.
  bool Judge(ArvBuffer* buffer) {
    const ArvBufferPayloadType payload = arv_buffer_get_payload_type(buffer);
    const bool complete = arv_buffer_get_status(buffer) == ARV_BUFFER_STATUS_SUCCESS &&
                          (payload == ARV_BUFFER_PAYLOAD_TYPE_IMAGE ||
                           payload == ARV_BUFFER_PAYLOAD_TYPE_EXTENDED_CHUNK_DATA);
    const auto receptionUs = static_cast<int64_t>(arv_buffer_get_system_timestamp(buffer) / 1000);
    const FrameGate::Mode before = gate->mode();
    const FrameGate::Verdict verdict =
        gate->Judge(complete, receptionUs, arv_buffer_get_frame_id(buffer), g_get_real_time());
    if (before == FrameGate::Mode::Triggered && gate->mode() == FrameGate::Mode::FreeRunning) SwitchToFreeRunning();
    if (verdict == FrameGate::Verdict::Accept) return true;
    arv_stream_push_buffer(stream, buffer);
    ++discarded;
    return false;
  }

  // Takes one delivered frame, waiting at most timeoutUs for it (0: only a frame
  // already there); false when none came. A frame the gate accepts answers the oldest
  // waiting request.
  bool Pump(int64_t timeoutUs) {
    ArvBuffer* buffer = timeoutUs > 0 ? arv_stream_timeout_pop_buffer(stream, static_cast<guint64>(timeoutUs))
                                      : arv_stream_try_pop_buffer(stream);
    if (buffer == nullptr) return false;
    if (Judge(buffer)) {
      finished.emplace_back(pending.front(), buffer);
      pending.pop_front();
    }
    return true;
  }

  // Describes a locked frame once: only Mono8 frames whose data hold every line.
  bool Describe(Locked& entry) {
    if (entry.described) return entry.mono8;
    entry.described = true;
    ArvBuffer* b = entry.buffer;
    if (arv_buffer_get_image_pixel_format(b) != ARV_PIXEL_FORMAT_MONO_8) return false;
    const gint width = arv_buffer_get_image_width(b);
    const gint height = arv_buffer_get_image_height(b);
    gint xPadding = 0, yPadding = 0;
    arv_buffer_get_image_padding(b, &xPadding, &yPadding);
    size_t size = 0;
    const auto* data = static_cast<const uint8_t*>(arv_buffer_get_image_data(b, &size));
    if (data == nullptr || width <= 0 || height <= 0 || xPadding < 0) return false;
    const auto stride = static_cast<size_t>(width) + static_cast<size_t>(xPadding);
    const size_t needed = stride * static_cast<size_t>(height - 1) + static_cast<size_t>(width);
    if (static_cast<int64_t>(width) * height > std::numeric_limits<int32_t>::max() || size < needed) return false;
    entry.width = width;
    entry.height = height;
    if (xPadding == 0) {
      entry.pixels = data;
    } else {
      entry.compact.resize(static_cast<size_t>(width) * static_cast<size_t>(height));
      for (gint y = 0; y < height; ++y) {
        std::memcpy(entry.compact.data() + static_cast<size_t>(y) * width, data + y * stride, static_cast<size_t>(width));
      }
      entry.pixels = entry.compact.data();
    }
    entry.mono8 = true;
    return true;
  }

  Locked* FindLocked(int32_t driver, int32_t request) {
    if (!IsDriver(driver)) return nullptr;
    auto it = locked.find(request);
    return it == locked.end() ? nullptr : &it->second;
  }
};

AravisCamera::AravisCamera(AravisOptions options) : impl_(std::make_unique<Impl>(std::move(options))) {}

AravisCamera::~AravisCamera() { Close(); }

std::string AravisCamera::deviceId() const { return impl_->chosenId.value_or(""); }
std::string AravisCamera::deviceAddress() const { return impl_->chosenAddress; }
AravisCamera::Mode AravisCamera::mode() const { return impl_->mode; }
uint64_t AravisCamera::framesDiscarded() const { return impl_->discarded; }
int64_t AravisCamera::lastPictureReceptionUs() const { return impl_->lastReceptionUs; }
bool AravisCamera::deviceLost() const { return impl_->lost; }

int32_t AravisCamera::Init(int32_t* deviceManager) {
  Impl& m = *impl_;
  if (!m.initialised) {
    if (gAravisTaken.exchange(true)) return kBusy;
    m.initialised = true;
    m.ChooseInterfaces();
  }
  m.ListDevices();
  if (deviceManager != nullptr) *deviceManager = kDeviceManagerHandle;
  return 0;
}

int32_t AravisCamera::GetDevice(int32_t* device, int32_t, const std::string& searchString, int32_t deviceNumber,
                                char wildcard) {
  Impl& m = *impl_;
  if (!m.initialised) return kNotInitialised;
  if (device == nullptr || deviceNumber < 0) return kBadArgument;
  if (!m.options.deviceId.empty()) {
    if (deviceNumber != 0) return kNoDevice;
    m.chosenId = m.options.deviceId;
    m.chosenAddress = m.options.deviceId;
    for (size_t i = 0; i < m.deviceIds.size(); ++i) {
      if (m.deviceIds[i] == m.options.deviceId) m.chosenAddress = m.deviceAddresses[i];
    }
  } else {
    int32_t seen = 0;
    bool found = false;
    for (size_t i = 0; i < m.deviceIds.size() && !found; ++i) {
      if (!Matches(searchString.c_str(), m.deviceIds[i].c_str(), wildcard)) continue;
      if (seen++ == deviceNumber) {
        m.chosenId = m.deviceIds[i];
        m.chosenAddress = m.deviceAddresses[i];
        found = true;
      }
    }
    if (!found) return kNoDevice;
  }
  *device = kDeviceHandle;
  return 0;
}

int32_t AravisCamera::OpenDevice(int32_t device, int32_t* driver) {
  Impl& m = *impl_;
  if (!m.initialised) return kNotInitialised;
  if (device != kDeviceHandle || !m.chosenId || driver == nullptr) return kBadHandle;
  if (!m.open()) {
    const int32_t status = m.Open();
    if (status != 0) return status;
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
  if (list != kBaseListHandle || !m.open() || property == nullptr) return kBadHandle;
  if (propertyName != "Gain_dB") return kBadArgument;
  if (m.lost) return kDeviceLost;
  GError* error = nullptr;
  const bool available = arv_camera_is_gain_available(m.camera, &error);
  if (Failed(error) || !available) return kBadArgument;
  *property = kGainHandle;
  return 0;
}

int32_t AravisCamera::GetF(int32_t property, double* value, int32_t index) {
  Impl& m = *impl_;
  if (property != kGainHandle || !m.open() || value == nullptr) return kBadHandle;
  if (m.lost) return kDeviceLost;
  GError* error = nullptr;
  double result = 0.0;
  if (index == 0) {
    result = arv_camera_get_gain(m.camera, &error);
  } else if (index == -1 || index == -2) {
    double minimum = 0.0, maximum = 0.0;
    arv_camera_get_gain_bounds(m.camera, &minimum, &maximum, &error);
    result = index == -1 ? maximum : minimum;
  } else {
    return kBadArgument;
  }
  if (Failed(error)) return kFeatureError;
  *value = result;
  return 0;
}

int32_t AravisCamera::SetF(int32_t property, double value, int32_t index) {
  Impl& m = *impl_;
  if (property != kGainHandle || !m.open()) return kBadHandle;
  if (index != 0 || !std::isfinite(value)) return kBadArgument;
  if (m.lost) return kDeviceLost;
  GError* error = nullptr;
  // A gain the operator sets is meant to stay: the camera's own regulation is stopped.
  if (arv_camera_is_gain_auto_available(m.camera, &error) &&
      arv_camera_get_gain_auto(m.camera, &error) != ARV_AUTO_OFF && error == nullptr) {
    arv_camera_set_gain_auto(m.camera, ARV_AUTO_OFF, &error);
  }
  Failed(error);
  // Aravis does not check ranges: a value beyond the camera's bounds would be written
  // to the device as it is.
  double minimum = 0.0, maximum = 0.0;
  arv_camera_get_gain_bounds(m.camera, &minimum, &maximum, &error);
  if (Failed(error)) return kFeatureError;
  arv_camera_set_gain(m.camera, std::clamp(value, minimum, maximum), &error);
  return Failed(error) ? kFeatureError : 0;
}

int32_t AravisCamera::ImageRequestSingle(int32_t driver, int32_t, int32_t* requestUsed) {
  Impl& m = *impl_;
  if (!m.IsDriver(driver)) return kBadHandle;
  if (m.lost) return kDeviceLost;
  // Every waiting request needs a buffer for its frame, and one more stays free for
  // frames that answer nothing.
  if (m.locked.size() + m.finished.size() + m.pending.size() + 2 > static_cast<size_t>(m.bufferCount)) {
    return kTooManyRequests;
  }

  // Frames already delivered answer the requests made before this one, or go back to
  // the acquisition.
  while (m.Pump(0)) {
  }

  const int64_t now = g_get_real_time();
  m.gate->BeginRequest(now);
  m.clockOffsetUs = now - g_get_monotonic_time();
  const int32_t number = m.nextRequest;
  m.nextRequest = m.nextRequest == std::numeric_limits<int32_t>::max() ? 1 : m.nextRequest + 1;
  m.pending.push_back(number);
  if (requestUsed != nullptr) *requestUsed = number;
  // A trigger the camera did not take is sent again by the waits.
  if (m.gate->TriggerDue(now)) m.Trigger();
  return m.lost ? kDeviceLost : 0;
}

int32_t AravisCamera::ImageRequestWaitFor(int32_t driver, int32_t timeoutMs, int32_t, int32_t* requestNumber) {
  Impl& m = *impl_;
  if (!m.IsDriver(driver) || requestNumber == nullptr) return kBadHandle;
  if (m.finished.empty() && m.pending.empty()) return kNoRequest;
  const int64_t deadline = g_get_monotonic_time() + static_cast<int64_t>(std::max(0, timeoutMs)) * 1000;
  for (;;) {
    if (!m.finished.empty()) {
      const auto [number, buffer] = m.finished.front();
      m.finished.pop_front();
      m.lastReceptionUs = static_cast<int64_t>(arv_buffer_get_system_timestamp(buffer) / 1000);
      Impl::Locked entry;
      entry.buffer = buffer;
      m.locked[number] = std::move(entry);
      *requestNumber = number;
      return 0;
    }
    if (m.lost) return kDeviceLost;
    const int64_t now = g_get_real_time();
    const int64_t steady = g_get_monotonic_time();
    if (std::llabs((now - steady) - m.clockOffsetUs) > kClockStepUs) {
      // The wall clock that stamps the frames stepped: trust only frames from now on.
      m.gate->Refence(now);
      m.clockOffsetUs = now - steady;
    }
    if (m.gate->TriggerDue(now) && m.TriggerRetryAllowed() && !m.Trigger() && m.lost) return kDeviceLost;
    const int64_t remaining = deadline - g_get_monotonic_time();
    if (!m.Pump(std::clamp<int64_t>(remaining, 0, kPollSliceUs)) && g_get_monotonic_time() >= deadline) {
      return kTimeout;
    }
  }
}

int32_t AravisCamera::GetImageRequestBufferData(int32_t driver, int32_t requestNumber, RequestBufferInfo* info) {
  Impl& m = *impl_;
  Impl::Locked* entry = m.FindLocked(driver, requestNumber);
  if (entry == nullptr || info == nullptr) return kNoRequest;
  if (!m.Describe(*entry)) return kNotMono8;
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
  if (!m.Describe(*entry)) return kNotMono8;
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
  Impl& m = *impl_;
  Impl::Locked* entry = m.FindLocked(driver, requestNumber);
  if (entry == nullptr) return kNoRequest;
  if (channel != 0 || destination == nullptr) return kBadArgument;
  if (!m.Describe(*entry)) return kNotMono8;
  if (width != entry->width || height != entry->height) return kBadArgument;
  const int64_t bytes = static_cast<int64_t>(width) * height;
  if (bytes > destinationSize) return kBadArgument;
  std::memcpy(destination, entry->pixels, static_cast<size_t>(bytes));
  return 0;
}

int32_t AravisCamera::ImageRequestUnlock(int32_t driver, int32_t requestNumber) {
  Impl& m = *impl_;
  if (!m.IsDriver(driver)) return kBadHandle;
  auto it = m.locked.find(requestNumber);
  if (it == m.locked.end()) return kNoRequest;
  arv_stream_push_buffer(m.stream, it->second.buffer);
  m.locked.erase(it);
  return 0;
}

int32_t AravisCamera::CloseDevice(int32_t driver, int32_t device) {
  Impl& m = *impl_;
  if (!m.IsDriver(driver) || device != kDeviceHandle) return kBadHandle;
  m.ReleaseDevice();
  return 0;
}

int32_t AravisCamera::Close() {
  Impl& m = *impl_;
  m.ReleaseDevice();
  if (!m.initialised) return 0;
  arv_shutdown();
  m.initialised = false;
  m.deviceIds.clear();
  m.deviceAddresses.clear();
  gAravisTaken = false;
  return 0;
}

std::unique_ptr<AravisCamera> MakeAravisCamera(AravisOptions options) {
  return std::make_unique<AravisCamera>(std::move(options));
}

}  // namespace ostrelo
