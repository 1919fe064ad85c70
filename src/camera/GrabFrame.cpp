#include "camera/GrabFrame.h"

#include "shell/Form1.h"

namespace ostrelo {

// TODO(grab): steps of the grab.
void GrabFrame(Form1&, GrabPurpose) {}
void Form1::VisuTimer_Timer() { GrabFrame(*this); }
void Form1::LiveCheck_Click() { ui.VisuTimer.SetEnabled(ui.LiveCheck.value == 1); }

}  // namespace ostrelo
