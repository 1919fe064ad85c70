#pragma once
// What the Aravis tests share: a main window on an Aravis camera, and one picture taken
// the way the grab takes it.

#include <cstdint>
#include <string>

#include "camera/aravis/AravisCamera.h"
#include "daq/sim/SimulatedDaq.h"
#include "shell/Form1.h"
#include "support/TestRig.h"

namespace ostrelo::testing {

// The main window on an Aravis camera; the card is simulated and the window's clock is
// manual (the camera itself waits in real time).
struct AravisRig {
  explicit AravisRig(AravisOptions options, NumberLocale locale = {})
      : camera(std::move(options)), daq(clock), form(Devices{camera, nullptr, daq, clock, dialogs, locale}) {}
  ManualClock clock;
  AravisCamera camera;
  SimulatedDaq daq;
  FakeDialogs dialogs;
  Form1 form;
};

AravisOptions FakeCameraOptions();

// One picture into st.FrameBytes: gives back the held request, asks for a new picture,
// waits for it (200 ms per wait, at most maxWaits waits), reads its description and
// copies its pixels. Returns 0, or the status of the step that failed.
int32_t GrabInto(CameraDriver& camera, AcquisitionState& st, int maxWaits = 50);

// Wall-clock microseconds, the clock the camera's frames are stamped with.
int64_t WallClockUs();

// Types a text into the gain box and presses Enter.
void EnterGain(Form1& form, const std::string& text);

}  // namespace ostrelo::testing
