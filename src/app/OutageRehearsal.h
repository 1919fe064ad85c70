#pragma once
// Rehearsing an outage with simulated devices: the camera or the card goes away and
// comes back. Ctrl+Shift+F7 (camera) and Ctrl+Shift+F8 (card) in any window of the
// program, on every platform; SIGUSR1 and SIGUSR2 on Linux.

#include <QObject>

namespace ostrelo {
class SimulatedCamera;
class SimulatedDaq;
}  // namespace ostrelo

namespace ostrelo::qtui {

class OutageRehearsal final : public QObject {
 public:
  // Either device may be missing (not simulated): its toggle then only says so.
  OutageRehearsal(SimulatedCamera* camera, SimulatedDaq* daq);

  // Each says on standard error what it did; cause names what asked for it.
  void ToggleCamera(const char* cause);
  void ToggleCard(const char* cause);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  SimulatedCamera* camera_;
  SimulatedDaq* daq_;
};

}  // namespace ostrelo::qtui
