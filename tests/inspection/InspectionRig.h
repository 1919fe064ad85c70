#pragma once
// A started main window whose camera display only counts its repaints, so the tests can
// see when the camera view is asked to update.

#include <gtest/gtest.h>

#include <cstdint>

#include "shell/Display.h"
#include "support/TestRig.h"

namespace ostrelo::testing {

class CountingDisplay final : public Display {
 public:
  int32_t Init(int32_t) override { return kHandle; }
  void SetImage(int32_t, const uint8_t*, int32_t, int32_t, int32_t, int32_t) override {}
  void Update(int32_t display) override {
    ++updates;
    if (display != kHandle) ++foreignUpdates;
  }
  void Deinit(int32_t*) override {}

  static constexpr int32_t kHandle = 77;
  int updates = 0;
  int foreignUpdates = 0;  // updates of a display handle this display never gave out
};

struct InspectionRig {
  explicit InspectionRig(int32_t width = SimulatedCamera::kDefaultWidth,
                         int32_t height = SimulatedCamera::kDefaultHeight)
      : camera(clock, width, height), daq(clock), form(Devices{camera, &display, daq, clock, dialogs}) {
    started = form.Load();
  }
  ManualClock clock;
  SimulatedCamera camera;
  SimulatedDaq daq;
  FakeDialogs dialogs;
  CountingDisplay display;
  Form1 form;
  bool started = false;
};

}  // namespace ostrelo::testing
