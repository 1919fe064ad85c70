// The check boxes and threshold boxes of the pixel checks. The checks themselves run
// inside every grab; these handlers only set what the next pass uses.

#include "inspection/PixelChecks.h"

#include <algorithm>

#include "shell/Form1.h"
#include "shell/Numbers.h"

namespace ostrelo {

namespace {

int32_t SaturationFrom(const Control& box) {
  return ReadThreshold(box.caption, kSaturationThresholdMin, kSaturationThresholdMax);
}
int32_t NoSignalFrom(const Control& box) {
  return ReadThreshold(box.caption, kNoSignalThresholdMin, kNoSignalThresholdMax);
}

}  // namespace

int32_t ReadThreshold(std::string_view text, int32_t low, int32_t high) {
  // RoundToInt32 saturates, so "1e99" and "-1e99" land on the limits.
  return std::clamp(RoundToInt32(LeadingNumber(text)), low, high);
}

void Form1::CheckHisto_Click() {
  // Switched off, Histo keeps the last histogram drawn.
  st.HistogramOn = ui.CheckHisto.value == 1;
}

void Form1::CheckNoSignal_Click() {
  st.NoSignalCheckOn = ui.CheckNoSignal.value == 1;
  if (st.NoSignalCheckOn) st.NoSignalThreshold = NoSignalFrom(ui.NoText);
}

void Form1::CheckSaturation_Click() {
  st.SaturationCheckOn = ui.CheckSaturation.value == 1;
  if (st.SaturationCheckOn) st.SaturationThreshold = SaturationFrom(ui.SatText);
}

void Form1::CheckWarning_Click() {
  // Ticked: the warning panel goes at once; the series shows it again as it needs.
  if (ui.CheckWarning.value == 1) ui.Picture1.visible = false;
}

// Enter takes the typed threshold whether or not its box is ticked; the text stays as
// typed. Other keys are the text box's own business.
void Form1::NoText_KeyPress(int32_t keyAscii) {
  if (keyAscii == kKeyEnter) st.NoSignalThreshold = NoSignalFrom(ui.NoText);
}

void Form1::SatText_KeyPress(int32_t keyAscii) {
  if (keyAscii == kKeyEnter) st.SaturationThreshold = SaturationFrom(ui.SatText);
}

}  // namespace ostrelo
