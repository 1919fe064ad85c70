// Choosing the area of interest with the mouse on the camera view, and fitting the zoom
// view to its proportions.

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "inspection/AreaOfInterest.h"
#include "shell/Form1.h"
#include "shell/Numbers.h"
#include "shell/Selection.h"

namespace ostrelo {

namespace {

constexpr int32_t kLeftButton = 1;
constexpr int32_t kRightButton = 2;
constexpr int32_t kMinSelectionSize = 5;

// The shape holds whole pixels. A pointer held down may be anywhere, even reported as
// NaN or infinite; keeping every shape value within +/-2^24 keeps any sum of two of
// them inside 32 bits for whoever draws the shape, and is far beyond any screen.
constexpr double kShapeLimit = 16777216.0;

int32_t ShapeValue(double v) {
  if (std::isnan(v)) return 0;
  return RoundToInt32(std::clamp(v, -kShapeLimit, kShapeLimit));
}

// The shape reaches right and down from its corner whichever way the pointer went.
void SizeShapeToPointer(Control& shape, double x, double y) {
  shape.width = ShapeValue(std::fabs(x - shape.left));
  shape.height = ShapeValue(std::fabs(y - shape.top));
}

// The selection clamp: never on the first line or column of the view, never under 5 x 5.
void ClampSelection(AcquisitionState& st) {
  st.SelLeft = std::max(st.SelLeft, 1);
  st.SelTop = std::max(st.SelTop, 1);
  st.SelWidth = std::max(st.SelWidth, kMinSelectionSize);
  st.SelHeight = std::max(st.SelHeight, kMinSelectionSize);
}

void ReadSelectionFromShape(Form1& f) {
  f.st.SelLeft = f.ui.ZoomShape.left;
  f.st.SelTop = f.ui.ZoomShape.top;
  f.st.SelWidth = f.ui.ZoomShape.width;
  f.st.SelHeight = f.ui.ZoomShape.height;
  ClampSelection(f.st);
  LimitSelectionToView(f.st);
}

void UpdatePictureArea(Form1& f) {
  DerivePictureArea(f.st);
  LimitDerivedAreas(f.st);
  f.ui.InfoCam.caption = AreaText(f.st);
}

void UpdateBothAreas(Form1& f) {
  DeriveOverlayArea(f.st);
  DerivePictureArea(f.st);
  LimitDerivedAreas(f.st);
}

// The zoom copy fills the whole inner area of PicZoom, so its surface follows the box.
void MeasureZoomBox(Form1& f) {
  const Control& box = f.ui.PicZoom;
  f.st.ZoomWidth = std::max(0, box.width - 2 * box.borderWidth);
  f.st.ZoomHeight = std::max(0, box.height - 2 * box.borderWidth);
  Surface& surface = f.ui.ZoomSurface;
  if (surface.width != f.st.ZoomWidth || surface.height != f.st.ZoomHeight) {
    surface.Resize(f.st.ZoomWidth, f.st.ZoomHeight, PixelFromVb(Rgb(255, 255, 255)));
  }
}

// Holds a derived span inside [0, extent) with at least one pixel whenever there is
// one: on a picture much smaller than the view (5 x 3 seen through 456 x 342 view
// pixels) the minimum selection covers a few hundredths of a picture pixel and would
// round to nothing, or near the far edge start right on it.
void SpanWithin(int32_t& start, int32_t& length, int32_t extent) {
  extent = std::max(extent, 0);
  const int32_t minLength = std::min(1, extent);
  start = std::clamp(start, 0, extent - minLength);
  length = std::clamp(length, minLength, extent - start);
}

}  // namespace

void LimitSelectionToView(AcquisitionState& st) {
  // Near the right or bottom edge the minimum size moves the selection inwards rather
  // than letting it hang over the edge; past the edge the size is cut at the edge.
  auto limit = [](int32_t& start, int32_t& length, int32_t extent) {
    extent = std::max(extent, 0);
    const int32_t minSize = std::min(kMinSelectionSize, extent);
    start = std::clamp(start, 0, extent - minSize);
    length = std::clamp(length, 0, extent - start);
  };
  limit(st.SelLeft, st.SelWidth, st.CamViewWidth);
  limit(st.SelTop, st.SelHeight, st.CamViewHeight);
}

void LimitDerivedAreas(AcquisitionState& st) {
  // Two roundings can add up to one pixel more than the view maps to.
  SpanWithin(st.AoiLeft, st.AoiWidth, st.ImageWidth);
  SpanWithin(st.AoiTop, st.AoiHeight, st.ImageHeight);
  SpanWithin(st.OverlaySelLeft, st.OverlaySelWidth, st.OverlayWidth);
  SpanWithin(st.OverlaySelTop, st.OverlaySelHeight, st.OverlayHeight);
}

void FitZoomBox(Form1& f) {
  AcquisitionState& st = f.st;
  Control& box = f.ui.PicZoom;
  if (st.SelWidth > 0 && st.SelHeight > 0 && st.ZoomBoxWidth > 0 && st.ZoomBoxHeight > 0) {
    const double ratio = static_cast<double>(st.SelWidth) / st.SelHeight;
    const double homeRatio = static_cast<double>(st.ZoomBoxWidth) / st.ZoomBoxHeight;
    if (ratio >= homeRatio) {
      // At least as wide as the box: full width, hanging from the top.
      box.width = st.ZoomBoxWidth;
      box.height = RoundToInt32(st.ZoomBoxWidth / ratio);
      box.left = st.ZoomBoxLeft;
    } else {
      // Taller: full height, centred in the home space on the width the box took.
      box.width = RoundToInt32(st.ZoomBoxHeight * ratio);
      box.height = st.ZoomBoxHeight;
      const int32_t took = box.width;
      box.left = RoundToInt32(st.ZoomBoxLeft + (static_cast<double>(st.ZoomBoxWidth) - took) / 2.0);
    }
  }
  MeasureZoomBox(f);
}

void Form1::PicCam_MouseDown(int32_t button, int32_t, double x, double y) {
  // A disabled view takes no mouse input (a series of shots is running).
  if (!ui.PicCam.enabled) return;
  if (button == kLeftButton) {
    ui.VisuTimer.Stop();
    ui.ZoomShape.left = ShapeValue(x);
    ui.ZoomShape.top = ShapeValue(y);
    ui.ZoomShape.width = 1;
    ui.ZoomShape.height = 1;
    ReadSelectionFromShape(*this);
    // The zoom keeps showing the previous area until the button is released.
    UpdatePictureArea(*this);
    ui.ZoomShape.visible = true;
    dev.display->Update(st.DisplayHandle);
  } else if (button == kRightButton) {
    // Back to the whole picture and the home zoom box; the live view goes on as it was.
    ui.PicZoom.width = st.ZoomBoxWidth;
    ui.PicZoom.height = st.ZoomBoxHeight;
    ui.PicZoom.left = st.ZoomBoxLeft;
    MeasureZoomBox(*this);
    st.SelLeft = 0;
    st.SelTop = 0;
    st.SelWidth = st.CamViewWidth;
    st.SelHeight = st.CamViewHeight;
    UpdateBothAreas(*this);
    ui.InfoCam.caption = AreaText(st);
  }
}

void Form1::PicCam_MouseMove(int32_t button, int32_t, double x, double y) {
  if (!ui.PicCam.enabled) return;
  if (button != kLeftButton) return;
  dev.display->Update(st.DisplayHandle);
  SizeShapeToPointer(ui.ZoomShape, x, y);
  ReadSelectionFromShape(*this);
  UpdatePictureArea(*this);
}

void Form1::PicCam_MouseUp(int32_t button, int32_t, double x, double y) {
  if (!ui.PicCam.enabled) return;
  dev.display->Update(st.DisplayHandle);
  if (button != kLeftButton) return;
  SizeShapeToPointer(ui.ZoomShape, x, y);
  ui.ZoomShape.visible = false;
  ReadSelectionFromShape(*this);
  UpdateBothAreas(*this);
  FitZoomBox(*this);
  ui.InfoCam.caption = AreaText(st);
  // The live view resumes after a selection even when "Live" is unticked.
  ui.VisuTimer.Start();
}

}  // namespace ostrelo
