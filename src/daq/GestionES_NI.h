#pragma once
// The DAQ unit: the analog-input task, its four voltage channels and their reading.

#include <cstdint>
#include <string>

namespace ostrelo {

class Form1;

int32_t CreateDaqTask(Form1& f);
void ClearDaqTasks(Form1& f);
int32_t CreateDaqChannels(Form1& f, const std::string& devicePrefix, uint8_t channel);
// One complete acquisition of the task; returns minus the mean of the channel's samples.
// A driver error raises the program's error.
double ReadDaqInputs(Form1& f, uint8_t channel);
// Raises the program's error for a negative status; 0 and warnings do nothing.
void ShowDaqError(Form1& f, int32_t status);

// Start-up: the task and its channels, or the no-card reaction; then the channel names.
void DaqStartup(Form1& f);
// Acquisition off for the rest of the run, with the operator told once.
void NoCardReaction(Form1& f);

}  // namespace ostrelo
