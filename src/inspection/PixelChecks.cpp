#include "shell/Form1.h"

namespace ostrelo {

// TODO(inspection): check switches and thresholds.
void Form1::CheckHisto_Click() {}
void Form1::CheckNoSignal_Click() {}
void Form1::CheckSaturation_Click() {}
void Form1::CheckWarning_Click() {}
void Form1::NoText_KeyPress(int32_t) {}
void Form1::SatText_KeyPress(int32_t) {}

}  // namespace ostrelo
