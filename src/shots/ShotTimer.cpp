#include "shell/Form1.h"

namespace ostrelo {

// TODO(shots): one shot, series and the shot timer.
void Form1::Command1_Click() {}
void Form1::Command2_Click() {}
void Form1::TimeText_Change() {}
void Form1::TimeText_KeyPress(int32_t) {}
void Form1::Timer1_Timer() {}

}  // namespace ostrelo
