// The channel readings a grab makes while acquisition is on.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "GrabRig.h"
#include "camera/GrabFrame.h"
#include "daq/GestionES_NI.h"
#include "shell/ProgramError.h"

namespace ostrelo::testing {
namespace {

class GrabChannelsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    rig.Start();
    ASSERT_TRUE(rig.form.st.DaqAcquisitionOn);
  }
  std::vector<std::string> Captions() const {
    std::vector<std::string> out;
    for (const Control& c : rig.form.ui.CanalLabel) out.push_back(c.caption);
    return out;
  }
  std::vector<double> Values() const {
    std::vector<double> out;
    for (const ChannelRecord& r : rig.form.st.ChannelTable) out.push_back(r.Value);
    return out;
  }

  GrabRig rig;
};

// The stored value is minus the mean voltage; the caption shows it with the pattern
// "-00.000;00.000", whose negative section has no sign.
TEST_F(GrabChannelsTest, StoresEachChannelAndWritesItsCaption) {
  rig.daq.volts = {-2.25, 0.5, 0.0, -123.375};
  GrabFrame(rig.form);
  EXPECT_EQ(Values(), (std::vector<double>{2.25, -0.5, 0.0, 123.375}));
  EXPECT_EQ(Captions(), (std::vector<std::string>{"-02.250", "00.500", "-00.000", "-123.375"}));
}

TEST_F(GrabChannelsTest, CaptionsUseTheLocalesDecimalSeparator) {
  rig.form.dev.locale.decimalSeparator = ',';
  rig.daq.volts = {-2.25, 0.5, 1.0, -9.87654};
  GrabFrame(rig.form);
  EXPECT_EQ(Captions(), (std::vector<std::string>{"-02,250", "00,500", "01,000", "-09,877"}));
}

TEST_F(GrabChannelsTest, ChannelsAreReadInOrderRightAfterThePictureIsCopied) {
  GrabFrame(rig.form);
  const auto& calls = rig.camera.calls;
  ASSERT_GE(calls.size(), 4u);
  EXPECT_EQ(calls[calls.size() - 5].rfind("DMR_GetImageRequestBufferImageData", 0), 0u);
  for (size_t i = calls.size() - 4; i < calls.size(); ++i) EXPECT_EQ(calls[i], "DAQmxReadAnalogF64");
  EXPECT_EQ(rig.daq.reads, 4);
}

TEST_F(GrabChannelsTest, WithAcquisitionOffNothingIsReadAndCaptionsKeepTheirText) {
  rig.daq.volts = {1, 2, 3, 4};
  GrabFrame(rig.form);
  const auto captions = Captions();
  const auto values = Values();
  rig.form.st.DaqAcquisitionOn = false;
  rig.daq.volts = {5, 6, 7, 8};
  const uint64_t view = rig.form.ui.CamSurface.revision;
  GrabFrame(rig.form);
  EXPECT_EQ(rig.daq.reads, 4);
  EXPECT_EQ(Captions(), captions);
  EXPECT_EQ(Values(), values);
  EXPECT_GT(rig.form.ui.CamSurface.revision, view);  // the picture itself was taken
}

// A read error ends the grab where it happens: the channels read before it keep their
// new values, the others their old ones, and neither the overlay nor the zoom is done.
// A task that has yet to read: its failure is the program's error, as ever.
TEST_F(GrabChannelsTest, ReadErrorOfANewTaskEndsTheGrabWithNoChannelStored) {
  rig.daq.volts = {-1, -1, -1, -1};
  GrabFrame(rig.form);
  NoteCardTaskNew(rig.form);
  const auto oldCaptions = Captions();
  const MainWindowModel& ui = rig.form.ui;
  const uint64_t overlay = ui.OverlaySurface.revision, zoom = ui.ZoomSurface.revision, cam = ui.CamSurface.revision;
  const std::vector<uint8_t> frame = rig.form.st.FrameBytes;
  rig.camera.SetPainter(
      [](uint8_t* p, int32_t w, int32_t h, uint64_t) { std::fill(p, p + static_cast<size_t>(w) * h, uint8_t{99}); });
  rig.daq.volts = {-2, -3, -4, -5};
  rig.daq.failReadNumber = rig.daq.reads + 3;  // channel 2
  try {
    GrabFrame(rig.form);
    FAIL() << "the read error must reach the caller";
  } catch (const ProgramError& e) {
    EXPECT_EQ(e.number(), ScriptedDaq::kReadError);
    EXPECT_EQ(e.description(), ScriptedDaq::kReadErrorText);
  }
  EXPECT_EQ(Values(), (std::vector<double>{1, 1, 1, 1})) << "four voltages of one moment, or none";
  EXPECT_EQ(Captions(), oldCaptions);
  EXPECT_EQ(rig.daq.reads, 7);  // channel 3 was not read
  // The picture was shown and copied before the channels...
  EXPECT_GT(ui.CamSurface.revision, cam);
  EXPECT_NE(rig.form.st.FrameBytes, frame);
  EXPECT_EQ(rig.form.st.FrameBytes[0], 99);
  // ...but the overlay and the zoom were not refreshed.
  EXPECT_EQ(ui.OverlaySurface.revision, overlay);
  EXPECT_EQ(ui.ZoomSurface.revision, zoom);
}

// The overlay and the zoom are drawn only when read. A grab that ends at the channels
// leaves them as they were, though the frame buffer already holds the new picture.
TEST_F(GrabChannelsTest, AfterAReadErrorTheUnreadOverlayAndZoomKeepThePreviousPicture) {
  rig.form.st.SaturationCheckOn = true;
  rig.form.st.SaturationThreshold = 200;
  rig.camera.SetPainter([](uint8_t* p, int32_t w, int32_t h, uint64_t) {
    for (size_t i = 0; i < static_cast<size_t>(w) * h; ++i) p[i] = i % w < 640 ? 250 : 50;
  });
  GrabFrame(rig.form);
  NoteCardTaskNew(rig.form);
  rig.camera.SetPainter(
      [](uint8_t* p, int32_t w, int32_t h, uint64_t) { std::fill(p, p + static_cast<size_t>(w) * h, uint8_t{99}); });
  rig.daq.failReadNumber = rig.daq.reads + 1;
  EXPECT_THROW(GrabFrame(rig.form), ProgramError);
  const MainWindowModel& ui = rig.form.ui;
  EXPECT_EQ(ui.CamSurface.At(5, 5), GreyPixel(99));
  for (const Surface* s : {&ui.OverlaySurface, &ui.ZoomSurface}) {
    EXPECT_EQ(std::count(s->pixels.begin(), s->pixels.end(), GreyPixel(99)), 0);
    EXPECT_GT(std::count(s->pixels.begin(), s->pixels.end(), GreyPixel(50)), 0);
    EXPECT_GT(std::count(s->pixels.begin(), s->pixels.end(), PixelFromVb(kVbRed)), 0);
  }
}

TEST_F(GrabChannelsTest, ReadErrorInALiveTickEndsTheProgramWithItsNumberAndText) {
  TimerLoop loop(rig.form, rig.clock);
  rig.daq.failReadNumber = 1;
  loop.RunFor(1000);
  EXPECT_EQ(loop.visuTicks, 1);
  ASSERT_EQ(rig.dialogs.messages.size(), 1u);
  EXPECT_EQ(rig.dialogs.messages[0].text, "Run-time error '-200279':\n\nSamples are no longer available");
  EXPECT_EQ(rig.dialogs.messages[0].title, "Ostrelo");
  EXPECT_EQ(rig.form.phase(), Phase::Ended);
  EXPECT_NE(rig.form.exitCode(), 0);
  EXPECT_FALSE(rig.form.ui.VisuTimer.enabled());
}

}  // namespace
}  // namespace ostrelo::testing
