#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "shell/CameraDriver.h"

namespace ostrelo {

class Form1;
struct MarkList;

// Marks saturated and signal-less pixels of the area of interest on Overlay and draws
// the area's histogram in Histo, as the switches say. Run by the grab.
//
// Every twelfth byte of FrameBytes is sampled, in storage order from byte 0 up to and
// including byte FrameByteCount, whatever the picture's width; a sample counts only
// when it lies strictly inside the area (the area's first line and first column are
// never examined). A marked sample at line r, column c gets a dot of Overlay's drawing
// width at ((c * OverlayWidth) / ImageWidth, (r * OverlayHeight) / ImageHeight), quotients
// truncated: red for saturation, then green for no signal, so green covers red.
void RunCheckPass(Form1& f);

// The same pass in two halves around the copy of a picture into FrameBytes: the lines
// the copy shows are walked as it goes, while they are in the cache; Finish walks the
// lines of FrameBytes that were not shown, then marks Overlay and draws Histo.
class CheckWalk final : public LineObserver {
 public:
  explicit CheckWalk(Form1& f);
  CheckWalk(const CheckWalk&) = delete;
  CheckWalk& operator=(const CheckWalk&) = delete;
  ~CheckWalk();

  // Bands other than the next one down are left to Finish.
  void Lines(int32_t first, int32_t count, const uint8_t* pixels, int64_t pitch) override;
  // With AVX-512, a band whose lines follow one another is walked in the copy's loop, a
  // few samples after each few bytes copied: the walk's work then waits on memory
  // together with the copy's instead of after it.
  bool CopyLines(int32_t first, int32_t count, const uint8_t* pixels, int64_t pitch, uint8_t* destination) override;
  void Finish();

  // What a grey level asks for: the mark bits of each kind, shifted into place for the
  // sample's position in a group of four.
  using MarkTables = std::array<std::array<uint8_t, 256>, 4>;

 private:
  void WalkRows(int64_t fromRow, int64_t toRow, const uint8_t* firstLine, int64_t pitch);
  // The mark list with room for `lines` more lines' entries.
  uint64_t* MarkRoom(int64_t lines);

  Form1& f_;
  std::shared_ptr<MarkList> list_;
  MarkTables marks_{};
  std::array<std::array<uint32_t, 256>, 4> counts_{};
  bool marking_ = false, counting_ = false;
  // The marks as ranges of grey levels, for the vector walk (wide_: with AVX-512):
  // saturated from satFrom_ up, no signal up to noTo_, each when on.
  bool satOn_ = false, noOn_ = false, wide_ = false;
  uint8_t satFrom_ = 255, noTo_ = 0;
  bool empty_ = true;  // no sample lies inside both the area and the buffer
  int64_t width_ = 0, lastByte_ = -1;
  int64_t firstColumn_ = 0, lastColumn_ = -1, firstRow_ = 0, lastRow_ = -1;
  size_t lineGroups_ = 0, marked_ = 0;  // lineGroups_: entries a line can add, at most
  int64_t nextRow_ = 0;                 // the lines above it are walked
};

// Histo's drawing scale: x from 0 at the left to 255 at the right, y from 0 at the bottom
// to 100 at the top, laid over the inner pixels so that both ends of each axis fall on
// the edge pixels and nothing drawn is lost off the surface:
//   column = round(x * (innerWidth - 1) / 255),  line = round((100 - y) * (innerHeight - 1) / 100),
// rounding half to even. On the 565 x 37 inner area: x 0 -> 0, 255 -> 564; y 100 -> 0, 0 -> 36.
int32_t HistoColumn(double x, int32_t innerWidth);
int32_t HistoLine(double y, int32_t innerHeight);

}  // namespace ostrelo
