#pragma once
// The free space of a folder's file system as statvfs() gives it, and the folder where
// that file system is mounted.

#include <optional>
#include <string>

#include "shell/Platform.h"

namespace ostrelo {

class StatvfsFreeSpace final : public FreeSpace {
 public:
  std::optional<DiskSpace> Read(const std::string& folder) override;
};

// The mount point of the file system holding path: its highest folder on the same device.
std::string MountPointOf(const std::string& path);

}  // namespace ostrelo
