// Linux: the package's udev rule opens USB3 Vision cameras to the user at the seat, and
// GigE Vision needs nothing more.

#include "startup/CameraAdvice.h"

namespace ostrelo {

std::string NoCameraAdvice() { return {}; }

}  // namespace ostrelo
