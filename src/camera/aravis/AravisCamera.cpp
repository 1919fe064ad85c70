#include "camera/aravis/AravisCamera.h"

#include <arv.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <limits>
#include <map>
#include <mutex>
#include <optional>

#include "camera/aravis/DeviceThread.h"
#include "camera/aravis/FrameGate.h"
#include "camera/aravis/PixelConversion.h"

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
// attempt can take the transport's own time-outs.
constexpr int64_t kTriggerRetryUs = 1'000'000;
// After a gain call the camera did not answer in time, further gain calls fail at once
// for this long (unless the camera answers a trigger meanwhile).
constexpr int64_t kControlQuietUs = 5'000'000;
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

DeviceThread::Clock::time_point After(int64_t ms) { return DeviceThread::Clock::now() + std::chrono::milliseconds(ms); }

// One opening of the camera. The device thread makes it, uses its camera and releases
// it; the caller's thread takes frames from its stream and gives them back.
struct Link {
  uint64_t id = 0;
  ArvCamera* camera = nullptr;
  ArvDevice* device = nullptr;  // owned by camera
  ArvStream* stream = nullptr;
  gulong lostHandler = 0;
  std::atomic<bool> lost{false};        // set by Aravis's own threads
  std::atomic<bool> unanswered{false};  // the last trigger went unanswered: the camera may be gone
  std::atomic<bool> closing{false};     // being released: nothing more is sent to it
  bool acquiring = false;
  AravisCamera::Mode mode = AravisCamera::Mode::Closed;
  FrameGate::Timing timing;
  int32_t bufferCount = 4;

  static void OnControlLost(ArvDevice*, gpointer self) { static_cast<Link*>(self)->lost = true; }
};

// A software trigger handed to the device thread. The sending time is stamped before
// the trigger goes out: no answer can begin arriving earlier.
struct TriggerTicket {
  enum State : int { Queued, Sending, Sent, Failed };
  std::atomic<int64_t> sentUs{0};
  std::atomic<int> state{Queued};
};

}  // namespace

struct AravisCamera::Impl {
  explicit Impl(AravisOptions o) : options(std::move(o)) {}

  struct Locked {
    ArvBuffer* buffer = nullptr;
    uint64_t link = 0;  // the connection whose acquisition the buffer goes back to
    bool described = false;
    bool mono8 = false;
    int32_t width = 0, height = 0;
    const uint8_t* pixels = nullptr;  // width x height bytes, lines without padding
    std::vector<uint8_t> compact;     // holds the pixels when the camera pads its lines
  };
  struct Answer {
    int32_t request = 0;
    ArvBuffer* buffer = nullptr;
    uint64_t link = 0;
  };

  AravisOptions options;
  DeviceThread device;

  // ---- Shared between the caller and the device thread.
  std::mutex readyMutex;
  std::condition_variable readyChanged;
  std::shared_ptr<Link> ready;  // reopened after a loss, not yet taken by the caller

  // ---- The device thread's own (and the caller's while the thread is not running).
  bool aravisUp = false;
  std::vector<std::string> deviceIds;
  std::vector<std::string> deviceAddresses;
  std::optional<std::string> chosenId;
  std::string chosenAddress;
  std::shared_ptr<Link> link;      // the connection the device thread looks after
  bool reconnecting = false;
  uint64_t nextLinkId = 1;
  std::optional<double> gainWanted;  // the gain last set, restored after a reconnection

  // ---- The caller's own.
  bool initialised = false;
  bool opened = false;                 // between OpenDevice and CloseDevice
  std::shared_ptr<Link> current;       // the connection in use; null while the camera is lost
  std::optional<FrameGate> gate;
  Mode mode = Mode::Closed;
  int32_t nextRequest = 1;
  std::deque<int32_t> pending;  // requests waiting, oldest first
  std::deque<Answer> finished;  // answered, not yet returned by a wait
  std::map<int32_t, Locked> locked;
  std::shared_ptr<TriggerTicket> trigger;  // in the device thread's hands
  bool triggerCounted = false;             // the gate knows it was sent
  int64_t triggerFailedAtUs = std::numeric_limits<int64_t>::min() / 2;  // steady clock
  int64_t clockOffsetUs = 0;  // wall clock minus steady clock when the request was made
  uint64_t discarded = 0;
  int64_t lastReceptionUs = 0;
  uint64_t reconnections = 0;
  bool releaseLate = false;  // the last release outlasted the caller's wait
  int64_t controlQuietUntilUs = 0;  // steady clock: gain calls fail at once until then

  // =====================================================================
  // On the device thread.

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

  // The format asked for (Mono8) when the camera offers it; else the deepest unpacked
  // grey format it offers, of which the top 8 bits are kept. Packed and colour formats
  // are not taken.
  void ChoosePixelFormat(Link& l) {
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

  static bool SoftwareTriggerOffered(Link& l) {
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

  static bool SetSoftwareTrigger(Link& l) {
    GError* error = nullptr;
    arv_camera_set_trigger(l.camera, "Software", &error);
    return !Failed(error);
  }

  static void ClearTriggers(Link& l) {
    GError* error = nullptr;
    arv_camera_clear_triggers(l.camera, &error);
    if (Failed(error)) Warn("the camera's trigger could not be switched off");
  }

  static FrameGate::Timing ReadTiming(Link& l) {
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

  static bool StartAcquisition(Link& l) {
    GError* error = nullptr;
    arv_camera_start_acquisition(l.camera, &error);
    l.acquiring = !Failed(error);
    return l.acquiring;
  }

  static void StopAcquisition(Link& l) {
    if (!l.acquiring) return;
    l.acquiring = false;
    GError* error = nullptr;
    arv_camera_stop_acquisition(l.camera, &error);
    Failed(error);
  }

  // A camera in trigger mode must stay silent until triggered: one that sends frames on
  // its own is run free instead.
  static bool HonoursTrigger(Link& l) {
    const int64_t probeUs = std::max(kTriggerProbeMinUs, 3 * (l.timing.framePeriodUs + l.timing.exposureUs));
    ArvBuffer* buffer = arv_stream_timeout_pop_buffer(l.stream, static_cast<guint64>(probeUs));
    if (buffer == nullptr) return true;
    arv_stream_push_buffer(l.stream, buffer);
    return false;
  }

  static void SwitchToFreeRunning(Link& l) {
    Warn("the camera exposes without its software trigger: each picture is now chosen by its timing");
    StopAcquisition(l);
    ClearTriggers(l);
    StartAcquisition(l);
    l.mode = Mode::FreeRunning;
  }

  // Gives everything of a connection back; the caller's thread no longer uses it.
  static void Dispose(Link& l) {
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
  static int32_t ApplyGain(Link& l, double value) {
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
    return Failed(error) ? kFeatureError : 0;
  }

  // Opens the chosen device and starts its acquisition.
  int32_t Open(std::shared_ptr<Link>& out) {
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
    bool triggered = false;
    if (options.exposure != Exposure::FreeRunning && SoftwareTriggerOffered(*l)) triggered = SetSoftwareTrigger(*l);
    if (options.exposure == Exposure::SoftwareTrigger && !triggered) {
      Warn("the camera offers no software trigger");
      Dispose(*l);
      return kOpenFailed;
    }
    if (!triggered) ClearTriggers(*l);
    l->timing = ReadTiming(*l);
    if (gainWanted && ApplyGain(*l, *gainWanted) != 0) Warn("the gain could not be set again");

    const guint payload = arv_camera_get_payload(l->camera, &error);
    l->stream = Failed(error) || payload == 0 ? nullptr : arv_camera_create_stream(l->camera, nullptr, nullptr, &error);
    if (l->stream == nullptr) {
      Failed(error);
      Dispose(*l);
      return kOpenFailed;
    }
    l->bufferCount = std::max(3, options.bufferCount);
    for (int32_t i = 0; i < l->bufferCount; ++i) arv_stream_push_buffer(l->stream, arv_buffer_new_allocate(payload));
    if (!StartAcquisition(*l)) {
      Dispose(*l);
      return kOpenFailed;
    }
    if (triggered && options.exposure == Exposure::Auto && !HonoursTrigger(*l)) {
      SwitchToFreeRunning(*l);
      triggered = false;
    }
    if (l->lost) {  // went away while being set up
      Dispose(*l);
      return kDeviceLost;
    }
    l->mode = triggered ? Mode::Triggered : Mode::FreeRunning;
    link = l;
    out = std::move(l);
    return 0;
  }

  // Releases the connection that was lost and tries to open the device again until it
  // answers; the new connection then waits in `ready` for the caller.
  void Reconnect(const std::shared_ptr<Link>& lostLink) {
    Dispose(*lostLink);
    if (link == lostLink) link.reset();
    reconnecting = true;
    device.Post([this] { AttemptReconnection(); });
  }

  void AttemptReconnection() {
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

  void SendTrigger(Link& l, TriggerTicket& t) {
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
  void ReleaseAll() {
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
  }

  // =====================================================================
  // On the caller's thread.

  bool IsDriver(int32_t driver) const { return driver == kDriverHandle && opened; }

  // Runs device work on the device thread and waits for it at most waitMs (< 0: no
  // limit); false when it did not run in that time. Work not begun by then is dropped,
  // unless keep is set: it then runs in its turn, without the caller.
  bool OnDevice(DeviceThread::Work work, int32_t waitMs, bool keep = false) {
    if (!device.running()) return false;
    if (device.onThread()) {
      work();
      return true;
    }
    std::optional<DeviceThread::Clock::time_point> deadline;
    if (waitMs >= 0) deadline = After(waitMs);
    return device.Wait(device.Post(std::move(work)), deadline, keep);
  }

  // A control access to the current connection (gain): the device thread's answer, or
  // kTimeout when it did not come within kControlWaitMs.
  template <class Access>
  int32_t Control(Access access, double* value) {
    Update();
    if (!current) return kDeviceLost;
    // A camera that just left a trigger or a control access unanswered is not asked
    // again for a while: each attempt would hold the caller for kControlWaitMs.
    const int64_t now = g_get_monotonic_time();
    if (current->unanswered || now < controlQuietUntilUs) return kTimeout;
    struct Result {
      int32_t status = kTimeout;
      double value = 0.0;
    };
    auto result = std::make_shared<Result>();
    std::shared_ptr<Link> l = current;
    const bool ran = OnDevice(
        [l, result, access] {
          if (l->lost || l->camera == nullptr) {
            result->status = kDeviceLost;
            return;
          }
          result->status = access(*l, result->value);
        },
        kControlWaitMs);
    if (!ran) {
      controlQuietUntilUs = g_get_monotonic_time() + kControlQuietUs;
      return kTimeout;
    }
    controlQuietUntilUs = 0;
    if (result->status == 0 && value != nullptr) *value = result->value;
    return result->status;
  }

  // Follows the connection: drops one that Aravis reported lost, takes up one that the
  // device thread has reopened.
  void Update() {
    if (current && current->lost) Drop();
    if (!current && opened) TakeReady();
  }

  void Drop() {
    Warn("the camera " + chosenId.value_or("") + " went away; reopening it");
    std::shared_ptr<Link> l = std::move(current);
    current.reset();
    gate.reset();
    trigger.reset();
    device.Post([this, l] { Reconnect(l); });
  }

  bool TakeReady() {
    std::shared_ptr<Link> l;
    {
      std::lock_guard lock(readyMutex);
      l = std::move(ready);
      ready.reset();
    }
    if (!l) return false;
    Adopt(std::move(l));
    ++reconnections;
    Warn("the camera " + chosenId.value_or("") + " is back");
    return true;
  }

  void Adopt(std::shared_ptr<Link> l) {
    current = std::move(l);
    mode = current->mode;
    gate.emplace(mode == Mode::Triggered ? FrameGate::Mode::Triggered : FrameGate::Mode::FreeRunning,
                 current->timing);
    trigger.reset();
    triggerFailedAtUs = std::numeric_limits<int64_t>::min() / 2;
    controlQuietUntilUs = 0;
    // Requests still waiting are answered by the new connection, with frames exposed
    // from now on.
    const int64_t now = g_get_real_time();
    clockOffsetUs = now - g_get_monotonic_time();
    for (size_t i = 0; i < pending.size(); ++i) gate->BeginRequest(now);
    if (gate->TriggerDue(now)) PostTrigger();
  }

  void PostTrigger() {
    auto t = std::make_shared<TriggerTicket>();
    trigger = t;
    triggerCounted = false;
    std::shared_ptr<Link> l = current;
    device.Post([this, l, t] { SendTrigger(*l, *t); });
  }

  // Tells the gate about the trigger in the device thread's hands: once it has gone
  // out, or as soon as a frame arrives while it is going out (the frame may be its
  // answer). A trigger that failed before going out is tried again later.
  void FollowTrigger(bool frameArrived) {
    if (!trigger) return;
    const int state = trigger->state.load();
    if (!triggerCounted && (state == TriggerTicket::Sent || (state == TriggerTicket::Sending && frameArrived))) {
      gate->TriggerSent(trigger->sentUs.load());
      triggerCounted = true;
    }
    if (state == TriggerTicket::Failed) triggerFailedAtUs = g_get_monotonic_time();
    if (state == TriggerTicket::Sent || state == TriggerTicket::Failed) trigger.reset();
  }

  void SendDueTrigger(int64_t nowUs) {
    FollowTrigger(false);
    if (trigger) return;  // one at a time
    if (g_get_monotonic_time() - triggerFailedAtUs < kTriggerRetryUs) return;
    if (gate->TriggerDue(nowUs)) PostTrigger();
  }

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
    if (before == FrameGate::Mode::Triggered && gate->mode() == FrameGate::Mode::FreeRunning) {
      mode = Mode::FreeRunning;
      trigger.reset();
      std::shared_ptr<Link> l = current;
      device.Post([l] {
        if (!l->lost && l->camera != nullptr) SwitchToFreeRunning(*l);
      });
    }
    if (verdict == FrameGate::Verdict::Accept) return true;
    arv_stream_push_buffer(current->stream, buffer);
    ++discarded;
    return false;
  }

  // Takes one delivered frame, waiting at most timeoutUs for it (0: only a frame
  // already there); false when none came. A frame the gate accepts answers the oldest
  // waiting request.
  bool Pump(int64_t timeoutUs) {
    ArvBuffer* buffer = timeoutUs > 0 ? arv_stream_timeout_pop_buffer(current->stream, static_cast<guint64>(timeoutUs))
                                      : arv_stream_try_pop_buffer(current->stream);
    if (buffer == nullptr) return false;
    FollowTrigger(true);
    if (Judge(buffer)) {
      finished.push_back({pending.front(), buffer, current->id});
      pending.pop_front();
    }
    return true;
  }

  // Buffers of the current connection out of its acquisition, or promised to requests.
  size_t BuffersInUse() const {
    const uint64_t id = current ? current->id : 0;
    size_t n = pending.size();
    for (const auto& [number, entry] : locked) n += entry.link == id ? 1 : 0;
    for (const auto& answer : finished) n += answer.link == id ? 1 : 0;
    return n;
  }

  // A buffer goes back to the acquisition it came from; one from a connection since
  // lost is simply freed.
  void GiveBack(ArvBuffer* buffer, uint64_t from) {
    if (current && current->id == from) {
      arv_stream_push_buffer(current->stream, buffer);
    } else {
      g_object_unref(buffer);
    }
  }

  // Describes a locked frame once: only grey frames (Mono8, or Mono10, Mono12, Mono16
  // unpacked, brought to 8 bits) whose data hold every line.
  static bool Describe(Locked& entry) {
    if (entry.described) return entry.mono8;
    entry.described = true;
    ArvBuffer* b = entry.buffer;
    const int bits = GreyBits(static_cast<uint32_t>(arv_buffer_get_image_pixel_format(b)));
    if (bits == 0) return false;
    const size_t bytesPerPixel = bits == 8 ? 1 : 2;
    const gint width = arv_buffer_get_image_width(b);
    const gint height = arv_buffer_get_image_height(b);
    gint xPadding = 0, yPadding = 0;
    arv_buffer_get_image_padding(b, &xPadding, &yPadding);
    size_t size = 0;
    const auto* data = static_cast<const uint8_t*>(arv_buffer_get_image_data(b, &size));
    if (data == nullptr || width <= 0 || height <= 0 || xPadding < 0) return false;
    const size_t lineBytes = static_cast<size_t>(width) * bytesPerPixel;
    const size_t stride = lineBytes + static_cast<size_t>(xPadding);
    const size_t needed = stride * static_cast<size_t>(height - 1) + lineBytes;
    if (static_cast<int64_t>(width) * height > std::numeric_limits<int32_t>::max() || size < needed) return false;
    entry.width = width;
    entry.height = height;
    if (bits == 8 && xPadding == 0) {
      entry.pixels = data;
    } else {
      entry.compact.resize(static_cast<size_t>(width) * static_cast<size_t>(height));
      for (gint y = 0; y < height; ++y) {
        uint8_t* line = entry.compact.data() + static_cast<size_t>(y) * static_cast<size_t>(width);
        const uint8_t* from = data + static_cast<size_t>(y) * stride;
        if (bits == 8) {
          std::memcpy(line, from, static_cast<size_t>(width));
        } else {
          TopEightBits(from, line, static_cast<size_t>(width), bits);
        }
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

  // Gives back every picture and request and releases the camera (CloseDevice). A
  // camera that stopped answering takes the transport's time-outs to be released: the
  // caller waits for that at most kControlWaitMs, the device thread finishes it, and
  // Close waits for it.
  void CloseConnection() {
    for (auto& [number, entry] : locked) g_object_unref(entry.buffer);
    locked.clear();
    for (auto& answer : finished) g_object_unref(answer.buffer);
    finished.clear();
    pending.clear();
    trigger.reset();
    gate.reset();
    if (current) current->closing = true;
    current.reset();
    opened = false;
    mode = Mode::Closed;
    releaseLate = !OnDevice([this] { ReleaseAll(); }, kControlWaitMs, /*keep=*/true);
  }
};

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
  m.OnDevice(
      [&] {
        if (!m.options.deviceId.empty()) {
          if (deviceNumber != 0) return;
          m.chosenId = m.options.deviceId;
          m.chosenAddress = m.options.deviceId;
          for (size_t i = 0; i < m.deviceIds.size(); ++i) {
            if (m.deviceIds[i] == m.options.deviceId) m.chosenAddress = m.deviceAddresses[i];
          }
          found = true;
          return;
        }
        int32_t seen = 0;
        for (size_t i = 0; i < m.deviceIds.size() && !found; ++i) {
          if (!Matches(searchString.c_str(), m.deviceIds[i].c_str(), wildcard)) continue;
          if (seen++ == deviceNumber) {
            m.chosenId = m.deviceIds[i];
            m.chosenAddress = m.deviceAddresses[i];
            found = true;
          }
        }
      },
      -1);
  if (!found) return kNoDevice;
  *device = kDeviceHandle;
  return 0;
}

int32_t AravisCamera::OpenDevice(int32_t device, int32_t* driver) {
  Impl& m = *impl_;
  if (!m.initialised) return kNotInitialised;
  if (device != kDeviceHandle || !m.chosenId || driver == nullptr) return kBadHandle;
  if (!m.opened) {
    std::shared_ptr<Link> l;
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
      [](Link& l, double&) {
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
      [index](Link& l, double& result) {
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
      [impl, value](Link& l, double&) {
        impl->gainWanted = value;
        return Impl::ApplyGain(l, value);
      },
      nullptr);
}

int32_t AravisCamera::ImageRequestSingle(int32_t driver, int32_t, int32_t* requestUsed) {
  Impl& m = *impl_;
  if (!m.IsDriver(driver)) return kBadHandle;
  m.Update();
  if (!m.current) return kDeviceLost;
  // Every waiting request needs a buffer for its frame, and one more stays free for
  // frames that answer nothing.
  if (m.BuffersInUse() + 2 > static_cast<size_t>(m.current->bufferCount)) return kTooManyRequests;

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
  m.FollowTrigger(false);
  if (!m.trigger && m.gate->TriggerDue(now)) m.PostTrigger();
  return 0;
}

int32_t AravisCamera::ImageRequestWaitFor(int32_t driver, int32_t timeoutMs, int32_t, int32_t* requestNumber) {
  Impl& m = *impl_;
  if (!m.IsDriver(driver) || requestNumber == nullptr) return kBadHandle;
  if (m.finished.empty() && m.pending.empty()) return kNoRequest;
  const int64_t timeoutUs = static_cast<int64_t>(std::max(0, timeoutMs)) * 1000;
  const int64_t deadline = g_get_monotonic_time() + timeoutUs;
  const auto steadyDeadline = DeviceThread::Clock::now() + std::chrono::microseconds(timeoutUs);
  for (;;) {
    if (!m.finished.empty()) {
      const Impl::Answer answer = m.finished.front();
      m.finished.pop_front();
      m.lastReceptionUs = static_cast<int64_t>(arv_buffer_get_system_timestamp(answer.buffer) / 1000);
      Impl::Locked entry;
      entry.buffer = answer.buffer;
      entry.link = answer.link;
      m.locked[answer.request] = std::move(entry);
      *requestNumber = answer.request;
      return 0;
    }
    m.Update();
    if (!m.current) {
      // Lost: the wait lasts its time-out, in case the camera comes back meanwhile.
      {
        std::unique_lock lock(m.readyMutex);
        m.readyChanged.wait_until(lock, steadyDeadline, [&] { return m.ready != nullptr; });
      }
      if (!m.TakeReady()) return kDeviceLost;
      continue;
    }
    const int64_t now = g_get_real_time();
    const int64_t steady = g_get_monotonic_time();
    if (std::llabs((now - steady) - m.clockOffsetUs) > kClockStepUs) {
      // The wall clock that stamps the frames stepped: trust only frames from now on.
      m.gate->Refence(now);
      m.clockOffsetUs = now - steady;
    }
    m.SendDueTrigger(now);
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
  Impl& m = *impl_;
  Impl::Locked* entry = m.FindLocked(driver, requestNumber);
  if (entry == nullptr) return kNoRequest;
  if (channel != 0 || destination == nullptr) return kBadArgument;
  if (!Impl::Describe(*entry)) return kNotMono8;
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
