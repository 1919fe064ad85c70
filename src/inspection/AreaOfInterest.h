#pragma once
// The area of interest chosen on the camera view. The mouse handlers are methods of
// Form1; these are the pieces they share.

#include "shell/AcquisitionState.h"

namespace ostrelo {

class Form1;

// Keeps the selection (camera-view pixels) inside the view: a selection that would hang
// over the right or bottom edge is cut at the edge, and one that would be narrower than
// the minimum of 5 there is moved inwards. Every area derived from it then lies inside
// the picture.
void LimitSelectionToView(AcquisitionState& st);

// Cuts the picture area at the picture's edges and the overlay area at Overlay's edges:
// rounding the left and the width separately can reach one pixel past them. Each area
// keeps at least one pixel, even where the selection maps to less than one.
void LimitDerivedAreas(AcquisitionState& st);

// Gives PicZoom the proportions of the selection within its home box (full width from
// the top for a wide selection, full height centred for a tall one), then measures its
// inner size into ZoomWidth/ZoomHeight and sizes the zoom surface to it.
void FitZoomBox(Form1& f);

}  // namespace ostrelo
