#pragma once
// Decides which frame delivered by a camera answers the picture requests waiting, so
// that a picture is never older than the request that asked for it: each shot pairs
// its picture with voltages read just after it, and a frame exposed before the request
// would pair the voltages with the past.
//
// Requests are served in the order they were made; each waiting request has a fence,
// the time it was made. A frame completes the oldest waiting request only when it is
// proved to have been exposed after that request's fence (and so after every fence of
// an already completed request, too). Two ways of proving it, chosen by what the
// camera offers:
//
// Triggered: the camera exposes only on a software trigger, and a trigger is sent for
//   each request after the request is made. Frames come back in trigger order, so each
//   frame is matched with the oldest unanswered trigger; it completes the oldest
//   waiting request if that trigger was sent after the request's fence, and is
//   discarded otherwise, whatever its timing. A trigger unanswered for `triggerLostUs`
//   counts as lost (the camera missed it, or the frame was dropped on the way). One
//   trigger is out at a time, since a camera busy exposing or reading out misses a
//   trigger that comes meanwhile: the next is due once requests wait and the last one
//   was answered (by a damaged frame too) or counted lost. A frame whose reception
//   began before the oldest outstanding trigger was sent (trigger times are taken
//   before sending), or that
//   arrives while no trigger is outstanding, answers none of them: it is discarded
//   without counting as an answer. It is the late answer of a trigger counted as lost,
//   or the camera is exposing on its own; after a few of them in a row the gate falls
//   back to free running for good, and the caller must switch the camera's trigger off.
//   A frame whose number is below one already seen was overtaken on the way (a resent
//   frame, say): it answers an older trigger than the one it would be matched with, so
//   it is discarded. What no rule can catch: the answer to a trigger counted as lost
//   whose reception begins after a later trigger was sent; the caller sets
//   `triggerLostUs` far beyond what the transport lets a frame take.
//
// Free running: the camera exposes frame after frame. A frame can only be proved new
//   by its timing: its reception began at least one frame period plus one exposure
//   after the fence. Its exposure ended before its reception began, at most one frame
//   period earlier (buffers are always queued on the host, so the camera never holds a
//   finished frame longer than that), and lasted at most one exposure, so it began
//   after the fence. The frame period is the longest of the nominal one and the
//   intervals seen between the last few frames, so that a camera slower than it
//   states, or one frame arriving early, cannot shorten the margin.
//
// Every time is in microseconds on one host clock, the one that stamps the start of a
// frame's reception. No device library here: the rules are tested on their own.

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>

namespace ostrelo {

class FrameGate {
 public:
  enum class Mode { Triggered, FreeRunning };
  struct Timing {
    int64_t framePeriodUs = 100000;  // nominal time between two frames when free running
    int64_t exposureUs = 0;          // 0: unknown, taken as one frame period
    int64_t triggerLostUs = 1000000;
  };
  enum class Verdict { Accept, Discard };
  // Frames in a row answering no trigger after which the camera is taken as free running.
  static constexpr int kUnexplainedLimit = 3;

  FrameGate(Mode mode, Timing timing) : mode_(mode), timing_(timing) {}

  Mode mode() const { return mode_; }
  // Requests waiting for their frame.
  std::size_t pending() const { return fences_.size(); }

  // A new request at nowUs, served after those already waiting.
  void BeginRequest(int64_t nowUs);
  // Moves the fences of the waiting requests to nowUs at least (the host clock
  // stepped): frames that began arriving before are not trusted any more.
  void Refence(int64_t nowUs);
  // Triggered: true when a trigger should be sent now (requests waiting, and no
  // trigger out that is not counted lost).
  bool TriggerDue(int64_t nowUs);
  void TriggerSent(int64_t nowUs);
  // A frame delivered by the camera. Accept: it completes the oldest waiting request.
  // complete: whole and undamaged. receptionUs: when its reception began, 0 when
  // unknown (a time after nowUs counts as unknown). frameId: the camera's frame
  // number, 0 when unknown.
  Verdict Judge(bool complete, int64_t receptionUs, uint64_t frameId, int64_t nowUs);

  // Free running: how long after the fence a frame's reception must begin.
  int64_t FreeRunMarginUs() const;

 private:
  void ForgetLostTriggers(int64_t nowUs);
  bool Overtaken(uint64_t frameId);
  Verdict JudgeTriggered(bool complete, int64_t receptionUs, bool overtaken);
  Verdict JudgeFreeRunning(bool complete, int64_t receptionUs);
  Verdict Complete();

  Mode mode_;
  Timing timing_;
  std::deque<int64_t> fences_;    // waiting requests, oldest first
  std::deque<int64_t> triggers_;  // sending times of unanswered triggers, oldest first
  int unexplained_ = 0;           // frames in a row that answered no trigger
  uint64_t lastFrameId_ = 0;
  int64_t lastReceptionUs_ = 0;
  std::array<int64_t, 8> intervalsUs_{};  // the last intervals between two frames
  std::size_t nextInterval_ = 0;
};

}  // namespace ostrelo
