#pragma once
// The picture writer: the area of interest of the last frame as an uncompressed
// 8-bit grey BMP file with a 256-entry palette, rows bottom-up.

#include <cstdint>
#include <string>
#include <vector>

namespace ostrelo {

class Form1;
struct AcquisitionState;

// File header (14) + information header (40) + palette (1024): where the pixels begin.
inline constexpr uint32_t kBmpPixelOffset = 1078;

// Bytes of one stored row: the width rounded up to a multiple of 4.
uint32_t BmpRowBytes(int32_t width);

// Raises the program's error kAreaOutsideFrame unless the area of interest is at least
// one pixel wide and high and lies wholly inside the frame and its buffer.
void CheckAreaInsideFrame(const AcquisitionState& st);

// The whole file in memory, byte for byte what SaveAoiBitmap writes (which gathers the
// same bytes from the frame without building them first). out is resized; its
// capacity is kept.
void BuildAoiBitmap(const AcquisitionState& st, std::vector<uint8_t>& out);

// Whether a written file is made durable before the writer returns.
enum class FileSync { ToDisk, Cached };

// A shot's picture in two steps, with the busy pointer shown while it is written: the
// area of interest of FrameBytes written and synced under a temporary name in fileName's
// folder (CreateTemporaryFor; returned), then renamed over fileName and the folder
// synced. fileName holds either its earlier content or the whole new picture, never a
// mix and never a half picture, even after a power cut. A failure removes the
// temporary file and raises the program's file error.
std::string WriteAoiBitmapAside(Form1& f, const std::string& fileName);
void NameAoiBitmap(const std::string& partName, const std::string& fileName);
// Both steps at once.
void SaveAoiBitmap(Form1& f, const std::string& fileName);

// The same without the window, synced or not (for measuring what the sync costs).
void WriteAoiBitmap(const AcquisitionState& st, const std::string& fileName, FileSync sync);

// The same replacement for bytes ready in memory. Raises FileError naming fileName.
void ReplaceFileContents(const std::string& fileName, const void* data, size_t size, FileSync sync = FileSync::ToDisk);

}  // namespace ostrelo
