#include "support/TestRig.h"

#include <algorithm>
#include <limits>

namespace ostrelo::testing {

void TimerLoop::Sync() {
  const int64_t now = clock_.SteadyMs();
  auto sync = [&](const TimerModel& t, Track& track) {
    if (t.generation() != track.generation) {
      track.generation = t.generation();
      track.due = now + std::max(1, t.interval());
    }
  };
  sync(form_.ui.VisuTimer, visu_);
  sync(form_.ui.Timer1, shot_);
  sync(form_.ui.DeviceTimer, device_);
}

bool TimerLoop::Step(int64_t endMs) {
  Sync();
  constexpr int64_t kNever = std::numeric_limits<int64_t>::max();
  const int64_t visuDue = form_.ui.VisuTimer.enabled() ? visu_.due : kNever;
  const int64_t shotDue = form_.ui.Timer1.enabled() ? shot_.due : kNever;
  const int64_t deviceDue = form_.ui.DeviceTimer.enabled() ? device_.due : kNever;
  const int64_t due = std::min({visuDue, shotDue, deviceDue});
  if (due > endMs || form_.phase() == Phase::Ended) return false;
  if (due > clock_.SteadyMs()) clock_.Advance(due - clock_.SteadyMs());
  const bool shot = shotDue == due;
  const bool device = !shot && deviceDue < visuDue;
  Track& track = shot ? shot_ : device ? device_ : visu_;
  const TimerModel& timer = shot ? form_.ui.Timer1 : device ? form_.ui.DeviceTimer : form_.ui.VisuTimer;
  // The next tick of this timer, unless the handler restarts it.
  track.due += std::max(1, timer.interval());
  const int64_t start = clock_.SteadyMs();
  if (shot) {
    ++shotTicks;
    form_.Dispatch([&] { form_.Timer1_Timer(); });
  } else if (device) {
    form_.Dispatch([&] { form_.DeviceTimer_Timer(); });
  } else {
    ++visuTicks;
    form_.Dispatch([&] { form_.VisuTimer_Timer(); });
  }
  // A handler that outlasted the interval does not leave a backlog of ticks.
  const int64_t now = clock_.SteadyMs();
  longestMs = std::max(longestMs, now - start);
  if (track.due <= now) track.due = now + std::max(1, timer.interval());
  return true;
}

void TimerLoop::RunFor(int64_t ms) {
  const int64_t end = clock_.SteadyMs() + ms;
  while (Step(end)) {
  }
  if (clock_.SteadyMs() < end) clock_.Advance(end - clock_.SteadyMs());
  Sync();
}

bool TimerLoop::RunUntil(const std::function<bool()>& pred, int64_t maxMs) {
  const int64_t end = clock_.SteadyMs() + maxMs;
  while (!pred()) {
    if (!Step(end)) return pred();
  }
  return true;
}

}  // namespace ostrelo::testing
