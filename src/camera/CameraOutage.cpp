#include "camera/CameraOutage.h"

#include "shell/Form1.h"

namespace ostrelo {

namespace {

void EndOutage(Form1& f, const char* how) {
  CameraOutage& o = f.Outage;
  if (!o.active) return;
  EndDeviceOutage(f, o, "Camera", how);
  o.restUntilMs = 0;
  f.ui.CameraNotice.clear();
}

}  // namespace

std::string CameraNoticeText(const LocalTime& since) { return "Camera not answering since " + TimeOfDayText(since); }

void NoteCameraSilent(Form1& f) {
  CameraOutage& o = f.Outage;
  o.restUntilMs = f.dev.clock.SteadyMs() + kCameraRestMs;
  if (o.active) return;
  BeginDeviceOutage(f, o);
  f.ui.CameraNotice = CameraNoticeText(o.since);
}

void NoteCameraAnswered(Form1& f) {
  EndOutage(f, "");
  NoteDeviceAnswer(f, f.Outage);
}

void NoteCameraClosed(Form1& f) { EndOutage(f, ", still away at shut-down"); }

}  // namespace ostrelo
