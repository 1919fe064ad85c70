#pragma once
// GenICam cameras (USB3 Vision, GigE Vision) through Aravis 0.8, behind the camera
// driver interface.
//
// - Init lists the devices; GetDevice takes the first one (or the given device);
//   OpenDevice opens it, selects the pixel format (Mono8; else the deepest of Mono16,
//   Mono12, Mono10 the camera offers), and starts one continuous acquisition that runs until CloseDevice, with a few
//   buffers always queued on the host.
// - Requests are queued and answered in order, each only by a frame exposed after that
//   request was made: by a software trigger sent for the request when the camera
//   honours one, else by the frame's timing (see FrameGate). Other frames go back to
//   the acquisition unseen.
// - WaitFor waits at most its time-out and returns the oldest answered request. Its
//   frame stays locked (out of the acquisition) until unlocked.
// - Only whole frames answer requests: an incomplete one (packets lost on the way) is
//   given back. A GigE Vision stream's socket buffer holds a few frames.
// - Only grey frames are described and copied, always as 8-bit grey (Mono8): Mono8
//   as it is, Mono10, Mono12 and Mono16 (unpacked, two bytes a pixel) with the top 8
//   bits of each pixel kept. Any other pixel format (packed, colour) fails the
//   buffer-description call, so the program never shows or saves reinterpreted bytes;
//   a camera with no such format is therefore reported as no camera, and stderr says
//   which formats it offers.
// - The list "Base" holds the property "Gain_dB": the camera's gain as Aravis exposes
//   it (the GenICam feature "Gain", or "GainRaw" on cameras that only have that),
//   index 0 its value, -1 its maximum, -2 its minimum, from the camera's own bounds.
//
// Talking to the camera never holds up the caller for long. Every access to the
// device (opening, triggers, gain, closing) runs on a device thread of this object:
// a camera that stops answering makes each access wait for the transport's own
// time-outs (about 2.5 s per access on GigE Vision), and that wait is the device
// thread's, not the caller's. The caller's thread only takes frames from the
// acquisition's queue, bounded by the wait's time-out. Gain calls wait at most
// kControlWaitMs for the device thread and then fail with kTimeout; while the camera
// leaves its triggers unanswered, and for a few seconds after a gain call timed out,
// gain calls fail with kTimeout at once.
//
// A camera that goes away comes back by itself. When Aravis reports the device lost
// (its "control-lost" signal: the GigE Vision heartbeat, a USB disconnection), the
// connection is dropped and the device thread opens the same device (same id, so the
// same serial number) again and again until it answers, then sets it up as at the
// first opening (pixel format, continuous acquisition, the software trigger when the
// first opening used it, the gain last set) and reads every setting back. A camera that
// does not hold one, or that exposes on its own when it should wait for its trigger, is
// logged and released, and the next attempt sets it up again: it is never run free
// after a first opening that triggered it. Meanwhile every call fails with a
// non-zero status (kDeviceLost; a wait first waits its time-out for the camera to
// come back). The handles stay valid throughout: requests still waiting are answered
// by the new connection, and pictures held stay readable until unlocked.
//
// Aravis keeps process-wide state (interfaces, device list): one camera object at a
// time; a second Init while another is initialised fails. Close releases Aravis's
// global state.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "shell/CameraDriver.h"

namespace ostrelo {

struct AravisOptions {
  // Aravis interfaces to search ("GigEVision", "USB3Vision", "Fake"); empty: the
  // camera interfaces Aravis enables by default.
  std::vector<std::string> interfaces;
  // A device to open instead of the search result: a device id, or a GigE Vision
  // camera's address.
  std::string deviceId;
  // The GenICam pixel format asked for when the camera offers it (else Mono8, else
  // the deepest unpacked grey format).
  std::string pixelFormat = "Mono8";
  // How a frame is proved newer than its request.
  enum class Exposure { Auto, SoftwareTrigger, FreeRunning };
  Exposure exposure = Exposure::Auto;
  // Host buffers of the acquisition (at least 3): they bound the requests waiting plus
  // the pictures held.
  int32_t bufferCount = 6;
  // Pause between two attempts to reopen a lost camera (each attempt itself may take
  // about a second: the device search waits for answers on the network).
  int32_t reconnectPauseMs = 1000;
};

class AravisCamera final : public CameraDriver {
 public:
  // Statuses of this backend; 0 is success.
  enum Status : int32_t {
    kNotInitialised = -3001,
    kBusy = -3002,  // another camera object holds Aravis
    kNoDevice = -3003,
    kBadHandle = -3004,
    kOpenFailed = -3005,
    kDeviceLost = -3006,  // the camera went away; it is being reopened
    kNoRequest = -3007,   // nothing to wait for, or no such locked request
    kTimeout = -3008,
    kNotMono8 = -3009,  // the picture is not grey of 8, 10, 12 or 16 bits unpacked
    kBadArgument = -3010,
    kFeatureError = -3011,     // the camera refused or failed a feature access
    kTooManyRequests = -3012,  // requests waiting and pictures held would leave the camera no buffer
  };
  enum class Mode { Closed, Triggered, FreeRunning };
  // How long a gain call waits for the device thread.
  static constexpr int32_t kControlWaitMs = 1000;

  explicit AravisCamera(AravisOptions options = {});
  ~AravisCamera() override;
  AravisCamera(const AravisCamera&) = delete;
  AravisCamera& operator=(const AravisCamera&) = delete;

  // What was opened, for diagnostics and tests.
  std::string deviceId() const;
  std::string deviceAddress() const;
  // Closed before OpenDevice and after CloseDevice; while the camera is lost, the mode
  // of the last connection.
  Mode mode() const;
  // Frames received and given back without answering a request.
  uint64_t framesDiscarded() const;
  // When the reception of the last picture returned by a wait began: wall-clock
  // microseconds since 1970 (the clock Aravis stamps frames with).
  int64_t lastPictureReceptionUs() const;
  // The camera went away and has not been reopened yet.
  bool deviceLost() const;
  // Times the camera was reopened after being lost.
  uint64_t reconnections() const;
  // Acts as if Aravis had reported the device lost: the connection is dropped and the
  // camera reopened. For tests of the reconnection with a camera that cannot be
  // unplugged.
  void ForgetConnection();

  int32_t Init(int32_t* deviceManager) override;
  int32_t GetDevice(int32_t* device, int32_t searchMode, const std::string& searchString, int32_t deviceNumber,
                    char wildcard) override;
  int32_t OpenDevice(int32_t device, int32_t* driver) override;
  int32_t FindList(int32_t driver, const std::string& listName, int32_t listType, int32_t flags,
                   int32_t* list) override;
  int32_t GetHandle(int32_t list, const std::string& propertyName, int32_t* property) override;
  int32_t GetF(int32_t property, double* value, int32_t index) override;
  int32_t SetF(int32_t property, double value, int32_t index) override;
  int32_t ImageRequestSingle(int32_t driver, int32_t requestControl, int32_t* requestUsed) override;
  int32_t ImageRequestWaitFor(int32_t driver, int32_t timeoutMs, int32_t queue, int32_t* requestNumber) override;
  int32_t GetImageRequestBufferData(int32_t driver, int32_t requestNumber, RequestBufferInfo* info) override;
  int32_t GetImageRequestBufferChannelData(int32_t driver, int32_t requestNumber, int32_t channel,
                                           RequestChannelInfo* info, char* description,
                                           int32_t descriptionLength) override;
  int32_t GetImageRequestBufferImageData(int32_t driver, int32_t requestNumber, int32_t channel, int32_t reserved,
                                         int32_t width, int32_t height, uint8_t* destination,
                                         int32_t destinationSize) override;
  int32_t GetImageRequestBufferImageLines(int32_t driver, int32_t requestNumber, int32_t channel, int32_t reserved,
                                          int32_t width, int32_t height, uint8_t* destination, int32_t destinationSize,
                                          LineObserver& observer) override;
  int32_t ImageRequestUnlock(int32_t driver, int32_t requestNumber) override;
  int32_t CloseDevice(int32_t driver, int32_t device) override;
  int32_t Close() override;

 private:
  int32_t CopyImage(int32_t driver, int32_t requestNumber, int32_t channel, int32_t width, int32_t height,
                    uint8_t* destination, int32_t destinationSize, LineObserver* observer);

  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// The camera backend for real GenICam cameras.
std::unique_ptr<AravisCamera> MakeAravisCamera(AravisOptions options = {});

}  // namespace ostrelo
