#pragma once
// One run of the program: the devices, the main window's logic and its Qt window,
// put together as the executable does, so tests can build exactly the same thing.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "shell/CameraDriver.h"
#include "shell/DaqDriver.h"
#include "shell/Form1.h"
#include "shell/Platform.h"

class QTimer;

namespace ostrelo {
class Watcher;
class Notifications;
class SimulatedCamera;
class SimulatedDaq;
}  // namespace ostrelo

namespace ostrelo::qtui {

class MainWindow;
class OutageRehearsal;
class QtDialogs;

struct SessionOptions {
  bool simulate = false;                // simulated camera and card instead of the real ones
  std::string statusFile;               // kept up to date with the run's state; empty: none
  std::vector<std::string> notifyUrls;  // where the run's events are posted
  std::string notifyCommand;            // and the command they are handed to
  int notifyAfterSeconds = 120;
  int notifyDailyMinute = -1;
  // For tests: pictures ready at once rather than at the camera's frame rate.
  bool instantCamera = false;
  // For tests: replace the Qt dialogs, or the real camera backend.
  Dialogs* dialogs = nullptr;
  std::function<std::unique_ptr<CameraDriver>()> makeRealCamera;
  // Where the plan of a running series is kept (none: not kept), and whether an
  // interrupted one goes on without the question.
  std::string planFolder;
  bool resume = false;
};

// Application-wide settings of the program's look: style, icon, font substitutes. The
// application ends when the program does, not when its last window closes.
void ConfigureApplication();

class Session {
 public:
  explicit Session(const SessionOptions& options);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Runs start-up; when it succeeds, builds the main window (not shown yet). False when
  // the program ended during start-up: exit with exitCode() without showing anything.
  bool Start();

  Form1& form() { return *form_; }
  MainWindow* window() { return window_.get(); }
  int exitCode() const { return form_->exitCode(); }
  // The simulated camera, when the devices are simulated.
  SimulatedCamera* simulatedCamera() { return simCamera_; }
  // The simulated card, when the devices are simulated.
  SimulatedDaq* simulatedDaq() { return simDaq_; }
  // Takes the simulated devices away and back (nothing to take with real devices).
  OutageRehearsal& outages() { return *outages_; }
  // The Qt dialogs, unless a test replaced them.
  QtDialogs* qtDialogs() { return qtDialogs_.get(); }

 private:
  // The window has closed: a program started now keeps the plans, even while this one
  // still delivers its last events.
  void ReleasePlans();

  SystemClock clock_;
  std::unique_ptr<FreeSpace> freeSpace_;
  std::unique_ptr<QtDialogs> qtDialogs_;
  std::unique_ptr<CameraDriver> camera_;
  std::unique_ptr<DaqDriver> daq_;
  std::unique_ptr<PlanStore> plans_;
  SimulatedCamera* simCamera_ = nullptr;
  SimulatedDaq* simDaq_ = nullptr;
  std::unique_ptr<Form1> form_;
  std::unique_ptr<OutageRehearsal> outages_;
  std::unique_ptr<MainWindow> window_;
  std::unique_ptr<Notifications> notifications_;
  std::unique_ptr<Watcher> watcher_;
  std::unique_ptr<QTimer> watchTimer_;
};

}  // namespace ostrelo::qtui
