#include "shots/win32/Win32FreeSpace.h"

#include <windows.h>

#include "shell/windows/WideText.h"

namespace ostrelo {

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
