// Windows: libusb reaches a USB3 Vision camera only through the WinUSB driver, which
// Windows does not bind to it by itself; the answers to the GigE Vision camera search are
// UDP packets the firewall drops unless the program is allowed them.

#include "startup/CameraAdvice.h"

namespace ostrelo {

std::string NoCameraAdvice() {
  return "\n\nUSB3 Vision camera: bind the WinUSB driver to it (with Zadig or the camera maker's tool)."
         "\nGigE Vision camera: let ostrelo.exe receive UDP through Windows Firewall (the camera search).";
}

}  // namespace ostrelo
