// The grab's calls, their order, the bounded retries, dropped frames and a shot's grab.

#include "camera/GrabFrame.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "GrabRig.h"
#include "camera/CameraOutage.h"

namespace ostrelo::testing {
namespace {

using Calls = std::vector<std::string>;
constexpr int32_t kDrv = SimulatedCamera::kDriverHandle;

// Every frame differs from the one before, so a frame that should have been dropped
// but was not shows up in the views.
void PaintByIndex(uint8_t* p, int32_t w, int32_t h, uint64_t k) {
  for (int32_t y = 0; y < h; ++y) {
    for (int32_t x = 0; x < w; ++x) p[static_cast<size_t>(y) * w + x] = static_cast<uint8_t>(x + 3 * y + 17 * k);
  }
}

std::string N(int32_t v) { return std::to_string(v); }
std::string Unlock(int32_t r) { return "DMR_ImageRequestUnlock(" + N(kDrv) + "," + N(r) + ")"; }
std::string Request() { return "DMR_ImageRequestSingle(" + N(kDrv) + ",0)"; }
std::string Wait() { return "DMR_ImageRequestWaitFor(" + N(kDrv) + ",200,0)"; }
std::string BufferData(int32_t r) { return "DMR_GetImageRequestBufferData(" + N(kDrv) + "," + N(r) + ")"; }
std::string ChannelData(int32_t r) { return "DMR_GetImageRequestBufferChannelData(" + N(kDrv) + "," + N(r) + ",0)"; }
std::string ImageData(int32_t r) {
  return "DMR_GetImageRequestBufferImageData(" + N(kDrv) + "," + N(r) + ",1280,1024,1310720)";
}

size_t Count(const Calls& calls, const std::string& call) {
  size_t n = 0;
  for (const auto& c : calls) n += c == call;
  return n;
}

class GrabFrameTest : public ::testing::Test {
 protected:
  void SetUp() override {
    rig.camera.SetPainter(PaintByIndex);
    rig.Start();
    rig.form.st.DaqAcquisitionOn = false;  // the card's calls are checked elsewhere
  }
  int64_t Now() { return rig.clock.SteadyMs(); }

  GrabRig rig;
  AcquisitionState& st = rig.form.st;
  SimulatedCamera& camera = rig.camera;
};

TEST_F(GrabFrameTest, FirstGrabReleasesTheStartupRequestThenMakesEveryCallInOrder) {
  const int32_t held = st.RequestNumber;
  ASSERT_NE(held, -1);
  GrabFrame(rig.form);
  const int32_t r = st.RequestNumber;
  EXPECT_NE(r, held);
  EXPECT_EQ(camera.calls, (Calls{Unlock(held), Request(), Wait(), BufferData(r), ChannelData(r),
                                 "mvDispSetImage(1,1280,1024,8,0)", "mvDispUpdate(1)", ImageData(r)}));
  // Between grabs exactly the latest picture's request stays locked.
  EXPECT_EQ(camera.lockedRequests(), 1);
  EXPECT_EQ(camera.queuedRequests(), 0);
}

TEST_F(GrabFrameTest, EachGrabReleasesThePreviousGrabsRequest) {
  GrabFrame(rig.form);
  const int32_t first = st.RequestNumber;
  camera.calls.clear();
  GrabFrame(rig.form);
  ASSERT_FALSE(camera.calls.empty());
  EXPECT_EQ(camera.calls.front(), Unlock(first));
  EXPECT_EQ(camera.lockedRequests(), 1);
}

// Steps 1 to 3 retry a failing call until it succeeds.
struct RetryCase {
  const char* name;
  friend std::ostream& operator<<(std::ostream& os, const RetryCase& c) { return os << c.name; }
  int32_t SimulatedCamera::Script::*fault;
  int32_t failures;
  std::string (*call)(int32_t held);
};
class GrabRetryTest : public GrabFrameTest, public ::testing::WithParamInterface<RetryCase> {};

TEST_P(GrabRetryTest, RetriesAFailingCallAndStillDeliversThePicture) {
  const RetryCase& c = GetParam();
  const int32_t held = st.RequestNumber;
  camera.script.*c.fault = c.failures;
  const auto before = camera.framesDelivered();
  GrabFrame(rig.form);
  EXPECT_EQ(Count(camera.calls, c.call(held)), static_cast<size_t>(c.failures) + 1);
  EXPECT_EQ(camera.framesDelivered(), before + 1);
  EXPECT_EQ(Count(camera.calls, ImageData(st.RequestNumber)), 1u);
  EXPECT_EQ(camera.lockedRequests(), 1);
  EXPECT_EQ(camera.queuedRequests(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Steps, GrabRetryTest,
    ::testing::Values(RetryCase{"Unlock", &SimulatedCamera::Script::failUnlock, 3, [](int32_t h) { return Unlock(h); }},
                      RetryCase{"Request", &SimulatedCamera::Script::failRequest, 4, [](int32_t) { return Request(); }},
                      RetryCase{"Wait", &SimulatedCamera::Script::waitsBeforePicture, 3,
                                [](int32_t) { return Wait(); }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(GrabFrameTest, TimedOutWaitsAreRetriedWithinTheLiveLimit) {
  camera.script.waitsBeforePicture = 4;  // 800 ms without a picture
  const ViewsSnapshot before(rig.form);
  const int64_t t0 = Now();
  GrabFrame(rig.form);
  EXPECT_EQ(Now() - t0, 800);
  EXPECT_NE(ViewsSnapshot(rig.form), before);
}

// A grab gives up after about one second and drops the frame: nothing changes, the
// camera is left alone for a moment, and the next grab can still deliver.
struct GiveUpCase {
  const char* name;
  friend std::ostream& operator<<(std::ostream& os, const GiveUpCase& c) { return os << c.name; }
  void (*fault)(SimulatedCamera::Script&);
  void (*heal)(SimulatedCamera::Script&);
  bool requestStaysHeld;  // the failing step keeps a request (the earlier one, or one dropped)
  GrabPurpose purpose;
};
class LiveGiveUpTest : public GrabFrameTest, public ::testing::WithParamInterface<GiveUpCase> {};

TEST_P(LiveGiveUpTest, GivesUpAfterAboutOneSecondAndChangesNothing) {
  const GiveUpCase& c = GetParam();
  GrabFrame(rig.form);
  const ViewsSnapshot before(rig.form);
  c.fault(camera.script);
  const int64_t t0 = Now();
  EXPECT_FALSE(GrabFrame(rig.form, c.purpose));
  const int64_t spent = Now() - t0;
  EXPECT_GE(spent, kGrabBudgetMs);
  EXPECT_LE(spent, kGrabBudgetMs + kGrabRetryPauseMs);
  EXPECT_EQ(ViewsSnapshot(rig.form), before);
  EXPECT_EQ(st.RequestNumber != -1, c.requestStaysHeld);
  EXPECT_EQ(Count(camera.calls, "mvDispUpdate(1)"), 1u);                       // only the first grab's
  EXPECT_EQ(rig.form.ui.CameraNotice, "Camera not answering since 12:00:00");  // the last picture

  // Healed at once, the camera still rests: the window's events come first.
  c.heal(camera.script);
  const size_t calls = camera.calls.size();
  EXPECT_FALSE(GrabFrame(rig.form, c.purpose));
  EXPECT_EQ(camera.calls.size(), calls);
  rig.clock.Advance(kCameraRestMs);
  EXPECT_TRUE(GrabFrame(rig.form, c.purpose));
  EXPECT_EQ(rig.form.ui.CameraNotice, "");
  EXPECT_NE(ViewsSnapshot(rig.form), before);
  EXPECT_EQ(camera.lockedRequests(), 1);
  EXPECT_EQ(camera.queuedRequests(), 0);
}

INSTANTIATE_TEST_SUITE_P(Steps, LiveGiveUpTest,
                         ::testing::Values(GiveUpCase{"UnlockAlwaysFails", [](auto& s) { s.failUnlock = 1 << 30; },
                                                      [](auto& s) { s.failUnlock = 0; }, true, GrabPurpose::Live},
                                           GiveUpCase{"RequestAlwaysFails", [](auto& s) { s.failRequest = 1 << 30; },
                                                      [](auto& s) { s.failRequest = 0; }, false, GrabPurpose::Live},
                                           GiveUpCase{"NoPicture", [](auto& s) { s.noPicture = true; },
                                                      [](auto& s) { s.noPicture = false; }, false, GrabPurpose::Live},
                                           GiveUpCase{"ShotNoPicture", [](auto& s) { s.noPicture = true; },
                                                      [](auto& s) { s.noPicture = false; }, false, GrabPurpose::Shot},
                                           GiveUpCase{"ShotPicturesOfAnotherSize",
                                                      [](auto& s) { s.failBufferData = 1 << 30; },
                                                      [](auto& s) { s.failBufferData = 0; }, true, GrabPurpose::Shot}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(GrabFrameTest, SilentCameraDoesNotPileUpRequests) {
  camera.script.noPicture = true;
  for (int i = 0; i < 5; ++i) {
    GrabFrame(rig.form);
    rig.clock.Advance(kCameraRestMs);
  }
  // Only the first silent grab asked for a picture; the others waited for that one.
  EXPECT_EQ(Count(camera.calls, Request()), 1u);
  EXPECT_EQ(camera.queuedRequests(), 1);
  EXPECT_EQ(rig.form.QueuedRequests, 1);
  // Shots ask for pictures of their own, up to a bound.
  for (int i = 0; i < 2 * kMaxOwedRequests; ++i) {
    GrabFrame(rig.form, GrabPurpose::Shot);
    rig.clock.Advance(kCameraRestMs);
  }
  EXPECT_EQ(camera.queuedRequests(), kMaxOwedRequests);
  EXPECT_EQ(rig.form.QueuedRequests, kMaxOwedRequests);
  camera.script.noPicture = false;
  EXPECT_TRUE(GrabFrame(rig.form, GrabPurpose::Shot));
  EXPECT_EQ(camera.queuedRequests(), 0);
  EXPECT_EQ(rig.form.QueuedRequests, 0);
  EXPECT_EQ(camera.lockedRequests(), 1);
  camera.script.noPicture = true;
  GrabFrame(rig.form);
  rig.clock.Advance(kCameraRestMs);

  camera.script.noPicture = false;
  camera.calls.clear();
  GrabFrame(rig.form);
  // The picture asked for earlier is the one shown; nothing is asked for again.
  EXPECT_EQ(camera.calls.front(), Wait());
  EXPECT_EQ(Count(camera.calls, Request()), 0u);
  EXPECT_EQ(camera.queuedRequests(), 0);
  EXPECT_EQ(rig.form.QueuedRequests, 0);
  EXPECT_EQ(camera.lockedRequests(), 1);
}

// Steps 4 and 5 drop the frame at once: nothing changes, the request stays held and
// the next grab begins by releasing it.
struct DropCase {
  const char* name;
  friend std::ostream& operator<<(std::ostream& os, const DropCase& c) { return os << c.name; }
  void (*fault)(SimulatedCamera&);
  size_t channelDataCalls;  // made by the dropped grab
};
class DroppedFrameTest : public GrabFrameTest, public ::testing::WithParamInterface<DropCase> {};

TEST_P(DroppedFrameTest, ChangesNothingAndKeepsTheRequestForTheNextGrab) {
  const DropCase& c = GetParam();
  rig.form.st.DaqAcquisitionOn = true;
  rig.daq.volts = {1.0, 2.0, 3.0, 4.0};
  GrabFrame(rig.form);
  const ViewsSnapshot before(rig.form);
  const int reads = rig.daq.reads;
  const int32_t held = st.RequestNumber;
  c.fault(camera);
  camera.calls.clear();
  const int64_t t0 = Now();
  GrabFrame(rig.form);
  EXPECT_EQ(Now(), t0);  // dropped at once, not retried
  const int32_t dropped = st.RequestNumber;
  Calls expected{Unlock(held), Request(), Wait(), BufferData(dropped)};
  if (c.channelDataCalls > 0) expected.push_back(ChannelData(dropped));
  EXPECT_EQ(camera.calls, expected);
  EXPECT_EQ(ViewsSnapshot(rig.form), before);
  EXPECT_EQ(rig.daq.reads, reads);
  EXPECT_NE(dropped, -1);
  EXPECT_EQ(camera.lockedRequests(), 1);

  camera.SetFrameSize(1280, 1024);
  camera.calls.clear();
  GrabFrame(rig.form);
  ASSERT_FALSE(camera.calls.empty());
  EXPECT_EQ(camera.calls.front(), Unlock(dropped));
  EXPECT_NE(ViewsSnapshot(rig.form), before);
}

INSTANTIATE_TEST_SUITE_P(
    Steps, DroppedFrameTest,
    ::testing::Values(DropCase{"BufferDataFails", [](SimulatedCamera& c) { c.script.failBufferData = 1; }, 0},
                      DropCase{"ChannelDataFails", [](SimulatedCamera& c) { c.script.failChannelData = 1; }, 1},
                      DropCase{"WiderPicture", [](SimulatedCamera& c) { c.SetFrameSize(1281, 1024); }, 0},
                      DropCase{"ShorterPicture", [](SimulatedCamera& c) { c.SetFrameSize(1280, 1000); }, 0},
                      DropCase{"SameBytesOtherShape", [](SimulatedCamera& c) { c.SetFrameSize(2560, 512); }, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(GrabFrameTest, ImageCopyIsToldTheFrameBufferSize) {
  GrabFrame(rig.form);
  EXPECT_EQ(Count(camera.calls, ImageData(st.RequestNumber)), 1u);  // destination size 1310720
  EXPECT_EQ(st.FrameBytes.size(), 1310721u);
}

struct ShotFaultCase {
  const char* name;
  friend std::ostream& operator<<(std::ostream& os, const ShotFaultCase& c) { return os << c.name; }
  void (*fault)(SimulatedCamera&);
};
class ShotRetryTest : public GrabFrameTest, public ::testing::WithParamInterface<ShotFaultCase> {};

TEST_P(ShotRetryTest, ShotRetriesPastWhatALiveGrabWouldDrop) {
  GrabFrame(rig.form);
  const ViewsSnapshot before(rig.form);
  GetParam().fault(camera);
  GrabFrame(rig.form, GrabPurpose::Shot);
  EXPECT_NE(ViewsSnapshot(rig.form), before);
  EXPECT_EQ(camera.lockedRequests(), 1);
  EXPECT_EQ(camera.queuedRequests(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, ShotRetryTest,
    ::testing::Values(
        ShotFaultCase{"BufferDataFailsTwice", [](SimulatedCamera& c) { c.script.failBufferData = 2; }},
        ShotFaultCase{"ChannelDataFailsTwice", [](SimulatedCamera& c) { c.script.failChannelData = 2; }},
        ShotFaultCase{"NearlyASecondWithoutPicture", [](SimulatedCamera& c) { c.script.waitsBeforePicture = 4; }},
        ShotFaultCase{"UnlockFailsForHalfASecond", [](SimulatedCamera& c) { c.script.failUnlock = 100; }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(GrabFrameTest, ShotDiscardsThePictureALiveGrabAskedForBeforeIt) {
  camera.script.noPicture = true;
  GrabFrame(rig.form);  // gives up, leaving its request queued
  ASSERT_EQ(camera.queuedRequests(), 1);
  camera.script.noPicture = false;
  rig.clock.Advance(kCameraRestMs);
  camera.calls.clear();
  GrabFrame(rig.form, GrabPurpose::Shot);
  // Requests are numbered in order: the live grab's, then the shot's own.
  const int32_t own = st.RequestNumber;
  const int32_t earlier = own - 1;
  EXPECT_EQ(camera.calls, (Calls{Request(), Wait(), Unlock(earlier), Wait(), BufferData(own), ChannelData(own),
                                 "mvDispSetImage(1,1280,1024,8,0)", "mvDispUpdate(1)", ImageData(own)}));
  EXPECT_EQ(camera.lockedRequests(), 1);
  EXPECT_EQ(camera.queuedRequests(), 0);
  EXPECT_EQ(rig.form.QueuedRequests, 0);
}

TEST_F(GrabFrameTest, ShotAfterADroppedLiveFrameTakesANewPicture) {
  GrabFrame(rig.form);
  camera.script.failBufferData = 1;
  GrabFrame(rig.form);  // dropped: FrameBytes still holds the previous picture
  const std::vector<uint8_t> previous = st.FrameBytes;
  const int32_t held = st.RequestNumber;
  camera.calls.clear();
  GrabFrame(rig.form, GrabPurpose::Shot);
  EXPECT_EQ(camera.calls.front(), Unlock(held));
  EXPECT_NE(st.FrameBytes, previous);
}

}  // namespace
}  // namespace ostrelo::testing
