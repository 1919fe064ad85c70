#include "shell/Form1.h"

namespace ostrelo {

// TODO(inspection): selection with the mouse.
void Form1::PicCam_MouseDown(int32_t, int32_t, double, double) {}
void Form1::PicCam_MouseMove(int32_t, int32_t, double, double) {}
void Form1::PicCam_MouseUp(int32_t, int32_t, double, double) {}

}  // namespace ostrelo
