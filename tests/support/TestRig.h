#pragma once
// What most core tests need: simulated devices on a manual clock, dialogs answered by
// the test, a main window on top of them, and the window timers run in simulated time.

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "camera/sim/SimulatedCamera.h"
#include "daq/sim/SimulatedDaq.h"
#include "shell/Form1.h"
#include "shell/Platform.h"

namespace ostrelo::testing {

class FakeDialogs final : public Dialogs {
 public:
  struct Message {
    std::string text, title;
  };
  std::vector<Message> messages;
  std::vector<SaveDialogRequest> saveRequests;
  // Answers of the save dialog in order; nullopt is a cancel. When empty: cancel.
  std::deque<std::optional<std::string>> saveAnswers;
  std::vector<std::string> questions;
  std::deque<bool> yesNoAnswers;  // when empty: Yes
  std::vector<Answer> questionsOnEnter;
  std::vector<bool> busyChanges;
  bool busy = false;
  // Runs while a modal dialog or message box is open, as the timers keep ticking then.
  std::function<void()> whileModal;

  void MessageBox(const std::string& text, const std::string& title) override {
    messages.push_back({text, title});
    if (whileModal) whileModal();
  }
  bool AskYesNo(const std::string& text, const std::string&, Answer onEnter) override {
    questions.push_back(text);
    questionsOnEnter.push_back(onEnter);
    if (yesNoAnswers.empty()) return true;
    const bool answer = yesNoAnswers.front();
    yesNoAnswers.pop_front();
    return answer;
  }
  std::optional<std::string> ShowSave(const SaveDialogRequest& request) override {
    saveRequests.push_back(request);
    if (whileModal) whileModal();
    if (saveAnswers.empty()) return std::nullopt;
    auto answer = saveAnswers.front();
    saveAnswers.pop_front();
    return answer;
  }
  void SetBusyPointer(bool on) override {
    busy = on;
    busyChanges.push_back(on);
  }
};

// Fires the window's timers as an event loop would, in simulated time: a started timer
// first fires one interval after its start; ticks do not pile up behind a slow handler.
class TimerLoop {
 public:
  TimerLoop(Form1& form, ManualClock& clock) : form_(form), clock_(clock) { Sync(); }
  // Advances the clock by ms, running every tick that falls due meanwhile.
  void RunFor(int64_t ms);
  // Runs ticks until pred() holds or maxMs of simulated time have passed; true if it held.
  bool RunUntil(const std::function<bool()>& pred, int64_t maxMs);
  // Ticks fired so far, and the longest a tick held the window.
  int64_t visuTicks = 0, shotTicks = 0, longestMs = 0;

 private:
  struct Track {
    uint64_t generation = ~0ull;
    int64_t due = 0;
  };
  void Sync();
  bool Step(int64_t endMs);
  Form1& form_;
  ManualClock& clock_;
  Track visu_, shot_, device_;
};

// The operator's gestures on a started window, for a rig with form(), rig.dialogs and
// Chosen(), the name its save dialog is answered with.
template <class Bench>
class OperatorGestures {
 public:
  void AnswerDialog() { self().rig.dialogs.saveAnswers.push_back(self().Chosen()); }
  // Types text into TimeText with the caret at its end and presses Enter.
  void EnterWait(const std::string& text) {
    Form1& form = self().form();
    form.ui.TimeText.caption = text;
    form.ui.TimeText.selStart = static_cast<int32_t>(text.size());
    form.ui.TimeText.selLength = 0;
    form.Dispatch([&] { form.TimeText_Change(); });
    form.Dispatch([&] { form.TimeText_KeyPress(kKeyEnter); });
  }
  void ClickOneShot() {
    Form1& form = self().form();
    form.Dispatch([&] { form.Command1_Click(); });
  }
  void ClickSeries() {
    Form1& form = self().form();
    form.Dispatch([&] { form.Command2_Click(); });
  }

 private:
  Bench& self() { return static_cast<Bench&>(*this); }
};

struct Rig {
  explicit Rig(int32_t width = SimulatedCamera::kDefaultWidth, int32_t height = SimulatedCamera::kDefaultHeight)
      : camera(clock, width, height), daq(clock), form(Devices{camera, nullptr, daq, clock, dialogs}) {}
  ManualClock clock;
  SimulatedCamera camera;
  SimulatedDaq daq;
  FakeDialogs dialogs;
  Form1 form;
};

}  // namespace ostrelo::testing
