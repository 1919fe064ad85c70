// AravisCamera on its device thread: lists and opens the camera, sets it up, sends the
// software triggers, and reopens the camera after a loss. Every call here may wait for
// the transport's time-outs.

#include <arv.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "camera/aravis/AravisCameraImpl.h"

namespace ostrelo {

namespace aravis {

void Warn(const std::string& text) { std::fprintf(stderr, "ostrelo: camera: %s\n", text.c_str()); }

bool Failed(GError*& error) {
  if (error == nullptr) return false;
  g_clear_error(&error);
  return true;
}

DeviceThread::Clock::time_point After(int64_t ms) { return DeviceThread::Clock::now() + std::chrono::milliseconds(ms); }

}  // namespace aravis

namespace {

using aravis::After;
using aravis::Failed;
using aravis::Warn;

// The interfaces searched when none are given: real cameras only.
const char* const kCameraInterfaces[] = {"GigEVision", "USB3Vision"};

// When the camera states no frame rate.
constexpr int64_t kDefaultFramePeriodUs = 100'000;
// A trigger unanswered this long, plus twice the exposure, is lost. Far beyond what
// Aravis lets a frame take on its way (it closes incomplete frames much sooner).
constexpr int64_t kTriggerLostBaseUs = 2'000'000;
// How long an opened camera in trigger mode is watched for frames nobody triggered.
constexpr int64_t kTriggerProbeMinUs = 300'000;
// Frames a camera in trigger mode may send at once when its acquisition starts: a trigger
// that reached it before (the last one of the previous connection, resent by the
// transport while the camera came back) can be latched until then.
constexpr int kLatchedTriggers = 1;
// A GigE Vision stream's socket buffer holds a few frames, and never less than this. Under
// Wine (the fake camera's 512x512 frames at 20 fps, of about 120 in 6 s) the system's default
// buffer let no frame come whole, one frame's size about half of them, 1 MiB about 85 %,
// 4 MiB 95 % and more; on Linux every frame came whole with any of them.
constexpr int64_t kSocketBufferFrames = 4;
constexpr int64_t kLeastSocketBufferBytes = int64_t{4} << 20;
// A gain read back this close to the one the operator's setting left is the same.
constexpr double kGainToleranceDb = 1e-3;

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

}  // namespace

void AravisCamera::Impl::ChooseInterfaces() {
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

void AravisCamera::Impl::ListDevices() {
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

// The given device, or the deviceNumber-th of those whose id the search string matches.
bool AravisCamera::Impl::ChooseDevice(const std::string& searchString, int32_t deviceNumber, char wildcard) {
  if (!options.deviceId.empty()) {
    if (deviceNumber != 0) return false;
    chosenId = options.deviceId;
    chosenAddress = options.deviceId;
    for (size_t i = 0; i < deviceIds.size(); ++i) {
      if (deviceIds[i] == options.deviceId) chosenAddress = deviceAddresses[i];
    }
    return true;
  }
  int32_t seen = 0;
  for (size_t i = 0; i < deviceIds.size(); ++i) {
    if (!Matches(searchString.c_str(), deviceIds[i].c_str(), wildcard)) continue;
    if (seen++ == deviceNumber) {
      chosenId = deviceIds[i];
      chosenAddress = deviceAddresses[i];
      return true;
    }
  }
  return false;
}

// The format asked for (Mono8) when the camera offers it; else the deepest unpacked
// grey format it offers, of which the top 8 bits are kept. Packed and colour formats
// are not taken.
void AravisCamera::Impl::ChoosePixelFormat(Link& l) {
  GError* error = nullptr;
  guint n = 0;
  const char** formats = arv_camera_dup_available_pixel_formats_as_strings(l.camera, &n, &error);
  Failed(error);
  std::string chosen;
  for (const char* format : {options.pixelFormat.c_str(), "Mono8", "Mono16", "Mono12", "Mono10"}) {
    if (formats != nullptr && Contains(formats, n, format)) {
      chosen = format;
      break;
    }
  }
  std::string offered;
  for (guint i = 0; formats != nullptr && i < n; ++i) {
    if (formats[i] != nullptr) offered += (offered.empty() ? "" : ", ") + std::string(formats[i]);
  }
  g_free(formats);
  if (chosen.empty()) {
    Warn("the camera offers neither " + options.pixelFormat +
         " nor grey pictures of 10, 12 or 16 bits unpacked (Mono10, Mono12, Mono16); it offers " +
         (offered.empty() ? std::string("no format") : offered) + ": its pictures will be refused");
    return;
  }
  if (chosen != options.pixelFormat) {
    Warn("the camera offers no " + options.pixelFormat + ": its " + chosen + " pictures are taken" +
         (chosen == "Mono8" ? "" : ", each pixel's top 8 bits kept"));
  }
  arv_camera_set_pixel_format_from_string(l.camera, chosen.c_str(), &error);
  if (Failed(error)) Warn("the camera refused the pixel format " + chosen);
}

bool AravisCamera::Impl::SoftwareTriggerOffered(Link& l) {
  GError* error = nullptr;
  const bool supported = arv_camera_is_software_trigger_supported(l.camera, &error);
  if (Failed(error) || !supported) return false;
  guint n = 0;
  const char** triggers = arv_camera_dup_available_triggers(l.camera, &n, &error);
  Failed(error);
  const bool frameStart = triggers != nullptr && Contains(triggers, n, "FrameStart");
  g_free(triggers);
  return frameStart;
}

bool AravisCamera::Impl::SetSoftwareTrigger(Link& l) {
  GError* error = nullptr;
  arv_camera_set_trigger(l.camera, "Software", &error);
  return !Failed(error) && TriggerHeld(l);
}

std::string AravisCamera::Impl::HeldPixelFormat(Link& l) {
  GError* error = nullptr;
  const char* format = arv_camera_get_pixel_format_as_string(l.camera, &error);
  return Failed(error) || format == nullptr ? std::string() : std::string(format);
}

bool AravisCamera::Impl::TriggerHeld(Link& l) {
  GError* error = nullptr;
  arv_camera_set_string(l.camera, "TriggerSelector", "FrameStart", &error);
  const char* mode = error == nullptr ? arv_camera_get_string(l.camera, "TriggerMode", &error) : nullptr;
  const char* source = error == nullptr ? arv_camera_get_trigger_source(l.camera, &error) : nullptr;
  return !Failed(error) && mode != nullptr && source != nullptr && std::strcmp(mode, "On") == 0 &&
         std::strcmp(source, "Software") == 0;
}

std::string AravisCamera::Impl::SetupNotHeld(Link& l) {
  const std::string format = HeldPixelFormat(l);
  if (format != firstSetup->pixelFormat)
    return "pixel format " + firstSetup->pixelFormat + " (it holds " + format + ")";
  GError* error = nullptr;
  const ArvAcquisitionMode acquisition = arv_camera_get_acquisition_mode(l.camera, &error);
  if (Failed(error) || acquisition != ARV_ACQUISITION_MODE_CONTINUOUS) return "continuous acquisition";
  if (firstSetup->mode == Mode::Triggered && !TriggerHeld(l)) return "software trigger";
  if (gainWanted && gainHeld) {
    const double gain = arv_camera_get_gain(l.camera, &error);
    if (Failed(error) || !(std::fabs(gain - *gainHeld) <= kGainToleranceDb)) return "gain";
  }
  return {};
}

void AravisCamera::Impl::ClearTriggers(Link& l) {
  GError* error = nullptr;
  arv_camera_clear_triggers(l.camera, &error);
  if (Failed(error)) Warn("the camera's trigger could not be switched off");
}

FrameGate::Timing AravisCamera::Impl::ReadTiming(Link& l) {
  FrameGate::Timing timing;
  GError* error = nullptr;
  timing.framePeriodUs = kDefaultFramePeriodUs;
  if (arv_camera_is_frame_rate_available(l.camera, &error)) {
    const double fps = arv_camera_get_frame_rate(l.camera, &error);
    if (error == nullptr && std::isfinite(fps) && fps > 0.01) timing.framePeriodUs = static_cast<int64_t>(1e6 / fps);
  }
  Failed(error);
  if (arv_camera_is_exposure_time_available(l.camera, &error)) {
    const double exposure = arv_camera_get_exposure_time(l.camera, &error);
    if (error == nullptr && std::isfinite(exposure) && exposure > 0 && exposure < 1e9) {
      timing.exposureUs = static_cast<int64_t>(exposure);
    }
  }
  Failed(error);
  timing.triggerLostUs = kTriggerLostBaseUs + 2 * timing.exposureUs;
  return timing;
}

bool AravisCamera::Impl::StartAcquisition(Link& l) {
  GError* error = nullptr;
  arv_camera_start_acquisition(l.camera, &error);
  l.acquiring = !Failed(error);
  return l.acquiring;
}

void AravisCamera::Impl::StopAcquisition(Link& l) {
  if (!l.acquiring) return;
  l.acquiring = false;
  GError* error = nullptr;
  arv_camera_stop_acquisition(l.camera, &error);
  Failed(error);
}

// A camera in trigger mode must stay silent until triggered, but for the answers of
// triggers latched before its acquisition started: one that keeps sending frames on its
// own is not triggered. The frames seen are given back unused.
bool AravisCamera::Impl::HonoursTrigger(Link& l) {
  const int64_t probeUs = std::max(kTriggerProbeMinUs, 3 * (l.timing.framePeriodUs + l.timing.exposureUs));
  for (int frames = 0; frames <= kLatchedTriggers; ++frames) {
    ArvBuffer* buffer = arv_stream_timeout_pop_buffer(l.stream, static_cast<guint64>(probeUs));
    if (buffer == nullptr) return true;
    arv_stream_push_buffer(l.stream, buffer);
  }
  return false;
}

void AravisCamera::Impl::SwitchToFreeRunning(Link& l) {
  Warn("the camera exposes without its software trigger: each picture is now chosen by its timing");
  StopAcquisition(l);
  ClearTriggers(l);
  StartAcquisition(l);
  l.mode = Mode::FreeRunning;
}

// Gives everything of a connection back; the caller's thread no longer uses it.
void AravisCamera::Impl::Dispose(Link& l) {
  if (l.camera == nullptr) return;
  // Each command to a camera that does not answer waits for the transport's time-outs.
  if (!l.lost && !l.unanswered) StopAcquisition(l);
  l.acquiring = false;
  if (l.stream != nullptr) g_object_unref(l.stream);  // stops its thread, frees its queued buffers
  l.stream = nullptr;
  if (l.lostHandler != 0) g_signal_handler_disconnect(l.device, l.lostHandler);
  l.lostHandler = 0;
  g_object_unref(l.camera);  // joins the device's own threads
  l.camera = nullptr;
  l.device = nullptr;
  l.mode = Mode::Closed;
}

// The gain, within the camera's bounds, with the camera's own regulation stopped: a
// gain the operator sets is meant to stay.
int32_t AravisCamera::Impl::ApplyGain(Link& l, double value, double& held) {
  held = std::nan("");
  GError* error = nullptr;
  if (arv_camera_is_gain_auto_available(l.camera, &error) &&
      arv_camera_get_gain_auto(l.camera, &error) != ARV_AUTO_OFF && error == nullptr) {
    arv_camera_set_gain_auto(l.camera, ARV_AUTO_OFF, &error);
  }
  Failed(error);
  // Aravis does not check ranges: a value beyond the camera's bounds would be written
  // to the device as it is.
  double minimum = 0.0, maximum = 0.0;
  arv_camera_get_gain_bounds(l.camera, &minimum, &maximum, &error);
  if (Failed(error)) return kFeatureError;
  arv_camera_set_gain(l.camera, std::clamp(value, minimum, maximum), &error);
  if (Failed(error)) return kFeatureError;
  const double gain = arv_camera_get_gain(l.camera, &error);
  if (!Failed(error)) held = gain;
  return 0;
}

// Opens the chosen device and starts its acquisition. A camera that comes back may have
// restarted with its own defaults: it is set up as at the first opening, and used only
// once it reads back every setting as then; else this attempt fails and the next one
// sets it up again.
int32_t AravisCamera::Impl::Open(std::shared_ptr<Link>& out) {
  auto l = std::make_shared<Link>();
  GError* error = nullptr;
  l->camera = arv_camera_new(chosenId->c_str(), &error);
  if (l->camera == nullptr) {
    Failed(error);
    return kOpenFailed;
  }
  l->id = nextLinkId++;
  l->device = arv_camera_get_device(l->camera);
  l->lostHandler = g_signal_connect(l->device, "control-lost", G_CALLBACK(&Link::OnControlLost), l.get());

  ChoosePixelFormat(*l);
  arv_camera_set_acquisition_mode(l->camera, ARV_ACQUISITION_MODE_CONTINUOUS, &error);
  Failed(error);

  using Exposure = AravisOptions::Exposure;
  const bool reopening = firstSetup.has_value();
  const bool mustTrigger =
      reopening ? firstSetup->mode == Mode::Triggered : options.exposure == Exposure::SoftwareTrigger;
  const bool mayTrigger = reopening ? mustTrigger : options.exposure != Exposure::FreeRunning;
  bool triggered = false;
  if (mayTrigger && SoftwareTriggerOffered(*l)) triggered = SetSoftwareTrigger(*l);
  if (!reopening && mustTrigger && !triggered) {
    Warn("the camera offers no software trigger");
    Dispose(*l);
    return kOpenFailed;
  }
  if (!triggered) ClearTriggers(*l);
  l->timing = ReadTiming(*l);
  double gainRead = 0.0;
  if (gainWanted && ApplyGain(*l, *gainWanted, gainRead) != 0) Warn("the gain could not be set again");
  if (reopening) {
    if (const std::string notHeld = SetupNotHeld(*l); !notHeld.empty()) {
      Warn("the camera came back without its " + notHeld + "; it is set up again at the next attempt");
      Dispose(*l);
      return kOpenFailed;
    }
  }

  const guint payload = arv_camera_get_payload(l->camera, &error);
  l->stream = Failed(error) || payload == 0 ? nullptr : arv_camera_create_stream(l->camera, nullptr, nullptr, &error);
  if (l->stream == nullptr) {
    Failed(error);
    Dispose(*l);
    return kOpenFailed;
  }
  // The system's default socket buffer (about 200 kB on Linux, 64 kB on Windows) loses
  // packets of larger frames whenever the stream thread is late, which under Wine is nearly
  // always. Aravis sets the size when a frame begins, so the first may still come incomplete
  // (and is refused like any other).
  if (ARV_IS_GV_STREAM(l->stream)) {
    const auto socketBuffer =
        static_cast<gint>(std::clamp<int64_t>(kSocketBufferFrames * payload, kLeastSocketBufferBytes, G_MAXINT));
    g_object_set(l->stream, "socket-buffer", ARV_GV_STREAM_SOCKET_BUFFER_FIXED, "socket-buffer-size", socketBuffer,
                 nullptr);
  }
  l->bufferCount = std::max(3, options.bufferCount);
  for (int32_t i = 0; i < l->bufferCount; ++i) arv_stream_push_buffer(l->stream, arv_buffer_new_allocate(payload));
  if (!StartAcquisition(*l)) {
    Dispose(*l);
    return kOpenFailed;
  }
  if (triggered && (reopening || options.exposure == Exposure::Auto) && !HonoursTrigger(*l)) {
    if (reopening) {
      Warn("the camera came back exposing without its software trigger; it is set up again at the next attempt");
      Dispose(*l);
      return kOpenFailed;
    }
    SwitchToFreeRunning(*l);
    triggered = false;
  }
  if (l->lost) {  // went away while being set up
    Dispose(*l);
    return kDeviceLost;
  }
  l->mode = triggered ? Mode::Triggered : Mode::FreeRunning;
  if (!reopening) firstSetup = Setup{HeldPixelFormat(*l), l->mode};
  link = l;
  out = std::move(l);
  return 0;
}

// Releases the connection that was lost and tries to open the device again until it
// answers; the new connection then waits in `ready` for the caller.
void AravisCamera::Impl::Reconnect(const std::shared_ptr<Link>& lostLink) {
  Dispose(*lostLink);
  if (link == lostLink) link.reset();
  reconnecting = true;
  device.Post([this] { AttemptReconnection(); });
}

void AravisCamera::Impl::AttemptReconnection() {
  if (!reconnecting) return;  // closed meanwhile
  std::shared_ptr<Link> l;
  if (Open(l) != 0) {
    device.Post([this] { AttemptReconnection(); }, After(options.reconnectPauseMs));
    return;
  }
  reconnecting = false;
  {
    std::lock_guard lock(readyMutex);
    ready = std::move(l);
  }
  readyChanged.notify_all();
}

void AravisCamera::Impl::SendTrigger(Link& l, TriggerTicket& t) {
  if (l.lost || l.closing || l.camera == nullptr) {
    t.state = TriggerTicket::Failed;
    return;
  }
  t.sentUs = g_get_real_time();
  t.state = TriggerTicket::Sending;
  GError* error = nullptr;
  arv_camera_software_trigger(l.camera, &error);
  const bool failed = Failed(error);
  l.unanswered = failed;
  t.state = failed ? TriggerTicket::Failed : TriggerTicket::Sent;
}

// Releases every connection (on close).
void AravisCamera::Impl::ReleaseAll() {
  reconnecting = false;
  if (link) Dispose(*link);
  link.reset();
  std::shared_ptr<Link> waiting;
  {
    std::lock_guard lock(readyMutex);
    waiting = std::move(ready);
  }
  if (waiting) Dispose(*waiting);
  gainWanted.reset();
  gainHeld.reset();
  firstSetup.reset();
}

}  // namespace ostrelo
