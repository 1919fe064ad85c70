#include "shots/BitmapWriter.h"

#include <cerrno>
#include <cstring>

#include "shell/Form1.h"
#include "shell/ProgramError.h"
#include "shots/FileOutput.h"

namespace ostrelo {

namespace {

void Put16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

void Put32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

// Shows the busy pointer for its lifetime, whichever way the write ends.
class BusyPointer {
 public:
  explicit BusyPointer(Dialogs& dialogs) : dialogs_(dialogs) { dialogs_.SetBusyPointer(true); }
  BusyPointer(const BusyPointer&) = delete;
  BusyPointer& operator=(const BusyPointer&) = delete;
  ~BusyPointer() {
    try {
      dialogs_.SetBusyPointer(false);
    } catch (...) {
      // The pointer is cosmetic; never let it hide the write's own outcome.
    }
  }

 private:
  Dialogs& dialogs_;
};

constexpr uint32_t kPixelsPerMetre = 3780;  // 96 dots per inch

}  // namespace

uint32_t BmpRowBytes(int32_t width) { return static_cast<uint32_t>((static_cast<int64_t>(width) + 3) / 4 * 4); }

void CheckAreaInsideFrame(const AcquisitionState& st) {
  const int64_t left = st.AoiLeft, top = st.AoiTop, width = st.AoiWidth, height = st.AoiHeight;
  const int64_t frameWidth = st.ImageWidth, frameHeight = st.ImageHeight;
  bool inside =
      width >= 1 && height >= 1 && left >= 0 && top >= 0 && left + width <= frameWidth && top + height <= frameHeight;
  if (inside) {
    // The last byte read must be a pixel of the buffer sized at start-up, even when the
    // camera has since reported a larger picture.
    const int64_t lastIndex = (top + height - 1) * frameWidth + left + width - 1;
    inside =
        lastIndex < static_cast<int64_t>(st.FrameByteCount) && lastIndex < static_cast<int64_t>(st.FrameBytes.size());
  }
  if (!inside) {
    throw ProgramError(ErrorNumber::kAreaOutsideFrame,
                       "The area of interest (" + std::to_string(left) + "," + std::to_string(top) +
                           ") - (W:" + std::to_string(width) + " - H:" + std::to_string(height) +
                           ") does not lie inside the picture of " + std::to_string(frameWidth) + " x " +
                           std::to_string(frameHeight) + " pixels");
  }
}

namespace {

// The 1078 bytes before the pixels: file header, information header, palette.
void FillBmpHeader(const AcquisitionState& st, uint8_t* p) {
  const uint32_t width = static_cast<uint32_t>(st.AoiWidth);
  const uint32_t height = static_cast<uint32_t>(st.AoiHeight);
  const uint32_t dataBytes = BmpRowBytes(st.AoiWidth) * height;
  const uint32_t fileBytes = kBmpPixelOffset + dataBytes;

  Put16(p + 0, 0x4D42);  // "BM"
  Put32(p + 2, fileBytes);
  Put16(p + 6, 0);
  Put16(p + 8, 0);
  Put32(p + 10, kBmpPixelOffset);
  Put32(p + 14, 40);
  Put32(p + 18, width);
  Put32(p + 22, height);  // positive: bottom-up rows
  Put16(p + 26, 1);
  Put16(p + 28, 8);
  Put32(p + 30, 0);
  Put32(p + 34, dataBytes);
  Put32(p + 38, kPixelsPerMetre);
  Put32(p + 42, kPixelsPerMetre);
  Put32(p + 46, 0);
  Put32(p + 50, 0);
  for (size_t i = 0; i < st.GreyPalette.size(); ++i) {
    const PaletteEntry& e = st.GreyPalette[i];
    uint8_t* q = p + 54 + 4 * i;
    q[0] = e.blue;
    q[1] = e.green;
    q[2] = e.red;
    q[3] = e.reserved;
  }
}

}  // namespace

void BuildAoiBitmap(const AcquisitionState& st, std::vector<uint8_t>& out) {
  CheckAreaInsideFrame(st);
  const uint32_t width = static_cast<uint32_t>(st.AoiWidth);
  const uint32_t height = static_cast<uint32_t>(st.AoiHeight);
  const uint32_t rowBytes = BmpRowBytes(st.AoiWidth);
  out.resize(kBmpPixelOffset + rowBytes * height);
  uint8_t* p = out.data();
  FillBmpHeader(st, p);

  // Bottom line of the area first; pad bytes zeroed every time, as the buffer is reused.
  const size_t stride = static_cast<size_t>(st.ImageWidth);
  const uint8_t* source =
      st.FrameBytes.data() + (static_cast<size_t>(st.AoiTop) + height - 1) * stride + static_cast<size_t>(st.AoiLeft);
  uint8_t* row = p + kBmpPixelOffset;
  const uint32_t pad = rowBytes - width;
  for (uint32_t k = 0; k < height; ++k, row += rowBytes, source -= stride) {
    std::memcpy(row, source, width);
    if (pad != 0) std::memset(row + width, 0, pad);
  }
}

namespace {

// Writes the new content to a new temporary file in fileName's folder and closes it;
// synced, its bytes are on the disk. Returns its name; on a failure it is gone and the
// program's file error names fileName.
template <typename Body>
std::string WriteTemporary(const std::string& fileName, FileSync sync, Body&& writeBody) {
  std::string partName;
  FileHandle file(CreateTemporaryFor(fileName, partName));
  if (!file.valid()) throw FileError(errno, fileName);
  int error = writeBody(file.get());
  if (error == 0 && sync == FileSync::ToDisk) error = SyncFileData(file.get());
  if (error == 0) error = file.Close();
  if (error != 0) {
    file.Close();
    RemoveFile(partName);
    throw FileError(error, fileName);
  }
  return partName;
}

void Tell(ShotStep step) {
  if (shotStepHook != nullptr) shotStepHook(step);
}

// Renames a complete temporary file over fileName; synced, the name reaches the disk
// before the call returns. On a failure neither name is left and fileName's earlier
// content (when the rename did not happen) stays.
void GiveItsName(const std::string& partName, const std::string& fileName, FileSync sync) {
  if (const int error = RenameFile(partName, fileName); error != 0) {
    RemoveFile(partName);
    throw FileError(error, fileName);
  }
  if (sync == FileSync::ToDisk) {
    Tell(ShotStep::Renamed);
    // A name that may not survive a power cut is no picture to record.
    if (const int error = SyncFolderOf(fileName); error != 0) {
      RemoveFile(fileName);
      throw FileError(error, fileName);
    }
    Tell(ShotStep::FolderSynced);
  }
}

// fileName holds either its earlier content or the whole new one, even after a power
// cut when synced: the bytes reach the disk before the name does.
template <typename Body>
void ReplaceFile(const std::string& fileName, FileSync sync, Body&& writeBody) {
  GiveItsName(WriteTemporary(fileName, sync, writeBody), fileName, sync);
}

}  // namespace

void ReplaceFileContents(const std::string& fileName, const void* data, size_t size, FileSync sync) {
  ReplaceFile(fileName, sync, [&](FileHandle::Native file) { return WriteAll(file, data, size); });
}

namespace {

// The pieces of the picture file, for WriteAllPieces, which consumes them.
std::vector<FilePiece>& AoiBitmapPieces(const AcquisitionState& st) {
  CheckAreaInsideFrame(st);

  // The file is gathered straight from the frame: the header, then for each line of the
  // area from the bottom one up its pixels in FrameBytes and the zero pad bytes, handed
  // to writev on Linux. The kernel copies each byte once, as for one write() of bytes ready in
  // memory; building the file in a buffer first adds a copy that measured 1.3 to 2 x the
  // floor for new files. The piece list is kept for the whole run (one user-interface
  // thread).
  static uint8_t header[kBmpPixelOffset];
  static const uint8_t kZeros[3] = {0, 0, 0};
  static std::vector<FilePiece> pieces;
  FillBmpHeader(st, header);
  const uint32_t width = static_cast<uint32_t>(st.AoiWidth);
  const uint32_t height = static_cast<uint32_t>(st.AoiHeight);
  const uint32_t pad = BmpRowBytes(st.AoiWidth) - width;
  pieces.clear();
  pieces.reserve(1 + static_cast<size_t>(height) * (pad != 0 ? 2 : 1));
  pieces.push_back({header, kBmpPixelOffset});
  const size_t stride = static_cast<size_t>(st.ImageWidth);
  const uint8_t* line =
      st.FrameBytes.data() + (static_cast<size_t>(st.AoiTop) + height - 1) * stride + static_cast<size_t>(st.AoiLeft);
  for (uint32_t k = 0; k < height; ++k, line -= stride) {
    pieces.push_back({const_cast<uint8_t*>(line), width});
    if (pad != 0) pieces.push_back({const_cast<uint8_t*>(kZeros), pad});
  }
  return pieces;
}

int WritePieces(FileHandle::Native file, std::vector<FilePiece>& pieces) {
  return WriteAllPieces(file, pieces.data(), pieces.size());
}

}  // namespace

void WriteAoiBitmap(const AcquisitionState& st, const std::string& fileName, FileSync sync) {
  std::vector<FilePiece>& pieces = AoiBitmapPieces(st);
  ReplaceFile(fileName, sync, [&](FileHandle::Native file) { return WritePieces(file, pieces); });
}

std::string WriteAoiBitmapAside(Form1& f, const std::string& fileName) {
  BusyPointer busy(f.dev.dialogs);
  std::vector<FilePiece>& pieces = AoiBitmapPieces(f.st);
  std::string partName =
      WriteTemporary(fileName, FileSync::ToDisk, [&](FileHandle::Native file) { return WritePieces(file, pieces); });
  Tell(ShotStep::PictureSynced);
  return partName;
}

void NameAoiBitmap(const std::string& partName, const std::string& fileName) {
  GiveItsName(partName, fileName, FileSync::ToDisk);
}

void SaveAoiBitmap(Form1& f, const std::string& fileName) { NameAoiBitmap(WriteAoiBitmapAside(f, fileName), fileName); }

}  // namespace ostrelo
