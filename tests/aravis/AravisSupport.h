#pragma once
// What the Aravis tests share: a main window on an Aravis camera.

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <map>
#include <string>

#include "camera/aravis/AravisCamera.h"
#include "daq/sim/SimulatedDaq.h"
#include "shell/Form1.h"
#include "support/TestRig.h"

namespace ostrelo::testing {

// Passes every call on to a camera and keeps, per operation, the longest time a call
// took: what the window's thread was held by the camera backend.
class TimedCamera final : public CameraDriver {
 public:
  explicit TimedCamera(CameraDriver& inner) : inner_(inner) {}
  using Duration = std::chrono::steady_clock::duration;
  // Operation name -> longest call.
  const std::map<std::string, Duration>& longest() const { return longest_; }
  void Reset() { longest_.clear(); }

  int32_t Init(int32_t* m) override {
    return Time("Init", [&] { return inner_.Init(m); });
  }
  int32_t GetDevice(int32_t* d, int32_t mode, const std::string& s, int32_t n, char w) override {
    return Time("GetDevice", [&] { return inner_.GetDevice(d, mode, s, n, w); });
  }
  int32_t OpenDevice(int32_t d, int32_t* drv) override {
    return Time("OpenDevice", [&] { return inner_.OpenDevice(d, drv); });
  }
  int32_t FindList(int32_t drv, const std::string& n, int32_t t, int32_t f, int32_t* l) override {
    return Time("FindList", [&] { return inner_.FindList(drv, n, t, f, l); });
  }
  int32_t GetHandle(int32_t l, const std::string& n, int32_t* p) override {
    return Time("GetHandle", [&] { return inner_.GetHandle(l, n, p); });
  }
  int32_t GetF(int32_t p, double* v, int32_t i) override {
    return Time("GetF", [&] { return inner_.GetF(p, v, i); });
  }
  int32_t SetF(int32_t p, double v, int32_t i) override {
    return Time("SetF", [&] { return inner_.SetF(p, v, i); });
  }
  int32_t ImageRequestSingle(int32_t drv, int32_t c, int32_t* u) override {
    return Time("ImageRequestSingle", [&] { return inner_.ImageRequestSingle(drv, c, u); });
  }
  int32_t ImageRequestWaitFor(int32_t drv, int32_t t, int32_t q, int32_t* r) override {
    return Time("ImageRequestWaitFor", [&] { return inner_.ImageRequestWaitFor(drv, t, q, r); });
  }
  int32_t GetImageRequestBufferData(int32_t drv, int32_t r, RequestBufferInfo* i) override {
    return Time("GetImageRequestBufferData", [&] { return inner_.GetImageRequestBufferData(drv, r, i); });
  }
  int32_t GetImageRequestBufferChannelData(int32_t drv, int32_t r, int32_t c, RequestChannelInfo* i, char* d,
                                           int32_t n) override {
    return Time("GetImageRequestBufferChannelData",
                [&] { return inner_.GetImageRequestBufferChannelData(drv, r, c, i, d, n); });
  }
  int32_t GetImageRequestBufferImageData(int32_t drv, int32_t r, int32_t c, int32_t x, int32_t w, int32_t h, uint8_t* d,
                                         int32_t n) override {
    return Time("GetImageRequestBufferImageData",
                [&] { return inner_.GetImageRequestBufferImageData(drv, r, c, x, w, h, d, n); });
  }
  int32_t GetImageRequestBufferImageLines(int32_t drv, int32_t r, int32_t c, int32_t x, int32_t w, int32_t h,
                                          uint8_t* d, int32_t n, LineObserver& o) override {
    return Time("GetImageRequestBufferImageData",
                [&] { return inner_.GetImageRequestBufferImageLines(drv, r, c, x, w, h, d, n, o); });
  }
  int32_t ImageRequestUnlock(int32_t drv, int32_t r) override {
    return Time("ImageRequestUnlock", [&] { return inner_.ImageRequestUnlock(drv, r); });
  }
  int32_t CloseDevice(int32_t drv, int32_t d) override {
    return Time("CloseDevice", [&] { return inner_.CloseDevice(drv, d); });
  }
  int32_t Close() override {
    return Time("Close", [&] { return inner_.Close(); });
  }

 private:
  template <class Call>
  int32_t Time(const char* name, Call call) {
    const auto start = std::chrono::steady_clock::now();
    const int32_t status = call();
    Duration& longest = longest_[name];
    longest = std::max(longest, std::chrono::steady_clock::now() - start);
    return status;
  }
  CameraDriver& inner_;
  std::map<std::string, Duration> longest_;
};

// The main window on an Aravis camera; the card is simulated. The window's clock is
// manual unless realTime is asked for (the camera itself always waits in real time;
// the grab's time limits need the real clock when the camera stops answering).
struct AravisRig {
  explicit AravisRig(AravisOptions options, NumberLocale locale = {}, bool realTime = false)
      : windowClock(realTime ? static_cast<Clock&>(systemClock) : clock),
        camera(std::move(options)),
        timed(camera),
        daq(windowClock),
        form(Devices{timed, nullptr, daq, windowClock, dialogs, locale}) {}
  ManualClock clock;
  SystemClock systemClock;
  Clock& windowClock;
  AravisCamera camera;
  TimedCamera timed;  // what the window calls
  SimulatedDaq daq;
  FakeDialogs dialogs;
  Form1 form;
};

AravisOptions FakeCameraOptions();

// Wall-clock microseconds, the clock the camera's frames are stamped with.
int64_t WallClockUs();

// Types a text into the gain box and presses Enter.
void EnterGain(Form1& form, const std::string& text);

}  // namespace ostrelo::testing
