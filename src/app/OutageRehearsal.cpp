#include "app/OutageRehearsal.h"

#include <QApplication>
#include <QKeyEvent>
#include <cstdint>
#include <cstdio>
#include <string>

#include "camera/sim/SimulatedCamera.h"
#include "daq/sim/SimulatedDaq.h"

namespace ostrelo::qtui {

namespace {

constexpr Qt::KeyboardModifiers kChord = Qt::ControlModifier | Qt::ShiftModifier;

void Say(const std::string& line) { std::fputs((line + "\n").c_str(), stderr); }

}  // namespace

// The chord is taken before any widget sees it, in a modal message box too, so a
// rehearsal never depends on where the focus is.
OutageRehearsal::OutageRehearsal(SimulatedCamera* camera, SimulatedDaq* daq) : camera_(camera), daq_(daq) {
  qApp->installEventFilter(this);
}

void OutageRehearsal::ToggleCamera(const char* cause) {
  if (camera_ == nullptr) {
    Say(std::string(cause) + " ignored: the camera is not simulated");
    return;
  }
  bool& away = camera_->script.noPicture;
  away = !away;
  Say(away ? std::string("Simulated camera away (") + cause + " brings it back)" : "Simulated camera back");
}

void OutageRehearsal::ToggleCard(const char* cause) {
  if (daq_ == nullptr) {
    Say(std::string(cause) + " ignored: the DAQ card is not simulated");
    return;
  }
  int64_t& awayUntilMs = daq_->script.awayUntilMs;
  const bool away = awayUntilMs == 0;
  awayUntilMs = away ? INT64_MAX : 0;
  Say(away ? std::string("Simulated DAQ card away (") + cause + " brings it back)" : "Simulated DAQ card back");
}

bool OutageRehearsal::eventFilter(QObject* watched, QEvent* event) {
  const bool press = event->type() == QEvent::KeyPress;
  if (!press && event->type() != QEvent::ShortcutOverride) return QObject::eventFilter(watched, event);
  const auto* key = static_cast<QKeyEvent*>(event);
  const bool camera = key->key() == Qt::Key_F7, card = key->key() == Qt::Key_F8;
  if ((!camera && !card) || key->modifiers() != kChord) return QObject::eventFilter(watched, event);
  // Taken here, so no widget sees it; an auto-repeat toggles nothing.
  if (press && !key->isAutoRepeat()) {
    if (camera) ToggleCamera("Ctrl+Shift+F7");
    if (card) ToggleCard("Ctrl+Shift+F8");
  }
  return true;
}

}  // namespace ostrelo::qtui
