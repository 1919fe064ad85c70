// AravisCamera on the caller's thread: the requests waiting for a picture, answered and
// locked, the frames taken from the acquisition's queue and judged by the gate, and the
// description of a locked picture. Nothing here waits for the camera longer than the
// caller allows.

#include <arv.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>

#include "camera/aravis/AravisCameraImpl.h"
#include "camera/aravis/PixelConversion.h"

namespace ostrelo {

namespace {

using aravis::After;
using aravis::Warn;

// Frames are polled in slices this long, so that lost triggers, a lost device and the
// caller's time-out are noticed in time.
constexpr int64_t kPollSliceUs = 20'000;
// A change of the wall clock against the steady clock beyond this is a clock step.
constexpr int64_t kClockStepUs = 500'000;
// After a trigger the camera did not take, the next attempt waits this long: each
// attempt can take the transport's own time-outs.
constexpr int64_t kTriggerRetryUs = 1'000'000;
// After a gain call the camera did not answer in time, further gain calls fail at once
// for this long (unless the camera answers a trigger meanwhile).
constexpr int64_t kControlQuietUs = 5'000'000;

}  // namespace

// Runs device work on the device thread and waits for it at most waitMs (< 0: no
// limit); false when it did not run in that time. Work not begun by then is dropped,
// unless keep is set: it then runs in its turn, without the caller.
bool AravisCamera::Impl::OnDevice(DeviceThread::Work work, int32_t waitMs, bool keep) {
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
int32_t AravisCamera::Impl::Control(const ControlAccess& access, double* value) {
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
void AravisCamera::Impl::Update() {
  if (current && current->lost) Drop();
  if (!current && opened) TakeReady();
}

void AravisCamera::Impl::Drop() {
  Warn("the camera " + chosenId.value_or("") + " went away; reopening it");
  std::shared_ptr<Link> l = std::move(current);
  current.reset();
  gate.reset();
  trigger.reset();
  device.Post([this, l] { Reconnect(l); });
}

bool AravisCamera::Impl::TakeReady() {
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

void AravisCamera::Impl::Adopt(std::shared_ptr<Link> l) {
  current = std::move(l);
  mode = current->mode;
  gate.emplace(mode == Mode::Triggered ? FrameGate::Mode::Triggered : FrameGate::Mode::FreeRunning, current->timing);
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

int32_t AravisCamera::Impl::Request(int32_t* requestUsed) {
  Update();
  if (!current) return kDeviceLost;
  // Every waiting request needs a buffer for its frame, and one more stays free for
  // frames that answer nothing.
  if (BuffersInUse() + 2 > static_cast<size_t>(current->bufferCount)) return kTooManyRequests;

  // Frames already delivered answer the requests made before this one, or go back to
  // the acquisition.
  while (Pump(0)) {
  }

  const int64_t now = g_get_real_time();
  gate->BeginRequest(now);
  clockOffsetUs = now - g_get_monotonic_time();
  const int32_t number = nextRequest;
  nextRequest = nextRequest == std::numeric_limits<int32_t>::max() ? 1 : nextRequest + 1;
  pending.push_back(number);
  if (requestUsed != nullptr) *requestUsed = number;
  // A trigger the camera did not take is sent again by the waits.
  FollowTrigger(false);
  if (!trigger && gate->TriggerDue(now)) PostTrigger();
  return 0;
}

int32_t AravisCamera::Impl::WaitFor(int32_t timeoutMs, int32_t* requestNumber) {
  if (finished.empty() && pending.empty()) return kNoRequest;
  const int64_t timeoutUs = static_cast<int64_t>(std::max(0, timeoutMs)) * 1000;
  const int64_t deadline = g_get_monotonic_time() + timeoutUs;
  const auto steadyDeadline = DeviceThread::Clock::now() + std::chrono::microseconds(timeoutUs);
  for (;;) {
    if (!finished.empty()) {
      const Answer answer = finished.front();
      finished.pop_front();
      lastReceptionUs = static_cast<int64_t>(arv_buffer_get_system_timestamp(answer.buffer) / 1000);
      Locked entry;
      entry.buffer = answer.buffer;
      entry.link = answer.link;
      locked[answer.request] = std::move(entry);
      *requestNumber = answer.request;
      return 0;
    }
    Update();
    if (!current) {
      // Lost: the wait lasts its time-out, in case the camera comes back meanwhile.
      {
        std::unique_lock lock(readyMutex);
        readyChanged.wait_until(lock, steadyDeadline, [&] { return ready != nullptr; });
      }
      if (!TakeReady()) return kDeviceLost;
      continue;
    }
    const int64_t now = g_get_real_time();
    const int64_t steady = g_get_monotonic_time();
    if (std::llabs((now - steady) - clockOffsetUs) > kClockStepUs) {
      // The wall clock that stamps the frames stepped: trust only frames from now on.
      gate->Refence(now);
      clockOffsetUs = now - steady;
    }
    SendDueTrigger(now);
    const int64_t remaining = deadline - g_get_monotonic_time();
    if (!Pump(std::clamp<int64_t>(remaining, 0, kPollSliceUs)) && g_get_monotonic_time() >= deadline) {
      return kTimeout;
    }
  }
}

void AravisCamera::Impl::PostTrigger() {
  auto t = std::make_shared<TriggerTicket>();
  trigger = t;
  triggerCounted = false;
  std::shared_ptr<Link> l = current;
  device.Post([this, l, t] { SendTrigger(*l, *t); });
}

// Tells the gate about the trigger in the device thread's hands: once it has gone
// out, or as soon as a frame arrives while it is going out (the frame may be its
// answer). A trigger that failed before going out is tried again later.
void AravisCamera::Impl::FollowTrigger(bool frameArrived) {
  if (!trigger) return;
  const int state = trigger->state.load();
  if (!triggerCounted && (state == TriggerTicket::Sent || (state == TriggerTicket::Sending && frameArrived))) {
    gate->TriggerSent(trigger->sentUs.load());
    triggerCounted = true;
  }
  if (state == TriggerTicket::Failed) triggerFailedAtUs = g_get_monotonic_time();
  if (state == TriggerTicket::Sent || state == TriggerTicket::Failed) trigger.reset();
}

void AravisCamera::Impl::SendDueTrigger(int64_t nowUs) {
  FollowTrigger(false);
  if (trigger) return;  // one at a time
  if (g_get_monotonic_time() - triggerFailedAtUs < kTriggerRetryUs) return;
  if (gate->TriggerDue(nowUs)) PostTrigger();
}

// Passes one delivered frame through the gate; false when it was given back.
bool AravisCamera::Impl::Judge(ArvBuffer* buffer) {
  const ArvBufferPayloadType payload = arv_buffer_get_payload_type(buffer);
  const bool complete =
      arv_buffer_get_status(buffer) == ARV_BUFFER_STATUS_SUCCESS &&
      (payload == ARV_BUFFER_PAYLOAD_TYPE_IMAGE || payload == ARV_BUFFER_PAYLOAD_TYPE_EXTENDED_CHUNK_DATA);
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
bool AravisCamera::Impl::Pump(int64_t timeoutUs) {
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
size_t AravisCamera::Impl::BuffersInUse() const {
  const uint64_t id = current ? current->id : 0;
  size_t n = pending.size();
  for (const auto& [number, entry] : locked) n += entry.link == id ? 1 : 0;
  for (const auto& answer : finished) n += answer.link == id ? 1 : 0;
  return n;
}

// A buffer goes back to the acquisition it came from; one from a connection since
// lost is simply freed.
void AravisCamera::Impl::GiveBack(ArvBuffer* buffer, uint64_t from) {
  if (current && current->id == from) {
    arv_stream_push_buffer(current->stream, buffer);
  } else {
    g_object_unref(buffer);
  }
}

// Describes a locked frame once: only grey frames (Mono8, or Mono10, Mono12, Mono16
// unpacked, brought to 8 bits) whose data hold every line.
bool AravisCamera::Impl::Describe(Locked& entry) {
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

AravisCamera::Impl::Locked* AravisCamera::Impl::FindLocked(int32_t driver, int32_t request) {
  if (!IsDriver(driver)) return nullptr;
  auto it = locked.find(request);
  return it == locked.end() ? nullptr : &it->second;
}

// Gives back every picture and request and releases the camera (CloseDevice). A
// camera that stopped answering takes the transport's time-outs to be released: the
// caller waits for that at most kControlWaitMs, the device thread finishes it, and
// Close waits for it.
void AravisCamera::Impl::CloseConnection() {
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

}  // namespace ostrelo
