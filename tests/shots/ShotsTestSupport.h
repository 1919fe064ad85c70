#pragma once
// Helpers of the shot tests: temporary folders, whole-file reads, an independent BMP
// reader, and scenarios run in a child process (file-size limit, another user) where
// the platform has them.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "TestPlatform.h"

namespace ostrelo::testing {

namespace fs = std::filesystem;

// A fresh folder under the system's temporary folder, removed with its content.
class TempFolder {
 public:
  // inside: the name of a folder made in it, which is then the one given.
  explicit TempFolder(const std::string& inside = "") {
    root_ = path_ = NewFolder(Utf8Of(fs::temp_directory_path() / "ostrelo-shots-"));
    if (!inside.empty()) fs::create_directory(path_ /= PathOf(inside));
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  ~TempFolder() {
    std::error_code ec;
    // Folders made read-only by a test must be writable again to be emptied.
    for (auto it = fs::recursive_directory_iterator(path_, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
      if (it->is_directory(ec)) fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(root_, ec);
  }
  const fs::path& path() const { return path_; }
  std::string utf8() const { return Utf8Of(path_); }
  // UTF-8, as the program takes names.
  std::string operator/(const std::string& name) const { return Utf8Of(path_ / PathOf(name)); }

 private:
  fs::path root_, path_;
};

inline std::string ReadFile(const std::string& name) {
  std::ifstream in(PathOf(name), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteFile(const std::string& name, const std::string& bytes) {
  std::ofstream out(PathOf(name), std::ios::binary | std::ios::trunc);
  out << bytes;
}

inline std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    const size_t end = text.find("\r\n", start);
    if (end == std::string::npos) {
      lines.push_back(text.substr(start));  // an unterminated tail
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

inline std::vector<std::string> SplitFields(const std::string& line) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (;;) {
    const size_t tab = line.find('\t', start);
    fields.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
    if (tab == std::string::npos) return fields;
    start = tab + 1;
  }
}

// Names of the files in a folder, sorted.
inline std::vector<std::string> FolderContent(const fs::path& folder) {
  std::vector<std::string> names;
  std::error_code gone;  // a folder that is not there holds nothing
  for (const auto& e : fs::directory_iterator(folder, gone)) names.push_back(Utf8Of(e.path().filename()));
  std::sort(names.begin(), names.end());
  return names;
}

// Every file of a folder with its bytes.
inline std::map<std::string, std::string> Snapshot(const fs::path& folder) {
  std::map<std::string, std::string> files;
  for (const std::string& name : FolderContent(folder)) files[name] = ReadFile(Utf8Of(folder / PathOf(name)));
  return files;
}

// A BMP reader written from the published format, independent of the writer: checks
// the headers it relies on and returns the picture top line first.
struct BmpPicture {
  uint32_t fileSize = 0, pixelOffset = 0, headerSize = 0, dataSize = 0, compression = 0;
  int32_t width = 0, height = 0;
  uint16_t planes = 0, bitsPerPixel = 0;
  int32_t xPelsPerMetre = 0, yPelsPerMetre = 0;
  uint32_t coloursUsed = 0, importantColours = 0;
  std::vector<uint8_t> palette;  // 1024 bytes
  std::vector<uint8_t> pixels;   // width x height, top line first
};

inline uint32_t Le32(const std::string& b, size_t at) {
  return static_cast<uint32_t>(static_cast<uint8_t>(b[at])) |
         static_cast<uint32_t>(static_cast<uint8_t>(b[at + 1])) << 8 |
         static_cast<uint32_t>(static_cast<uint8_t>(b[at + 2])) << 16 |
         static_cast<uint32_t>(static_cast<uint8_t>(b[at + 3])) << 24;
}
inline uint16_t Le16(const std::string& b, size_t at) {
  return static_cast<uint16_t>(static_cast<uint8_t>(b[at]) | static_cast<uint8_t>(b[at + 1]) << 8);
}

// Fails the test (and returns an empty picture) when the file is not a BMP of the
// kind described.
inline BmpPicture ReadBmp(const std::string& bytes) {
  BmpPicture p;
  EXPECT_GE(bytes.size(), 54u);
  if (bytes.size() < 54) return p;
  EXPECT_EQ(bytes.substr(0, 2), "BM");
  p.fileSize = Le32(bytes, 2);
  p.pixelOffset = Le32(bytes, 10);
  p.headerSize = Le32(bytes, 14);
  p.width = static_cast<int32_t>(Le32(bytes, 18));
  p.height = static_cast<int32_t>(Le32(bytes, 22));
  p.planes = Le16(bytes, 26);
  p.bitsPerPixel = Le16(bytes, 28);
  p.compression = Le32(bytes, 30);
  p.dataSize = Le32(bytes, 34);
  p.xPelsPerMetre = static_cast<int32_t>(Le32(bytes, 38));
  p.yPelsPerMetre = static_cast<int32_t>(Le32(bytes, 42));
  p.coloursUsed = Le32(bytes, 46);
  p.importantColours = Le32(bytes, 50);
  EXPECT_EQ(p.bitsPerPixel, 8);
  EXPECT_EQ(p.compression, 0u);
  EXPECT_GT(p.width, 0);
  EXPECT_GT(p.height, 0);
  if (p.bitsPerPixel != 8 || p.width <= 0 || p.height <= 0) return p;
  const size_t stride = (static_cast<size_t>(p.width) + 3) / 4 * 4;
  EXPECT_GE(bytes.size(), p.pixelOffset + stride * p.height);
  if (bytes.size() < p.pixelOffset + stride * p.height || p.pixelOffset < 54 + 1024) return p;
  p.palette.assign(bytes.begin() + 54, bytes.begin() + 54 + 1024);
  p.pixels.resize(static_cast<size_t>(p.width) * p.height);
  for (int32_t fileRow = 0; fileRow < p.height; ++fileRow) {
    const int32_t line = p.height - 1 - fileRow;  // bottom-up
    for (int32_t c = 0; c < p.width; ++c) {
      const auto index = static_cast<uint8_t>(bytes[p.pixelOffset + fileRow * stride + c]);
      // Through the palette: the grey level shown.
      p.pixels[static_cast<size_t>(line) * p.width + c] = static_cast<uint8_t>(bytes[54 + 4 * index + 2]);
    }
  }
  return p;
}

}  // namespace ostrelo::testing
