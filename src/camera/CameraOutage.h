#pragma once
// A camera that stops answering: the window says so while it lasts, and the log gets
// one line for each outage once it is over. The grab keeps the outage in Form1::Outage.

#include <cstdint>
#include <string>

#include "shell/Platform.h"

namespace ostrelo {

class Form1;

// After a grab that got no answer, grabs leave the camera alone this long, so the
// events that queued up meanwhile are handled before the window is held again.
inline constexpr int64_t kCameraRestMs = 250;

// "Camera not answering since 14:02:33"
std::string CameraNoticeText(const LocalTime& since);

// A grab spent its time without a picture.
void NoteCameraSilent(Form1& f);
// A picture came: an outage in progress is over.
void NoteCameraAnswered(Form1& f);
// Shut-down during an outage: its line is written with what is known so far.
void NoteCameraClosed(Form1& f);

}  // namespace ostrelo
