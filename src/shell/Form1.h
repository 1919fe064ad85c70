#pragma once
// The main window's logic: the shared state, the window model, the platform it runs
// on, and one handler per window event. Each handler is defined in the subsystem that
// owns it; the construction, start-up and shut-down in startup/, which sees them all.
// The app forwards every widget event to a handler through Dispatch and then shows the
// model.

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>

#include "shell/AboutBox.h"
#include "shell/AcquisitionState.h"
#include "shell/CameraDriver.h"
#include "shell/DaqDriver.h"
#include "shell/DeviceThread.h"
#include "shell/Display.h"
#include "shell/MainWindowModel.h"
#include "shell/Platform.h"

namespace ostrelo {

struct Devices {
  CameraDriver& camera;
  Display* display;  // nullptr: the window's own display, painting into PicCam's surface
  DaqDriver& daq;
  Clock& clock;
  Dialogs& dialogs;
  NumberLocale locale{};
  PlanStore* plans = nullptr;      // nullptr: no series is kept across a crash
  FreeSpace* freeSpace = nullptr;  // nullptr: the disk is not watched
};

inline constexpr const char* kAppTitle = "Ostrelo";
inline constexpr int32_t kKeyEnter = 13;

enum class Phase { Starting, Running, Ended };

// A device that stops answering. Its outage runs from its last answer to its next one,
// so its times are the device's own whatever else held the window meanwhile.
struct DeviceOutage {
  bool active = false;
  int64_t sinceMs = 0;        // steady clock, the last answer before the outage
  LocalTime since{};          // the same moment on the wall clock
  int32_t shotsNotTaken = 0;  // shots due meanwhile that were never taken
  int64_t countedToMs = 0;    // the shots due before this are in shotsNotTaken
  // The last answer, whether an outage followed or not.
  bool answered = false;
  int64_t answeredMs = 0;
  LocalTime answeredAt{};
  // The last outage once over, as its log line tells it.
  int64_t endedSeconds = 0;
  int32_t endedShotsNotTaken = 0;
};

// A camera that stops answering, as the grab follows it (camera/CameraOutage.h).
struct CameraOutage : DeviceOutage {
  int64_t restUntilMs = 0;  // grabs leave the camera alone until then
  int64_t triedMs = -1;     // steady clock of the last grab that asked the camera
};

// A DAQ card that stops answering after it has read (daq/GestionES_NI.h).
struct CardOutage : DeviceOutage {
  bool hasRead = false;   // the card has read since its task was made by the operator or start-up
  int64_t nextTryMs = 0;  // the card is brought back no sooner than this
  bool taskMade = false;  // brought back, its task yet to read
  int64_t triedMs = -1;   // steady clock of the last read or try
};

struct CardVisit;  // what one visit to the card asks and gives back, the DAQ unit's own

// The thread the card's reads run on, so that a driver that does not keep to its
// time-out holds that thread, never the window (daq/GestionES_NI.h).
struct CardThread {
  CardThread() = default;
  // A read still running is left to its thread, which ends after it.
  ~CardThread();
  CardThread(const CardThread&) = delete;
  CardThread& operator=(const CardThread&) = delete;
  std::unique_ptr<DeviceThread> thread;
  // A read past its deadline and still running: no other call reaches the card before
  // it has returned.
  std::shared_ptr<DeviceThread::Job> late;
  std::shared_ptr<CardVisit> lateVisit;  // what that read works on
  // A visit begun and not yet waited for, posted at postedMs (the program's clock).
  std::shared_ptr<DeviceThread::Job> pending;
  std::shared_ptr<CardVisit> pendingVisit;
  int64_t postedMs = 0;
  // Set when the window has gone: a read that returns then asks the driver nothing more.
  std::shared_ptr<std::atomic<bool>> closed = std::make_shared<std::atomic<bool>>(false);
  // Whether such a read is still running.
  bool hung() const { return late != nullptr && !thread->Ended(late); }
};

// The room left for shots on the picture folder's file system (shots/DiskGuard.h).
struct DiskRoom {
  bool known = false;
  uint64_t freeBytes = 0;  // at the last reading, less what the shots wrote since
  uint64_t blockBytes = 4096;
  std::string mountPoint;
  int64_t readAtMs = 0;           // steady clock of the last reading
  bool stoppedSeries = false;     // the last series was ended by the guard
  std::deque<int64_t> shotsAtMs;  // steady clock of the series' last shots, oldest first
};

// The exit status of a start that found no camera: the systemd unit does not restart
// on it, as it would only fail again until the camera is plugged in.
inline constexpr int kExitNoCamera = 3;

class Form1 {
 public:
  explicit Form1(Devices devices);
  Form1(const Form1&) = delete;
  Form1& operator=(const Form1&) = delete;

  AcquisitionState st;  // the one shared record
  MainWindowModel ui;   // the window as the operator sees it
  Devices dev;
  AboutBoxModel about;

  // Kept by the window rather than in the shared record.
  bool OneShot = false;
  bool MultiShot = false;
  // The series really runs: its name is chosen and its first tick is under way.
  // MultiShot is already set while the save dialog is open.
  bool SeriesRuns = false;
  // Kept by the shot-timer tick from one tick to the next.
  bool TickBusy = false;
  int32_t ShotCounter = 0;
  // Kept by the grab: pictures asked for and not yet received. A grab that gives up
  // waiting leaves its request with the camera; the next grab uses it rather than
  // queueing another one.
  int32_t QueuedRequests = 0;
  // Kept by the grab: whether the camera is answering.
  CameraOutage Outage;
  // Kept by the channel reading: whether the card is answering.
  CardOutage CardAway;
  CardThread CardCalls;
  // Kept by the disk guard while shots are taken.
  DiskRoom Disk;
  // A shot that found no picture is tried again at the following ticks of the shot
  // timer; a one shot gives up kOneShotPatienceMs after its first try.
  bool ShotWaiting = false;
  int64_t ShotWaitingSinceMs = 0;
  // The waiting shot's schedule: a shot is due every this many ms after it (0: none,
  // a one shot).
  int64_t ShotDueEveryMs = 0;
  // The newest picture asked for and still owed is a shot's.
  bool ShotRequestOwed = false;

  // Window events.
  bool Load();    // false: no camera; the program has been shut down and must exit non-zero
  void Unload();  // also Terminate: shut-down
  void Command1_Click();
  void Command2_Click();
  void TimeText_Change();
  void TimeText_KeyPress(int32_t keyAscii);
  void Timer1_Timer();
  void VisuTimer_Timer();
  void DeviceTimer_Timer();
  void LiveCheck_Click();
  void Text_Gain_KeyPress(int32_t keyAscii);
  void PicCam_MouseDown(int32_t button, int32_t shift, double x, double y);
  void PicCam_MouseMove(int32_t button, int32_t shift, double x, double y);
  void PicCam_MouseUp(int32_t button, int32_t shift, double x, double y);
  void CheckHisto_Click();
  void CheckNoSignal_Click();
  void CheckSaturation_Click();
  void CheckWarning_Click();
  void NoText_KeyPress(int32_t keyAscii);
  void SatText_KeyPress(int32_t keyAscii);
  void AcquiCheck_Click();
  void InfoContainer_Click();

  // Runs one window event to completion. An error the handler does not catch ends the
  // program: a message box with its number and description, then shut-down. After
  // the program has ended, events are ignored, so no tick runs after shut-down.
  void Dispatch(const std::function<void()>& handler);

  // Runs after every event handled to completion while the program runs: start-up
  // sets it to keep the series plan.
  std::function<void()> keepPlan;
  // An interrupted series is continued without the question (ostrelo --resume).
  bool ResumeWithoutAsking = false;
  // The running series' plan as kept (shots/SeriesPlan.h).
  struct KeptPlan {
    std::string text;  // as last written; empty when none is kept
    std::string startedAt;
    int32_t nextShot = 1;  // as the plan holds it: the record tells the later ones
  } Plan;
  // Set when the program is ended from outside (the system shutting down) or by an
  // error: the series did not end at the operator's will, so its plan stays.
  bool PlanSurvivesClose = false;

  // Writes one line to the program's log: to logSink, or standard error without one.
  void Log(const std::string& line);
  std::function<void(const std::string&)> logSink;
  // Runs after every dispatched event, an event that ended the program included, for
  // what watches the run from outside the window.
  std::function<void()> afterEvent;

  // The error that ended the program, once it has.
  int32_t fatalNumber = 0;
  std::string fatalText;

  Phase phase() const { return phase_; }
  int exitCode() const { return exitCode_; }

 private:
  friend void CloseCamera(Form1&);
  void EndProgram(int exitCode);
  void ReportFatal(int32_t number, const std::string& description);

  std::unique_ptr<Display> ownDisplay_;
  Phase phase_ = Phase::Starting;
  bool ending_ = false;  // a fatal error is being reported
  int exitCode_ = 0;
};

// The text of InfoCam for the current area of interest: (0000,0000) - (W:1280 - H:1024).
std::string AreaText(const AcquisitionState& st);

// Stops both timers and closes the camera connection in order.
void CloseCamera(Form1& f);

// A device answered.
void NoteDeviceAnswer(Form1& f, DeviceOutage& o);
// A device is found away: its outage starts at its last answer.
void BeginDeviceOutage(Form1& f, DeviceOutage& o);
// Its outage ends now: the log line is written, and what the outage came to is kept.
void EndDeviceOutage(Form1& f, DeviceOutage& o, const std::string& device, const std::string& how);
// With both devices away, the notices in the order their outages began.
void OrderDeviceNotices(Form1& f);

// Shots of the waiting shot's schedule, the first excepted, due in [fromMs, toMs).
int32_t DueShotsBetween(const Form1& f, int64_t fromMs, int64_t toMs);
// A shot found a device away and waits; dueEveryMs as ShotDueEveryMs.
void StartShotWaiting(Form1& f, int64_t triedAtMs, int64_t dueEveryMs);
// The waiting shot is taken, or given up (STOP, a one shot out of patience): each outage
// counts the shots due meanwhile, the waiting one too when it is given up.
void EndShotWaiting(Form1& f, bool taken);

}  // namespace ostrelo
