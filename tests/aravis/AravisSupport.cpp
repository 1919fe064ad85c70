#include "AravisSupport.h"

#include <chrono>

namespace ostrelo::testing {

AravisOptions FakeCameraOptions() {
  AravisOptions options;
  options.interfaces = {"Fake"};
  return options;
}

int64_t WallClockUs() {
  return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

void EnterGain(Form1& form, const std::string& text) {
  form.ui.Text_Gain.caption = text;
  form.Dispatch([&] { form.Text_Gain_KeyPress(kKeyEnter); });
}

}  // namespace ostrelo::testing
