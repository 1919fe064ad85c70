// The wait-time entry, the one-shot and series buttons and the shot timer's tick.

#include <cmath>
#include <exception>
#include <string>

#include "camera/GrabFrame.h"
#include "daq/GestionES_NI.h"
#include "shell/Form1.h"
#include "shell/Numbers.h"
#include "shell/ProgramError.h"
#include "shell/Utf8.h"
#include "shots/DiskGuard.h"
#include "shots/ShotProcedure.h"

namespace ostrelo {

namespace {

constexpr double kDefaultWaitSeconds = 0.5;
constexpr const char* kDefaultWaitText = "0.5";
constexpr int32_t kCountdownPeriodMs = 500;
constexpr int32_t kOneShotDelayMs = 100;
constexpr double kSecondsPerDay = 86400.0;
// How long a one shot keeps trying a camera that gives no picture.
constexpr int64_t kOneShotPatienceMs = 10000;

const VbColour kGreen = Rgb(0, 255, 0);
const VbColour kRed = Rgb(255, 0, 0);
const VbColour kLightBlue = Rgb(192, 192, 255);

// Byte offset of character index chars in a UTF-8 text (clamped to its end).
size_t ByteOffsetOfCharacter(const std::string& text, int32_t chars) {
  size_t i = 0;
  for (int32_t c = 0; c < chars && i < text.size(); ++c) {
    ++i;
    while (i < text.size() && IsContinuationByte(text[i])) ++i;
  }
  return i;
}

// Puts insert in place of the text box's selection (at the caret when nothing is
// selected) and leaves the caret after it.
void ReplaceSelection(Control& box, const std::string& insert) {
  const int32_t start = box.selStart < 0 ? 0 : box.selStart;
  const int32_t length = box.selLength < 0 ? 0 : box.selLength;
  const size_t from = ByteOffsetOfCharacter(box.caption, start);
  const size_t to = from + ByteOffsetOfCharacter(box.caption.substr(from), length);
  box.caption = box.caption.substr(0, from) + insert + box.caption.substr(to);
  // Caret in characters: those before the insertion point plus the inserted ones.
  int32_t before = 0;
  for (size_t i = 0; i < from; ++i) {
    if (!IsContinuationByte(box.caption[i])) ++before;
  }
  box.selStart = before + static_cast<int32_t>(insert.size());
  box.selLength = 0;
}

// The shot timer's period for the validated wait: 500 ms in countdown mode, the wait
// itself in period mode, and the shown 0.5 s while no wait has been validated yet.
int32_t SeriesPeriodMs(const AcquisitionState& st) {
  if (st.WaitMinutes != 0) return kCountdownPeriodMs;
  if (st.WaitLength > 0) return st.WaitLength;
  return RoundToInt32(kDefaultWaitSeconds * 1000.0);
}

std::string CountdownText(int32_t remaining, int32_t total) {
  return "\r                Please don't touch this computer\r                         Test in progress \r\r"
         "            " +
         std::to_string(remaining) + "/" + std::to_string(total) + "s remained before next shot";
}

// Runs one step of a handler that goes on after any failing step.
template <typename Step>
void GoOnAfterError(Step&& step) {
  try {
    step();
  } catch (const std::exception&) {
    // Skipped like the failing step itself; the next step runs.
  }
}

// Clears TickBusy however the tick ends, an escaping error included, so a failed shot
// never blocks the ticks that follow.
class TickBusyGuard {
 public:
  explicit TickBusyGuard(bool& busy) : busy_(busy) { busy_ = true; }
  TickBusyGuard(const TickBusyGuard&) = delete;
  TickBusyGuard& operator=(const TickBusyGuard&) = delete;
  ~TickBusyGuard() { busy_ = false; }

 private:
  bool& busy_;
};

}  // namespace

void Form1::DeviceTimer_Timer() {
  // Not inside the shot tick (a message box of its own), nor during a one shot, whose
  // tick comes every 100 ms.
  if (TickBusy || OneShot) return;
  const bool away = Outage.active || CardAway.active;
  if (!away && !SeriesRuns) return;
  // Shots as close as a second apart visit both devices themselves.
  if (!away && st.WaitMinutes == 0 && SeriesShotSpacingMs(st) <= kDeviceVisitMs) return;
  const int64_t now = dev.clock.SteadyMs();
  const int64_t dueAfterMs = kDeviceVisitMs - kDeviceTimerMs;
  const bool cardWatched = st.DaqAcquisitionOn && CardAway.hasRead;
  if ((SeriesRuns || Outage.active) && now - Outage.triedMs >= dueAfterMs) {
    // The grab reads the card too, with its picture or, without one, on its own. A
    // waiting shot is tried again rather than let a live picture take the one it asked for.
    if (MultiShot && ShotWaiting) {
      Timer1_Timer();
    } else {
      GrabFrame(*this, GrabPurpose::Live);
    }
  } else if (cardWatched && now - CardAway.triedMs >= dueAfterMs) {
    ReadDaqChannels(*this);
  }
}

void Form1::TimeText_Change() { ui.TimeText.foreColour = kGreen; }

void Form1::TimeText_KeyPress(int32_t keyAscii) {
  if (keyAscii != kKeyEnter) return;
  if (!ui.TimeText.caption.empty()) st.WaitTime = LeadingNumber(ui.TimeText.caption);
  if (st.WaitTime == 0 || st.WaitTime < kMinWaitSeconds || st.WaitTime > kMaxWaitSeconds) {
    st.WaitTime = kDefaultWaitSeconds;
    ReplaceSelection(ui.TimeText, kDefaultWaitText);
  }
  const int32_t wholeSeconds = RoundToInt32(st.WaitTime);
  st.WaitMinutes = wholeSeconds / 60;
  st.WaitLength = wholeSeconds;
  ui.TimeText.foreColour = kRed;
  if (st.WaitMinutes != 0) {
    ui.Timer1.SetInterval(kCountdownPeriodMs);
    st.ElapsedSeconds = 0;
  } else {
    st.WaitLength = RoundToInt32(st.WaitTime * 1000.0);
    ui.Timer1.SetInterval(st.WaitLength);
  }
}

void Form1::Command1_Click() {
  if (OneShot) return;
  OneShot = true;
  GoOnAfterError([&] { ui.VisuTimer.Stop(); });
  GoOnAfterError([&] { GrabFrame(*this, GrabPurpose::Live); });
  if (st.PictureFileName.empty()) GoOnAfterError([&] { ChooseShotFile(*this, /*goOnAfterCancel=*/true); });
  if (!RoomForOneShot(*this)) {
    // Nothing is written; the live view goes on as after the shot.
    OneShot = false;
    ui.VisuTimer.Start();
    return;
  }
  st.LastShotTime = 0;
  ui.Timer1.SetInterval(kOneShotDelayMs);
  ui.Timer1.Start();
}

void Form1::Command2_Click() {
  ui.DiskNotice.clear();
  ui.DiskNoticeUrgent = false;
  if (MultiShot) {
    ui.Command1.enabled = true;
    ui.Picture1.visible = false;
    ui.CheckWarning.visible = false;
    ui.Command2.caption = "Multiple shots";
    ui.Command2.backColour = kLightBlue;
    ui.PicCam.enabled = true;
    ui.Timer1.Stop();
    st.LastShotTime = 0;
    ui.VisuTimer.SetEnabled(ui.LiveCheck.value == 1);
    MultiShot = SeriesRuns = false;
    EndShotWaiting(*this, false);
    return;
  }

  ui.Command1.enabled = false;
  ui.CheckWarning.visible = true;
  ui.PicCam.enabled = false;
  ui.Command2.caption = "STOP !";
  ui.Command2.backColour = kRed;
  MultiShot = true;
  EndShotWaiting(*this, false);
  // A name chosen for this start is given up with it, as a cancel leaves none.
  const bool chooses = st.PictureFileName.empty();
  try {
    if (chooses) ChooseShotFile(*this);
    if (!RoomForSeries(*this)) {
      if (chooses) {
        st.PictureFileName.clear();
        st.RecordFileName.clear();
        ui.Label3.caption.clear();
      }
      throw ProgramError(ErrorNumber::kDiskFull, "No room for the series");
    }
    ui.VisuTimer.Stop();
    st.LastShotTime = 0;
    SeriesRuns = true;
    Timer1_Timer();
    // The series runs at the period of the wait shown, whatever a one shot or the
    // start-up state left in the timer.
    ui.Timer1.SetInterval(SeriesPeriodMs(st));
    ui.Timer1.Start();
  } catch (const std::exception&) {
    // A cancelled dialog or a failed first shot: back to idle, without a message.
    ui.Command2.caption = "Multiple shots";
    ui.Picture1.visible = false;
    ui.PicCam.enabled = true;
    ui.CheckWarning.visible = false;
    ui.Command1.enabled = true;
    ui.Command2.backColour = kLightBlue;
    st.LastShotTime = 0;
    ui.Timer1.Stop();
    ui.VisuTimer.SetEnabled(ui.LiveCheck.value == 1);
    MultiShot = SeriesRuns = false;
    EndShotWaiting(*this, false);
  }
}

void Form1::Timer1_Timer() {
  if (ui.CheckWarning.value == 1) ui.Picture1.visible = false;
  if (TickBusy) return;
  TickBusyGuard busy(TickBusy);
  if (MultiShot && !GuardSeriesTick(*this)) return;
  ui.VisuTimer.Stop();

  // Read to the whole second, so elapsed times are exact counts of seconds.
  const double now = DateTimeDays(dev.clock.Now());
  if (ShotWaiting) {
    // A shot that found no picture is due still: it is tried again at once.
  } else if (st.LastShotTime == 0) {
    st.LastShotTime = now;
  } else {
    st.ElapsedSeconds = RoundToInt32(std::fabs(now - st.LastShotTime) * kSecondsPerDay);
    if (st.WaitMinutes != 0) {
      if (st.ElapsedSeconds < st.WaitLength) {
        ui.Picture1Text = CountdownText(st.WaitLength - st.ElapsedSeconds, st.WaitLength);
        TickBusy = false;
        ui.VisuTimer.Start();
        if (ui.CheckWarning.value == 1) ui.Picture1.visible = true;
        return;
      }
      st.LastShotTime = now;
    }
  }

  const int64_t triedAtMs = dev.clock.SteadyMs();
  if (TakeShot(*this)) {
    NoteShotWritten(*this);
    // A shot taken late: the next wait of a countdown runs from this one.
    if (ShotWaiting && st.WaitMinutes != 0) st.LastShotTime = now;
    EndShotWaiting(*this, true);
  } else if (!ShotWaiting) {
    // The shots due meanwhile follow the series' wait from this one; a one shot has none.
    StartShotWaiting(*this, triedAtMs, OneShot ? 0 : SeriesShotSpacingMs(st));
  }
  // A one shot ends when another try could not end within its patience.
  const bool gaveUp =
      OneShot && ShotWaiting && dev.clock.SteadyMs() + kGrabBudgetMs > ShotWaitingSinceMs + kOneShotPatienceMs;
  if (OneShot && (!ShotWaiting || gaveUp)) {
    OneShot = false;
    EndShotWaiting(*this, false);
    ui.Timer1.Stop();
    st.LastShotTime = 0;
    ui.VisuTimer.Start();
  }
  TickBusy = false;
  if (ui.CheckWarning.value == 1) ui.Picture1.visible = true;
  // Told after the one shot has ended, so the live view runs behind the message.
  if (gaveUp) dev.dialogs.MessageBox(CardAway.active && !Outage.active ? kNoVoltagesText : kNoPictureText, kAppTitle);
}

}  // namespace ostrelo
