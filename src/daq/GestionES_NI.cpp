#include "daq/GestionES_NI.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstring>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "shell/DaqDriver.h"
#include "shell/Form1.h"
#include "shell/Numbers.h"
#include "shell/ProgramError.h"

namespace ostrelo {

namespace {

// More channels than any card set offers: a count beyond this is a driver fault, and
// buffering it would only exhaust memory.
constexpr uint32_t kMaxTaskChannels = 1024;
// An error text longer than this is cut; no driver text comes near it.
constexpr int32_t kMaxErrorText = 64 * 1024;

const char* const kChannelNames[Daq::kChannelCount] = {"Canal 0", "Canal 1", "Canal 2", "Canal 3"};

}  // namespace

int32_t CreateDaqTask(Form1& f) { return f.dev.daq.CreateTask(Daq::kTaskName, &f.st.AiTask); }

void ClearDaqTasks(Form1& f) {
  // A read still running uses the task: the driver gets it back when it returns.
  if (f.st.AiTask != 0 && !f.CardCalls.hung()) f.dev.daq.ClearTask(f.st.AiTask);
}

namespace {

// One input of the card in the task, by the driver alone: the card's thread makes them too.
int32_t CreateChannel(DaqDriver& daq, DaqTaskHandle task, const std::string& devicePrefix, int32_t terminal,
                      uint8_t channel) {
  const std::string physical = devicePrefix + "ai" + std::to_string(static_cast<unsigned>(channel));
  return daq.CreateAIVoltageChan(task, physical, "", terminal, Daq::kMinVolts, Daq::kMaxVolts, DAQmx::Val_Volts, "");
}

}  // namespace

int32_t CreateDaqChannels(Form1& f, const std::string& devicePrefix, uint8_t channel) {
  const int32_t terminal = f.ui.Option1[0].value == 1 ? DAQmx::Val_RSE : DAQmx::Val_Diff;
  return CreateChannel(f.dev.daq, f.st.AiTask, devicePrefix, terminal, channel);
}

namespace {

// ShowDaqError without the window: only the driver is used, so it also runs on the
// card's thread.
void RaiseDaqError(DaqDriver& daq, int32_t status) {
  if (status >= 0) return;
  char probe[] = "0";
  const int32_t needed = daq.GetErrorString(status, probe, 0);
  std::string text;
  if (needed > 0) {
    const int32_t size = std::min(needed, kMaxErrorText);
    // One spare NUL after the buffer the driver is told about: the text always ends.
    std::vector<char> buffer(static_cast<size_t>(size) + 1, '\0');
    daq.GetErrorString(status, buffer.data(), static_cast<uint32_t>(size));
    text.assign(buffer.data(), std::strlen(buffer.data()));
  }
  throw ProgramError(status, text);
}

// ReadDaqInputs on the task given, the channel count kept in channelCount.
double ReadChannel(DaqDriver& daq, DaqTaskHandle task, uint32_t& channelCount, uint8_t channel) {
  RaiseDaqError(daq, daq.CfgSampClkTiming(task, Daq::kClockSource, Daq::kSampleRate, DAQmx::Val_Rising,
                                          DAQmx::Val_FiniteSamps, static_cast<uint64_t>(Daq::kSamplesPerChannel)));
  RaiseDaqError(daq, daq.GetTaskNumChans(task, &channelCount));

  // The buffer follows the channel count of this call, whatever it was before.
  const uint32_t channels = channelCount;
  if (channel >= channels) {
    throw ProgramError(Daq::kChannelNotInTask, "Channel " + std::to_string(channel) +
                                                   " is not in the DAQ task, which holds " + std::to_string(channels) +
                                                   " channel(s)");
  }
  if (channels > kMaxTaskChannels) {
    throw ProgramError(Daq::kOutOfMemory,
                       "The DAQ task reports " + std::to_string(channels) + " channels, too many to read");
  }
  const uint32_t bufferSize = channels * static_cast<uint32_t>(Daq::kSamplesPerChannel);
  std::vector<double> samples(bufferSize, 0.0);
  int32_t samplesRead = 0;
  RaiseDaqError(daq, daq.ReadAnalogF64(task, Daq::kSamplesPerChannel, Daq::kReadTimeoutS, DAQmx::Val_GroupByChannel,
                                       samples.data(), bufferSize, &samplesRead, nullptr));

  // The channels lie one after the other, each as long as the count read. A count
  // beyond what was asked cannot have been stored in the buffer, so it is held to the
  // samples per channel the buffer has room for; no samples leave no mean to give.
  if (samplesRead <= 0) {
    throw ProgramError(Daq::kNoSamples, "The DAQ card returned no samples for channel " + std::to_string(channel));
  }
  const size_t n = static_cast<size_t>(std::min(samplesRead, Daq::kSamplesPerChannel));
  const size_t first = static_cast<size_t>(channel) * n;  // first + n <= channels * 800
  double sum = 0.0;
  for (size_t i = first; i < first + n; ++i) sum += samples[i];
  const double value = -(sum / static_cast<double>(n));
  // A zero mean is shown as the zero of the positive section, never as a negative zero.
  return value == 0.0 ? 0.0 : value;
}

}  // namespace

double ReadDaqInputs(Form1& f, uint8_t channel) {
  return ReadChannel(f.dev.daq, f.st.AiTask, f.st.AiChannelCount, channel);
}

void ShowDaqError(Form1& f, int32_t status) { RaiseDaqError(f.dev.daq, status); }

void NoCardReaction(Form1& f) {
  f.st.DaqAcquisitionOn = false;
  f.ui.AcquiCheck.value = 0;
  f.ui.AcquiCheck.enabled = false;
  f.ui.Option1[0].enabled = false;
  f.ui.Option1[1].enabled = false;
  f.dev.dialogs.MessageBox(Daq::kNoCardMessage, kAppTitle);
}

void DaqStartup(Form1& f) {
  AcquisitionState& st = f.st;
  st.DaqDevicePrefix = Daq::kDevicePrefix;
  if (CreateDaqTask(f) < 0) {
    NoCardReaction(f);
  } else {
    // All four are attempted; any failure switches acquisition off, with one message.
    bool failed = false;
    for (uint8_t c = 0; c < Daq::kChannelCount; ++c) {
      if (CreateDaqChannels(f, Daq::kDevicePrefix, c) < 0) failed = true;
    }
    if (failed) NoCardReaction(f);
  }
  for (int i = 0; i < Daq::kChannelCount; ++i) {
    st.ChannelTable[i].Name = kChannelNames[i];
    st.ChannelTable[i].Unit = "Volts";
  }
}

namespace {

void EndOutage(Form1& f, const char* how) {
  CardOutage& o = f.CardAway;
  if (!o.active) return;
  EndDeviceOutage(f, o, "DAQ card", how);
  o.taskMade = false;
  f.ui.CardNotice.clear();
}

}  // namespace

// What a visit to the card gives back: made on the card's thread, read on the window's
// once the visit has ended.
struct CardVisit {
  // In: the task to read, and for a card to bring back what its new task is made of.
  bool bringBack = false;
  DaqTaskHandle task = 0;
  std::string prefix;
  int32_t terminal = DAQmx::Val_RSE;
  // Out.
  bool taskMade = false;  // brought back: the new task is in task
  bool read = false;      // the four values were read
  std::array<double, Daq::kChannelCount> values{};
  uint32_t channelCount = 0;
  int32_t errorNumber = 0;  // the read's error (0: none), with its text
  std::string errorText;
  int64_t readStartMs = 0, readEndMs = 0;  // on the program's clock
  int64_t startMs = 0, endMs = 0;          // the whole visit
};

namespace {

// The lost task is cleared and the device reset before a task is made anew in the
// wiring chosen: a USB card that dropped out answers only after that. Only the driver
// and the visit are used: this runs on the card's thread.
bool BringCardBack(DaqDriver& daq, CardVisit& v) {
  if (v.task != 0) daq.ClearTask(v.task);
  const std::string device = v.prefix.substr(0, v.prefix.find('/'));
  if (daq.ResetDevice(device) < 0) return false;
  if (daq.CreateTask(Daq::kTaskName, &v.task) < 0) return false;
  v.taskMade = true;
  for (uint8_t c = 0; c < Daq::kChannelCount; ++c) {
    if (CreateChannel(daq, v.task, v.prefix, v.terminal, c) < 0) {
      v.taskMade = false;
      return false;
    }
  }
  return true;
}

void ReadCard(DaqDriver& daq, Clock& clock, CardVisit& v, const std::atomic<bool>& closed) {
  if (v.bringBack) {
    if (!BringCardBack(daq, v)) return;
    // A slow reset has held the card long enough: the read waits for the next visit.
    if (clock.SteadyMs() - v.startMs > kCardRetryMs / 2) return;
  }
  v.readStartMs = clock.SteadyMs();
  try {
    for (uint8_t i = 0; i < Daq::kChannelCount && !closed; ++i) {
      v.values[i] = ReadChannel(daq, v.task, v.channelCount, i);
    }
    v.read = !closed;
  } catch (const ProgramError& e) {
    v.errorNumber = e.number();
    v.errorText = e.description();
  } catch (const std::exception& e) {
    v.errorNumber = -1;
    v.errorText = e.what();
  }
  if (!closed) v.readEndMs = clock.SteadyMs();
}

void VisitCard(DaqDriver& daq, Clock& clock, CardVisit& v, int64_t askedMs, const std::atomic<bool>& closed) {
  clock.DeviceWorkBegins(askedMs);
  v.startMs = clock.SteadyMs();
  ReadCard(daq, clock, v, closed);
  v.endMs = clock.SteadyMs();
}

// The card is found away: its outage starts at its last answer. Before its first read
// it is no outage but the program's error, as it always was.
bool CardLost(Form1& f, int32_t number, const std::string& text, int64_t triedMs) {
  CardOutage& o = f.CardAway;
  if (!o.hasRead) throw ProgramError(number, text);
  o.taskMade = false;
  if (!o.active) {
    BeginDeviceOutage(f, o);
    o.nextTryMs = triedMs + kCardRetryMs;
    f.ui.CardNotice = CardNoticeText(o.since);
  }
  return false;
}

}  // namespace

std::string CardNoticeText(const LocalTime& since) { return "DAQ card not answering since " + TimeOfDayText(since); }

std::string CardLateText(int64_t deadlineMs) {
  return "The DAQ card did not answer within " + std::to_string(deadlineMs) + " ms";
}

bool BeginDaqRead(Form1& f) {
  CardOutage& o = f.CardAway;
  CardThread& calls = f.CardCalls;
  Clock& clock = f.dev.clock;
  const int64_t now = clock.SteadyMs();
  // A read that outlived its deadline still holds the card: nothing else is asked of it
  // until it returns, and then the card is brought back as after any outage.
  if (calls.pending || calls.hung()) return false;
  if (calls.late) {
    // A task the late visit made is the one to clear when the card is brought back.
    const CardVisit& late = *calls.lateVisit;
    if (late.bringBack) f.st.AiTask = late.task;
    calls.late.reset();
    calls.lateVisit.reset();
  }
  auto visit = std::make_shared<CardVisit>();
  if (o.active && !o.taskMade) {
    if (now < o.nextTryMs) return false;
    o.nextTryMs = now + kCardRetryMs;
    visit->bringBack = true;
    visit->prefix = f.st.DaqDevicePrefix;
    visit->terminal = f.ui.Option1[0].value == 1 ? DAQmx::Val_RSE : DAQmx::Val_Diff;
  }
  visit->task = f.st.AiTask;
  visit->channelCount = f.st.AiChannelCount;
  // Only a visit counts: a card not yet due is asked again at the next occasion.
  o.triedMs = now;

  if (!calls.thread) {
    calls.thread = std::make_unique<DeviceThread>();
    calls.thread->Start();
  }
  DaqDriver& daq = f.dev.daq;
  calls.pending = calls.thread->Post(
      [&daq, &clock, visit, now, closed = calls.closed] { VisitCard(daq, clock, *visit, now, *closed); });
  calls.pendingVisit = visit;
  calls.postedMs = now;
  return true;
}

bool EndDaqRead(Form1& f, int64_t deadlineAtMs) {
  CardOutage& o = f.CardAway;
  CardThread& calls = f.CardCalls;
  Clock& clock = f.dev.clock;
  if (!calls.pending) return false;
  const auto job = std::move(calls.pending);
  const auto visit = std::move(calls.pendingVisit);
  calls.pending.reset();
  calls.pendingVisit.reset();
  const int64_t postedMs = calls.postedMs;
  const int64_t deadlineMs = deadlineAtMs - postedMs;
  const int64_t realWaitMs = clock.RealWaitMs(std::max<int64_t>(deadlineAtMs - clock.SteadyMs(), 0));
  const bool answered =
      calls.thread->Wait(job, DeviceThread::Clock::now() + std::chrono::milliseconds(realWaitMs), /*keep=*/true);
  // The window has waited until the visit ended, or until its deadline: a clock that
  // moves only when slept on (a simulated one) is brought there; a real one is there.
  const int64_t waitedUntilMs = answered ? std::min(visit->endMs, deadlineAtMs) : deadlineAtMs;
  if (waitedUntilMs > clock.SteadyMs()) clock.SleepMs(static_cast<int32_t>(waitedUntilMs - clock.SteadyMs()));
  if (!answered) {
    // Whatever the driver does with its time-out, the window goes on; the visit's
    // results are never used.
    calls.late = job;
    calls.lateVisit = visit;
    return CardLost(f, Daq::kNoAnswer, CardLateText(deadlineMs), postedMs);
  }

  const CardVisit& v = *visit;
  if (v.bringBack) {
    f.st.AiTask = v.task;
    if (!v.taskMade) return false;
    o.taskMade = true;
    if (!v.read && v.errorNumber == 0) return false;
  }
  f.st.AiChannelCount = v.channelCount;
  if (v.errorNumber != 0) return CardLost(f, v.errorNumber, v.errorText, postedMs);
  // A read that took its time on the program's clock (a simulated card) is as late as
  // one the window stopped waiting for: its voltages are not of the moment asked.
  if (v.readEndMs - v.readStartMs > deadlineMs) return CardLost(f, Daq::kNoAnswer, CardLateText(deadlineMs), postedMs);
  // A shot's line carries four voltages of the same moment, or none.
  for (uint8_t i = 0; i < Daq::kChannelCount; ++i) {
    f.st.ChannelTable[i].Value = v.values[i];
    f.ui.CanalLabel[i].caption = FormatNumber(v.values[i], Daq::kValuePattern, f.dev.locale.decimalSeparator);
  }
  o.hasRead = true;
  EndOutage(f, "");
  NoteDeviceAnswer(f, o);
  return true;
}

bool ReadDaqChannels(Form1& f, int64_t deadlineMs) {
  const int64_t deadlineAtMs = f.dev.clock.SteadyMs() + deadlineMs;
  return BeginDaqRead(f) && EndDaqRead(f, deadlineAtMs);
}

void ReadDaqChannelsWithoutPicture(Form1& f, int64_t deadlineMs) {
  const CardOutage& o = f.CardAway;
  if (!f.st.DaqAcquisitionOn || !o.hasRead) return;
  if (o.triedMs >= 0 && f.dev.clock.SteadyMs() - o.triedMs < kCardAloneEveryMs) return;
  ReadDaqChannels(f, deadlineMs);
}

void NoteCardTaskNew(Form1& f) { f.CardAway.hasRead = false; }

void NoteCardOff(Form1& f) { EndOutage(f, ", acquisition switched off"); }

void NoteCardClosed(Form1& f) { EndOutage(f, ", still away at shut-down"); }

void Form1::AcquiCheck_Click() {
  // Only a usable box reacts: once the card is found missing the box stays greyed, and
  // a click echoed by the view after the no-card reaction must not undo that state.
  if (!ui.AcquiCheck.enabled) return;
  if (ui.AcquiCheck.value == 1) {
    st.DaqAcquisitionOn = true;
    ui.Option1[0].enabled = false;
    ui.Option1[1].enabled = false;
    // The wiring chosen while unticked takes effect only in a task created anew.
    ClearDaqTasks(*this);
    if (CreateDaqTask(*this) < 0) {
      NoCardReaction(*this);
      return;
    }
    for (uint8_t c = 0; c < Daq::kChannelCount; ++c) {
      if (CreateDaqChannels(*this, st.DaqDevicePrefix, c) < 0) {
        NoCardReaction(*this);
        return;
      }
    }
    NoteCardTaskNew(*this);
  } else {
    // Paused: the task and its channels are kept.
    st.DaqAcquisitionOn = false;
    NoteCardOff(*this);
    ui.Option1[0].enabled = true;
    ui.Option1[1].enabled = true;
  }
}

}  // namespace ostrelo
