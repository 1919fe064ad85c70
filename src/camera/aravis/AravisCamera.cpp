#include "camera/aravis/AravisCamera.h"

namespace ostrelo {

// TODO(aravis): the backend.
std::unique_ptr<CameraDriver> MakeAravisCamera() { return nullptr; }

}  // namespace ostrelo
