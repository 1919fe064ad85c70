// How long the window's event loop is held while the camera does not answer: the real
// window (Session + MainWindow, offscreen), a 10 ms timer in the same event loop, and the
// longest gap between two of its ticks, phase by phase.
//
//   ostrelo_responsiveness simulated
//       The simulated camera in real time: live view, the camera silent for 10 s, back;
//       a one shot while it is silent for 4 s.
//   ostrelo_responsiveness gige <arv-fake-gv-camera-0.8>
//       The Aravis backend against the GigE Vision emulator on 127.0.0.1: live view, the
//       emulator killed, restarted; then killed again and the window closed while the
//       camera is away.
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
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "camera/aravis/AravisCamera.h"
#include "camera/sim/SimulatedCamera.h"
#include "shell/qt/MainWindow.h"
#include "shell/qt/Session.h"

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
  bool AskYesNo(const std::string&, const std::string&) override { return true; }
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

int Simulated() {
  AnsweringDialogs dialogs;
  const auto folder = std::filesystem::temp_directory_path() / ("ostrelo-responsiveness-" + std::to_string(getpid()));
  std::filesystem::create_directories(folder);
  dialogs.saveAs = (folder / "shot-.bmp").string();
  SessionOptions options;
  options.simulate = true;
  options.dialogs = &dialogs;
  Session session(options);
  if (!session.Start()) return 1;
  session.window()->show();
  Form1& form = session.form();
  ostrelo::SimulatedCamera& camera = *session.simulatedCamera();
  Probe probe;
  auto revision = [&] { return form.ui.CamSurface.revision; };

  probe.Reset();
  Report("live view, camera answering", RunFor(3000), probe);

  camera.script.noPicture = true;
  uint64_t before = revision();
  probe.Reset();
  Report("live view, camera silent", RunFor(10000), probe,
         revision() == before ? "no new picture" : "NEW PICTURES?");

  camera.script.noPicture = false;
  before = revision();
  probe.Reset();
  const double resumed = RunFor(5000, [&] { return revision() != before; });
  Report("camera back: until the view moves again", resumed, probe);

  // A one shot while the camera is silent for 4 s: its grab waits for it (the event
  // loop cannot end the silence: the grab holds it).
  ostrelo::SystemClock steady;
  camera.script.silentUntilMs = steady.SteadyMs() + 4000;
  probe.Reset();
  form.Dispatch([&] { form.Command1_Click(); });
  session.window()->Refresh();
  const double shot = RunFor(8000, [&] { return form.ShotCounter >= 1 && !form.OneShot; });
  Report("one shot, camera silent for 4 s", shot, probe,
         form.ShotCounter == 1 ? "shot taken" : "NO SHOT");

  probe.Reset();
  QElapsedTimer closing;
  closing.start();
  session.window()->close();
  Report("window closed", static_cast<double>(closing.elapsed()) / 1000.0, probe);
  std::filesystem::remove_all(folder);
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
  ostrelo::AravisCamera* aravis = nullptr;
  SessionOptions options;
  options.dialogs = &dialogs;
  options.makeRealCamera = [&]() -> std::unique_ptr<ostrelo::CameraDriver> {
    ostrelo::AravisOptions o;
    o.interfaces = {"GigEVision"};
    o.deviceId = emulator.deviceId();
    auto camera = ostrelo::MakeAravisCamera(o);
    aravis = camera.get();
    return camera;
  };
  auto session = std::make_unique<Session>(options);
  if (!session->Start()) {
    std::printf("start-up failed\n");
    return 1;
  }
  session->window()->show();
  Form1& form = session->form();
  Probe probe;
  auto revision = [&] { return form.ui.CamSurface.revision; };

  probe.Reset();
  Report("live view, camera answering", RunFor(3000), probe);

  emulator.Kill();
  uint64_t before = revision();
  probe.Reset();
  const double noticed = RunFor(30000, [&] { return aravis->deviceLost(); });
  Report("emulator killed: until Aravis reports it lost", noticed, probe,
         revision() == before ? "no new picture" : "NEW PICTURES?");
  probe.Reset();
  Report("lost: reopening every second", RunFor(5000), probe);

  emulator.Start();
  before = revision();
  probe.Reset();
  const double resumed = RunFor(30000, [&] { return revision() != before; });
  Report("emulator restarted: until the view moves again", resumed, probe,
         revision() != before ? "view resumed" : "VIEW STILL");
  probe.Reset();
  Report("live view after the return", RunFor(3000), probe,
         "reconnections " + std::to_string(aravis->reconnections()));

  emulator.Kill();
  probe.Reset();
  Report("emulator killed again", RunFor(3000), probe);
  probe.Reset();
  QElapsedTimer closing;
  closing.start();
  session->window()->close();
  const double windowGone = static_cast<double>(closing.elapsed()) / 1000.0;
  session.reset();
  Report("window closed, camera away", windowGone, probe,
         "process could end after " + std::to_string(static_cast<double>(closing.elapsed()) / 1000.0).substr(0, 4) +
             " s");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  int qtArgc = 1;
  QApplication app(qtArgc, argv);
  ostrelo::qtui::ConfigureApplication();
  if (argc >= 2 && std::strcmp(argv[1], "simulated") == 0) return Simulated();
  if (argc >= 3 && std::strcmp(argv[1], "gige") == 0) return Gige(argv[2]);
  std::fprintf(stderr, "usage: %s simulated | gige <arv-fake-gv-camera-0.8>\n", argv[0]);
  return 2;
}
