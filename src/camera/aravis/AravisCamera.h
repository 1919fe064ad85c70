#pragma once
// GenICam cameras (USB3 Vision, GigE Vision) through Aravis.

#include <memory>

#include "camera/CameraDriver.h"

namespace ostrelo {

std::unique_ptr<CameraDriver> MakeAravisCamera();

}  // namespace ostrelo
