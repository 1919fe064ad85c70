#include "shots/win32/Win32FreeSpace.h"

#include <windows.h>

namespace ostrelo {

namespace {

std::wstring Utf16(const std::string& utf8) {
  const int size = static_cast<int>(utf8.size());
  const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), size, nullptr, 0);
  std::wstring wide(static_cast<size_t>(n > 0 ? n : 0), L'\0');
  if (n > 0) MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), size, wide.data(), n);
  return wide;
}

std::string Utf8(const wchar_t* wide) {
  const int n = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  if (n <= 1) return {};
  std::string text(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide, -1, text.data(), n, nullptr, nullptr);
  text.pop_back();  // the terminating zero
  return text;
}

}  // namespace

std::optional<DiskSpace> Win32FreeSpace::Read(const std::string& folder) {
  const std::wstring name = Utf16(folder);
  ULARGE_INTEGER available, total, free;
  wchar_t volume[MAX_PATH + 1];
  if (name.empty() || !GetDiskFreeSpaceExW(name.c_str(), &available, &total, &free) ||
      !GetVolumePathNameW(name.c_str(), volume, MAX_PATH + 1))
    return std::nullopt;
  DiskSpace space;
  // What this user may still write: quotas taken into account.
  space.availableBytes = available.QuadPart;
  DWORD sectorsPerCluster = 0, bytesPerSector = 0, freeClusters = 0, clusters = 0;
  if (GetDiskFreeSpaceW(volume, &sectorsPerCluster, &bytesPerSector, &freeClusters, &clusters) &&
      sectorsPerCluster * bytesPerSector > 0)
    space.blockBytes = uint64_t{sectorsPerCluster} * bytesPerSector;  // a file takes whole clusters
  space.mountPoint = Utf8(volume);
  return space;
}

}  // namespace ostrelo
