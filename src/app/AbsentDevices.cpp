#include "app/AbsentDevices.h"

#include <cstring>

namespace ostrelo::qtui {

int32_t AbsentDaq::GetErrorString(int32_t, char* errorString, uint32_t bufferSize) {
  static const char kText[] = "The NI-DAQmx driver library could not be loaded.";
  if (bufferSize == 0 || errorString == nullptr) return static_cast<int32_t>(sizeof kText);
  std::strncpy(errorString, kText, bufferSize - 1);
  errorString[bufferSize - 1] = '\0';
  return 0;
}

}  // namespace ostrelo::qtui
