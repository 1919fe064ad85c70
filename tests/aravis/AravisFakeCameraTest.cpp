// The Aravis backend against Aravis's own fake camera (device "Fake_1", 512 x 512 Mono8).

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "AravisSupport.h"
#include "TestPlatform.h"
#include "camera/GrabFrame.h"
#include "camera/aravis/PixelConversion.h"
#include "shell/Numbers.h"
#include "support/ShownLines.h"

namespace ostrelo {
namespace {

using testing::AravisRig;
using testing::EnterGain;
using testing::FakeCameraOptions;
using testing::WallClockUs;

// An opened fake camera with the handles start-up would hold.
struct OpenedFake {
  explicit OpenedFake(AravisOptions options = FakeCameraOptions()) : camera(std::move(options)) {
    int32_t manager = 0;
    EXPECT_EQ(camera.Init(&manager), 0);
    EXPECT_EQ(camera.GetDevice(&device, 1, "*", 0, '*'), 0);
    EXPECT_EQ(camera.OpenDevice(device, &driver), 0);
  }
  // Requests a picture and waits for it.
  int32_t Picture(int32_t* request, int waits = 25) {
    int32_t used = 0;
    if (const int32_t s = camera.ImageRequestSingle(driver, 0, &used); s != 0) return s;
    int32_t status = -1;
    for (int i = 0; i < waits && status != 0; ++i) status = camera.ImageRequestWaitFor(driver, 200, 0, request);
    return status;
  }
  AravisCamera camera;
  int32_t device = -1, driver = -1;
};

TEST(AravisFakeCamera, StartsTheWindowGrabsSetsTheGainAndShutsDown) {
  AravisRig rig(FakeCameraOptions());
  ASSERT_TRUE(rig.form.Load());
  EXPECT_TRUE(rig.dialogs.messages.empty());
  const AcquisitionState& st = rig.form.st;
  EXPECT_EQ(rig.camera.deviceId(), "Fake_1");
  EXPECT_EQ(st.ImageWidth, 512);
  EXPECT_EQ(st.ImageHeight, 512);
  EXPECT_EQ(st.FrameByteCount, 512 * 512);
  EXPECT_EQ(rig.form.ui.InfoCam.caption, "(0000,0000) - (W:0512 - H:0512)");
  EXPECT_NE(st.GainHandle, -1);
  EXPECT_NE(st.RequestNumber, -1);
  EXPECT_EQ(rig.form.ui.Text_Gain.caption, "0");

  // A few pictures through the program's grab, live and for a shot, each begun after
  // the grab asked for it, its pixels copied into the frame buffer.
  for (int i = 0; i < 4; ++i) {
    const GrabPurpose purpose = i % 2 == 0 ? GrabPurpose::Live : GrabPurpose::Shot;
    const int32_t before = st.RequestNumber;
    const int64_t requested = WallClockUs();
    rig.form.Dispatch([&] { GrabFrame(rig.form, purpose); });
    ASSERT_EQ(rig.form.phase(), Phase::Running) << "grab " << i;
    ASSERT_NE(st.RequestNumber, before) << "grab " << i;
    EXPECT_GE(rig.camera.lastPictureReceptionUs(), requested) << "grab " << i;
    RequestBufferInfo info;
    ASSERT_EQ(rig.camera.GetImageRequestBufferData(st.DriverHandle, st.RequestNumber, &info), 0);
    EXPECT_TRUE(std::equal(info.data, info.data + st.FrameByteCount, st.FrameBytes.begin())) << "grab " << i;
  }

  // The gain: limits read from the camera, not assumed.
  double maximum = 0, minimum = 0;
  ASSERT_EQ(rig.camera.GetF(st.GainHandle, &maximum, -1), 0);
  ASSERT_EQ(rig.camera.GetF(st.GainHandle, &minimum, -2), 0);
  ASSERT_LT(minimum, maximum);
  auto cameraGain = [&] {
    double v = std::nan("");
    EXPECT_EQ(rig.camera.GetF(st.GainHandle, &v, 0), 0);
    return v;
  };
  EnterGain(rig.form, GeneralNumber(maximum + 5, '.'));
  EXPECT_EQ(cameraGain(), maximum);
  EXPECT_EQ(rig.form.ui.Text_Gain.caption, GeneralNumber(maximum, '.'));
  EnterGain(rig.form, GeneralNumber(minimum - 1, '.'));
  EXPECT_EQ(cameraGain(), minimum);
  EXPECT_EQ(rig.form.ui.Text_Gain.caption, GeneralNumber(minimum, '.'));
  const double middle = std::floor((minimum + maximum) / 2);
  EnterGain(rig.form, GeneralNumber(middle, '.'));
  EXPECT_EQ(cameraGain(), middle);
  EXPECT_EQ(rig.form.ui.Text_Gain.caption, GeneralNumber(middle, '.'));
  EnterGain(rig.form, "12dB");
  EXPECT_EQ(cameraGain(), middle);
  EXPECT_EQ(rig.form.ui.Text_Gain.caption, GeneralNumber(middle, '.')) << "a refused entry shows the gain kept";

  rig.form.Dispatch([&] { rig.form.Unload(); });
  EXPECT_EQ(rig.form.phase(), Phase::Ended);
  EXPECT_EQ(rig.form.exitCode(), 0);
  EXPECT_EQ(rig.camera.mode(), AravisCamera::Mode::Closed);
}

TEST(AravisFakeCamera, GainInACommaLocale) {
  AravisRig rig(FakeCameraOptions(), NumberLocale{','});
  ASSERT_TRUE(rig.form.Load());
  EnterGain(rig.form, "1.5");
  EXPECT_EQ(rig.form.ui.Text_Gain.caption, "1") << "a point taken too, shown as the camera keeps it";
  EnterGain(rig.form, "3,0");
  double v = 0;
  ASSERT_EQ(rig.camera.GetF(rig.form.st.GainHandle, &v, 0), 0);
  EXPECT_EQ(v, 3.0);
  EXPECT_EQ(rig.form.ui.Text_Gain.caption, "3");
}

TEST(AravisFakeCamera, NoCameraEndsTheStartUpWithTheMessage) {
  AravisOptions options;
  options.interfaces = {"NoSuchInterface"};
  AravisRig rig(options);
  EXPECT_FALSE(rig.form.Load());
  ASSERT_EQ(rig.dialogs.messages.size(), 1u);
  testing::ExpectNoCameraMessage(rig.dialogs.messages[0].text);
  EXPECT_EQ(rig.dialogs.messages[0].title, "Ostrelo");
  EXPECT_EQ(rig.form.phase(), Phase::Ended);
  EXPECT_NE(rig.form.exitCode(), 0);
}

TEST(AravisFakeCamera, DeviceSearchTakesTheFirstMatch) {
  AravisCamera camera(FakeCameraOptions());
  int32_t manager = 0, device = -1;
  ASSERT_EQ(camera.Init(&manager), 0);
  EXPECT_NE(camera.GetDevice(&device, 1, "Nothing*", 0, '*'), 0);
  EXPECT_NE(camera.GetDevice(&device, 1, "*", 1, '*'), 0);
  EXPECT_EQ(device, -1);
  EXPECT_EQ(camera.GetDevice(&device, 1, "Fake*", 0, '*'), 0);
  EXPECT_NE(device, -1);
  EXPECT_EQ(camera.deviceId(), "Fake_1");
  // Aravis is held by one camera object at a time.
  AravisCamera second(FakeCameraOptions());
  EXPECT_EQ(second.Init(&manager), AravisCamera::kBusy);
  EXPECT_EQ(camera.Close(), 0);
  EXPECT_EQ(second.Init(&manager), 0);
}

TEST(AravisFakeCamera, CameraThatIgnoresItsTriggerIsRunFree) {
  // The fake camera keeps exposing whatever its trigger mode: the probe at opening
  // sees it.
  OpenedFake fake;
  EXPECT_EQ(fake.camera.mode(), AravisCamera::Mode::FreeRunning);
}

TEST(AravisFakeCamera, PicturesAreNeverOlderThanTheirRequest) {
  // Forced into trigger mode, the fake camera is caught exposing on its own at run
  // time; every picture, before and after, began arriving after its request.
  for (auto exposure : {AravisOptions::Exposure::Auto, AravisOptions::Exposure::SoftwareTrigger,
                        AravisOptions::Exposure::FreeRunning}) {
    AravisOptions options = FakeCameraOptions();
    options.exposure = exposure;
    OpenedFake fake(options);
    for (int i = 0; i < 6; ++i) {
      // Let frames pile up in the queue first, as between two shots.
      std::this_thread::sleep_for(std::chrono::milliseconds(i % 2 == 0 ? 150 : 0));
      const int64_t requested = WallClockUs();
      int32_t request = -1;
      ASSERT_EQ(fake.Picture(&request), 0);
      EXPECT_GE(fake.camera.lastPictureReceptionUs(), requested) << "picture " << i;
      ASSERT_EQ(fake.camera.ImageRequestUnlock(fake.driver, request), 0);
    }
    EXPECT_EQ(fake.camera.mode(), AravisCamera::Mode::FreeRunning);
    EXPECT_GT(fake.camera.framesDiscarded(), 0u);
  }
}

TEST(AravisFakeCamera, CopiesOnlyWhatWasAskedForAndFits) {
  OpenedFake fake;
  int32_t request = -1;
  ASSERT_EQ(fake.Picture(&request), 0);
  RequestBufferInfo info;
  ASSERT_EQ(fake.camera.GetImageRequestBufferData(fake.driver, request, &info), 0);
  ASSERT_EQ(info.width, 512);
  ASSERT_EQ(info.height, 512);
  RequestChannelInfo channel;
  char description[3] = {'x', 'x', 'x'};
  ASSERT_EQ(fake.camera.GetImageRequestBufferChannelData(fake.driver, request, 0, &channel, description, 3), 0);
  EXPECT_EQ(channel.pixelPitch, 1);
  EXPECT_EQ(std::string(description), "Mo");

  const int32_t pixels = 512 * 512;
  constexpr uint8_t kUntouched = 0xAB;
  struct Case {
    const char* name;
    int32_t width, height, size;
    bool copies;
  };
  for (const Case& c : {Case{"exact", 512, 512, pixels, true}, Case{"room to spare", 512, 512, pixels + 1, true},
                        Case{"one byte short", 512, 512, pixels - 1, false}, Case{"narrower", 511, 512, pixels, false},
                        Case{"taller", 512, 513, pixels + 512, false}, Case{"negative size", 512, 512, -1, false}}) {
    for (const bool shown : {false, true}) {
      testing::ShownLines gather(512);
      std::vector<uint8_t> destination(static_cast<size_t>(pixels) + 600, kUntouched);
      const int32_t status =
          shown ? fake.camera.GetImageRequestBufferImageLines(fake.driver, request, 0, 0, c.width, c.height,
                                                              destination.data(), c.size, gather)
                : fake.camera.GetImageRequestBufferImageData(fake.driver, request, 0, 0, c.width, c.height,
                                                             destination.data(), c.size);
      if (c.copies) {
        EXPECT_EQ(status, 0) << c.name;
        EXPECT_TRUE(std::equal(info.data, info.data + pixels, destination.begin())) << c.name;
        if (shown) {
          EXPECT_TRUE(gather.seen == std::vector<uint8_t>(info.data, info.data + pixels)) << c.name;
        }
        EXPECT_TRUE(std::all_of(destination.begin() + pixels, destination.end(), [](uint8_t b) {
          return b == kUntouched;
        })) << c.name;
      } else {
        EXPECT_NE(status, 0) << c.name;
        EXPECT_TRUE(std::all_of(destination.begin(), destination.end(), [](uint8_t b) { return b == kUntouched; }))
            << c.name;
        EXPECT_TRUE(gather.seen.empty()) << c.name;
      }
    }
  }
  EXPECT_NE(fake.camera.GetImageRequestBufferImageData(fake.driver, request, 0, 0, 512, 512, nullptr, pixels), 0);
  EXPECT_NE(fake.camera.GetImageRequestBufferImageData(fake.driver, request, 1, 0, 512, 512, nullptr, pixels), 0);
  EXPECT_EQ(fake.camera.ImageRequestUnlock(fake.driver, request), 0);
  // Given back: no longer readable.
  EXPECT_NE(fake.camera.GetImageRequestBufferData(fake.driver, request, &info), 0);
  EXPECT_NE(fake.camera.ImageRequestUnlock(fake.driver, request), 0);
}

// Mono16 comes as 8-bit grey, its top 8 bits kept: the fake camera's diagonal ramp
// (each pixel one more than its left neighbour, modulo 255) is in its upper bytes.
TEST(AravisFakeCamera, Mono16IsTakenAsItsTopEightBitsOtherFormatsAreRefused) {
  for (const char* format : {"Mono16", "RGB8"}) {
    const bool grey = std::string(format) == "Mono16";
    AravisOptions options = FakeCameraOptions();
    options.pixelFormat = format;
    OpenedFake fake(options);
    int32_t request = -1;
    ASSERT_EQ(fake.Picture(&request), 0) << format;
    RequestBufferInfo info;
    RequestChannelInfo channel;
    std::vector<uint8_t> destination(512 * 512 * 3, 0xAB);
    EXPECT_EQ(fake.camera.GetImageRequestBufferData(fake.driver, request, &info), grey ? 0 : AravisCamera::kNotMono8)
        << format;
    EXPECT_EQ(fake.camera.GetImageRequestBufferChannelData(fake.driver, request, 0, &channel, nullptr, 0) == 0, grey);
    EXPECT_EQ(fake.camera.GetImageRequestBufferImageData(fake.driver, request, 0, 0, 512, 512, destination.data(),
                                                         static_cast<int32_t>(destination.size())) == 0,
              grey);
    if (!grey) {
      EXPECT_EQ(info.data, nullptr);
      EXPECT_TRUE(std::all_of(destination.begin(), destination.end(), [](uint8_t b) { return b == 0xAB; }));
      continue;
    }
    EXPECT_EQ(channel.pixelPitch, 1);
    for (size_t i : {size_t{0}, size_t{300}, size_t{512 * 100 + 7}, size_t{512 * 512 - 2}}) {
      EXPECT_EQ(destination[i + 1], (destination[i] + 1) % 255) << i;
      EXPECT_EQ(info.data[i], destination[i]) << i;
    }
  }
  // Start-up then finds no usable camera.
  AravisOptions options = FakeCameraOptions();
  options.pixelFormat = "RGB8";
  AravisRig rig(options);
  EXPECT_FALSE(rig.form.Load());
  ASSERT_EQ(rig.dialogs.messages.size(), 1u);
  testing::ExpectNoCameraMessage(rig.dialogs.messages[0].text);
}

// Mono10 and Mono12 (no camera offers them here): the top 8 of 10 or 12 bits, bits
// above ignored, little-endian; a line longer than one block of the vector loop.
TEST(PixelConversion, KeepsTheTopEightBits) {
  const uint8_t four[] = {0xFF, 0x03, 0x00, 0x02, 0x34, 0xF2, 0x01, 0x00};  // 0x3FF, 0x200, 0xF234, 1
  const std::vector<uint8_t> expected[] = {{0xFF, 0x80, 0x8D, 0x00}, {0x3F, 0x20, 0x23, 0x00}};
  constexpr size_t kRepeats = 17;
  std::vector<uint8_t> line;
  for (size_t r = 0; r < kRepeats; ++r) line.insert(line.end(), std::begin(four), std::end(four));
  for (int bits : {10, 12}) {
    std::vector<uint8_t> out(4 * kRepeats, 0xAB);
    TopEightBits(line.data(), out.data(), out.size(), bits);
    for (size_t i = 0; i < out.size(); ++i) EXPECT_EQ(out[i], expected[bits == 12][i % 4]) << bits << " " << i;
  }
  EXPECT_EQ(GreyBits(0x01100005), 12);
  EXPECT_EQ(GreyBits(0x010C0006), 0);  // Mono12Packed
}

TEST(AravisFakeCamera, GainPropertyAndItsLimits) {
  OpenedFake fake;
  int32_t list = -1, property = -1;
  EXPECT_NE(fake.camera.FindList(fake.driver, "Other", 0, 0, &list), 0);
  EXPECT_NE(fake.camera.FindList(-1, "Base", 0, 0, &list), 0);
  ASSERT_EQ(fake.camera.FindList(fake.driver, "Base", 0, 0, &list), 0);
  EXPECT_NE(fake.camera.GetHandle(list, "Exposure", &property), 0);
  EXPECT_NE(fake.camera.GetHandle(list + 1, "Gain_dB", &property), 0);
  ASSERT_EQ(fake.camera.GetHandle(list, "Gain_dB", &property), 0);
  double minimum = 0, maximum = 0, value = 0;
  ASSERT_EQ(fake.camera.GetF(property, &maximum, -1), 0);
  ASSERT_EQ(fake.camera.GetF(property, &minimum, -2), 0);
  EXPECT_LT(minimum, maximum);
  EXPECT_NE(fake.camera.GetF(property, &value, 1), 0);
  EXPECT_NE(fake.camera.GetF(property + 1, &value, 0), 0);
  // Beyond the bounds the camera holds its bound, never the raw value.
  ASSERT_EQ(fake.camera.SetF(property, maximum + 100, 0), 0);
  ASSERT_EQ(fake.camera.GetF(property, &value, 0), 0);
  EXPECT_EQ(value, maximum);
  ASSERT_EQ(fake.camera.SetF(property, minimum - 100, 0), 0);
  ASSERT_EQ(fake.camera.GetF(property, &value, 0), 0);
  EXPECT_EQ(value, minimum);
  EXPECT_NE(fake.camera.SetF(property, std::nan(""), 0), 0);
  EXPECT_NE(fake.camera.SetF(property, 1.0, -1), 0);
}

TEST(AravisFakeCamera, WaitsKeepTheirTimeOutAndCallsOutOfTurnFail) {
  OpenedFake fake;
  int32_t request = -1;
  EXPECT_EQ(fake.camera.ImageRequestWaitFor(fake.driver, 200, 0, &request), AravisCamera::kNoRequest);
  int32_t used = 0;
  EXPECT_NE(fake.camera.ImageRequestSingle(-1, 0, &used), 0);
  ASSERT_EQ(fake.camera.ImageRequestSingle(fake.driver, 0, &used), 0);
  // A free-running fake camera cannot answer within 1 ms (it takes a frame period
  // and an exposure after the request): the wait ends with the time-out, not with the
  // picture that comes later.
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(fake.camera.ImageRequestWaitFor(fake.driver, 1, 0, &request), AravisCamera::kTimeout);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  EXPECT_EQ(request, -1);
  int status = -1;
  for (int i = 0; i < 25 && status != 0; ++i) status = fake.camera.ImageRequestWaitFor(fake.driver, 200, 0, &request);
  ASSERT_EQ(status, 0);
  EXPECT_EQ(fake.camera.ImageRequestWaitFor(fake.driver, 200, 0, &request), AravisCamera::kNoRequest);
  EXPECT_NE(fake.camera.ImageRequestUnlock(fake.driver, request + 1), 0);
  EXPECT_EQ(fake.camera.ImageRequestUnlock(fake.driver, request), 0);
  EXPECT_NE(fake.camera.CloseDevice(-1, -1), 0);
}

TEST(AravisFakeCamera, QueuedRequestsAreAnsweredInOrderEachAfterItsOwnRequest) {
  OpenedFake fake;
  int32_t first = -1, second = -1, used = 0;
  const int64_t firstAsked = WallClockUs();
  ASSERT_EQ(fake.camera.ImageRequestSingle(fake.driver, 0, &first), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(120));
  const int64_t secondAsked = WallClockUs();
  ASSERT_EQ(fake.camera.ImageRequestSingle(fake.driver, 0, &second), 0);
  int32_t request = -1;
  int status = -1;
  for (int i = 0; i < 25 && status != 0; ++i) status = fake.camera.ImageRequestWaitFor(fake.driver, 200, 0, &request);
  ASSERT_EQ(status, 0);
  EXPECT_EQ(request, first);
  EXPECT_GE(fake.camera.lastPictureReceptionUs(), firstAsked);
  status = -1;
  for (int i = 0; i < 25 && status != 0; ++i) status = fake.camera.ImageRequestWaitFor(fake.driver, 200, 0, &request);
  ASSERT_EQ(status, 0);
  EXPECT_EQ(request, second);
  EXPECT_GE(fake.camera.lastPictureReceptionUs(), secondAsked);
  EXPECT_EQ(fake.camera.ImageRequestWaitFor(fake.driver, 200, 0, &request), AravisCamera::kNoRequest);
  EXPECT_EQ(fake.camera.ImageRequestUnlock(fake.driver, first), 0);
  EXPECT_EQ(fake.camera.ImageRequestUnlock(fake.driver, second), 0);
  EXPECT_EQ(fake.camera.ImageRequestSingle(fake.driver, 0, &used), 0);
}

TEST(AravisFakeCamera, HeldPicturesAndWaitingRequestsCannotStarveTheAcquisition) {
  AravisOptions options = FakeCameraOptions();
  options.bufferCount = 4;
  OpenedFake fake(options);
  // Four buffers: three held or asked for at most, one always free.
  std::vector<int32_t> held;
  for (int i = 0; i < 3; ++i) {
    int32_t request = -1;
    ASSERT_EQ(fake.Picture(&request), 0);
    held.push_back(request);
  }
  int32_t used = 0;
  EXPECT_EQ(fake.camera.ImageRequestSingle(fake.driver, 0, &used), AravisCamera::kTooManyRequests);
  ASSERT_EQ(fake.camera.ImageRequestUnlock(fake.driver, held.back()), 0);
  held.pop_back();
  ASSERT_EQ(fake.camera.ImageRequestSingle(fake.driver, 0, &used), 0);
  EXPECT_EQ(fake.camera.ImageRequestSingle(fake.driver, 0, &used), AravisCamera::kTooManyRequests);
  // Answered meanwhile but not yet taken by a wait: still counted.
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(fake.camera.ImageRequestSingle(fake.driver, 0, &used), AravisCamera::kTooManyRequests);

  // Closing with pictures held, a picture answered and not taken, releases them all
  // (the sanitizer and valgrind runs see no leak).
  EXPECT_EQ(fake.camera.CloseDevice(fake.driver, fake.device), 0);
  EXPECT_NE(fake.camera.ImageRequestSingle(fake.driver, 0, &used), 0);
  EXPECT_NE(fake.camera.ImageRequestUnlock(fake.driver, held.front()), 0);
  EXPECT_EQ(fake.camera.Close(), 0);
  EXPECT_EQ(fake.camera.Close(), 0);
}

}  // namespace
}  // namespace ostrelo

namespace ostrelo {
namespace {

using testing::AravisRig;
using testing::FakeCameraOptions;
using testing::WallClockUs;

// A lost connection, as Aravis reports a camera that went away: the same camera is
// reopened behind the same handles. A request still waiting is answered by the new
// connection with a frame that began arriving after the loss; a picture held from
// before stays readable until unlocked; the gain set before is set again.
TEST(AravisFakeCameraReconnection, SameHandlesAfterALossWithRequestsPicturesAndGainKept) {
  AravisCamera camera(FakeCameraOptions());
  int32_t manager = 0, device = -1, driver = -1, list = -1, gain = -1;
  ASSERT_EQ(camera.Init(&manager), 0);
  ASSERT_EQ(camera.GetDevice(&device, 1, "*", 0, '*'), 0);
  ASSERT_EQ(camera.OpenDevice(device, &driver), 0);
  ASSERT_EQ(camera.FindList(driver, "Base", 0, 0, &list), 0);
  ASSERT_EQ(camera.GetHandle(list, "Gain_dB", &gain), 0);
  double minimum = 0, maximum = 0;
  ASSERT_EQ(camera.GetF(gain, &maximum, -1), 0);
  ASSERT_EQ(camera.GetF(gain, &minimum, -2), 0);
  const double wanted = std::floor((minimum + maximum) / 2) + 1;
  ASSERT_EQ(camera.SetF(gain, wanted, 0), 0);

  auto waitFor = [&](int32_t* request) {
    int32_t status = -1;
    for (int i = 0; i < 50 && status != 0; ++i) status = camera.ImageRequestWaitFor(driver, 200, 0, request);
    return status;
  };
  int32_t used = 0, held = -1, waiting = -1;
  ASSERT_EQ(camera.ImageRequestSingle(driver, 0, &used), 0);
  ASSERT_EQ(waitFor(&held), 0);
  RequestBufferInfo before;
  ASSERT_EQ(camera.GetImageRequestBufferData(driver, held, &before), 0);
  const std::vector<uint8_t> heldPixels(before.data, before.data + before.width * before.height);
  ASSERT_EQ(camera.ImageRequestSingle(driver, 0, &waiting), 0);

  const int64_t lostAt = WallClockUs();
  camera.ForgetConnection();
  EXPECT_TRUE(camera.deviceLost());
  // New requests fail until the camera is back; the handles stay what they were.
  EXPECT_EQ(camera.ImageRequestSingle(driver, 0, &used), AravisCamera::kDeviceLost);
  double value = 0;
  EXPECT_EQ(camera.GetF(gain, &value, 0), AravisCamera::kDeviceLost);
  EXPECT_EQ(camera.SetF(gain, minimum, 0), AravisCamera::kDeviceLost);

  // The held picture is still there, byte for byte.
  RequestBufferInfo after;
  ASSERT_EQ(camera.GetImageRequestBufferData(driver, held, &after), 0);
  EXPECT_TRUE(std::equal(heldPixels.begin(), heldPixels.end(), after.data));

  int32_t answered = -1;
  ASSERT_EQ(waitFor(&answered), 0);
  EXPECT_EQ(answered, waiting);
  EXPECT_GE(camera.lastPictureReceptionUs(), lostAt);
  EXPECT_FALSE(camera.deviceLost());
  EXPECT_EQ(camera.reconnections(), 1u);
  EXPECT_EQ(camera.ImageRequestUnlock(driver, held), 0);
  EXPECT_EQ(camera.ImageRequestUnlock(driver, answered), 0);

  ASSERT_EQ(camera.GetF(gain, &value, 0), 0);
  EXPECT_EQ(value, wanted);
  // Business as usual, again and again: buffers of the old connection were not given
  // to the new one, so none is missing or doubled.
  for (int i = 0; i < 8; ++i) {
    int32_t request = -1;
    const int64_t asked = WallClockUs();
    ASSERT_EQ(camera.ImageRequestSingle(driver, 0, &used), 0) << i;
    ASSERT_EQ(waitFor(&request), 0) << i;
    EXPECT_GE(camera.lastPictureReceptionUs(), asked) << i;
    ASSERT_EQ(camera.ImageRequestUnlock(driver, request), 0) << i;
  }
  EXPECT_EQ(camera.CloseDevice(driver, device), 0);
  EXPECT_EQ(camera.Close(), 0);
}

// Through the program: the live view and a shot grab while the connection is lost and
// reopened. The window never ends; the view shows new pictures again by itself.
TEST(AravisFakeCameraReconnection, LiveViewResumesAndAShotWaitsForTheCameraToComeBack) {
  AravisRig rig(FakeCameraOptions(), NumberLocale{}, /*realTime=*/true);
  ASSERT_TRUE(rig.form.Load());
  const AcquisitionState& st = rig.form.st;
  rig.form.Dispatch([&] { rig.form.VisuTimer_Timer(); });
  for (int round = 1; round <= 2; ++round) {
    rig.camera.ForgetConnection();
    const int64_t lostAt = WallClockUs();
    const int32_t before = st.RequestNumber;
    int ticks = 0;
    while (rig.camera.reconnections() < static_cast<uint64_t>(round) && ticks < 100) {
      rig.form.Dispatch([&] { rig.form.VisuTimer_Timer(); });
      ASSERT_EQ(rig.form.phase(), Phase::Running);
      ++ticks;
    }
    ASSERT_EQ(rig.camera.reconnections(), static_cast<uint64_t>(round));
    // Live frames flow again through the program's grab.
    for (int i = 0; i < 20 && st.RequestNumber == before; ++i) {
      rig.form.Dispatch([&] { rig.form.VisuTimer_Timer(); });
    }
    ASSERT_NE(st.RequestNumber, before) << "round " << round;
    EXPECT_GE(rig.camera.lastPictureReceptionUs(), lostAt);
    RequestBufferInfo info;
    ASSERT_EQ(rig.camera.GetImageRequestBufferData(st.DriverHandle, st.RequestNumber, &info), 0);
    EXPECT_TRUE(std::equal(info.data, info.data + st.FrameByteCount, st.FrameBytes.begin()));
  }

  // A shot grab started while the camera is away gets its picture once it is back.
  rig.camera.ForgetConnection();
  const int64_t lostAt = WallClockUs();
  rig.form.Dispatch([&] { GrabFrame(rig.form, GrabPurpose::Shot); });
  ASSERT_EQ(rig.form.phase(), Phase::Running);
  EXPECT_EQ(rig.camera.reconnections(), 3u);
  EXPECT_GE(rig.camera.lastPictureReceptionUs(), lostAt);

  rig.form.Dispatch([&] { rig.form.Unload(); });
  EXPECT_EQ(rig.form.exitCode(), 0);
  EXPECT_EQ(rig.camera.mode(), AravisCamera::Mode::Closed);
}

}  // namespace
}  // namespace ostrelo
