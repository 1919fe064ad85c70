// The rules that keep a picture from being older than its request, played as scripts of
// requests, triggers and delivered frames.

#include "camera/aravis/FrameGate.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace ostrelo {
namespace {

using Verdict = FrameGate::Verdict;
using Mode = FrameGate::Mode;

struct Step {
  enum Kind { Request, Refence, Trigger, Due, NotDue, Frame, ModeIs } kind;
  int64_t at = 0;                     // host time of the step
  int64_t reception = 0;              // Frame: when its reception began
  bool complete = true;               // Frame
  uint64_t id = 0;                    // Frame: camera's frame number
  Verdict expect = Verdict::Discard;  // Frame
  Mode mode = Mode::Triggered;        // ModeIs
};

Step Req(int64_t at) { return {Step::Request, at}; }
Step Refence(int64_t at) { return {Step::Refence, at}; }
Step Trig(int64_t at) { return {Step::Trigger, at}; }
Step Due(int64_t at) { return {Step::Due, at}; }
Step NotDue(int64_t at) { return {Step::NotDue, at}; }
Step Accepted(int64_t at, int64_t reception, uint64_t id = 0) {
  return {Step::Frame, at, reception, true, id, Verdict::Accept};
}
Step Discarded(int64_t at, int64_t reception, uint64_t id = 0, bool complete = true) {
  return {Step::Frame, at, reception, complete, id, Verdict::Discard};
}
Step Damaged(int64_t at, int64_t reception, uint64_t id = 0) { return Discarded(at, reception, id, false); }
Step ModeIs(Mode mode) {
  Step s{Step::ModeIs};
  s.mode = mode;
  return s;
}

struct Script {
  const char* name;
  Mode mode;
  FrameGate::Timing timing;
  std::vector<Step> steps;
};

void PrintTo(const Script& script, std::ostream* os) { *os << script.name; }

class FrameGateTest : public ::testing::TestWithParam<Script> {};

TEST_P(FrameGateTest, Plays) {
  const Script& script = GetParam();
  FrameGate gate(script.mode, script.timing);
  for (size_t i = 0; i < script.steps.size(); ++i) {
    const Step& s = script.steps[i];
    SCOPED_TRACE("step " + std::to_string(i));
    switch (s.kind) {
      case Step::Request: gate.BeginRequest(s.at); break;
      case Step::Refence: gate.Refence(s.at); break;
      case Step::Trigger: gate.TriggerSent(s.at); break;
      case Step::Due: EXPECT_TRUE(gate.TriggerDue(s.at)); break;
      case Step::NotDue: EXPECT_FALSE(gate.TriggerDue(s.at)); break;
      case Step::Frame: EXPECT_EQ(gate.Judge(s.complete, s.reception, s.id, s.at), s.expect); break;
      case Step::ModeIs: EXPECT_EQ(gate.mode(), s.mode); break;
    }
  }
}

// Triggered: a trigger counts as lost after 1000 us.
const FrameGate::Timing kTrig{100, 20, 1000};

INSTANTIATE_TEST_SUITE_P(
    Triggered, FrameGateTest,
    ::testing::Values(
        Script{"AnswerToItsOwnTriggerIsTaken",
               Mode::Triggered,
               kTrig,
               {Req(100), Due(100), Trig(100), NotDue(110), Accepted(150, 140, 1), NotDue(160)}},
        Script{"RequestsAreServedInOrder",
               Mode::Triggered,
               kTrig,
               // One trigger out at a time: the second request's goes once the first is answered.
               {Req(100), Trig(100), Req(200), NotDue(200), Accepted(250, 240, 1), Due(255), Trig(255), NotDue(256),
                Accepted(290, 280, 2), NotDue(300), Discarded(310, 305, 3)}},
        Script{"AnswerToATriggerSentBeforeTheRequestIsRefusedWhateverItsTiming",
               Mode::Triggered,
               kTrig,
               {Trig(50), Req(100), NotDue(100),
                // Received after the request, yet exposed before it.
                Discarded(150, 140, 1), Due(150), Trig(150), Accepted(200, 190, 2)}},
        Script{"DamagedAnswerOfTheFirstOfTwoRequests",
               Mode::Triggered,
               kTrig,
               {Req(100), Trig(100), Req(200), NotDue(200), Damaged(250, 240, 1), Due(260), Trig(260),
                Accepted(300, 290, 2), Due(305), Trig(305), Accepted(330, 320, 3)}},
        Script{"DamagedAnswerIsTriggeredAgain",
               Mode::Triggered,
               kTrig,
               {Req(100), Trig(100), Damaged(150, 140, 1), Due(160), Trig(160), Accepted(220, 210, 2)}},
        Script{"LostTriggerIsReplacedOnlyAfterItsTime",
               Mode::Triggered,
               kTrig,
               {Req(100), Trig(100), NotDue(500), NotDue(1100), Due(1101), Trig(1101), Accepted(1150, 1140, 1)}},
        Script{"LateAnswerOfALostTriggerAnswersNothing",
               Mode::Triggered,
               kTrig,
               {Req(100), Trig(100), Due(1200), Trig(1200),
                // The first trigger's frame arrives after all, begun before the second
                // trigger: not its answer, and the second trigger stays outstanding.
                Discarded(1210, 1150, 1), NotDue(1220), Accepted(1260, 1250, 2), ModeIs(Mode::Triggered)}},
        Script{"FrameNobodyTriggeredIsRefused",
               Mode::Triggered,
               kTrig,
               {Req(100), Discarded(150, 140, 1), Trig(160), Accepted(200, 190, 2), ModeIs(Mode::Triggered)}},
        Script{"CameraExposingOnItsOwnFallsBackToFreeRunning",
               Mode::Triggered,
               kTrig,
               {Req(100), Discarded(140, 140, 1), Discarded(180, 180, 2), ModeIs(Mode::Triggered),
                Discarded(220, 220, 3), ModeIs(Mode::FreeRunning), NotDue(230),
                // Now judged by timing: 100 + 20 after the request.
                Discarded(230, 219, 4), Accepted(240, 221, 5)}},
        Script{"OvertakenFrameIsRefusedAndTheRequestTriggeredAgain",
               Mode::Triggered,
               kTrig,
               {Req(100), Trig(100), Req(200), Trig(200),
                // Frame 11 answers the second trigger but arrives first: matched with
                // the first, it completes the first request (exposed after it all the
                // same). Frame 10 then arrives: refused as overtaken, and the second
                // request is triggered again.
                Accepted(250, 240, 11), Discarded(260, 210, 10), Due(270), Trig(270), Accepted(320, 310, 12)}},
        Script{"FrameBegunBeforeItsTriggerIsNotItsAnswer",
               Mode::Triggered,
               kTrig,
               {Req(1000), Trig(1000), Discarded(1050, 990, 1), NotDue(1060), Accepted(1100, 1090, 2)}},
        Script{"ClockStepMovesTheFence",
               Mode::Triggered,
               kTrig,
               {Req(100), Trig(100), Refence(5000), Discarded(5010, 150, 1), Due(5010), Trig(5010),
                Accepted(5060, 5050, 2)}},
        Script{"FrameNumberRestartIsNotAnOvertake",
               Mode::Triggered,
               kTrig,
               {Req(100), Trig(100), Accepted(150, 140, 60000), Req(200), Trig(200), Accepted(250, 240, 1)}},
        Script{"NothingPendingTakesNothing",
               Mode::Triggered,
               kTrig,
               {Req(100), Trig(100), Accepted(150, 140, 1), Discarded(160, 155, 2)}}),
    [](const auto& info) { return std::string(info.param.name); });

// Free running: nominal period 100 us, exposure 20 us: reception must begin 120 us
// after the request.
const FrameGate::Timing kFree{100, 20, 1000};

INSTANTIATE_TEST_SUITE_P(
    FreeRunning, FrameGateTest,
    ::testing::Values(
        Script{"OnlyAFrameBegunAPeriodAndAnExposureAfterTheRequest",
               Mode::FreeRunning,
               kFree,
               {Req(1000), NotDue(1000), Discarded(1060, 1050, 1), Discarded(1150, 1119, 2), Accepted(1230, 1120, 3)}},
        Script{"DamagedFrameIsRefused",
               Mode::FreeRunning,
               kFree,
               {Req(1000), Damaged(1200, 1150, 1), Accepted(1300, 1250, 2)}},
        Script{"UnknownReceptionIsRefused",
               Mode::FreeRunning,
               kFree,
               {Req(1000), Discarded(5000, 0, 1), Accepted(5100, 5000, 2)}},
        Script{"ReceptionStampedInTheFutureIsUnknown",
               Mode::FreeRunning,
               kFree,
               // Stamped before the clock stepped back by an hour.
               {Req(1000), Discarded(1200, 3'601'200, 1), Accepted(1300, 1300, 2)}},
        Script{"SlowerCameraThanStatedWidensTheMargin",
               Mode::FreeRunning,
               kFree,
               {Discarded(300, 300, 1), Discarded(600, 600, 2), Req(700),
                // Seen period 300: reception must begin at 700 + 300 + 20, not 700 + 120.
                Discarded(900, 900, 3), Accepted(1200, 1200, 4)}},
        Script{"OneEarlyFrameDoesNotNarrowTheMargin",
               Mode::FreeRunning,
               kFree,
               {Discarded(300, 300, 1), Discarded(600, 600, 2), Discarded(650, 650, 3), Req(700),
                Discarded(900, 900, 4), Accepted(1020, 1020, 5)}},
        Script{"UnknownExposureCountsAsAPeriod",
               Mode::FreeRunning,
               FrameGate::Timing{100, 0, 1000},
               {Req(1000), Discarded(1199, 1199, 1), Accepted(1200, 1200, 2)}},
        Script{"ExposureLongerThanThePeriodSetsThePeriod",
               Mode::FreeRunning,
               FrameGate::Timing{100, 150, 1000},
               {Req(1000), Discarded(1299, 1299, 1), Accepted(1300, 1300, 2)}},
        Script{"OvertakenFrameIsRefused",
               Mode::FreeRunning,
               kFree,
               {Req(1000), Discarded(1100, 1100, 20), Discarded(1300, 1300, 19), Accepted(1400, 1400, 21)}},
        Script{"RequestsAreServedInOrderEachAfterItsOwnFence",
               Mode::FreeRunning,
               kFree,
               {Req(1000), Req(1090), Discarded(1100, 1100, 1), Accepted(1200, 1200, 2), Discarded(1209, 1209, 3),
                Accepted(1300, 1300, 4), Discarded(1400, 1400, 5)}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace ostrelo
