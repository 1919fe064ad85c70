#pragma once

namespace ostrelo {

class Form1;

// Marks saturated and signal-less pixels of the area of interest on Overlay and draws
// the area's histogram in Histo, as the switches say. Run by the grab.
void RunCheckPass(Form1& f);

}  // namespace ostrelo
