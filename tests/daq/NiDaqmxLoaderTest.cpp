// The NI-DAQmx loader against a stand-in driver library: the real run-time loading path
// (dlopen, LoadLibraryW), the arguments as the driver receives them, and the no-card path
// when the library or one of its functions is missing.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "camera/GrabFrame.h"
#include "daq/GestionES_NI.h"
#include "daq/nidaqmx/NiDaqmxDriver.h"
#include "fake/FakeNiDaqmx.h"
#include "shell/ProgramError.h"
#include "shell/SharedLibrary.h"
#include "support/TestRig.h"
#ifdef __linux__
#include <unistd.h>
#endif

namespace ostrelo {
namespace {

// Holds the stand-in library open and gives the test its scripted state.
class FakeLibrary {
 public:
  FakeLibrary() {
    FakeDaqmxStateFn fn = nullptr;
    library_.Resolve("FakeDaqmx_State", fn);
    if (fn != nullptr) state = fn();
    std::memset(static_cast<void*>(state), 0, sizeof *state);
    ok = fn != nullptr;
  }
  bool ok = false;
  FakeDaqmxState* state = &unused_;  // the library's own once it is open

 private:
  FakeDaqmxState unused_{};
  SharedLibrary library_{OSTRELO_FAKE_NIDAQMX};
};

class NiDaqmxLoader : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(lib.ok) << OSTRELO_FAKE_NIDAQMX;
    ASSERT_TRUE(driver->loaded()) << driver->loadError();
  }
  FakeLibrary lib;
  std::unique_ptr<NiDaqmxDriver> driver = LoadNiDaqmx(OSTRELO_FAKE_NIDAQMX);
  FakeDaqmxState& s = *lib.state;
};

TEST_F(NiDaqmxLoader, TaskHandleIsAFullPointer) {
  s.handleToGive = static_cast<uintptr_t>(0x7ffe12345678ull);
  s.status[kFakeCreateTask] = 0;
  DaqTaskHandle task = 0;
  EXPECT_EQ(driver->CreateTask("AI-TASK", &task), 0);
  EXPECT_EQ(task, s.handleToGive);
  EXPECT_STREQ(s.taskName, "AI-TASK");
  s.status[kFakeClearTask] = -200088;
  EXPECT_EQ(driver->ClearTask(task), -200088);
  EXPECT_EQ(s.handle[kFakeClearTask], reinterpret_cast<void*>(s.handleToGive));
}

TEST_F(NiDaqmxLoader, SampleCountTravelsAsSixtyFourBits) {
  const uint64_t wide = 0x100000320ull;  // 800 plus a bit above the low 32
  s.status[kFakeTiming] = 200010;
  EXPECT_EQ(driver->CfgSampClkTiming(0x55, "OnboardClock", 10000.0, DAQmx::Val_Rising, DAQmx::Val_FiniteSamps, wide),
            200010);
  EXPECT_EQ(s.sampsPerChan, wide);
  EXPECT_EQ(s.rate, 10000.0);
  EXPECT_EQ(s.activeEdge, 10280);
  EXPECT_EQ(s.sampleMode, 10178);
  EXPECT_STREQ(s.source, "OnboardClock");
}

// Start-up and one reading through the loaded library: every argument as the driver sees it.
TEST_F(NiDaqmxLoader, DaqUnitCallsTheDriverWithTheDocumentedArguments) {
  testing::Rig rig;
  Form1 form(Devices{rig.camera, nullptr, *driver, rig.clock, rig.dialogs});
  s.handleToGive = 0xABC0;
  s.channelCount = 4;
  s.samplesRead = 800;
  s.fillBase = 0.0;
  ASSERT_TRUE(form.Load());
  EXPECT_TRUE(rig.dialogs.messages.empty());
  EXPECT_EQ(s.calls[kFakeCreateChan], 4);
  EXPECT_EQ(s.handle[kFakeCreateChan], reinterpret_cast<void*>(0xABC0));
  EXPECT_STREQ(s.physicalChannel, "Dev1/ai3");
  EXPECT_STREQ(s.nameToAssign, "");
  EXPECT_STREQ(s.customScaleName, "");
  EXPECT_EQ(s.terminalConfig, 10083);
  EXPECT_EQ(s.minVal, -10.0);
  EXPECT_EQ(s.maxVal, 10.0);
  EXPECT_EQ(s.units, 10348);

  EXPECT_EQ(ReadDaqInputs(form, 3), -(2400 + 399.5));
  EXPECT_EQ(s.sampsPerChan, 800u);
  EXPECT_EQ(s.numSampsPerChan, 800);
  EXPECT_EQ(s.timeout, 1.0);
  EXPECT_EQ(s.fillMode, 0u);
  EXPECT_EQ(s.arraySizeInSamps, 3200u);
  EXPECT_TRUE(s.reservedWasNull);
  EXPECT_EQ(s.handle[kFakeRead], reinterpret_cast<void*>(0xABC0));

  form.Unload();
  EXPECT_EQ(s.calls[kFakeClearTask], 1);
}

TEST_F(NiDaqmxLoader, ReadErrorCarriesTheDriversTextCutAtItsNul) {
  testing::Rig rig;
  Form1 form(Devices{rig.camera, nullptr, *driver, rig.clock, rig.dialogs});
  s.channelCount = 4;
  s.status[kFakeRead] = -200279;
  const char text[] = "Attempted to read samples that are no longer available.\0old";
  std::memcpy(s.errorText, text, sizeof text);
  s.errorTextLength = sizeof text - 1;
  try {
    ReadDaqInputs(form, 0);
    FAIL() << "no error raised";
  } catch (const ProgramError& e) {
    EXPECT_EQ(e.number(), -200279);
    EXPECT_EQ(e.description(), "Attempted to read samples that are no longer available.");
  }
  EXPECT_EQ(s.errorCode, -200279);
  EXPECT_EQ(s.bufferSize, s.errorTextLength + 1);
}

// A card that drops out after 8 good reads with NI-DAQmx's "device cannot be accessed"
// and answers again at the third reset: the task is cleared and the device reset no more
// than every kCardRetryMs, then the task is made anew and read; nothing is shown but the notice.
TEST_F(NiDaqmxLoader, ACardThatDropsOutIsResetAndMadeAnew) {
  testing::Rig rig;
  Form1 form(Devices{rig.camera, nullptr, *driver, rig.clock, rig.dialogs});
  s.handleToGive = 0xABC0;
  s.channelCount = 4;
  s.samplesRead = 800;
  s.lostAfterReads = 8;
  s.lostStatus = -201003;
  s.lostForResets = 2;
  ASSERT_TRUE(form.Load());
  testing::TimerLoop loop(form, rig.clock);
  ASSERT_TRUE(loop.RunUntil([&] { return !form.ui.CardNotice.empty(); }, 5000));
  const int64_t lostAt = rig.clock.SteadyMs();
  ASSERT_TRUE(loop.RunUntil([&] { return form.ui.CardNotice.empty(); }, 10000));
  EXPECT_GE(rig.clock.SteadyMs() - lostAt, 2 * kCardRetryMs) << "three tries, kCardRetryMs apart";
  loop.RunFor(200);
  EXPECT_TRUE(rig.dialogs.messages.empty());
  EXPECT_EQ(form.phase(), Phase::Running);
  EXPECT_STREQ(s.deviceName, "Dev1");
  // A reset that outlasts a second is left running, and its answer taken at the next try.
  s.resetMs = 1500;
  s.status[kFakeResetDevice] = 0;
  EXPECT_EQ(driver->ResetDevice("Dev1"), NiDaqmxDriver::kResetRunning);
  EXPECT_EQ(driver->ResetDevice("Dev1"), 0);
  EXPECT_EQ(s.calls[kFakeResetDevice], 4);
  // Task, channels, timing, count, read, clear, reset.
  std::string calls;
  for (uint32_t i = 0; i < s.sequenceLength; ++i) calls += "TCASNR?X"[s.sequence[i]];
  const std::string read = "SNR", grab = read + read + read + read;
  const std::string expected = "TAAAA" + grab + grab + read + "CXCXCXTAAAA" + grab + read;
  EXPECT_EQ(calls.substr(0, expected.size()), expected) << calls;
}

// A read that hangs past its time-out: the window goes on while it hangs, the card is
// away and asked nothing, the hung read's voltages are never taken, then the card is made anew.
// Beside a quick, slow or silent camera, a grab holds the window no more than kGrabHoldMs.
struct CardBesideCamera {
  const char* name;
  int32_t frameMs;  // 0: pictures at once; -1: none
  bool hangs, shotComplete;
  bool cameraAway = false;  // and the card read just before the grab
  int32_t realReadMs = 0;   // each channel's read lasts this long in real time, none on the clock
};
class HangingRead : public NiDaqmxLoader, public ::testing::WithParamInterface<CardBesideCamera> {};

TEST_P(HangingRead, HoldsItsOwnThreadNotTheWindow) {
  const CardBesideCamera& c = GetParam();
  testing::Rig rig;
  Form1 form(Devices{rig.camera, nullptr, *driver, rig.clock, rig.dialogs});
  std::vector<std::string> log;
  form.logSink = [&](const std::string& line) { log.push_back(line); };
  s.channelCount = 4, s.samplesRead = 800;
  ASSERT_TRUE(form.Load() && ReadDaqChannels(form));
  SimulatedCamera::Script& camera = rig.camera.script;
  camera.instant = c.frameMs == 0, camera.frameIntervalMs = std::max(c.frameMs, 1), camera.noPicture = c.frameMs < 0;
  rig.clock.Advance(900 - rig.clock.SteadyMs() % 900);
  form.Outage.active = c.cameraAway, form.CardAway.triedMs = rig.clock.SteadyMs();
  s.fillBase = 1000.0, s.hangMs = c.hangs ? 60000 : c.realReadMs, s.hangEvery = c.hangs || c.realReadMs > 0;
  if (c.hangs) rig.clock.LimitRealWaits(200);  // the read really hangs: no need to wait long for it
  const int64_t start = rig.clock.SteadyMs();
  EXPECT_EQ(GrabFrame(form, GrabPurpose::Shot), c.shotComplete);
  EXPECT_LE(rig.clock.SteadyMs() - start, kGrabHoldMs + kGrabRetryPauseMs) << "the hold of the window";
  EXPECT_EQ(form.st.ChannelTable[3].Value, c.hangs ? -(2400 + 399.5) : -(1000 + 2400 + 399.5));
  EXPECT_EQ(s.hanging, c.hangs ? 1 : 0) << "the window went on while the read hung";
  EXPECT_EQ(form.ui.CardNotice, c.hangs ? "DAQ card not answering since 12:00:00" : "");
  if (!c.hangs) return;
  const int32_t timings = s.calls[kFakeTiming];
  rig.clock.Advance(5000);
  EXPECT_FALSE(ReadDaqChannels(form));
  EXPECT_EQ(s.calls[kFakeTiming], timings) << "the card is asked nothing while its read hangs";
  s.hangEvery = 0, s.fillBase = 500.0, s.release = 1;
  while (form.CardCalls.hung()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  rig.clock.Advance(1000);
  EXPECT_TRUE(ReadDaqChannels(form));
  EXPECT_EQ(form.st.ChannelTable[3].Value, -(500 + 2400 + 399.5)) << "a read made after the hang";
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].rfind("DAQ card not answering from 2011-03-25 12:00:0", 0), 0u) << log[0];
}

INSTANTIATE_TEST_SUITE_P(Cameras, HangingRead,
                         ::testing::Values(CardBesideCamera{"QuickCamera", 0, true, false},
                                           CardBesideCamera{"SlowCamera", 900, true, false},
                                           CardBesideCamera{"SlowCameraAnsweringCard", 900, false, true},
                                           CardBesideCamera{"SlowCameraCardThreadLate", 900, false, true, false, 150},
                                           CardBesideCamera{"SilentCameraAnsweringCard", -1, false, false},
                                           CardBesideCamera{"CameraAwayAlready", -1, true, false, true}),
                         [](const auto& info) { return std::string(info.param.name); });

// Without a usable library every call fails, so start-up takes the no-card path.
class MissingDriver : public ::testing::TestWithParam<const char*> {};

TEST_P(MissingDriver, StartupShowsTheNoCardMessage) {
  auto driver = LoadNiDaqmx(GetParam());
  EXPECT_FALSE(driver->loaded());
  EXPECT_FALSE(driver->loadError().empty());
  DaqTaskHandle task = 0;
  EXPECT_LT(driver->CreateTask("AI-TASK", &task), 0);
  EXPECT_EQ(task, 0u);
  const int32_t needed = driver->GetErrorString(NiDaqmxDriver::kNotLoaded, nullptr, 0);
  std::string text(needed, '\0');
  driver->GetErrorString(NiDaqmxDriver::kNotLoaded, text.data(), needed);
  EXPECT_NE(text.find("not available"), std::string::npos);

  testing::Rig rig;
  Form1 form(Devices{rig.camera, nullptr, *driver, rig.clock, rig.dialogs});
  ASSERT_TRUE(form.Load());
  ASSERT_EQ(rig.dialogs.messages.size(), 1u);
  EXPECT_EQ(rig.dialogs.messages[0].text, "No NI card found, data acquisition disabled");
  EXPECT_FALSE(form.st.DaqAcquisitionOn);
  EXPECT_FALSE(form.ui.AcquiCheck.enabled);
}

INSTANTIATE_TEST_SUITE_P(LibraryOrSymbol, MissingDriver,
                         ::testing::Values("/nonexistent/libnidaqmx.so", OSTRELO_FAKE_NIDAQMX_PARTIAL));

TEST(MissingDriver, MissingSymbolIsNamed) {
  auto driver = LoadNiDaqmx(OSTRELO_FAKE_NIDAQMX_PARTIAL);
  EXPECT_NE(driver->loadError().find("DAQmxReadAnalogF64"), std::string::npos) << driver->loadError();
}

#ifdef __linux__
// A run-time-only installation: no link name, only versioned files in a folder of
// LD_LIBRARY_PATH. The highest version is taken (by number, not by spelling); with none
// there, start-up's failure names what was tried. Assumes no NI-DAQmx on the machine.
TEST(DriverSearch, VersionedLibraryInTheSearchPathIsFound) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / ("ostrelo-nidaqmx-" + std::to_string(getpid()));
  fs::create_directories(dir);
  const char* old = std::getenv("LD_LIBRARY_PATH");
  const std::string saved = old != nullptr ? old : "";
  setenv("LD_LIBRARY_PATH", ("/nonexistent:" + dir.string()).c_str(), 1);

  auto none = LoadNiDaqmx();
  ::testing::internal::CaptureStderr();
  EXPECT_LT(none->CreateTask("AI-TASK", nullptr), 0);
  const std::string said = ::testing::internal::GetCapturedStderr();
  for (const std::string& part :
       {std::string("libnidaqmx.so: "), std::string("libnidaqmx.so.<version> in "), dir.string()}) {
    EXPECT_NE(said.find(part), std::string::npos) << said;
  }

  fs::copy_file(OSTRELO_FAKE_NIDAQMX, dir / "libnidaqmx.so.23.10.0");
  fs::copy_file(OSTRELO_FAKE_NIDAQMX, dir / "libnidaqmx.so.23.9.0");
  fs::create_symlink("libnidaqmx.so.23.10.0", dir / "libnidaqmx.so.1");
  auto found = LoadNiDaqmx();
  EXPECT_TRUE(found->loaded()) << found->loadError();
  EXPECT_EQ(found->loadedFrom(), (dir / "libnidaqmx.so.23.10.0").string());

  found.reset();
  old != nullptr ? setenv("LD_LIBRARY_PATH", saved.c_str(), 1) : unsetenv("LD_LIBRARY_PATH");
  fs::remove_all(dir);
}
#endif

}  // namespace
}  // namespace ostrelo
