#include "camera/CameraOutage.h"

#include "shell/Form1.h"
#include "shell/Numbers.h"

namespace ostrelo {

namespace {

std::string TimeOfDay(const LocalTime& t) {
  return FormatNumber(t.hour, "00") + ":" + FormatNumber(t.minute, "00") + ":" + FormatNumber(t.second, "00");
}

std::string DateAndTime(const LocalTime& t) {
  return std::to_string(t.year) + "-" + FormatNumber(t.month, "00") + "-" + FormatNumber(t.day, "00") + " " +
         TimeOfDay(t);
}

void EndOutage(Form1& f, const char* how) {
  CameraOutage& o = f.Outage;
  if (!o.active) return;
  const int64_t seconds = (f.dev.clock.SteadyMs() - o.sinceMs + 500) / 1000;
  f.Log("Camera not answering from " + DateAndTime(o.since) + " to " + DateAndTime(f.dev.clock.Now()) + " (" +
        std::to_string(seconds) + " s" + how + "), " + std::to_string(o.shotsWaited) +
        (o.shotsWaited == 1 ? " shot waited" : " shots waited"));
  o = CameraOutage{};
  f.ui.CameraNotice.clear();
}

}  // namespace

std::string CameraNoticeText(const LocalTime& since) { return "Camera not answering since " + TimeOfDay(since); }

void NoteCameraSilent(Form1& f) {
  CameraOutage& o = f.Outage;
  const int64_t now = f.dev.clock.SteadyMs();
  o.restUntilMs = now + kCameraRestMs;
  if (o.active) return;
  o.active = true;
  o.sinceMs = now;
  o.since = f.dev.clock.Now();
  f.ui.CameraNotice = CameraNoticeText(o.since);
}

void NoteCameraAnswered(Form1& f) { EndOutage(f, ""); }

void NoteShotWaiting(Form1& f) {
  if (f.Outage.active) ++f.Outage.shotsWaited;
}

void NoteCameraClosed(Form1& f) { EndOutage(f, ", still away at shut-down"); }

}  // namespace ostrelo
