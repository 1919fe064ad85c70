#include "camera/CameraOutage.h"

#include "shell/Form1.h"

namespace ostrelo {

namespace {

void EndOutage(Form1& f, const char* how) {
  CameraOutage& o = f.Outage;
  if (!o.active) return;
  f.Log(OutageLine("Camera", o.since, o.sinceMs, f.dev.clock, how, o.shotsWaited));
  o = CameraOutage{};
  f.ui.CameraNotice.clear();
}

}  // namespace

std::string CameraNoticeText(const LocalTime& since) { return "Camera not answering since " + TimeOfDayText(since); }

void NoteCameraSilent(Form1& f) {
  CameraOutage& o = f.Outage;
  const int64_t now = f.dev.clock.SteadyMs();
  o.restUntilMs = now + kCameraRestMs;
  if (o.active) return;
  o.active = true;
  o.sinceMs = now;
  o.since = f.dev.clock.Now();
  o.shotsWaited = f.ShotWaiting ? 1 : 0;  // a shot waiting for the card waits for the camera now
  f.ui.CameraNotice = CameraNoticeText(o.since);
}

void NoteCameraAnswered(Form1& f) { EndOutage(f, ""); }

void NoteShotWaiting(Form1& f) {
  if (f.Outage.active) ++f.Outage.shotsWaited;
}

void NoteCameraClosed(Form1& f) { EndOutage(f, ", still away at shut-down"); }

}  // namespace ostrelo
