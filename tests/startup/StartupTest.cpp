// Start-up, the camera failures of start-up, and shut-down.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <initializer_list>
#include <ostream>
#include <string>
#include <vector>

#include "TestPlatform.h"
#include "camera/GrabFrame.h"
#include "camera/GrabRig.h"

namespace ostrelo::testing {
namespace {

using Calls = std::vector<std::string>;

// ---- The shared record after start-up ----

struct SizeCase {
  const char* name;
  int32_t width, height;
  int32_t frameByteCount;
  const char* infoCam;
  friend std::ostream& operator<<(std::ostream& os, const SizeCase& c) { return os << c.name; }
};
class StartupStateTest : public ::testing::TestWithParam<SizeCase> {};

TEST_P(StartupStateTest, EveryFieldHasItsStartupValue) {
  const SizeCase& c = GetParam();
  GrabRig rig(c.width, c.height);
  ASSERT_TRUE(rig.form.Load());
  const AcquisitionState& st = rig.form.st;

  // Camera connection: the simulated device and driver, the first picture's request
  // still locked, the gain property found.
  EXPECT_EQ(st.DeviceHandle, SimulatedCamera::kDeviceHandle);
  EXPECT_EQ(st.DriverHandle, SimulatedCamera::kDriverHandle);
  EXPECT_EQ(st.DisplayHandle, 1);
  EXPECT_EQ(st.RequestNumber, 1);
  EXPECT_EQ(rig.camera.lockedRequests(), 1);
  EXPECT_EQ(st.GainHandle, SimulatedCamera::kGainHandle);

  // Picture and frame buffer.
  EXPECT_EQ(st.ImageWidth, c.width);
  EXPECT_EQ(st.ImageHeight, c.height);
  EXPECT_EQ(st.FrameByteCount, c.frameByteCount);
  ASSERT_EQ(st.FrameBytes.size(), static_cast<size_t>(c.frameByteCount) + 1);
  EXPECT_EQ(std::count(st.FrameBytes.begin(), st.FrameBytes.end(), 0), static_cast<long>(st.FrameBytes.size()));
  for (int i = 0; i < 256; ++i) {
    const PaletteEntry& e = st.GreyPalette[i];
    ASSERT_EQ((std::vector<int>{e.blue, e.green, e.red, e.reserved}), (std::vector<int>{i, i, i, 0})) << i;
  }

  // Surfaces, measured in pixels: PicCam and Overlay 456 x 342, PicZoom 792 x 594 at x 476.
  EXPECT_EQ(st.CamDC, kCamSurface);
  EXPECT_EQ(st.OverlayDC, kOverlaySurface);
  EXPECT_EQ(st.ZoomDC, kZoomSurface);
  EXPECT_EQ((std::vector<int32_t>{st.CamViewWidth, st.CamViewHeight, st.OverlayWidth, st.OverlayHeight}),
            (std::vector<int32_t>{456, 342, 456, 342}));
  EXPECT_EQ((std::vector<int32_t>{st.ZoomWidth, st.ZoomHeight, st.ZoomBoxWidth, st.ZoomBoxHeight, st.ZoomBoxLeft}),
            (std::vector<int32_t>{792, 594, 792, 594, 476}));

  // The selection is the whole view; its other forms the whole overlay and picture.
  EXPECT_EQ((std::vector<int32_t>{st.SelLeft, st.SelTop, st.SelWidth, st.SelHeight}),
            (std::vector<int32_t>{0, 0, 456, 342}));
  EXPECT_EQ((std::vector<int32_t>{st.OverlaySelLeft, st.OverlaySelTop, st.OverlaySelWidth, st.OverlaySelHeight}),
            (std::vector<int32_t>{0, 0, 456, 342}));
  EXPECT_EQ((std::vector<int32_t>{st.AoiLeft, st.AoiTop, st.AoiWidth, st.AoiHeight}),
            (std::vector<int32_t>{0, 0, c.width, c.height}));
  EXPECT_EQ(st.ImageScaleX, c.width / 456.0);
  EXPECT_EQ(st.ImageScaleY, c.height / 342.0);
  EXPECT_EQ(st.OverlayScaleX, 1.0);
  EXPECT_EQ(st.OverlayScaleY, 1.0);
  EXPECT_EQ(rig.form.ui.InfoCam.caption, c.infoCam);

  // Checks and histogram: all off, thresholds not read yet.
  EXPECT_FALSE(st.HistogramOn);
  EXPECT_FALSE(st.NoSignalCheckOn);
  EXPECT_FALSE(st.SaturationCheckOn);
  EXPECT_EQ(st.NoSignalThreshold, 0);
  EXPECT_EQ(st.SaturationThreshold, 0);
  EXPECT_EQ(st.HistogramBins, (std::array<double, 256>{}));
  EXPECT_EQ(st.HistogramMax, 0.0);
  EXPECT_EQ(st.CheckColumn, 0);
  EXPECT_EQ(st.CheckRow, 0);

  // Shots.
  EXPECT_EQ(st.WaitMinutes, 0);
  EXPECT_EQ(st.ElapsedSeconds, 0);
  EXPECT_EQ(st.LastShotTime, 0.0);
  EXPECT_EQ(st.WaitTime, 0.0);
  EXPECT_EQ(st.WaitLength, 0);
  EXPECT_EQ(st.PictureFileName, "");
  EXPECT_EQ(st.RecordFileName, "");
  EXPECT_FALSE(rig.form.OneShot);
  EXPECT_FALSE(rig.form.MultiShot);

  // Analog inputs.
  EXPECT_TRUE(st.DaqAcquisitionOn);
  EXPECT_EQ(st.DaqDevicePrefix, "Dev1/");
  EXPECT_EQ(st.AiTask, DaqTaskHandle{0x5a});  // the card's task
  EXPECT_EQ(st.AiChannelCount, 0u);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(st.ChannelTable[i].Name, "Canal " + std::to_string(i));
    EXPECT_EQ(st.ChannelTable[i].Value, 0.0);
    EXPECT_EQ(st.ChannelTable[i].Unit, "Volts");
  }

  EXPECT_EQ(rig.form.phase(), Phase::Running);
  EXPECT_TRUE(rig.dialogs.messages.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Pictures, StartupStateTest,
    ::testing::Values(SizeCase{"Camera1280x1024", 1280, 1024, 1310720, "(0000,0000) - (W:1280 - H:1024)"},
                      SizeCase{"FiveDigitWidth", 10240, 1024, 10485760, "(0000,0000) - (W:10240 - H:1024)"},
                      SizeCase{"SmallPicture", 64, 48, 3072, "(0000,0000) - (W:0064 - H:0048)"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Startup, MakesItsCallsInOrderAndStartsTheLiveViewLast) {
  GrabRig rig;
  rig.camera.recordCalls = true;
  const uint64_t visuGeneration = rig.form.ui.VisuTimer.generation();
  ASSERT_TRUE(rig.form.Load());
  EXPECT_EQ(rig.camera.calls,
            (Calls{"mvDispInit(101)", "DMR_Init", "DMR_GetDevice(1,*,0,42)", "DMR_OpenDevice(3)",
                   "DMR_ImageRequestSingle(7,0)", "DMR_ImageRequestWaitFor(7,500,0)",
                   "DMR_GetImageRequestBufferData(7,1)", "DMR_FindList(7,Base,0,0)", "OBJ_GetHandle(20,Gain_dB)"}));
  EXPECT_TRUE(rig.form.ui.VisuTimer.enabled());
  EXPECT_EQ(rig.form.ui.VisuTimer.interval(), 200);
  EXPECT_EQ(rig.form.ui.VisuTimer.generation(), visuGeneration + 1);  // started once
  EXPECT_FALSE(rig.form.ui.Timer1.enabled());
}

TEST(Startup, GainBoxShowsZeroWhateverTheCamerasGain) {
  GrabRig rig;
  rig.camera.SetF(SimulatedCamera::kGainHandle, 7.5, 0);
  ASSERT_TRUE(rig.form.Load());
  EXPECT_EQ(rig.form.ui.Text_Gain.caption, "0");
  EXPECT_EQ(rig.camera.gain(), 7.5);  // not changed by start-up
}

TEST(Startup, CameraWithoutGainPropertyLeavesTheHandleAtMinusOne) {
  GrabRig rig;
  rig.camera.script.gainProperty = false;
  ASSERT_TRUE(rig.form.Load());
  EXPECT_EQ(rig.form.st.GainHandle, -1);
  EXPECT_TRUE(rig.dialogs.messages.empty());
}

TEST(Startup, PictureWithinTheNinthWaitCounts) {
  GrabRig rig;
  rig.camera.script.waitsBeforePicture = 8;  // arrives on the ninth wait
  ASSERT_TRUE(rig.form.Load());
  EXPECT_EQ(rig.clock.SteadyMs(), 8 * 500);
  EXPECT_EQ(rig.form.st.ImageWidth, 1280);
}

// ---- Camera failures ----

struct FailureCase {
  const char* name;
  void (*fault)(SimulatedCamera&);
  Calls opening;  // the calls before the message
  int64_t waitedMs;
  Calls closing;  // the calls after it
  friend std::ostream& operator<<(std::ostream& os, const FailureCase& c) { return os << c.name; }
};
class CameraFailureTest : public ::testing::TestWithParam<FailureCase> {};

Calls Repeat(const std::string& call, int n) { return Calls(static_cast<size_t>(n), call); }
Calls Join(std::initializer_list<Calls> parts) {
  Calls all;
  for (const Calls& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}
const Calls kOpen = {"mvDispInit(101)", "DMR_Init", "DMR_GetDevice(1,*,0,42)", "DMR_OpenDevice(3)",
                     "DMR_ImageRequestSingle(7,0)"};
const std::string kWait500 = "DMR_ImageRequestWaitFor(7,500,0)";

TEST_P(CameraFailureTest, ReportsNoCameraReleasesEverythingAndEnds) {
  const FailureCase& c = GetParam();
  GrabRig rig;
  c.fault(rig.camera);
  rig.camera.recordCalls = true;
  rig.dialogs.whileModal = [&] { rig.camera.calls.push_back("MessageBox"); };
  EXPECT_FALSE(rig.form.Load());

  EXPECT_EQ(rig.camera.calls, Join({c.opening, {"MessageBox"}, c.closing}));
  ASSERT_EQ(rig.dialogs.messages.size(), 1u);
  ExpectNoCameraMessage(rig.dialogs.messages[0].text);
  EXPECT_EQ(rig.dialogs.messages[0].title, "Ostrelo");
  EXPECT_EQ(rig.clock.SteadyMs(), c.waitedMs);
  EXPECT_EQ(rig.form.phase(), Phase::Ended);
  EXPECT_EQ(rig.form.exitCode(), 3) << "the status the systemd unit does not restart on";
  EXPECT_EQ(rig.form.st.RequestNumber, -1);
  EXPECT_EQ(rig.camera.lockedRequests(), 0);
  // The window is never shown and its timers never started.
  EXPECT_FALSE(rig.form.ui.VisuTimer.enabled());
  EXPECT_FALSE(rig.form.ui.Timer1.enabled());
  EXPECT_EQ(rig.form.ui.VisuTimer.generation(), 0u);

  // Nothing runs afterwards.
  rig.camera.calls.clear();
  rig.form.Dispatch([&] { rig.form.VisuTimer_Timer(); });
  rig.form.Dispatch([&] { rig.form.Unload(); });
  EXPECT_TRUE(rig.camera.calls.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Faults, CameraFailureTest,
    ::testing::Values(
        // The device and driver handles were never filled: closing is told their zero start values.
        FailureCase{"InitFails",
                    [](SimulatedCamera& c) { c.script.failInit = true; },
                    {"mvDispInit(101)", "DMR_Init"},
                    0,
                    {"mvDispDeinit(1)", "DMR_CloseDevice(0,0)", "DMR_Close"}},
        FailureCase{"NoPicture",
                    [](SimulatedCamera& c) { c.script.noPicture = true; },
                    Join({kOpen, Repeat(kWait500, 9)}),
                    9 * 500,
                    {"mvDispDeinit(1)", "DMR_CloseDevice(7,3)", "DMR_Close"}},
        // Only the first nine waits count, even though the tenth would bring the picture.
        FailureCase{"PictureOnTheTenthWait",
                    [](SimulatedCamera& c) { c.script.waitsBeforePicture = 9; },
                    Join({kOpen, Repeat(kWait500, 9)}),
                    9 * 500,
                    {"mvDispDeinit(1)", "DMR_CloseDevice(7,3)", "DMR_Close"}},
        // The picture came but its description cannot be read: its request is given back.
        FailureCase{"DescriptionNeverReadable",
                    [](SimulatedCamera& c) { c.script.failBufferData = 1000; },
                    Join({kOpen, {kWait500, "DMR_GetImageRequestBufferData(7,1)"}, Repeat(kWait500, 8)}),
                    8 * 500,
                    {"mvDispDeinit(1)", "DMR_ImageRequestUnlock(7,1)", "DMR_CloseDevice(7,3)", "DMR_Close"}},
        // A picture of no size cannot be framed.
        FailureCase{"EmptyPicture",
                    [](SimulatedCamera& c) { c.SetFrameSize(0, 0); },
                    Join({kOpen, {kWait500, "DMR_GetImageRequestBufferData(7,1)"}, Repeat(kWait500, 8)}),
                    8 * 500,
                    {"mvDispDeinit(1)", "DMR_ImageRequestUnlock(7,1)", "DMR_CloseDevice(7,3)", "DMR_Close"}}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- Shut-down ----

class ShutdownTest : public ::testing::Test {
 protected:
  void SetUp() override {
    rig.Start();
    rig.form.st.DaqAcquisitionOn = false;
    loop.RunFor(1000);  // the live view runs
  }
  GrabRig rig;
  TimerLoop loop{rig.form, rig.clock};
};

// The camera is closed, then the card's task is cleared.
TEST_F(ShutdownTest, StopsTheTimersFirstThenClosesTheCameraInOrder) {
  rig.form.ui.Timer1.Start();  // a series is running
  rig.form.st.LastShotTime = 40627.5;
  bool visuOn = true, shotOn = true;
  double lastShot = -1;
  rig.display.onDeinit = [&] {
    visuOn = rig.form.ui.VisuTimer.enabled();
    shotOn = rig.form.ui.Timer1.enabled();
    lastShot = rig.form.st.LastShotTime;
  };
  const int32_t held = rig.form.st.RequestNumber;
  const int32_t display = rig.form.st.DisplayHandle;
  rig.camera.calls.clear();
  rig.form.Dispatch([&] { rig.form.Unload(); });

  EXPECT_FALSE(visuOn);
  EXPECT_FALSE(shotOn);
  EXPECT_EQ(lastShot, 0.0);
  EXPECT_EQ(rig.camera.calls, (Calls{"mvDispDeinit(1)", "DMR_ImageRequestUnlock(7," + std::to_string(held) + ")",
                                     "DMR_CloseDevice(7,3)", "DMR_Close", "DAQmxClearTask"}));
  EXPECT_EQ(rig.form.st.RequestNumber, -1);
  EXPECT_EQ(rig.form.st.DisplayHandle, display);  // released through a copy
  EXPECT_EQ(rig.camera.lockedRequests(), 0);
  EXPECT_EQ(rig.form.phase(), Phase::Ended);
  EXPECT_EQ(rig.form.exitCode(), 0);
}

TEST_F(ShutdownTest, NoTickRunsAfterTheWindowIsClosed) {
  rig.form.ui.Timer1.Start();
  rig.form.Dispatch([&] { rig.form.Unload(); });
  const int64_t visuTicks = loop.visuTicks, shotTicks = loop.shotTicks;
  rig.camera.calls.clear();
  loop.RunFor(5000);
  // Even a tick already queued by the window system is ignored.
  rig.form.Dispatch([&] { rig.form.VisuTimer_Timer(); });
  rig.form.Dispatch([&] { rig.form.Timer1_Timer(); });
  EXPECT_EQ(loop.visuTicks, visuTicks);
  EXPECT_EQ(loop.shotTicks, shotTicks);
  EXPECT_TRUE(rig.camera.calls.empty());
}

TEST_F(ShutdownTest, TerminateAfterUnloadDoesNothingMore) {
  rig.form.Dispatch([&] { rig.form.Unload(); });
  rig.camera.calls.clear();
  rig.form.Dispatch([&] { rig.form.Unload(); });
  rig.form.Unload();
  EXPECT_TRUE(rig.camera.calls.empty());
  EXPECT_EQ(rig.form.exitCode(), 0);
}

TEST_F(ShutdownTest, ClosingAfterALiveGrabGaveUpStillReleasesTheDisplay) {
  rig.camera.script.noPicture = true;
  GrabFrame(rig.form);  // gives up with no request held
  ASSERT_EQ(rig.form.st.RequestNumber, -1);
  rig.camera.calls.clear();
  rig.form.Dispatch([&] { rig.form.Unload(); });
  EXPECT_EQ(rig.camera.calls, (Calls{"mvDispDeinit(1)", "DMR_CloseDevice(7,3)", "DMR_Close", "DAQmxClearTask"}));
}

}  // namespace
}  // namespace ostrelo::testing
