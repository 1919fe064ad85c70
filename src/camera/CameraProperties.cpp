#include "camera/CameraProperties.h"

#include "camera/CameraDriver.h"
#include "shell/Form1.h"

namespace ostrelo {

int32_t GetPropertyHandle(CameraDriver& camera, int32_t driver, const std::string& propertyName,
                          const std::string& listName, int32_t listType) {
  int32_t list = -1;
  if (camera.FindList(driver, listName, listType, 0, &list) != 0) return -1;
  int32_t property = -1;
  if (camera.GetHandle(list, propertyName, &property) != 0) return -1;
  return property;
}

// TODO(gain): Enter in Text_Gain.
void Form1::Text_Gain_KeyPress(int32_t) {}

}  // namespace ostrelo
