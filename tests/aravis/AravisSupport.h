#pragma once
// What the Aravis tests share: a main window on an Aravis camera.

#include <cstdint>
#include <string>

#include "camera/aravis/AravisCamera.h"
#include "daq/sim/SimulatedDaq.h"
#include "shell/Form1.h"
#include "support/TestRig.h"

namespace ostrelo::testing {

// The main window on an Aravis camera; the card is simulated. The window's clock is
// manual unless realTime is asked for (the camera itself always waits in real time;
// the grab's time limits need the real clock when the camera stops answering).
struct AravisRig {
  explicit AravisRig(AravisOptions options, NumberLocale locale = {}, bool realTime = false)
      : windowClock(realTime ? static_cast<Clock&>(systemClock) : clock),
        camera(std::move(options)),
        daq(windowClock),
        form(Devices{camera, nullptr, daq, windowClock, dialogs, locale}) {}
  ManualClock clock;
  SystemClock systemClock;
  Clock& windowClock;
  AravisCamera camera;
  SimulatedDaq daq;
  FakeDialogs dialogs;
  Form1 form;
};

AravisOptions FakeCameraOptions();

// Wall-clock microseconds, the clock the camera's frames are stamped with.
int64_t WallClockUs();

// Types a text into the gain box and presses Enter.
void EnterGain(Form1& form, const std::string& text);

}  // namespace ostrelo::testing
