#include "shell/Form1.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <string>

#include "shell/Numbers.h"
#include "shell/ProgramError.h"

namespace ostrelo {

std::string AreaText(const AcquisitionState& st) {
  // Appended piece by piece: GCC 12 warns falsely (-Wrestrict) on a chain of + from a literal.
  std::string text = "(";
  text.append(FormatNumber(st.AoiLeft, "0000")).append(",").append(FormatNumber(st.AoiTop, "0000"));
  text.append(") - (W:").append(FormatNumber(st.AoiWidth, "0000"));
  text.append(" - H:").append(FormatNumber(st.AoiHeight, "0000")).append(")");
  return text;
}

CardThread::~CardThread() {
  if (!hung()) return;
  *closed = true;
  // Its job may return long after the window has gone, into this thread's state.
  thread->Abandon();
  (void)thread.release();  // NOLINT(bugprone-unused-return-value): left to the job, on purpose
}

void Form1::Log(const std::string& line) {
  if (logSink) {
    logSink(line);
  } else {
    std::fprintf(stderr, "%s\n", line.c_str());
  }
}

void Form1::Dispatch(const std::function<void()>& handler) {
  if (phase_ == Phase::Ended || ending_) return;
  try {
    handler();
    if (keepPlan && phase_ == Phase::Running && !ending_) keepPlan();
  } catch (const ProgramError& e) {
    ReportFatal(e.number(), e.description());
  } catch (const std::exception& e) {
    ReportFatal(-1, e.what());
  }
  if (afterEvent) afterEvent();
}

void Form1::ReportFatal(int32_t number, const std::string& description) {
  if (phase_ == Phase::Ended || ending_) return;
  // The timers would keep firing behind the modal box, each failing tick opening
  // another one: stop them, and let no event run until the program has ended.
  ending_ = true;
  PlanSurvivesClose = true;
  fatalNumber = number;
  fatalText = description;
  ui.Timer1.Stop();
  ui.VisuTimer.Stop();
  ui.DeviceTimer.Stop();
  dev.dialogs.SetBusyPointer(false);
  dev.dialogs.MessageBox("Run-time error '" + std::to_string(number) + "':\n\n" + description, kAppTitle);
  // Release the camera and the card before ending, as a normal shut-down does.
  Unload();
  exitCode_ = 1;
}

void Form1::EndProgram(int exitCode) {
  phase_ = Phase::Ended;
  exitCode_ = exitCode;
}

void Form1::InfoContainer_Click() { about.Open(); }

namespace {

// Longer than any time between two calls to a device in a running series (the longest
// period and its grab): a device nobody asked for longer (the live view off, no series)
// is taken to have gone away when it is found away.
constexpr int64_t kLongestQuietMs = 65000;

void CountShotsNotTaken(Form1& f, DeviceOutage& o, bool givenUp) {
  if (!o.active) return;
  const int64_t now = f.dev.clock.SteadyMs();
  o.shotsNotTaken += DueShotsBetween(f, o.countedToMs, now);
  if (givenUp && f.ShotWaiting && o.sinceMs <= f.ShotWaitingSinceMs) ++o.shotsNotTaken;
  o.countedToMs = now;
}

}  // namespace

void NoteDeviceAnswer(Form1& f, DeviceOutage& o) {
  o.answered = true;
  o.answeredMs = f.dev.clock.SteadyMs();
  o.answeredAt = f.dev.clock.Now();
}

void BeginDeviceOutage(Form1& f, DeviceOutage& o) {
  const int64_t now = f.dev.clock.SteadyMs();
  o.active = true;
  if (o.answered && now - o.answeredMs <= kLongestQuietMs) {
    o.sinceMs = o.answeredMs;
    o.since = o.answeredAt;
  } else {
    o.sinceMs = now;
    o.since = f.dev.clock.Now();
  }
  o.shotsNotTaken = 0;
  o.countedToMs = o.sinceMs;
  OrderDeviceNotices(f);
}

void EndDeviceOutage(Form1& f, DeviceOutage& o, const std::string& device, const std::string& how) {
  if (!o.active) return;
  CountShotsNotTaken(f, o, false);
  o.endedSeconds = OutageSeconds(o.sinceMs, f.dev.clock);
  o.endedShotsNotTaken = o.shotsNotTaken;
  f.Log(OutageLine(device, o.since, o.sinceMs, f.dev.clock, how, o.shotsNotTaken));
  o.active = false;
  o.shotsNotTaken = 0;
  OrderDeviceNotices(f);
}

void OrderDeviceNotices(Form1& f) {
  f.ui.CardNoticeFirst = f.CardAway.active && f.Outage.active && f.CardAway.sinceMs < f.Outage.sinceMs;
}

int32_t DueShotsBetween(const Form1& f, int64_t fromMs, int64_t toMs) {
  const int64_t every = f.ShotDueEveryMs;
  const int64_t first = f.ShotWaitingSinceMs;
  if (!f.ShotWaiting || every <= 0 || toMs <= first) return 0;
  // k = 1, 2, ...: the shot due at first + k * every.
  const int64_t lowest = fromMs <= first + every ? 1 : (fromMs - first + every - 1) / every;
  const int64_t highest = (toMs - first - 1) / every;
  return static_cast<int32_t>(std::clamp<int64_t>(highest - lowest + 1, 0, INT32_MAX));
}

void StartShotWaiting(Form1& f, int64_t triedAtMs, int64_t dueEveryMs) {
  f.ShotWaiting = true;
  f.ShotWaitingSinceMs = triedAtMs;
  f.ShotDueEveryMs = dueEveryMs;
}

void EndShotWaiting(Form1& f, bool taken) {
  if (!f.ShotWaiting) return;
  CountShotsNotTaken(f, f.Outage, !taken);
  CountShotsNotTaken(f, f.CardAway, !taken);
  f.ShotWaiting = false;
}

}  // namespace ostrelo
