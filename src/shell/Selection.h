#pragma once
// The area of interest is held three times: in camera-view pixels (the selection), in
// Overlay pixels and in picture pixels. The last two are always derived from the first.

#include "shell/AcquisitionState.h"

namespace ostrelo {

// OverlaySel* from Sel* and the overlay scale factors, each value rounded half to even.
void DeriveOverlayArea(AcquisitionState& st);
// Aoi* from Sel* and the image scale factors, each value rounded half to even.
void DerivePictureArea(AcquisitionState& st);

}  // namespace ostrelo
