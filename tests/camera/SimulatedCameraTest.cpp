// The simulated camera: its scene, its gain, its frame timing, its faults, and that it
// never writes past the room it is given.

#include "camera/sim/SimulatedCamera.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <ostream>
#include <vector>

#include "support/ShownLines.h"

namespace ostrelo {
namespace {

constexpr int32_t kDrv = SimulatedCamera::kDriverHandle;

class SimulatedCameraTest : public ::testing::Test {
 protected:
  void SetUp() override { Open(); }
  void Open() {
    int32_t manager = 0, device = -1, driver = -1;
    ASSERT_EQ(camera.Init(&manager), 0);
    ASSERT_EQ(camera.GetDevice(&device, 1, "*", 0, '*'), 0);
    ASSERT_EQ(camera.OpenDevice(device, &driver), 0);
    ASSERT_EQ(driver, kDrv);
  }
  int32_t Request() {
    int32_t used = 0;
    EXPECT_EQ(camera.ImageRequestSingle(kDrv, 0, &used), 0);
    return used;
  }
  // Asks for a picture and waits for it: its pixels, or empty.
  std::vector<uint8_t> Grab(int32_t timeoutMs = 200) {
    Request();
    int32_t number = -1;
    if (camera.ImageRequestWaitFor(kDrv, timeoutMs, 0, &number) != 0) return {};
    RequestBufferInfo info;
    EXPECT_EQ(camera.GetImageRequestBufferData(kDrv, number, &info), 0);
    std::vector<uint8_t> out(info.data, info.data + static_cast<size_t>(info.width) * info.height);
    EXPECT_EQ(camera.ImageRequestUnlock(kDrv, number), 0);
    return out;
  }
  static size_t CountIf(const std::vector<uint8_t>& p, bool (*pred)(uint8_t)) {
    return static_cast<size_t>(std::count_if(p.begin(), p.end(), pred));
  }

  ManualClock clock;
  SimulatedCamera camera{clock};
};

TEST_F(SimulatedCameraTest, SceneHasSaturatedBlackAndMidToneAreas) {
  const std::vector<uint8_t> p = Grab();
  ASSERT_EQ(p.size(), 1280u * 1024u);
  const size_t n = p.size();
  EXPECT_GT(CountIf(p, [](uint8_t v) { return v == 255; }), n / 50);
  EXPECT_GT(CountIf(p, [](uint8_t v) { return v == 0; }), n / 50);
  EXPECT_GT(CountIf(p, [](uint8_t v) { return v > 32 && v < 224; }), n / 2);
}

TEST_F(SimulatedCameraTest, SceneMovesWithTimeAndIsTheSameAtTheSameTime) {
  const std::vector<uint8_t> first = Grab();
  const std::vector<uint8_t> again = Grab();
  EXPECT_EQ(first, again);
  clock.Advance(500);
  const std::vector<uint8_t> later = Grab();
  EXPECT_NE(later, first);
}

TEST_F(SimulatedCameraTest, GainBrightensEverythingButBlack) {
  const std::vector<uint8_t> plain = Grab();
  int32_t list = 0, gain = 0;
  ASSERT_EQ(camera.FindList(kDrv, "Base", 0, 0, &list), 0);
  ASSERT_EQ(camera.GetHandle(list, "Gain_dB", &gain), 0);
  ASSERT_EQ(camera.SetF(gain, 6.0, 0), 0);
  const std::vector<uint8_t> brighter = Grab();
  ASSERT_EQ(plain.size(), brighter.size());
  const double factor = std::pow(10.0, 6.0 / 20.0);
  size_t wrong = 0;
  for (size_t i = 0; i < plain.size(); ++i) {
    wrong += brighter[i] != static_cast<uint8_t>(std::min(255.0, std::round(plain[i] * factor)));
  }
  EXPECT_EQ(wrong, 0u);
  EXPECT_GT(std::accumulate(brighter.begin(), brighter.end(), 0.0),
            1.5 * std::accumulate(plain.begin(), plain.end(), 0.0));
}

TEST_F(SimulatedCameraTest, GainPropertyHasItsLimitsAndHoldsValuesWithinThem) {
  double v = -1;
  const int32_t g = SimulatedCamera::kGainHandle;
  ASSERT_EQ(camera.GetF(g, &v, -1), 0);
  EXPECT_EQ(v, 12.0);
  ASSERT_EQ(camera.GetF(g, &v, -2), 0);
  EXPECT_EQ(v, 0.0);
  ASSERT_EQ(camera.SetF(g, 3.5, 0), 0);
  ASSERT_EQ(camera.GetF(g, &v, 0), 0);
  EXPECT_EQ(v, 3.5);
  camera.SetF(g, 40.0, 0);
  EXPECT_EQ(camera.gain(), 12.0);
  camera.SetF(g, -3.0, 0);
  EXPECT_EQ(camera.gain(), 0.0);
  EXPECT_NE(camera.SetF(g, std::nan(""), 0), 0);
  EXPECT_EQ(camera.gain(), 0.0);
}

TEST_F(SimulatedCameraTest, FreeRunningCameraDeliversTheFirstFrameExposedAfterTheRequest) {
  camera.script.instant = false;
  camera.script.frameIntervalMs = 40;
  clock.Advance(1001);
  Request();  // the next exposure starts at 1040 and is read out at 1080
  int32_t number = -1;
  EXPECT_EQ(camera.ImageRequestWaitFor(kDrv, 50, 0, &number), SimulatedCamera::kWaitTimeout);
  EXPECT_EQ(clock.SteadyMs(), 1051);  // the whole time-out, slept on the clock
  EXPECT_EQ(camera.ImageRequestWaitFor(kDrv, 200, 0, &number), 0);
  EXPECT_EQ(clock.SteadyMs(), 1080);  // returns as soon as the frame is due
  camera.ImageRequestUnlock(kDrv, number);

  // Two requests at once get two different frames.
  Request();
  Request();
  ASSERT_EQ(camera.ImageRequestWaitFor(kDrv, 200, 0, &number), 0);
  EXPECT_EQ(clock.SteadyMs(), 1120);
  ASSERT_EQ(camera.ImageRequestWaitFor(kDrv, 200, 0, &number), 0);
  EXPECT_EQ(clock.SteadyMs(), 1160);
}

TEST_F(SimulatedCameraTest, LiveRateGrabsTakeLessThanAFramePeriodPlusExposure) {
  camera.script.instant = false;
  for (int i = 0; i < 20; ++i) {
    const int64_t t0 = clock.SteadyMs();
    ASSERT_FALSE(Grab().empty());
    EXPECT_LE(clock.SteadyMs() - t0, 2 * camera.script.frameIntervalMs);
    clock.Advance(200 - (clock.SteadyMs() - t0) % 200 + i);  // the next tick, slightly off the grid
  }
}

TEST_F(SimulatedCameraTest, RequestsAreServedInTheOrderAsked) {
  const int32_t a = Request(), b = Request();
  int32_t number = -1;
  ASSERT_EQ(camera.ImageRequestWaitFor(kDrv, 200, 0, &number), 0);
  EXPECT_EQ(number, a);
  ASSERT_EQ(camera.ImageRequestWaitFor(kDrv, 200, 0, &number), 0);
  EXPECT_EQ(number, b);
  EXPECT_EQ(camera.lockedRequests(), 2);
  EXPECT_EQ(camera.queuedRequests(), 0);
  // A request can be given back once only.
  EXPECT_EQ(camera.ImageRequestUnlock(kDrv, a), 0);
  EXPECT_NE(camera.ImageRequestUnlock(kDrv, a), 0);
}

TEST_F(SimulatedCameraTest, WaitWithNothingAskedForTimesOut) {
  int32_t number = 77;
  EXPECT_EQ(camera.ImageRequestWaitFor(kDrv, 200, 0, &number), SimulatedCamera::kWaitTimeout);
  EXPECT_EQ(number, 77);
  EXPECT_EQ(clock.SteadyMs(), 200);
}

TEST_F(SimulatedCameraTest, PainterFillsFramesWithTheirIndex) {
  std::vector<uint64_t> seen;
  camera.SetPainter([&](uint8_t* p, int32_t w, int32_t h, uint64_t k) {
    seen.push_back(k);
    std::fill(p, p + static_cast<size_t>(w) * h, static_cast<uint8_t>(k + 5));
  });
  EXPECT_EQ(Grab()[100], 5);
  EXPECT_EQ(Grab()[100], 6);
  EXPECT_EQ(seen, (std::vector<uint64_t>{0, 1}));
}

TEST_F(SimulatedCameraTest, CallsAfterTheDeviceIsClosedFail) {
  const int32_t r = Request();
  ASSERT_EQ(camera.CloseDevice(kDrv, SimulatedCamera::kDeviceHandle), 0);
  int32_t used = 0, number = -1;
  EXPECT_NE(camera.ImageRequestSingle(kDrv, 0, &used), 0);
  EXPECT_NE(camera.ImageRequestWaitFor(kDrv, 200, 0, &number), 0);
  EXPECT_NE(camera.ImageRequestUnlock(kDrv, r), 0);
  EXPECT_EQ(camera.queuedRequests(), 0);
}

// Each scripted fault makes its call fail the given number of times, then it works again.
struct FaultCase {
  const char* name;
  int32_t SimulatedCamera::Script::*count;
  int32_t (*call)(SimulatedCamera&, int32_t request);
  friend std::ostream& operator<<(std::ostream& os, const FaultCase& c) { return os << c.name; }
};
class SimulatedCameraFaultTest : public SimulatedCameraTest, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(SimulatedCameraFaultTest, FailsTheNextCallsThenRecovers) {
  const FaultCase& c = GetParam();
  Request();
  int32_t number = -1;
  ASSERT_EQ(camera.ImageRequestWaitFor(kDrv, 200, 0, &number), 0);
  camera.script.*c.count = 3;
  for (int i = 0; i < 3; ++i) EXPECT_NE(c.call(camera, number), 0) << i;
  EXPECT_EQ(c.call(camera, number), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, SimulatedCameraFaultTest,
    ::testing::Values(FaultCase{"BufferData", &SimulatedCamera::Script::failBufferData,
                                [](SimulatedCamera& c, int32_t r) {
                                  RequestBufferInfo info;
                                  return c.GetImageRequestBufferData(kDrv, r, &info);
                                }},
                      FaultCase{"ChannelData", &SimulatedCamera::Script::failChannelData,
                                [](SimulatedCamera& c, int32_t r) {
                                  RequestChannelInfo info;
                                  return c.GetImageRequestBufferChannelData(kDrv, r, 0, &info, nullptr, 0);
                                }},
                      FaultCase{"Unlock", &SimulatedCamera::Script::failUnlock,
                                [](SimulatedCamera& c, int32_t r) { return c.ImageRequestUnlock(kDrv, r); }},
                      FaultCase{"Request", &SimulatedCamera::Script::failRequest,
                                [](SimulatedCamera& c, int32_t) {
                                  int32_t used = 0;
                                  return c.ImageRequestSingle(kDrv, 0, &used);
                                }},
                      FaultCase{"WaitsBeforePicture", &SimulatedCamera::Script::waitsBeforePicture,
                                [](SimulatedCamera& c, int32_t) {
                                  int32_t used = 0, number = -1;
                                  if (c.queuedRequests() == 0) c.ImageRequestSingle(kDrv, 0, &used);
                                  return c.ImageRequestWaitFor(kDrv, 200, 0, &number);
                                }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SimulatedCameraStart, ScriptedStartFaults) {
  ManualClock clock;
  SimulatedCamera camera(clock);
  camera.script.failInit = true;
  camera.script.gainProperty = false;
  int32_t manager = 0, device = -1, driver = -1, list = -1;
  EXPECT_NE(camera.Init(&manager), 0);
  camera.GetDevice(&device, 1, "*", 0, '*');
  camera.OpenDevice(device, &driver);
  EXPECT_NE(camera.FindList(driver, "Base", 0, 0, &list), 0);
  camera.script.noPicture = true;
  int32_t used = 0, number = -1;
  camera.ImageRequestSingle(driver, 0, &used);
  for (int i = 0; i < 20; ++i) EXPECT_NE(camera.ImageRequestWaitFor(driver, 500, 0, &number), 0);
  EXPECT_EQ(clock.SteadyMs(), 20 * 500);
}

// The image copy: never a byte past the room it is given.
struct CopyCase {
  const char* name;
  int32_t pictureWidth, pictureHeight;
  int32_t width, height;  // asked for
  int32_t room;
  friend std::ostream& operator<<(std::ostream& os, const CopyCase& c) { return os << c.name; }
};
class SimulatedCameraCopyTest : public ::testing::TestWithParam<CopyCase> {};

TEST_P(SimulatedCameraCopyTest, CopiesLinesOfTheAskedWidthWithinTheRoom) {
  const CopyCase& c = GetParam();
  ManualClock clock;
  SimulatedCamera camera(clock, c.pictureWidth, c.pictureHeight);
  camera.SetPainter([](uint8_t* p, int32_t w, int32_t h, uint64_t) {
    for (int32_t i = 0; i < w * h; ++i) p[i] = static_cast<uint8_t>(1 + i % 250);
  });
  int32_t manager = 0, device = -1, driver = -1, used = 0, number = -1;
  camera.Init(&manager);
  camera.GetDevice(&device, 1, "*", 0, '*');
  camera.OpenDevice(device, &driver);
  camera.ImageRequestSingle(driver, 0, &used);
  ASSERT_EQ(camera.ImageRequestWaitFor(driver, 200, 0, &number), 0);

  constexpr uint8_t kGuard = 0;
  // Large enough that an overrun shows up as a wrong byte rather than a crash.
  const size_t everything =
      static_cast<size_t>(std::max(c.pictureWidth, c.width)) * std::max(c.pictureHeight, c.height);
  // Also with an observer: the same bytes, and those shown are whole lines the copy wrote.
  for (const bool shown : {false, true}) {
    std::vector<uint8_t> out(std::max(static_cast<size_t>(c.room), everything) + 64, kGuard);
    testing::ShownLines lines(c.width);
    ASSERT_EQ(
        shown
            ? camera.GetImageRequestBufferImageLines(driver, number, 0, 0, c.width, c.height, out.data(), c.room, lines)
            : camera.GetImageRequestBufferImageData(driver, number, 0, 0, c.width, c.height, out.data(), c.room),
        0);
    for (size_t i = 0; i < out.size(); ++i) {
      const int32_t x = static_cast<int32_t>(i % c.width), y = static_cast<int32_t>(i / c.width);
      const bool inside =
          static_cast<int32_t>(i) < c.room && x < c.pictureWidth && y < std::min(c.height, c.pictureHeight);
      const uint8_t expected = inside ? static_cast<uint8_t>(1 + (y * c.pictureWidth + x) % 250) : kGuard;
      ASSERT_EQ(out[i], expected) << "byte " << i;
    }
    EXPECT_LE(lines.seen.size(), static_cast<size_t>(c.room));
    EXPECT_TRUE(std::equal(lines.seen.begin(), lines.seen.end(), out.begin()));
  }
}

INSTANTIATE_TEST_SUITE_P(Rooms, SimulatedCameraCopyTest,
                         ::testing::Values(CopyCase{"Exact", 64, 48, 64, 48, 64 * 48},
                                           CopyCase{"RoomSmallerThanPicture", 64, 48, 64, 48, 1000},
                                           CopyCase{"PictureLargerThanAsked", 80, 60, 64, 48, 64 * 48},
                                           CopyCase{"PictureNarrowerThanAsked", 50, 48, 64, 48, 64 * 48},
                                           CopyCase{"PictureShorterThanAsked", 64, 30, 64, 48, 64 * 48},
                                           CopyCase{"NoRoom", 64, 48, 64, 48, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace ostrelo
