#pragma once
// The inside of AravisCamera, in three files: AravisCamera.cpp answers the driver
// interface, AravisConnection.cpp works on the device thread (opening, triggers,
// acquisition, reconnection) and AravisRequests.cpp on the caller's thread (the
// requests waiting, answered and locked, and the description of their pictures).

#include <arv.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "camera/aravis/AravisCamera.h"
#include "camera/aravis/FrameGate.h"
#include "shell/DeviceThread.h"

namespace ostrelo {

namespace aravis {

// The handles the driver interface hands out: there is one of each.
inline constexpr int32_t kDeviceManagerHandle = 1;
inline constexpr int32_t kDeviceHandle = 10;
inline constexpr int32_t kDriverHandle = 20;
inline constexpr int32_t kBaseListHandle = 30;
inline constexpr int32_t kGainHandle = 31;

// A line on standard error.
void Warn(const std::string& text);
// Takes a GError: true (and the error freed) when there was one.
bool Failed(GError*& error);
// The steady time ms from now, for the device thread.
DeviceThread::Clock::time_point After(int64_t ms);

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

}  // namespace aravis

struct AravisCamera::Impl {
  using Link = aravis::Link;
  using TriggerTicket = aravis::TriggerTicket;
  // A control access on the device thread: a status, and a value for reads.
  using ControlAccess = std::function<int32_t(Link&, double&)>;

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
  std::shared_ptr<Link> link;  // the connection the device thread looks after
  bool reconnecting = false;
  uint64_t nextLinkId = 1;
  std::optional<double> gainWanted;  // the gain last set, restored after a reconnection
  std::optional<double> gainHeld;    // what the camera read back then (its own steps, its bounds)
  // What the first opening set up; a reopened camera must hold the same before it is used.
  struct Setup {
    std::string pixelFormat;
    Mode mode = Mode::Closed;
  };
  std::optional<Setup> firstSetup;

  // ---- The caller's own.
  bool initialised = false;
  bool opened = false;            // between OpenDevice and CloseDevice
  std::shared_ptr<Link> current;  // the connection in use; null while the camera is lost
  std::optional<FrameGate> gate;
  Mode mode = Mode::Closed;
  int32_t nextRequest = 1;
  std::deque<int32_t> pending;  // requests waiting, oldest first
  std::deque<Answer> finished;  // answered, not yet returned by a wait
  std::map<int32_t, Locked> locked;
  std::shared_ptr<TriggerTicket> trigger;                               // in the device thread's hands
  bool triggerCounted = false;                                          // the gate knows it was sent
  int64_t triggerFailedAtUs = std::numeric_limits<int64_t>::min() / 2;  // steady clock
  int64_t clockOffsetUs = 0;  // wall clock minus steady clock when the request was made
  uint64_t discarded = 0;
  int64_t lastReceptionUs = 0;
  uint64_t reconnections = 0;
  bool releaseLate = false;         // the last release outlasted the caller's wait
  int64_t controlQuietUntilUs = 0;  // steady clock: gain calls fail at once until then

  // ---- On the device thread (AravisConnection.cpp).
  void ChooseInterfaces();
  void ListDevices();
  // The device GetDevice asks for, by its search string: false when there is none.
  bool ChooseDevice(const std::string& searchString, int32_t deviceNumber, char wildcard);
  int32_t Open(std::shared_ptr<Link>& out);
  void ChoosePixelFormat(Link& l);
  // The settings as the camera reads them back: a write can be acknowledged and not
  // take effect.
  static std::string HeldPixelFormat(Link& l);
  static bool TriggerHeld(Link& l);
  // The first setting a reopened camera does not hold as the first opening left it;
  // empty when all hold.
  std::string SetupNotHeld(Link& l);
  static bool SoftwareTriggerOffered(Link& l);
  static bool SetSoftwareTrigger(Link& l);
  static void ClearTriggers(Link& l);
  static FrameGate::Timing ReadTiming(Link& l);
  static bool StartAcquisition(Link& l);
  static void StopAcquisition(Link& l);
  static bool HonoursTrigger(Link& l);
  static void SwitchToFreeRunning(Link& l);
  // held: the gain the camera reads back, NaN when it could not be read.
  static int32_t ApplyGain(Link& l, double value, double& held);
  static void Dispose(Link& l);
  void Reconnect(const std::shared_ptr<Link>& lostLink);
  void AttemptReconnection();
  void SendTrigger(Link& l, TriggerTicket& t);
  void ReleaseAll();

  // ---- On the caller's thread (AravisRequests.cpp).
  bool IsDriver(int32_t driver) const { return driver == aravis::kDriverHandle && opened; }
  bool OnDevice(DeviceThread::Work work, int32_t waitMs, bool keep = false);
  int32_t Control(const ControlAccess& access, double* value);
  void Update();
  void Drop();
  bool TakeReady();
  void Adopt(std::shared_ptr<Link> l);
  // ImageRequestSingle and ImageRequestWaitFor, their arguments checked.
  int32_t Request(int32_t* requestUsed);
  int32_t WaitFor(int32_t timeoutMs, int32_t* requestNumber);
  void PostTrigger();
  void FollowTrigger(bool frameArrived);
  void SendDueTrigger(int64_t nowUs);
  bool Judge(ArvBuffer* buffer);
  bool Pump(int64_t timeoutUs);
  size_t BuffersInUse() const;
  void GiveBack(ArvBuffer* buffer, uint64_t from);
  static bool Describe(Locked& entry);
  Locked* FindLocked(int32_t driver, int32_t request);
  void CloseConnection();
};

}  // namespace ostrelo
