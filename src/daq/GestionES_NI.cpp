#include "daq/GestionES_NI.h"

#include <algorithm>
#include <array>
#include <cstring>
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
  if (f.st.AiTask != 0) f.dev.daq.ClearTask(f.st.AiTask);
}

int32_t CreateDaqChannels(Form1& f, const std::string& devicePrefix, uint8_t channel) {
  const int32_t terminal = f.ui.Option1[0].value == 1 ? DAQmx::Val_RSE : DAQmx::Val_Diff;
  const std::string physical = devicePrefix + "ai" + std::to_string(static_cast<unsigned>(channel));
  return f.dev.daq.CreateAIVoltageChan(f.st.AiTask, physical, "", terminal, Daq::kMinVolts, Daq::kMaxVolts,
                                       DAQmx::Val_Volts, "");
}

double ReadDaqInputs(Form1& f, uint8_t channel) {
  AcquisitionState& st = f.st;
  DaqDriver& daq = f.dev.daq;
  ShowDaqError(f, daq.CfgSampClkTiming(st.AiTask, Daq::kClockSource, Daq::kSampleRate, DAQmx::Val_Rising,
                                       DAQmx::Val_FiniteSamps, static_cast<uint64_t>(Daq::kSamplesPerChannel)));
  ShowDaqError(f, daq.GetTaskNumChans(st.AiTask, &st.AiChannelCount));

  // The buffer follows the channel count of this call, whatever it was before.
  const uint32_t channels = st.AiChannelCount;
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
  ShowDaqError(f, daq.ReadAnalogF64(st.AiTask, Daq::kSamplesPerChannel, Daq::kReadTimeoutS, DAQmx::Val_GroupByChannel,
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

void ShowDaqError(Form1& f, int32_t status) {
  if (status >= 0) return;
  DaqDriver& daq = f.dev.daq;
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

// The lost task is cleared and the device reset before a task is made anew in the
// wiring chosen: a USB card that dropped out answers only after that.
bool BringCardBack(Form1& f) {
  const std::string& prefix = f.st.DaqDevicePrefix;
  ClearDaqTasks(f);
  const std::string device = prefix.substr(0, prefix.find('/'));
  if (f.dev.daq.ResetDevice(device) < 0) return false;
  if (CreateDaqTask(f) < 0) return false;
  for (uint8_t c = 0; c < Daq::kChannelCount; ++c) {
    if (CreateDaqChannels(f, prefix, c) < 0) return false;
  }
  return true;
}

}  // namespace

std::string CardNoticeText(const LocalTime& since) { return "DAQ card not answering since " + TimeOfDayText(since); }

bool ReadDaqChannels(Form1& f) {
  CardOutage& o = f.CardAway;
  const int64_t now = f.dev.clock.SteadyMs();
  o.triedMs = now;
  if (o.active && !o.taskMade) {
    if (now < o.nextTryMs) return false;
    o.nextTryMs = now + kCardRetryMs;
    if (!BringCardBack(f)) return false;
    o.taskMade = true;
    // A slow reset has held the window long enough: the read waits for the next grab.
    if (f.dev.clock.SteadyMs() - now > kCardRetryMs / 2) return false;
  }
  // A shot's line carries four voltages of the same moment, or none.
  std::array<double, Daq::kChannelCount> values{};
  try {
    for (uint8_t i = 0; i < Daq::kChannelCount; ++i) values[i] = ReadDaqInputs(f, i);
  } catch (const ProgramError&) {
    if (!o.hasRead) throw;
    o.taskMade = false;
    if (!o.active) {
      BeginDeviceOutage(f, o);
      o.nextTryMs = now + kCardRetryMs;
      f.ui.CardNotice = CardNoticeText(o.since);
    }
    return false;
  }
  for (uint8_t i = 0; i < Daq::kChannelCount; ++i) {
    f.st.ChannelTable[i].Value = values[i];
    f.ui.CanalLabel[i].caption = FormatNumber(values[i], Daq::kValuePattern, f.dev.locale.decimalSeparator);
  }
  o.hasRead = true;
  EndOutage(f, "");
  NoteDeviceAnswer(f, o);
  return true;
}

void ReadDaqChannelsWithoutPicture(Form1& f) {
  const CardOutage& o = f.CardAway;
  if (!f.st.DaqAcquisitionOn || !o.hasRead) return;
  if (o.triedMs >= 0 && f.dev.clock.SteadyMs() - o.triedMs < kCardAloneEveryMs) return;
  ReadDaqChannels(f);
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
