#pragma once
// A camera that stops answering: the window says so while it lasts, and the log gets
// one line for each outage once it is over.

#include <cstdint>
#include <string>

#include "shell/Platform.h"

namespace ostrelo {

class Form1;

struct CameraOutage {
  bool active = false;
  int64_t sinceMs = 0;      // steady clock, first grab that got no picture
  LocalTime since{};        // the same moment on the wall clock
  int64_t restUntilMs = 0;  // grabs leave the camera alone until then
  int32_t shotsWaited = 0;  // shots that could not be taken when due
};

// "Camera not answering since 14:02:33"
std::string CameraNoticeText(const LocalTime& since);

// A grab spent its time without a picture.
void NoteCameraSilent(Form1& f);
// A picture came: an outage in progress is over.
void NoteCameraAnswered(Form1& f);
// A shot found no picture when it was due (counted once per shot, not per try).
void NoteShotWaiting(Form1& f);
// Shut-down during an outage: its line is written with what is known so far.
void NoteCameraClosed(Form1& f);

}  // namespace ostrelo
