#pragma once
// The DAQ unit: the analog-input task, its four voltage channels and their reading,
// the Acquisition switch and the reporting of driver errors.
//
// A card that stops answering after it has read (a USB card unplugged or reset) is an
// outage: the shots wait for it as they wait for the camera, the window says so while
// it lasts, the card is brought back by itself, and the log gets one line per outage.
// A card that never read (wrong device, no card) fails as it always did.

#include <cstdint>
#include <string>

#include "shell/Platform.h"

namespace ostrelo {

class Form1;

// Fixed acquisition parameters of the analog-input task.
namespace Daq {
inline constexpr const char* kTaskName = "AI-TASK";
inline constexpr const char* kDevicePrefix = "Dev1/";
inline constexpr const char* kClockSource = "OnboardClock";
inline constexpr double kSampleRate = 10000.0;  // samples per second per channel
inline constexpr int32_t kSamplesPerChannel = 800;
// Ample for the 80 ms acquisition; a card that went away holds the window no longer.
inline constexpr double kReadTimeoutS = 1.0;
inline constexpr double kMinVolts = -10.0;
inline constexpr double kMaxVolts = 10.0;
inline constexpr int kChannelCount = 4;
inline constexpr const char* kNoCardMessage = "No NI card found, data acquisition disabled";
inline constexpr const char* kValuePattern = "-00.000;00.000";

// Errors of the reading itself, numbered like the faults they prevent.
inline constexpr int32_t kOutOfMemory = 7;       // the task's channel count cannot be buffered
inline constexpr int32_t kChannelNotInTask = 9;  // the task holds fewer channels than asked for
inline constexpr int32_t kNoSamples = 11;        // the read delivered no sample to average
inline constexpr int32_t kNoAnswer = 13;         // the card did not answer within its deadline
}  // namespace Daq

// DAQmxCreateTask("AI-TASK", &AiTask); the status unchanged.
int32_t CreateDaqTask(Form1& f);
// Clears AiTask when one was ever created; the status is ignored and AiTask kept.
void ClearDaqTasks(Form1& f);
// One voltage channel <devicePrefix>ai<channel> in AiTask, wired as Option1 says.
int32_t CreateDaqChannels(Form1& f, const std::string& devicePrefix, uint8_t channel);
// One complete acquisition of all channels of the task; returns minus the mean of the
// given channel's samples. A driver error, or a read that cannot give the channel's
// mean, raises the program's error.
double ReadDaqInputs(Form1& f, uint8_t channel);
// Raises the program's error (number = status, description = driver's text) for a
// negative status; 0 and warnings do nothing.
void ShowDaqError(Form1& f, int32_t status);

// Start-up: the task and its channels, or the no-card reaction; then the channel names.
void DaqStartup(Form1& f);
// Acquisition off for the rest of the run, with the operator told once.
void NoCardReaction(Form1& f);

// The card is cleared, reset and set up again no more often than this: often enough
// that its return is seen within a second.
inline constexpr int64_t kCardRetryMs = 500;
inline constexpr const char* kNoVoltagesText = "No voltages from the DAQ card";

// "DAQ card not answering since 14:02:33"
std::string CardNoticeText(const LocalTime& since);

// The longest the window waits for the card: a read (or a bringing back) still running
// then is an outage, whatever the driver does with its own time-out.
inline constexpr int64_t kCardDeadlineMs = 1000;
// "The DAQ card did not answer within 1000 ms"
std::string CardLateText(int64_t deadlineMs);

// Reads the four channels into ChannelTable and CanalLabel, all four or none. false:
// the card went away after it had read, or is still away; the values and labels keep
// their last reading. A failure before the card's first read raises the program's error.
// The card's calls run on its own thread (Form1::CardCalls), waited for up to
// deadlineMs; a read still running then holds that thread, never the window, and the
// card is asked nothing more until it has returned.
bool ReadDaqChannels(Form1& f, int64_t deadlineMs = kCardDeadlineMs);
// ReadDaqChannels in two halves, so that the window can go on with other work while the
// card reads: the visit is begun (false: the card is not asked now, and the reading's
// answer is false), then waited for until deadlineAtMs on the program's clock.
bool BeginDaqRead(Form1& f);
bool EndDaqRead(Form1& f, int64_t deadlineAtMs);
// A new task is made for the card by the operator: it has yet to read.
void NoteCardTaskNew(Form1& f);
// While the camera gives no picture: the channels are read on their own, no more
// often than every kCardAloneEveryMs, so the card's outage keeps its own times. A card
// that has not read since its task was made is left to the next picture.
inline constexpr int64_t kCardAloneEveryMs = 500;
void ReadDaqChannelsWithoutPicture(Form1& f, int64_t deadlineMs = kCardDeadlineMs);
// Acquisition switched off, or shut-down, during an outage: its line is written.
void NoteCardOff(Form1& f);
void NoteCardClosed(Form1& f);

}  // namespace ostrelo
