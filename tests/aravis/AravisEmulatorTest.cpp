// End to end against the GigE Vision camera emulator of Aravis, started on the loopback
// interface by each test and stopped at its end.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "AravisSupport.h"
#include "camera/GrabFrame.h"
#include "shell/Numbers.h"
#include "shell/ProgramError.h"
#include "shots/ShotProcedure.h"
#include "shots/ShotsTestSupport.h"

extern char** environ;

namespace ostrelo {
namespace {

using testing::AravisRig;
using testing::EnterGain;
using testing::WallClockUs;

AravisOptions GigEOptions() {
  AravisOptions options;
  options.interfaces = {"GigEVision"};
  return options;
}

// arv-fake-gv-camera-0.8 -i 127.0.0.1 -s <serial>, for the life of the object. It can
// be killed and started again: the same serial number, so the same device id.
class Emulator {
 public:
  Emulator() : serial_("OST" + std::to_string(getpid() % 100000)) { Start(); }
  ~Emulator() { Stop(); }
  Emulator(const Emulator&) = delete;
  Emulator& operator=(const Emulator&) = delete;

  void Start() {
    if (pid_ > 0) return;
    std::vector<std::string> args = {OSTRELO_FAKE_GV_CAMERA, "-i", "127.0.0.1", "-s", serial_};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, argv[0], nullptr, nullptr, argv.data(), environ) != 0) pid_ = -1;
  }
  // SIGTERM by default; SIGKILL is a camera that vanishes without a word.
  void Stop(int signal = SIGTERM) {
    if (pid_ <= 0) return;
    kill(pid_, signal);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
  }
  // Waits until device discovery on the loopback interface finds this emulator.
  bool Discoverable() const {
    for (int attempt = 0; attempt < 50 && pid_ > 0; ++attempt) {
      AravisCamera probe(GigEOptions());
      int32_t manager = 0, device = -1;
      if (probe.Init(&manager) == 0 && probe.GetDevice(&device, 1, "*" + serial_, 0, '*') == 0) return true;
      probe.Close();
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
  }
  std::string deviceId() const { return "Aravis-Fake-" + serial_; }

 private:
  std::string serial_;
  pid_t pid_ = -1;
};

using SteadyClock = std::chrono::steady_clock;

// A register as the emulator holds it, read over GigE Vision's control protocol beside the
// program's connection (reading needs no control); -1: no answer.
int64_t ReadRegister(uint32_t address) {
  const int s = socket(AF_INET, SOCK_DGRAM, 0);
  const sockaddr_in to{AF_INET, htons(3956), {htonl(INADDR_LOOPBACK)}, {}};
  uint32_t packet[3] = {htonl(0x42010080), htonl(0x00040001), htonl(address)};  // READREG_CMD, one address
  const timeval patience{0, 300'000};
  setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
  ssize_t n = -1;
  for (int attempt = 0; attempt < 3 && n != 12; ++attempt) {
    sendto(s, packet, sizeof packet, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    n = recv(s, packet, sizeof packet, 0);  // status, READREG_ACK, length, id, value
  }
  close(s);
  return n == 12 && ntohl(packet[0]) == 0x00000081 ? ntohl(packet[2]) : -1;
}

double Seconds(SteadyClock::duration d) { return std::chrono::duration<double>(d).count(); }

// Runs one live-timer tick, an interval after the last, and tells how long the window
// was held by it.
SteadyClock::duration Tick(AravisRig& rig) {
  std::this_thread::sleep_for(std::chrono::milliseconds(rig.form.ui.VisuTimer.interval()));
  const auto start = SteadyClock::now();
  rig.form.Dispatch([&] { rig.form.VisuTimer_Timer(); });
  return SteadyClock::now() - start;
}

TEST(AravisGigEEmulator, FoundOnLoopbackStartsGrabsAndShutsDown) {
  Emulator emulator;
  ASSERT_TRUE(emulator.Discoverable());
  AravisRig rig(GigEOptions());
  ASSERT_TRUE(rig.form.Load());
  EXPECT_TRUE(rig.dialogs.messages.empty());
  EXPECT_EQ(rig.camera.deviceId(), emulator.deviceId());
  EXPECT_EQ(rig.camera.deviceAddress(), "127.0.0.1");
  EXPECT_EQ(rig.form.st.ImageWidth, 512);
  EXPECT_EQ(rig.form.st.ImageHeight, 512);
  EXPECT_EQ(rig.form.ui.InfoCam.caption, "(0000,0000) - (W:0512 - H:0512)");
  // The emulator exposes only when triggered.
  EXPECT_EQ(rig.camera.mode(), AravisCamera::Mode::Triggered);

  const AcquisitionState& st = rig.form.st;
  for (int i = 0; i < 4; ++i) {
    // Time between two shots, during which nothing may pile up.
    std::this_thread::sleep_for(std::chrono::milliseconds(i % 2 == 0 ? 150 : 0));
    const GrabPurpose purpose = i % 2 == 0 ? GrabPurpose::Shot : GrabPurpose::Live;
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

  ASSERT_NE(rig.form.st.GainHandle, -1);
  double maximum = 0, value = -1;
  ASSERT_EQ(rig.camera.GetF(rig.form.st.GainHandle, &maximum, -1), 0);
  EnterGain(rig.form, GeneralNumber(maximum + 1, '.'));
  ASSERT_EQ(rig.camera.GetF(rig.form.st.GainHandle, &value, 0), 0);
  EXPECT_EQ(value, maximum);
  EXPECT_EQ(rig.form.ui.Text_Gain.caption, GeneralNumber(maximum, '.'));

  rig.form.Dispatch([&] { rig.form.Unload(); });
  EXPECT_EQ(rig.form.phase(), Phase::Ended);
  EXPECT_EQ(rig.form.exitCode(), 0);
  EXPECT_EQ(rig.camera.mode(), AravisCamera::Mode::Closed);
}

TEST(AravisGigEEmulator, LostCameraGivesFailuresNotACrash) {
  Emulator emulator;
  ASSERT_TRUE(emulator.Discoverable());
  AravisRig rig(GigEOptions(), NumberLocale{}, /*realTime=*/true);
  ASSERT_TRUE(rig.form.Load());
  rig.form.Dispatch([&] { GrabFrame(rig.form, GrabPurpose::Live); });
  ASSERT_EQ(rig.form.phase(), Phase::Running);

  emulator.Stop(SIGKILL);
  // Live grabs drop their frames (each trigger now waits for the network's
  // time-outs) until the heartbeat reports the camera lost.
  const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!rig.camera.deviceLost() && std::chrono::steady_clock::now() < giveUp) {
    rig.form.Dispatch([&] { rig.form.VisuTimer_Timer(); });
    ASSERT_EQ(rig.form.phase(), Phase::Running);
  }
  ASSERT_TRUE(rig.camera.deviceLost());
  rig.form.Dispatch([&] { rig.form.VisuTimer_Timer(); });
  EXPECT_EQ(rig.form.phase(), Phase::Running);

  // Every call now fails at once.
  const AcquisitionState& st = rig.form.st;
  int32_t used = 0, request = -1;
  double value = 0;
  EXPECT_EQ(rig.camera.ImageRequestSingle(st.DriverHandle, 0, &used), AravisCamera::kDeviceLost);
  EXPECT_NE(rig.camera.ImageRequestWaitFor(st.DriverHandle, 200, 0, &request), 0);
  EXPECT_EQ(rig.camera.GetF(st.GainHandle, &value, 0), AravisCamera::kDeviceLost);
  EXPECT_EQ(rig.camera.SetF(st.GainHandle, 1.0, 0), AravisCamera::kDeviceLost);
  EnterGain(rig.form, "5");
  EXPECT_EQ(rig.form.phase(), Phase::Running);

  rig.form.Dispatch([&] { rig.form.Unload(); });
  EXPECT_EQ(rig.form.phase(), Phase::Ended);
  EXPECT_EQ(rig.camera.mode(), AravisCamera::Mode::Closed);
}

// The camera is killed during the live view and started again: the view goes on by
// itself. While it is away every tick ends (a dropped frame) and the window stays with
// the program; the longest tick is printed (the live grab's limit is one second).
TEST(AravisGigEEmulator, KilledAndRestartedDuringTheLiveViewTheViewResumesByItself) {
  Emulator emulator;
  ASSERT_TRUE(emulator.Discoverable());
  AravisRig rig(GigEOptions(), NumberLocale{}, /*realTime=*/true);
  ASSERT_TRUE(rig.form.Load());
  const AcquisitionState& st = rig.form.st;
  Tick(rig);
  ASSERT_EQ(rig.form.phase(), Phase::Running);

  emulator.Stop(SIGKILL);
  const auto killed = SteadyClock::now();
  rig.timed.Reset();
  SteadyClock::duration longest{};
  int ticks = 0;
  // Until Aravis notices (its heartbeat), then a few seconds more of trying to reopen;
  // the operator tries the gain meanwhile.
  while (!rig.camera.deviceLost() && SteadyClock::now() - killed < std::chrono::seconds(30)) {
    longest = std::max(longest, Tick(rig));
    ASSERT_EQ(rig.form.phase(), Phase::Running);
    if (++ticks == 3) EnterGain(rig.form, "2");
  }
  ASSERT_TRUE(rig.camera.deviceLost());
  const auto noticed = SteadyClock::now();
  while (SteadyClock::now() - noticed < std::chrono::seconds(3)) {
    longest = std::max(longest, Tick(rig));
    ASSERT_EQ(rig.form.phase(), Phase::Running);
    ++ticks;
  }
  EXPECT_TRUE(rig.camera.deviceLost());
  EnterGain(rig.form, "3");
  ASSERT_EQ(rig.form.phase(), Phase::Running);
  std::printf("longest calls while the camera was away:");
  for (const auto& [name, duration] : rig.timed.longest()) std::printf(" %s %.3f s;", name.c_str(), Seconds(duration));
  std::printf("\n");

  const int32_t before = st.RequestNumber;
  emulator.Start();
  const auto restarted = SteadyClock::now();
  const int64_t restartedUs = WallClockUs();
  while (st.RequestNumber == before && SteadyClock::now() - restarted < std::chrono::seconds(30)) {
    longest = std::max(longest, Tick(rig));
    ASSERT_EQ(rig.form.phase(), Phase::Running);
    ++ticks;
  }
  ASSERT_NE(st.RequestNumber, before) << "no picture within 30 s of the camera's return";
  const auto resumed = SteadyClock::now();
  EXPECT_EQ(rig.camera.reconnections(), 1u);
  EXPECT_FALSE(rig.camera.deviceLost());
  EXPECT_GE(rig.camera.lastPictureReceptionUs(), restartedUs);
  RequestBufferInfo info;
  ASSERT_EQ(rig.camera.GetImageRequestBufferData(st.DriverHandle, st.RequestNumber, &info), 0);
  EXPECT_TRUE(std::equal(info.data, info.data + st.FrameByteCount, st.FrameBytes.begin()));
  std::printf(
      "camera killed: lost noticed after %.1f s; %d live ticks, the longest %.2f s; "
      "pictures again %.1f s after the restart\n",
      Seconds(noticed - killed), ticks, Seconds(longest), Seconds(resumed - restarted));

  // And they keep coming.
  for (int i = 0; i < 5; ++i) {
    const int32_t previous = st.RequestNumber;
    const int64_t asked = WallClockUs();
    rig.form.Dispatch([&] { GrabFrame(rig.form, GrabPurpose::Shot); });
    ASSERT_EQ(rig.form.phase(), Phase::Running);
    EXPECT_NE(st.RequestNumber, previous);
    EXPECT_GE(rig.camera.lastPictureReceptionUs(), asked);
  }
  const auto closing = SteadyClock::now();
  rig.form.Dispatch([&] { rig.form.Unload(); });
  EXPECT_EQ(rig.form.exitCode(), 0);
  std::printf("shut-down took %.2f s\n", Seconds(SteadyClock::now() - closing));
}

// The camera is killed and started again at varied moments of the live view, some before
// the program notices it went away (its last trigger may then reach the new camera): after
// each return the emulator's registers (FrameStart's trigger mode and source, pixel format,
// raw gain) are as the first opening left them, and pictures come again.
TEST(AravisGigEEmulator, KilledAndRestartedAtVariedMomentsComesBackSetUpAsAtFirst) {
  Emulator emulator;
  ASSERT_TRUE(emulator.Discoverable());
  AravisOptions options = GigEOptions();
  options.reconnectPauseMs = 200;
  AravisRig rig(options, NumberLocale{}, /*realTime=*/true);
  ASSERT_TRUE(rig.form.Load());
  EnterGain(rig.form, "3");
  const uint32_t registers[] = {0x300, 0x304, 0x128, 0x110};
  std::vector<int64_t> first;
  for (uint32_t r : registers) first.push_back(ReadRegister(r));
  ASSERT_EQ(first, (std::vector<int64_t>{1, 1, first[2], 3}));  // triggered by software, gain 3
  const int restartAfterMs[] = {300, 2500, 700, 5000, 150, 1500, 1000, 3500};
  for (int cycle = 0; cycle < 8; ++cycle) {
    std::this_thread::sleep_for(std::chrono::milliseconds(37 * cycle));
    emulator.Stop(SIGKILL);
    const auto restartAt = SteadyClock::now() + std::chrono::milliseconds(restartAfterMs[cycle]);
    const uint64_t before = rig.camera.reconnections();
    int32_t shown = rig.form.st.RequestNumber;
    while ((rig.camera.reconnections() == before || rig.form.st.RequestNumber == shown) &&
           SteadyClock::now() < restartAt + std::chrono::seconds(40)) {
      if (SteadyClock::now() >= restartAt) emulator.Start();
      if (rig.camera.reconnections() == before) shown = rig.form.st.RequestNumber;
      Tick(rig);
    }
    ASSERT_GT(rig.camera.reconnections(), before) << "cycle " << cycle;
    EXPECT_EQ(rig.camera.mode(), AravisCamera::Mode::Triggered) << "cycle " << cycle;
    for (size_t i = 0; i < first.size(); ++i) EXPECT_EQ(ReadRegister(registers[i]), first[i]) << "cycle " << cycle;
  }
}

// The camera is killed during a series at 0.5 s and comes back 20 s later: the series
// waits for it with the window free between tries, goes on numbering without a gap once
// it is back, and every picture and record line is whole.
TEST(AravisGigEEmulator, AwayForTwentySecondsDuringASeriesTheSeriesGoesOnWithWholeFiles) {
  Emulator emulator;
  ASSERT_TRUE(emulator.Discoverable());
  AravisRig rig(GigEOptions(), NumberLocale{}, /*realTime=*/true);
  ASSERT_TRUE(rig.form.Load());
  Form1& form = rig.form;
  std::vector<std::string> log;
  form.logSink = [&](const std::string& line) { log.push_back(line); };
  testing::TempFolder folder;
  rig.dialogs.saveAnswers.push_back(folder / "series-.bmp");

  form.ui.TimeText.caption = "0.5";
  form.ui.TimeText.selStart = 3;
  form.Dispatch([&] { form.TimeText_KeyPress(kKeyEnter); });
  form.Dispatch([&] { form.Command2_Click(); });  // the first shot at once
  ASSERT_EQ(form.ShotCounter, 1);
  // The window's shot timer, in real time; the longest tick held the window.
  SteadyClock::duration longest{};
  auto runTicks = [&](SteadyClock::duration span, const std::function<bool()>& done) {
    const auto end = SteadyClock::now() + span;
    while (SteadyClock::now() < end && !done()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(form.ui.Timer1.interval()));
      const auto start = SteadyClock::now();
      form.Dispatch([&] { form.Timer1_Timer(); });
      longest = std::max(longest, SteadyClock::now() - start);
      ASSERT_EQ(form.phase(), Phase::Running);
    }
  };
  runTicks(std::chrono::seconds(10), [&] { return form.ShotCounter >= 4; });
  ASSERT_EQ(form.ShotCounter, 4);
  const int32_t before = form.ShotCounter;

  emulator.Stop(SIGKILL);
  runTicks(std::chrono::seconds(20), [] { return false; });
  EXPECT_EQ(form.ShotCounter, before) << "no shot without a picture";
  EXPECT_FALSE(form.ui.CameraNotice.empty());
  emulator.Start();
  const auto back = SteadyClock::now();
  runTicks(std::chrono::seconds(60), [&] { return form.ShotCounter >= before + 3; });
  ASSERT_GE(form.ShotCounter, before + 3) << "shots did not resume within 60 s of the camera's return";
  const double resumed = Seconds(SteadyClock::now() - back);
  form.Dispatch([&] { form.Command2_Click(); });  // STOP
  EXPECT_TRUE(rig.dialogs.messages.empty());
  EXPECT_EQ(form.ui.CameraNotice, "");
  ASSERT_EQ(log.size(), 1u);
  EXPECT_NE(log[0].find(" shots not taken"), std::string::npos) << log[0];
  std::printf("camera away 20 s during a 0.5 s series: the longest tick %.2f s, shots again %.1f s after its return\n",
              Seconds(longest), resumed);

  // Every picture whole, every line for its picture, nothing else in the folder.
  const int32_t taken = form.ShotCounter;
  for (int32_t n = 1; n <= taken; ++n) {
    const std::string bytes = testing::ReadFile(PictureNameFor(form.st.PictureFileName, n));
    ASSERT_EQ(bytes.size(), 1078u + 512u * 512u) << n;
    EXPECT_EQ(testing::ReadBmp(bytes).pixels.size(), 512u * 512u) << n;
  }
  const auto lines = testing::SplitLines(testing::ReadFile(form.st.RecordFileName));
  ASSERT_EQ(lines.size(), static_cast<size_t>(taken) + 1);
  for (size_t i = 1; i < lines.size(); ++i) {
    EXPECT_NE(lines[i].find(FormatNumber(static_cast<int32_t>(i), "0000") + ".bmp"), std::string::npos) << lines[i];
  }
  EXPECT_EQ(testing::FolderContent(folder.path()).size(), static_cast<size_t>(taken) + 1);
}

}  // namespace
}  // namespace ostrelo
