#include "shell/Selection.h"

#include "shell/Numbers.h"

namespace ostrelo {

void DeriveOverlayArea(AcquisitionState& st) {
  st.OverlaySelLeft = RoundToInt32(st.SelLeft * st.OverlayScaleX);
  st.OverlaySelTop = RoundToInt32(st.SelTop * st.OverlayScaleY);
  st.OverlaySelWidth = RoundToInt32(st.SelWidth * st.OverlayScaleX);
  st.OverlaySelHeight = RoundToInt32(st.SelHeight * st.OverlayScaleY);
}

void DerivePictureArea(AcquisitionState& st) {
  st.AoiLeft = RoundToInt32(st.SelLeft * st.ImageScaleX);
  st.AoiTop = RoundToInt32(st.SelTop * st.ImageScaleY);
  st.AoiWidth = RoundToInt32(st.SelWidth * st.ImageScaleX);
  st.AoiHeight = RoundToInt32(st.SelHeight * st.ImageScaleY);
}

}  // namespace ostrelo
