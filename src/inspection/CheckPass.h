#pragma once

#include <cstdint>

namespace ostrelo {

class Form1;

// Marks saturated and signal-less pixels of the area of interest on Overlay and draws
// the area's histogram in Histo, as the switches say. Run by the grab.
//
// Every twelfth byte of FrameBytes is sampled, in storage order from byte 0 up to and
// including byte FrameByteCount, whatever the picture's width; a sample counts only
// when it lies strictly inside the area (the area's first line and first column are
// never examined). A marked sample at line r, column c gets a dot of Overlay's drawing
// width at ((c * OverlayWidth) / ImageWidth, (r * OverlayHeight) / ImageHeight), quotients
// truncated: red for saturation, then green for no signal, so green covers red.
void RunCheckPass(Form1& f);

// Histo's drawing scale: x from 0 at the left to 255 at the right, y from 0 at the bottom
// to 100 at the top, laid over the inner pixels so that both ends of each axis fall on
// the edge pixels and nothing drawn is lost off the surface:
//   column = round(x * (innerWidth - 1) / 255),  line = round((100 - y) * (innerHeight - 1) / 100),
// rounding half to even. On the 565 x 37 inner area: x 0 -> 0, 255 -> 564; y 100 -> 0, 0 -> 36.
int32_t HistoColumn(double x, int32_t innerWidth);
int32_t HistoLine(double y, int32_t innerHeight);

}  // namespace ostrelo
