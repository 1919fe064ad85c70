#pragma once
// A main window on simulated time whose camera, display and card write one common
// call log, so tests can check the order of every call a grab makes.

#include <array>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "camera/SurfaceDisplay.h"
#include "camera/sim/SimulatedCamera.h"
#include "daq/sim/ConstantDaq.h"
#include "shell/Form1.h"
#include "support/TestRig.h"

namespace ostrelo::testing {

// The window's own display, with its calls added to the camera's log.
class RecordingDisplay final : public Display {
 public:
  explicit RecordingDisplay(SimulatedCamera& camera) : camera_(camera) {}
  void Bind(Surface& target) { inner_ = std::make_unique<SurfaceDisplay>(target); }

  int32_t Init(int32_t windowHandle) override {
    Log("mvDispInit(" + std::to_string(windowHandle) + ")");
    return inner_->Init(windowHandle);
  }
  void SetImage(int32_t display, const uint8_t* pixels, int32_t width, int32_t height, int32_t bitsPerPixel,
                int32_t pitch) override {
    Log("mvDispSetImage(" + std::to_string(display) + "," + std::to_string(width) + "," + std::to_string(height) + "," +
        std::to_string(bitsPerPixel) + "," + std::to_string(pitch) + ")");
    inner_->SetImage(display, pixels, width, height, bitsPerPixel, pitch);
  }
  void Update(int32_t display) override {
    Log("mvDispUpdate(" + std::to_string(display) + ")");
    inner_->Update(display);
  }
  void Deinit(int32_t* display) override {
    Log("mvDispDeinit(" + std::to_string(*display) + ")");
    if (onDeinit) onDeinit();
    inner_->Deinit(display);
  }
  std::function<void()> onDeinit;  // runs when the display is released

 private:
  void Log(const std::string& call) {
    if (camera_.recordCalls) camera_.calls.push_back(call);
  }
  SimulatedCamera& camera_;
  std::unique_ptr<SurfaceDisplay> inner_;
};

// The constant card, its calls added to the camera's log.
class ScriptedDaq final : public ConstantDaq {
 public:
  explicit ScriptedDaq(SimulatedCamera& camera) {
    log = [&camera](const std::string& call) {
      if (camera.recordCalls) camera.calls.push_back(call);
    };
  }
};

struct GrabRig {
  explicit GrabRig(int32_t width = SimulatedCamera::kDefaultWidth, int32_t height = SimulatedCamera::kDefaultHeight)
      : camera(clock, width, height),
        display(camera),
        daq(camera),
        form(Devices{camera, &display, daq, clock, dialogs}) {
    display.Bind(form.ui.CamSurface);
  }
  // Starts the window and begins recording from there.
  void Start() {
    if (!form.Load()) throw std::runtime_error("start-up failed");
    camera.calls.clear();
    camera.recordCalls = true;
  }

  ManualClock clock;
  SimulatedCamera camera;
  RecordingDisplay display;
  ScriptedDaq daq;
  FakeDialogs dialogs;
  Form1 form;
};

// What a grab may change, to show that a dropped frame changed none of it.
struct ViewsSnapshot {
  explicit ViewsSnapshot(const Form1& f)
      : frame(f.st.FrameBytes),
        cam(f.ui.CamSurface.pixels),
        overlay(f.ui.OverlaySurface.pixels),
        zoom(f.ui.ZoomSurface.pixels),
        revisions{f.ui.CamSurface.revision, f.ui.OverlaySurface.revision, f.ui.ZoomSurface.revision},
        imageWidth(f.st.ImageWidth),
        imageHeight(f.st.ImageHeight) {
    for (int i = 0; i < 4; ++i) {
      values[i] = f.st.ChannelTable[i].Value;
      captions[i] = f.ui.CanalLabel[i].caption;
    }
  }
  bool operator==(const ViewsSnapshot&) const = default;

  std::vector<uint8_t> frame;
  std::vector<uint32_t> cam, overlay, zoom;
  std::array<uint64_t, 3> revisions;
  int32_t imageWidth, imageHeight;
  std::array<double, 4> values{};
  std::array<std::string, 4> captions;
};

}  // namespace ostrelo::testing
