#include "camera/aravis/FrameGate.h"

#include <algorithm>

namespace ostrelo {

namespace {
// Intervals longer than this between two frames are pauses, not the frame period.
constexpr int64_t kLongestPeriodUs = 10'000'000;
// A frame number this far below the last one is a restart or a wrap of the counter,
// not a frame overtaken on the way.
constexpr uint64_t kLargestOvertake = 1000;
}  // namespace

void FrameGate::BeginRequest(int64_t nowUs) { fences_.push_back(nowUs); }

void FrameGate::Refence(int64_t nowUs) {
  for (int64_t& fence : fences_) fence = std::max(fence, nowUs);
}

void FrameGate::ForgetLostTriggers(int64_t nowUs) {
  while (!triggers_.empty() && nowUs - triggers_.front() > timing_.triggerLostUs) triggers_.pop_front();
}

bool FrameGate::TriggerDue(int64_t nowUs) {
  if (mode_ != Mode::Triggered || fences_.empty()) return false;
  ForgetLostTriggers(nowUs);
  return triggers_.empty();
}

void FrameGate::TriggerSent(int64_t nowUs) { triggers_.push_back(nowUs); }

bool FrameGate::Overtaken(uint64_t frameId) {
  if (frameId == 0) return false;
  const bool overtaken = frameId < lastFrameId_ && lastFrameId_ - frameId <= kLargestOvertake;
  if (!overtaken) lastFrameId_ = frameId;
  return overtaken;
}

FrameGate::Verdict FrameGate::Judge(bool complete, int64_t receptionUs, uint64_t frameId, int64_t nowUs) {
  // A reception stamped later than now was stamped before the host clock stepped back:
  // its time means nothing.
  if (receptionUs > nowUs) receptionUs = 0;
  const bool overtaken = Overtaken(frameId);
  if (mode_ == Mode::Triggered) {
    ForgetLostTriggers(nowUs);
    return JudgeTriggered(complete, receptionUs, overtaken);
  }
  if (overtaken) return Verdict::Discard;
  return JudgeFreeRunning(complete, receptionUs);
}

FrameGate::Verdict FrameGate::Complete() {
  fences_.pop_front();
  return Verdict::Accept;
}

FrameGate::Verdict FrameGate::JudgeTriggered(bool complete, int64_t receptionUs, bool overtaken) {
  // An overtaken frame answers an older trigger than the oldest one outstanding, whose
  // own answer was matched with an older trigger before: that frame was newer than
  // taken for, never older, and dropping one trigger keeps the count right.
  if (!triggers_.empty() && overtaken) {
    triggers_.pop_front();
    return Verdict::Discard;
  }
  if (triggers_.empty() || (receptionUs != 0 && receptionUs < triggers_.front())) {
    if (++unexplained_ >= kUnexplainedLimit) {
      mode_ = Mode::FreeRunning;
      triggers_.clear();
      lastReceptionUs_ = 0;
    }
    return Verdict::Discard;
  }
  unexplained_ = 0;
  const int64_t sent = triggers_.front();
  triggers_.pop_front();
  if (fences_.empty() || sent < fences_.front() || !complete) return Verdict::Discard;
  // The fence moves past the trigger only when the host clock stepped.
  if (receptionUs != 0 && receptionUs < fences_.front()) return Verdict::Discard;
  return Complete();
}

int64_t FrameGate::FreeRunMarginUs() const {
  int64_t period = std::max(timing_.framePeriodUs, *std::max_element(intervalsUs_.begin(), intervalsUs_.end()));
  const int64_t exposure = timing_.exposureUs > 0 ? timing_.exposureUs : period;
  period = std::max(period, exposure);
  return period + exposure;
}

FrameGate::Verdict FrameGate::JudgeFreeRunning(bool complete, int64_t receptionUs) {
  if (complete && receptionUs > 0) {
    const int64_t interval = receptionUs - lastReceptionUs_;
    if (lastReceptionUs_ > 0 && interval > 0 && interval < kLongestPeriodUs) {
      intervalsUs_[nextInterval_] = interval;
      nextInterval_ = (nextInterval_ + 1) % intervalsUs_.size();
    }
    lastReceptionUs_ = receptionUs;
  }
  if (fences_.empty() || !complete || receptionUs <= 0) return Verdict::Discard;
  if (receptionUs < fences_.front() + FreeRunMarginUs()) return Verdict::Discard;
  return Complete();
}

}  // namespace ostrelo
