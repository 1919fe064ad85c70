#pragma once
// What the platform provides to the core: the clock, the modal dialogs, the busy
// pointer and the free space of a folder. The Qt executable implements them with Qt; tests replace them.

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace ostrelo {

// A local calendar reading.
struct LocalTime {
  int year = 1899, month = 12, day = 30;
  int hour = 0, minute = 0, second = 0;
  double secondsSinceMidnight = 0.0;  // with fractions
  int32_t utcOffsetMinutes = 0;       // local time less UTC
};

// Days since 30 December 1899 with the time of day as fraction, read to the whole
// second: the date-and-time value of LastShotTime.
double DateTimeDays(const LocalTime& t);
// "14:02:33" and "2011-03-25 14:02:33".
std::string TimeOfDayText(const LocalTime& t);
std::string DateAndTimeText(const LocalTime& t);
// The log line of a device's outage that ends now: "<device> not answering from
// <date time> to <date time> (N s<how>), K shots not taken", N counted from fromSteadyMs.
class Clock;
std::string OutageLine(const std::string& device, const LocalTime& from, int64_t fromSteadyMs, Clock& clock,
                       const std::string& how, int32_t shotsNotTaken);
// Whole seconds from fromSteadyMs to now.
int64_t OutageSeconds(int64_t fromSteadyMs, Clock& clock);
// "1 shot not taken", "302 shots not taken".
std::string ShotsNotTakenText(int32_t shots);

class Clock {
 public:
  virtual ~Clock() = default;
  virtual LocalTime Now() = 0;
  // Monotonic milliseconds, for time-outs.
  virtual int64_t SteadyMs() = 0;
  // Blocks the caller; a simulated clock advances instead.
  virtual void SleepMs(int32_t ms) = 0;
  // How long to really wait for a device thread's work that may take ms on this clock.
  virtual int64_t RealWaitMs(int64_t ms) { return ms; }
  // Work on a device thread, asked for at askedMs, begins on the calling thread.
  virtual void DeviceWorkBegins(int64_t /*askedMs*/) {}
};

// The wall clock of the machine.
class SystemClock final : public Clock {
 public:
  LocalTime Now() override;
  int64_t SteadyMs() override;
  void SleepMs(int32_t ms) override;
};

// A clock that moves only when told to (or when something sleeps on it): whole
// series of shots run in simulated time. A device thread (shell/DeviceThread.h) runs
// beside the window: its sleeps move only its own time, which never falls behind the
// clock's; the window's time meets it when the window has waited for its work. Work
// begun by DeviceWorkBegins runs on its own time from the moment it was asked for, not
// from wherever the window's time has got to when the thread really runs: the same
// series gives the same times however the threads are scheduled.
class ManualClock final : public Clock {
 public:
  explicit ManualClock(LocalTime start = {2011, 3, 25, 12, 0, 0, 43200.0});
  LocalTime Now() override;
  int64_t SteadyMs() override;
  void SleepMs(int32_t ms) override;

  // A simulated device's work takes no real time however long it lasts on this clock, so
  // a real wait is cut only for work that really hangs (a stand-in driver library): a
  // bound drawn from simulated time would count a thread not yet scheduled as a device late.
  int64_t RealWaitMs(int64_t) override { return realWaitMs_; }
  void DeviceWorkBegins(int64_t askedMs) override;
  void LimitRealWaits(int64_t ms) { realWaitMs_ = ms; }

  void Advance(int64_t ms);
  void Set(const LocalTime& t);  // jumps the calendar (steady time unchanged)

 private:
  // How far the calling device thread's time is from the clock's (0 on any other thread).
  int64_t Lead();
  std::atomic<int64_t> epochMs_ = 0;  // local milliseconds since 30 December 1899: whole steps never drift
  std::atomic<int64_t> steadyMs_ = 0;
  int64_t realWaitMs_ = 10000;
};

struct SaveDialogRequest {
  bool cancelError = false;
  uint32_t flags = 0;
  std::string fileName;  // proposed name
  std::string defaultExt;
  std::string initDir;
  std::string title;
  std::string filter;  // "description|pattern"
  // Why a name cannot be taken, empty when it can: the dialog refuses such a name,
  // says why and stays open.
  std::function<std::string(const std::string&)> check;
};

// The answer of a question that Enter (its default button) gives.
enum class Answer { Yes, No };

class Dialogs {
 public:
  virtual ~Dialogs() = default;
  // Modal message box: OK button, no icon.
  virtual void MessageBox(const std::string& text, const std::string& title) = 0;
  // Modal Yes/No question; true for Yes. A question whose Yes loses data has No on Enter.
  virtual bool AskYesNo(const std::string& text, const std::string& title, Answer onEnter = Answer::Yes) = 0;
  // Modal save-file dialog; nullopt when the user cancels.
  virtual std::optional<std::string> ShowSave(const SaveDialogRequest& request) = 0;
  // The application-wide busy pointer.
  virtual void SetBusyPointer(bool busy) = 0;
};

// Where the plan of a running series is kept, so that a series a crash or a power cut
// interrupted can go on (shots/SeriesPlan.h). Only one program at a time keeps plans.
class PlanStore {
 public:
  virtual ~PlanStore() = default;
  virtual std::optional<std::string> Read() = 0;    // nullopt: no plan
  virtual bool Write(const std::string& text) = 0;  // whole or not at all, through a power cut
  virtual void Remove() = 0;
  // A plan that is not used is kept aside under a name of its own, not lost: that name,
  // or "" when it cannot be.
  virtual std::string SetAside() = 0;
  virtual std::string Where() const = 0;
  virtual std::string ProgramVersion() const = 0;
};

// The room left on the file system that holds a folder.
struct DiskSpace {
  uint64_t availableBytes = 0;  // what the program may still write there
  uint64_t blockBytes = 4096;   // a file takes whole blocks
  std::string mountPoint;       // where that file system is mounted, for the operator
};

// What the platform knows of free space; tests give simulated room.
class FreeSpace {
 public:
  virtual ~FreeSpace() = default;
  // nullopt when the folder's file system cannot tell.
  virtual std::optional<DiskSpace> Read(const std::string& folder) = 0;
};

// The locale's number rules the program uses.
struct NumberLocale {
  char decimalSeparator = '.';
};

}  // namespace ostrelo
