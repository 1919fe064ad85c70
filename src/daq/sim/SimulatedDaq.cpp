#include "daq/sim/SimulatedDaq.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <sstream>

namespace ostrelo {

namespace {

// Terminal configurations the inputs accept besides single-ended (10083) and differential (10106).
constexpr int32_t kCfgDefault = -1;
constexpr int32_t kNrse = 10078;
constexpr int32_t kPseudoDiff = 12529;
constexpr int32_t kFalling = 10171;
constexpr int32_t kContSamps = 10123;
constexpr double kMaxRate = 250000.0;

template <typename... Args>
std::string Call(const char* name, const Args&... args) {
  std::ostringstream out;
  out << name << '(';
  const char* sep = "";
  ((out << sep << args, sep = ","), ...);
  out << ')';
  return out.str();
}

// Rejects what a differential or pseudo-differential input rejects.
bool RejectsCommonMode(int32_t terminalConfig) {
  return terminalConfig == DAQmx::Val_Diff || terminalConfig == kPseudoDiff || terminalConfig == kCfgDefault;
}

}  // namespace

SimulatedDaq::SimulatedDaq(Clock& clock, uint32_t seed) : clock_(clock), random_(seed) {}

void SimulatedDaq::Log(const std::string& call) {
  if (recordCalls) calls.push_back(call);
}

SimulatedDaq::Task* SimulatedDaq::Find(DaqTaskHandle task) {
  const auto it = tasks_.find(task);
  return it == tasks_.end() ? nullptr : &it->second;
}

std::vector<SimulatedDaq::ChannelInfo> SimulatedDaq::channels(DaqTaskHandle task) const {
  const auto it = tasks_.find(task);
  return it == tasks_.end() ? std::vector<ChannelInfo>{} : it->second.channels;
}

double SimulatedDaq::InputVolts(int input, int32_t terminalConfig, double t) const {
  constexpr double kTwoPi = 2.0 * std::numbers::pi;
  double v = 0.0;
  switch (input) {
    case 0: v = kSineAmplitude * std::sin(kTwoPi * t / kSinePeriodS); break;
    case 1: v = kConstantVolts; break;
    case 2: {
      const double phase = t / kRampPeriodS - std::floor(t / kRampPeriodS);
      v = kRampLow + (kRampHigh - kRampLow) * phase;
      break;
    }
    default:
      v = 0.0;  // ai3 carries only noise
      break;
  }
  if (!RejectsCommonMode(terminalConfig)) v += kCommonModeVolts + kHumVolts * std::sin(kTwoPi * kHumHz * t);
  return v;
}

double SimulatedDaq::Sample(const ChannelInfo& c, double t) {
  double v;
  if (script.constantVolts[c.input]) {
    v = *script.constantVolts[c.input];
  } else {
    const double sigma = c.input == 3 ? kNoiseOnlySigma : kNoiseSigma;
    v = InputVolts(c.input, c.terminalConfig, t) + sigma * gauss_(random_);
  }
  return std::clamp(v, c.minVal, c.maxVal);
}

bool SimulatedDaq::Away() const { return clock_.SteadyMs() < script.awayUntilMs; }

int32_t SimulatedDaq::Gone(Task& t) const {
  t.lost = t.lost || Away();
  return t.lost ? kDeviceGone : 0;
}

int32_t SimulatedDaq::ResetDevice(const std::string& deviceName) {
  Log(Call("ResetDevice", deviceName));
  if (script.resetMs > 0) clock_.SleepMs(script.resetMs);
  if (deviceName != kDevice) return kInvalidAttribute;
  return Away() ? kDeviceGone : Ok();
}

int32_t SimulatedDaq::CreateTask(const std::string& taskName, DaqTaskHandle* task) {
  Log(Call("CreateTask", taskName));
  if (Away()) return kDeviceGone;
  if (script.createTaskStatus < 0) return script.createTaskStatus;
  if (task == nullptr) return kInvalidAttribute;
  if (!taskName.empty()) {
    for (const auto& [handle, t] : tasks_) {
      if (t.name == taskName) return kDuplicateTask;
    }
  }
  const DaqTaskHandle handle = nextHandle_;
  nextHandle_ += 0x10;
  tasks_[handle] = Task{taskName, {}, false, 0.0, 0};
  *task = handle;
  return script.createTaskStatus > 0 ? script.createTaskStatus : Ok();
}

int32_t SimulatedDaq::ClearTask(DaqTaskHandle task) {
  Log(Call("ClearTask", task));
  if (tasks_.erase(task) == 0) return kInvalidTask;
  return Ok();
}

int32_t SimulatedDaq::CreateAIVoltageChan(DaqTaskHandle task, const std::string& physicalChannel,
                                          const std::string& nameToAssign, int32_t terminalConfig, double minVal,
                                          double maxVal, int32_t units, const std::string& customScaleName) {
  Log(Call("CreateAIVoltageChan", task, physicalChannel, nameToAssign, terminalConfig, minVal, maxVal, units,
           customScaleName));
  Task* t = Find(task);
  if (t == nullptr) return kInvalidTask;
  if (const int32_t gone = Gone(*t)) return gone;

  const std::string prefix = std::string(kDevice) + "/ai";
  if (physicalChannel.size() != prefix.size() + 1 || physicalChannel.compare(0, prefix.size(), prefix) != 0) {
    return kNoSuchChannel;
  }
  const char digit = physicalChannel.back();
  if (digit < '0' || digit >= '0' + kInputs) return kNoSuchChannel;
  const int input = digit - '0';
  if (input == script.failChannel) return script.failChannelStatus;

  const bool knownWiring = terminalConfig == DAQmx::Val_RSE || terminalConfig == DAQmx::Val_Diff ||
                           terminalConfig == kNrse || terminalConfig == kPseudoDiff || terminalConfig == kCfgDefault;
  if (!knownWiring || units != DAQmx::Val_Volts || !customScaleName.empty()) return kInvalidAttribute;
  if (!(minVal < maxVal) || minVal < -10.0 || maxVal > 10.0) return kInvalidAttribute;
  for (const ChannelInfo& c : t->channels) {
    if (c.input == input) return kDuplicateChannel;
  }
  t->channels.push_back(ChannelInfo{input, terminalConfig, minVal, maxVal});
  return Ok();
}

int32_t SimulatedDaq::CfgSampClkTiming(DaqTaskHandle task, const std::string& source, double rate, int32_t activeEdge,
                                       int32_t sampleMode, uint64_t sampsPerChan) {
  Log(Call("CfgSampClkTiming", task, source, rate, activeEdge, sampleMode, sampsPerChan));
  Task* t = Find(task);
  if (t == nullptr) return kInvalidTask;
  if (const int32_t gone = Gone(*t)) return gone;
  if (script.timingStatus < 0) return script.timingStatus;
  const bool sourceOk = source.empty() || source == "OnboardClock";
  const bool edgeOk = activeEdge == DAQmx::Val_Rising || activeEdge == kFalling;
  const bool modeOk = sampleMode == DAQmx::Val_FiniteSamps || sampleMode == kContSamps;
  if (!sourceOk || !edgeOk || !modeOk || !(rate > 0.0) || rate > kMaxRate || sampsPerChan < 2) {
    return kInvalidAttribute;
  }
  t->timed = true;
  t->rate = rate;
  t->sampsPerChan = sampsPerChan;
  return script.timingStatus > 0 ? script.timingStatus : Ok();
}

int32_t SimulatedDaq::GetTaskNumChans(DaqTaskHandle task, uint32_t* data) {
  Log(Call("GetTaskNumChans", task));
  Task* t = Find(task);
  if (t == nullptr) return kInvalidTask;
  if (const int32_t gone = Gone(*t)) return gone;
  if (script.numChansStatus < 0) return script.numChansStatus;
  if (data == nullptr) return kInvalidAttribute;
  *data = script.reportedChannels.value_or(static_cast<uint32_t>(t->channels.size()));
  return script.numChansStatus > 0 ? script.numChansStatus : Ok();
}

int32_t SimulatedDaq::ReadAnalogF64(DaqTaskHandle task, int32_t numSampsPerChan, double timeout, uint32_t fillMode,
                                    double* readArray, uint32_t arraySizeInSamps, int32_t* sampsPerChanRead,
                                    uint32_t*) {
  Log(Call("ReadAnalogF64", task, numSampsPerChan, timeout, fillMode, arraySizeInSamps));
  if (sampsPerChanRead != nullptr) *sampsPerChanRead = 0;
  Task* t = Find(task);
  if (t == nullptr) return kInvalidTask;
  if (const int32_t gone = Gone(*t)) return gone;
  if (script.readStatus < 0) return script.readStatus;
  if (t->channels.empty()) return kNoChannels;
  if (!t->timed) return kTimingNotSet;
  // -1 reads the whole finite acquisition.
  const int64_t asked = numSampsPerChan == -1 ? static_cast<int64_t>(t->sampsPerChan) : numSampsPerChan;
  if (asked < 0 || static_cast<uint64_t>(asked) > t->sampsPerChan || fillMode > 1 || readArray == nullptr ||
      sampsPerChanRead == nullptr) {
    return kInvalidAttribute;
  }
  const size_t channelCount = t->channels.size();
  if (static_cast<uint64_t>(asked) * channelCount > arraySizeInSamps) return kBufferTooSmall;

  // The read starts the finite acquisition and waits for it.
  const double startS = static_cast<double>(clock_.SteadyMs()) / 1000.0;
  const double durationS = static_cast<double>(asked) / t->rate;
  if (timeout >= 0.0 && durationS > timeout) {
    if (!script.instant) clock_.SleepMs(static_cast<int32_t>(std::ceil(timeout * 1000.0)));
    return kSamplesNotAvailable;
  }
  if (!script.instant) clock_.SleepMs(static_cast<int32_t>(std::ceil(durationS * 1000.0)));

  // A scripted count may be shorter (fewer samples stored) or longer (reported only).
  const size_t stored = script.samplesRead >= 0 ? std::min<size_t>(script.samplesRead, asked) : asked;
  for (size_t c = 0; c < channelCount; ++c) {
    for (size_t i = 0; i < stored; ++i) {
      const double v = Sample(t->channels[c], startS + static_cast<double>(i) / t->rate);
      const size_t index = fillMode == DAQmx::Val_GroupByChannel ? c * stored + i : i * channelCount + c;
      readArray[index] = v;
    }
  }
  *sampsPerChanRead = script.samplesRead >= 0 ? script.samplesRead : static_cast<int32_t>(asked);
  ++reads_;
  return script.readStatus > 0 ? script.readStatus : Ok();
}

int32_t SimulatedDaq::GetErrorString(int32_t errorCode, char* errorString, uint32_t bufferSize) {
  Log(Call("GetErrorString", errorCode, bufferSize));
  std::string text;
  if (const auto it = script.errorTexts.find(errorCode); it != script.errorTexts.end()) {
    text = it->second;
  } else {
    switch (errorCode) {
      case kInvalidTask: text = "Task specified is invalid or does not exist."; break;
      case kDeviceGone: text = "Device cannot be accessed."; break;
      case kDuplicateTask: text = "Task name specified conflicts with an existing task name."; break;
      case kInvalidAttribute: text = "Requested value is not a supported value for this property."; break;
      case kNoSuchChannel: text = "Physical channel specified does not exist on this device."; break;
      case kDuplicateChannel: text = "Physical channel already in the task."; break;
      case kBufferTooSmall: text = "Buffer is too small to fit read data."; break;
      case kSamplesNotAvailable: text = "Some or all of the samples requested have not yet been acquired."; break;
      case kNoChannels: text = "Task contains no channels."; break;
      case kTimingNotSet: text = "Sample timing has not been configured."; break;
      default: text = "Simulated DAQmx error " + std::to_string(errorCode) + "."; break;
    }
  }
  const auto needed = static_cast<uint32_t>(text.size() + 1);
  if (bufferSize == 0 || errorString == nullptr) return static_cast<int32_t>(needed);
  const size_t copied = std::min<size_t>(text.size(), bufferSize - 1);
  std::memcpy(errorString, text.data(), copied);
  errorString[copied] = '\0';
  return copied < text.size() ? static_cast<int32_t>(needed) : 0;
}

}  // namespace ostrelo
