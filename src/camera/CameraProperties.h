#pragma once
#include <cstdint>
#include <string>

namespace ostrelo {

class CameraDriver;

// Finds a camera property by name in a property list: the property handle, or -1
// when the list or the property cannot be found.
int32_t GetPropertyHandle(CameraDriver& camera, int32_t driver, const std::string& propertyName,
                          const std::string& listName, int32_t listType);

}  // namespace ostrelo
