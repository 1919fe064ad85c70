#pragma once
// A camera without hardware: 8-bit grey pictures of a changing scene, delivered at a
// camera's frame rate on the given clock. Tests script it to inject faults and record
// the calls made to it.
//
// The scene: a diagonal grey ramp (mid-tones) drifting with time, a fully saturated
// block and a fully black block, and a saturated spot crossing the picture. The gain
// ("Base" / "Gain_dB", 0 to 12 dB) brightens everything but the black.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "shell/CameraDriver.h"
#include "shell/Platform.h"

namespace ostrelo {

class SimulatedCamera final : public CameraDriver {
 public:
  static constexpr int32_t kDefaultWidth = 1280;
  static constexpr int32_t kDefaultHeight = 1024;
  static constexpr double kGainMin = 0.0;
  static constexpr double kGainMax = 12.0;
  // Status of a wait that ended without a picture.
  static constexpr int32_t kWaitTimeout = -2119;
  static constexpr int32_t kFailure = -2100;
  // How fast the scene moves: pixels of drift per second.
  static constexpr int32_t kDriftPixelsPerSecond = 40;

  explicit SimulatedCamera(Clock& clock, int32_t width = kDefaultWidth, int32_t height = kDefaultHeight);

  // Faults and timing, set by tests.
  struct Script {
    bool failInit = false;
    bool noPicture = false;          // every wait times out
    int64_t silentUntilMs = 0;       // every wait times out while the clock's steady time is below this
    int32_t waitsBeforePicture = 0;  // each picture arrives only after this many timed-out waits
    int32_t failBufferData = 0;      // the next n buffer-description calls fail
    int32_t failChannelData = 0;     // the next n channel-description calls fail
    int32_t failUnlock = 0;          // the next n unlocks fail
    int32_t failRequest = 0;         // the next n requests fail
    bool gainProperty = true;        // list "Base" with "Gain_dB" exists
    // Pictures are ready at once. Otherwise the camera runs free at frameIntervalMs: a
    // request gets the first frame exposed after it was made, and a wait sleeps on the
    // clock until that frame is due (or its time-out, whichever comes first).
    bool instant = true;
    int32_t frameIntervalMs = 40;
  } script;

  // Later pictures have this size.
  void SetFrameSize(int32_t width, int32_t height);
  // Fills each new picture instead of the built-in scene (frame index from 0).
  using Painter = std::function<void(uint8_t* pixels, int32_t width, int32_t height, uint64_t frameIndex)>;
  void SetPainter(Painter painter) { painter_ = std::move(painter); }

  // Every call as "Name(arg,arg)", when recording is on.
  bool recordCalls = false;
  std::vector<std::string> calls;
  double gain() const { return gain_; }
  int32_t lockedRequests() const;
  int32_t queuedRequests() const;  // asked for, not yet delivered
  uint64_t framesDelivered() const { return frameIndex_; }

  // The built-in scene at a moment (milliseconds of the clock), for tests and tools.
  void RenderScene(uint8_t* pixels, int32_t width, int32_t height, int64_t atMs);

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

  static constexpr int32_t kDriverHandle = 7;
  static constexpr int32_t kDeviceHandle = 3;
  static constexpr int32_t kListHandle = 20;
  static constexpr int32_t kGainHandle = 21;

 private:
  int32_t CopyImage(int32_t driver, int32_t requestNumber, int32_t width, int32_t height, uint8_t* destination,
                    int32_t destinationSize, LineObserver* observer);

  struct Request {
    int32_t number = 0;
    bool queued = false;  // asked for, not yet delivered
    bool locked = false;  // delivered, not yet unlocked
    int64_t dueMs = 0;    // when its frame is read out (free-running camera)
    int32_t width = 0, height = 0;
    std::vector<uint8_t> pixels;
  };
  // What the scene is made of for one picture size, worked out once.
  struct Scene {
    int32_t width = -1, height = -1;
    double gain = -1.0;
    std::vector<uint8_t> ramp;           // one diagonal line of the ramp, long enough for every shift
    std::vector<int32_t> spotHalfWidth;  // per line of the spot's box: half its width there
    int32_t spotRadius = 0, spotCentreY = 0;
  };

  template <class MakeText>
  void Log(MakeText&& make) {
    if (recordCalls) calls.push_back(make());
  }
  Request* Find(int32_t number);
  void Render(Request& r);
  void PrepareScene(int32_t width, int32_t height);
  void Release(Request& r);

  Clock& clock_;
  int32_t width_, height_;
  std::vector<Request> requests_;
  std::vector<std::vector<uint8_t>> spareBuffers_;  // pixel buffers of given-back requests
  int32_t nextNumber_ = 1;
  uint64_t frameIndex_ = 0;
  int32_t timedOutWaits_ = 0;
  int64_t lastDueMs_ = 0;
  double gain_ = 0.0;
  bool open_ = false;
  Painter painter_;
  Scene scene_;
};

}  // namespace ostrelo
