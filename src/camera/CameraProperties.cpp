#include "camera/CameraProperties.h"

#include <optional>
#include <string>

#include "shell/CameraDriver.h"
#include "shell/Form1.h"
#include "shell/Numbers.h"

namespace ostrelo {

int32_t GetPropertyHandle(CameraDriver& camera, int32_t driver, const std::string& propertyName,
                          const std::string& listName, int32_t listType) {
  int32_t list = -1;
  if (camera.FindList(driver, listName, listType, 0, &list) != 0) return -1;
  int32_t property = -1;
  if (camera.GetHandle(list, propertyName, &property) != 0) return -1;
  return property;
}

// Enter in the gain box: the typed gain, clamped to the camera's own limits, is sent,
// read back and shown. Other keys only edit the text.
void Form1::Text_Gain_KeyPress(int32_t keyAscii) {
  if (keyAscii != kKeyEnter) return;
  std::string& text = ui.Text_Gain.caption;
  const char separator = dev.locale.decimalSeparator;

  // The zero test reads the text as a whole number first, so a text that is one is never
  // judged by a reading that stops earlier.
  std::optional<double> typed = LocaleNumber(text, separator);
  // Assigned from a temporary: GCC 12 wrongly warns of overlapping copies for a literal here.
  if (text.empty() || typed.value_or(LeadingNumber(text)) == 0.0) {
    text = std::string(1, '0');
    typed = 0.0;
  }
  if (st.GainHandle == -1) return;

  // A text that starts like a number but is not one as a whole ("12dB") sends nothing:
  // a guess would change the camera to a gain nobody typed. The box shows the gain the
  // camera keeps, so the refused entry does not look applied.
  double value = 0.0;
  if (!typed) {
    dev.camera.GetF(st.GainHandle, &value, 0);
    text = GeneralNumber(value, separator);
    return;
  }
  value = *typed;

  double maximum = 0.0;
  double minimum = 0.0;
  dev.camera.GetF(st.GainHandle, &maximum, -1);
  dev.camera.GetF(st.GainHandle, &minimum, -2);
  if (value > maximum) {
    value = maximum;
    text = GeneralNumber(value, separator);
  } else if (value < minimum) {
    value = minimum;
    text = GeneralNumber(value, separator);
  }

  dev.camera.SetF(st.GainHandle, value, 0);
  // The camera may round or refuse the value: show what it holds.
  dev.camera.GetF(st.GainHandle, &value, 0);
  text = GeneralNumber(value, separator);
}

}  // namespace ostrelo
