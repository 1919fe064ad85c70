// How long the window's event loop is held while the camera does not answer: the real
// window (Session + MainWindow, offscreen), a 10 ms timer in the same event loop, and the
// longest gap between two of its ticks, phase by phase: the live view, a series at 0.1 s
// and a one shot, each through a 20 s outage, then STOP and the closing of the window
// during one.
//
//   ostrelo_responsiveness simulated
//       The simulated camera in real time, falling silent and coming back.
//   ostrelo_responsiveness card
//       The simulated card unplugged for 20 s during a 0.5 s series, acquisition on.
//   ostrelo_responsiveness hanging-card [slow]
//       A 0.5 s series with the simulated camera and the NI-DAQmx driver loaded from the
//       system's search (the stand-in library with FAKE_DAQMX_HANG set: some of its reads
//       hang well past their time-out), for 30 s; slow: a camera of one frame a second.
//   ostrelo_responsiveness notify
//       A 0.1 s series through a camera outage with --notify to a receiver on 127.0.0.1
//       that takes the connection and never answers; then the processor time of one
//       event posted to a receiver that answers at once.
//   ostrelo_responsiveness gige <arv-fake-gv-camera-0.8>
//       The Aravis backend against the GigE Vision emulator on 127.0.0.1, killed and
//       started again.
// Dialogs are answered at once (a message box would otherwise stop the measure).

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include "app/MainWindow.h"
#include "app/Session.h"
#include "camera/aravis/AravisCamera.h"
#include "camera/sim/SimulatedCamera.h"
#include "daq/sim/SimulatedDaq.h"
#include "watch/Delivery.h"
#include "watch/curl/CurlTransport.h"

extern char** environ;

namespace {

using ostrelo::Form1;
using ostrelo::qtui::Session;
using ostrelo::qtui::SessionOptions;

class AnsweringDialogs final : public ostrelo::Dialogs {
 public:
  std::vector<std::string> messages;
  std::string saveAs;
  void MessageBox(const std::string& text, const std::string&) override {
    messages.push_back(text);
    std::printf("  [message box] %s\n", text.c_str());
  }
  bool AskYesNo(const std::string&, const std::string&, ostrelo::Answer) override { return true; }
  std::optional<std::string> ShowSave(const ostrelo::SaveDialogRequest&) override { return saveAs; }
  void SetBusyPointer(bool) override {}
};

// Two probes of the event loop: a 10 ms timer in it (the longest time between two of
// its ticks), and an event posted to it every 10 ms from another thread, as input
// arrives (the longest time such an event waits before it is handled).
class Probe {
 public:
  Probe() {
    timer_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      const qint64 now = Now();
      longestNs_ = std::max(longestNs_, now - lastNs_);
      if (now - lastNs_ > 250'000'000) ++over250ms_;
      lastNs_ = now;
    });
    timer_.start(10);
    poster_ = std::thread([this] {
      while (!stop_) {
        const qint64 posted = Now();
        QMetaObject::invokeMethod(
            qApp, [this, posted] { longestWaitNs_ = std::max(longestWaitNs_.load(), Now() - posted); },
            Qt::QueuedConnection);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
    });
  }
  ~Probe() {
    stop_ = true;
    poster_.join();
    QCoreApplication::removePostedEvents(qApp);
  }
  // Starts a phase: what waited during the previous one is handled first.
  void Reset() {
    QCoreApplication::processEvents();
    lastNs_ = Now();
    longestNs_ = 0;
    longestWaitNs_ = 0;
    over250ms_ = 0;
  }
  double longestMs() const { return static_cast<double>(longestNs_) / 1e6; }
  double longestWaitMs() const { return static_cast<double>(longestWaitNs_.load()) / 1e6; }
  int over250ms() const { return over250ms_; }

 private:
  static qint64 Now() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
  }
  QTimer timer_;
  qint64 lastNs_ = 0, longestNs_ = 0;
  std::atomic<qint64> longestWaitNs_{0};
  int over250ms_ = 0;
  std::atomic<bool> stop_{false};
  std::thread poster_;
};

// Runs the event loop for ms, or until done() holds (checked every 10 ms); the time spent.
// The loop then runs 100 ms more, so that the probes see the last hold-up.
double RunFor(int ms, const std::function<bool()>& done = {}) {
  QElapsedTimer t;
  t.start();
  QEventLoop loop;
  QTimer check;
  qint64 ended = -1;
  QObject::connect(&check, &QTimer::timeout, [&] {
    if (ended < 0 && (t.elapsed() >= ms || (done && done()))) ended = t.elapsed();
    if (ended >= 0 && t.elapsed() >= ended + 100) loop.quit();
  });
  check.start(10);
  loop.exec();
  return static_cast<double>(ended) / 1000.0;
}

void Report(const char* phase, double seconds, const Probe& probe, const std::string& extra = {}) {
  std::printf("%-44s %6.1f s  timer gap %7.1f ms (> 250 ms: %3d)  event wait %7.1f ms  %s\n", phase, seconds,
              probe.longestMs(), probe.over250ms(), probe.longestWaitMs(), extra.c_str());
  std::fflush(stdout);
}

// How the camera is taken away and brought back.
struct Outage {
  std::function<void()> away, back;
};

// A series through a 20 s outage, then until it shoots again once the device is back.
void SeriesThroughOutage(Form1& form, Probe& probe, const Outage& outage, const std::string& series,
                         const std::string& device, const std::function<std::string()>& notice) {
  outage.away();
  int32_t shots = form.ShotCounter;
  probe.Reset();
  double took = RunFor(20000);
  Report((series + ", " + device + " away 20 s").c_str(), took, probe,
         std::to_string(form.ShotCounter - shots) + " shots meanwhile" + notice());
  outage.back();
  shots = form.ShotCounter;
  probe.Reset();
  took = RunFor(30000, [&] { return form.ShotCounter > shots; });
  Report((device + " back: until the series shoots again").c_str(), took, probe,
         form.ShotCounter > shots ? "series goes on" : "NO SHOT");
}

// STOP pressed one second into an outage, as input arrives from outside the event loop:
// how long until it takes effect.
void StopDuringOutage(Form1& form, ostrelo::qtui::MainWindow& window, Probe& probe, const Outage& outage) {
  probe.Reset();
  outage.away();
  std::atomic<qint64> stopWaitedNs{-1};
  std::thread presser([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    const auto pressed = std::chrono::steady_clock::now();
    QMetaObject::invokeMethod(
        qApp,
        [&, pressed] {
          window.Dispatch([&form] { form.Command2_Click(); });
          stopWaitedNs = (std::chrono::steady_clock::now() - pressed).count();
        },
        Qt::QueuedConnection);
  });
  const double took = RunFor(5000, [&] { return stopWaitedNs >= 0; });
  presser.join();
  Report("STOP 1 s into an outage", took, probe,
         (form.MultiShot ? std::string("SERIES STILL RUNNING") : std::string("series stopped")) + " " +
             std::to_string(static_cast<double>(stopWaitedNs) / 1e9).substr(0, 4) + " s after the click");
}

// Live view, a series at 0.1 s and a one shot, each through a 20 s outage; STOP and the
// closing of the window during one.
int Scenario(Session& session, AnsweringDialogs& dialogs, const Outage& outage) {
  session.window()->show();
  Form1& form = session.form();
  ostrelo::qtui::MainWindow& window = *session.window();
  Probe probe;
  auto revision = [&] { return form.ui.CamSurface.revision; };
  // An operator's click, queued behind whatever the window is busy with.
  auto click = [&](void (Form1::*handler)()) { window.Dispatch([&form, handler] { (form.*handler)(); }); };

  probe.Reset();
  Report("live view, camera answering", RunFor(3000), probe);

  outage.away();
  uint64_t before = revision();
  probe.Reset();
  double took = RunFor(20000);
  Report("live view, camera away 20 s", took, probe,
         revision() == before ? "no new picture; notice: " + form.ui.CameraNotice : "NEW PICTURES?");
  outage.back();
  before = revision();
  probe.Reset();
  took = RunFor(30000, [&] { return revision() != before; });
  Report("camera back: until the view moves again", took, probe,
         form.ui.CameraNotice.empty() ? "notice gone" : "NOTICE STILL SHOWN");

  form.ui.TimeText.caption = "0.1";
  click(&Form1::TimeText_Change);
  window.Dispatch([&] { form.TimeText_KeyPress(ostrelo::kKeyEnter); });
  click(&Form1::Command2_Click);
  probe.Reset();
  took = RunFor(2000);
  Report("series at 0.1 s, camera answering", took, probe, std::to_string(form.ShotCounter) + " shots");
  SeriesThroughOutage(form, probe, outage, "series at 0.1 s", "camera", [] { return std::string(); });

  StopDuringOutage(form, window, probe, outage);

  // A one shot while the camera stays away: it gives up after about 10 s and says so.
  const size_t messages = dialogs.messages.size();
  click(&Form1::Command1_Click);
  probe.Reset();
  took = RunFor(25000, [&] { return !form.OneShot; });
  Report("one shot, camera away 20 s", took, probe,
         dialogs.messages.size() > messages ? "told: " + dialogs.messages.back() : "NO MESSAGE");
  outage.back();
  before = revision();
  RunFor(30000, [&] { return revision() != before; });

  outage.away();
  RunFor(3000);
  probe.Reset();
  QElapsedTimer closing;
  closing.start();
  window.close();
  Report("window closed, camera away", static_cast<double>(closing.elapsed()) / 1000.0, probe);
  return 0;
}

// The operator's way into a series: the wait typed and validated, then "Multiple shots".
void StartSeries(Form1& form, ostrelo::qtui::MainWindow& window, const char* wait) {
  form.ui.TimeText.caption = wait;
  window.Dispatch([&] { form.TimeText_Change(); });
  window.Dispatch([&] { form.TimeText_KeyPress(ostrelo::kKeyEnter); });
  window.Dispatch([&] { form.Command2_Click(); });
}

// A series at 0.5 s with acquisition on through a 20 s outage of the DAQ card, STOP 1 s
// into one, and the closing of the window during one.
int CardScenario(Session& session, const Outage& outage) {
  session.window()->show();
  Form1& form = session.form();
  ostrelo::qtui::MainWindow& window = *session.window();
  Probe probe;
  StartSeries(form, window, "0.5");
  probe.Reset();
  double took = RunFor(3000);
  Report("series at 0.5 s, card answering", took, probe, std::to_string(form.ShotCounter) + " shots");
  SeriesThroughOutage(form, probe, outage, "series at 0.5 s", "card",
                      [&] { return "; notice: " + form.ui.CardNotice; });
  StopDuringOutage(form, window, probe, outage);
  RunFor(3000);
  probe.Reset();
  QElapsedTimer closing;
  closing.start();
  window.close();
  Report("window closed, card away", static_cast<double>(closing.elapsed()) / 1000.0, probe,
         "exit status " + std::to_string(session.exitCode()));
  return 0;
}

// A series at 0.5 s for 30 s with a card whose reads sometimes hang: the longest hold of
// the window, and the outages the log tells.
int HangingCard(bool slowCamera) {
  AnsweringDialogs dialogs;
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() / ("ostrelo-responsiveness-" + std::to_string(getpid()));
  std::filesystem::create_directories(folder);
  dialogs.saveAs = (folder / "shot-.bmp").string();
  ostrelo::SystemClock clock;
  SessionOptions options;
  options.dialogs = &dialogs;
  options.makeRealCamera = [&]() -> std::unique_ptr<ostrelo::CameraDriver> {
    auto camera = std::make_unique<ostrelo::SimulatedCamera>(clock);
    camera->script.instant = !slowCamera;
    camera->script.frameIntervalMs = 1000;
    return camera;
  };
  int result = 1;
  {
    Session session(options);
    if (session.Start()) {
      session.window()->show();
      Form1& form = session.form();
      ostrelo::qtui::MainWindow& window = *session.window();
      int outages = 0;
      form.logSink = [&](const std::string& line) {
        ++outages;
        std::printf("  [log] %s\n", line.c_str());
      };
      Probe probe;
      StartSeries(form, window, "0.5");
      probe.Reset();
      const double took = RunFor(30000);
      Report(slowCamera ? "series 0.5 s, 1 frame/s camera, card hangs" : "series at 0.5 s, card reads hanging", took,
             probe,
             std::to_string(form.ShotCounter) + " shots, " + std::to_string(outages) + " card outages" +
                 (form.st.DaqAcquisitionOn ? "" : " (NO CARD)"));
      window.Dispatch([&] { form.Command2_Click(); });
      window.close();
      result = 0;
    }
  }
  std::filesystem::remove_all(folder);
  return result;
}

// A folder for the pictures of the measure, removed at the end.
struct ShotFolder {
  ShotFolder() { std::filesystem::create_directories(path); }
  ~ShotFolder() { std::filesystem::remove_all(path); }
  const std::filesystem::path path =
      std::filesystem::temp_directory_path() / ("ostrelo-responsiveness-" + std::to_string(getpid()));
};

int Simulated(bool card) {
  AnsweringDialogs dialogs;
  ShotFolder folder;
  dialogs.saveAs = (folder.path / "shot-.bmp").string();
  SessionOptions options;
  options.simulate = true;
  options.dialogs = &dialogs;
  Session session(options);
  if (!session.Start()) return 1;
  ostrelo::SimulatedCamera& camera = *session.simulatedCamera();
  ostrelo::SimulatedDaq& daq = *session.simulatedDaq();
  if (card) {
    return CardScenario(session,
                        Outage{[&] { daq.script.awayUntilMs = INT64_MAX; }, [&] { daq.script.awayUntilMs = 0; }});
  }
  return Scenario(session, dialogs,
                  Outage{[&] { camera.script.noPicture = true; }, [&] { camera.script.noPicture = false; }});
}

// A receiver on 127.0.0.1 in a process of its own: it answers every request at once
// (or, silent, takes the connection and never answers). Its port, or 0.
struct Receiver {
  explicit Receiver(bool answers) {
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(listener, 64) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      return;
    }
    port = ntohs(address.sin_port);
    pid = fork();
    if (pid != 0) {
      close(listener);
      return;
    }
    std::vector<int> held;
    for (;;) {
      const int c = accept(listener, nullptr, nullptr);
      if (c < 0) continue;
      if (!answers) {
        held.push_back(c);
        continue;
      }
      char buffer[8192];
      std::string request;
      // The headers, then as many body bytes as they announce.
      for (ssize_t n; request.find("\r\n\r\n") == std::string::npos && (n = read(c, buffer, sizeof buffer)) > 0;)
        request.append(buffer, static_cast<size_t>(n));
      const size_t at = request.find("Content-Length: ");
      const size_t body = at == std::string::npos ? 0 : std::strtoul(request.c_str() + at + 16, nullptr, 10);
      for (ssize_t n; request.size() - request.find("\r\n\r\n") - 4 < body && (n = read(c, buffer, sizeof buffer)) > 0;)
        request.append(buffer, static_cast<size_t>(n));
      const char reply[] = "HTTP/1.1 204 No Content\r\nConnection: close\r\n\r\n";
      [[maybe_unused]] const ssize_t w = write(c, reply, sizeof reply - 1);
      close(c);
    }
  }
  ~Receiver() {
    if (pid > 0) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
  }
  std::string url() const { return "http://127.0.0.1:" + std::to_string(port) + "/ostrelo"; }
  int port = 0;
  pid_t pid = -1;
};

double ProcessCpuMs() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

int Notify() {
  Receiver silent(false), answering(true);
  if (silent.port == 0 || answering.port == 0) return 1;
  AnsweringDialogs dialogs;
  ShotFolder folder;
  dialogs.saveAs = (folder.path / "shot-.bmp").string();
  {
    SessionOptions options;
    options.simulate = true;
    options.dialogs = &dialogs;
    options.notifyUrls = {silent.url()};
    options.notifyAfterSeconds = 1;
    Session session(options);
    if (!session.Start()) return 1;
    session.window()->show();
    Form1& form = session.form();
    ostrelo::qtui::MainWindow& window = *session.window();
    ostrelo::SimulatedCamera& camera = *session.simulatedCamera();
    Probe probe;
    StartSeries(form, window, "0.1");
    probe.Reset();
    const double took = RunFor(5000);
    Report("series at 0.1 s, receiver silent", took, probe, std::to_string(form.ShotCounter) + " shots");
    SeriesThroughOutage(form, probe,
                        Outage{[&] { camera.script.noPicture = true; }, [&] { camera.script.noPicture = false; }},
                        "series at 0.1 s, receiver silent", "camera", [] { return std::string(); });
    window.Dispatch([&] { form.Command2_Click(); });
    probe.Reset();
    QElapsedTimer closing;
    closing.start();
    window.close();
    Report("window closed, receiver silent", static_cast<double>(closing.elapsed()) / 1000.0, probe);
  }
  // One event after the other to a receiver that answers: what each costs the program.
  constexpr int kEvents = 200;
  ostrelo::CurlTransport transport;
  const ostrelo::Posting json{R"({"event":"watchdog","text":"No shot for 1.5 s while the series runs."})"
                              "\n",
                              {"Content-Type: application/json"}};
  const double before = ProcessCpuMs();
  QElapsedTimer wall;
  wall.start();
  int failed = 0;
  for (int i = 0; i < kEvents; ++i) failed += transport.Deliver(answering.url(), "watchdog", json).empty() ? 0 : 1;
  std::printf(
      "%d events posted to a receiver that answers (%d failed): %.3f ms of processor time each, %.2f ms apart\n",
      kEvents, failed, (ProcessCpuMs() - before) / kEvents, static_cast<double>(wall.elapsed()) / kEvents);
  return 0;
}

class Emulator {
 public:
  Emulator(std::string program, std::string serial) : program_(std::move(program)), serial_(std::move(serial)) {}
  ~Emulator() { Kill(SIGTERM); }
  void Start() {
    std::vector<std::string> args = {program_, "-i", "127.0.0.1", "-s", serial_};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, argv[0], nullptr, nullptr, argv.data(), environ) != 0) pid_ = -1;
    usleep(500'000);
  }
  void Kill(int signal = SIGKILL) {
    if (pid_ <= 0) return;
    kill(pid_, signal);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }
  std::string deviceId() const { return "Aravis-Fake-" + serial_; }

 private:
  std::string program_, serial_;
  pid_t pid_ = -1;
};

int Gige(const char* emulatorProgram) {
  Emulator emulator(emulatorProgram, "RSP" + std::to_string(getpid() % 100000));
  emulator.Start();
  AnsweringDialogs dialogs;
  ShotFolder folder;
  dialogs.saveAs = (folder.path / "shot-.bmp").string();
  SessionOptions options;
  options.dialogs = &dialogs;
  options.makeRealCamera = [&]() -> std::unique_ptr<ostrelo::CameraDriver> {
    ostrelo::AravisOptions o;
    o.interfaces = {"GigEVision"};
    o.deviceId = emulator.deviceId();
    return ostrelo::MakeAravisCamera(o);
  };
  Session session(options);
  if (!session.Start()) {
    std::printf("start-up failed\n");
    return 1;
  }
  return Scenario(session, dialogs, Outage{[&] { emulator.Kill(); }, [&] { emulator.Start(); }});
}

}  // namespace

int main(int argc, char** argv) {
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  int qtArgc = 1;
  QApplication app(qtArgc, argv);
  ostrelo::qtui::ConfigureApplication();
  if (argc >= 2 && std::strcmp(argv[1], "simulated") == 0) return Simulated(false);
  if (argc >= 2 && std::strcmp(argv[1], "card") == 0) return Simulated(true);
  if (argc >= 2 && std::strcmp(argv[1], "notify") == 0) return Notify();
  if (argc >= 2 && std::strcmp(argv[1], "hanging-card") == 0)
    return HangingCard(argc >= 3 && std::strcmp(argv[2], "slow") == 0);
  if (argc >= 3 && std::strcmp(argv[1], "gige") == 0) return Gige(argv[2]);
  std::fprintf(stderr, "usage: %s simulated | card | hanging-card [slow] | notify | gige <arv-fake-gv-camera-0.8>\n",
               argv[0]);
  return 2;
}
