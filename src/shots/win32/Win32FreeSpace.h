#pragma once
// The free space of a folder's volume as Windows gives it to this user, and the folder
// where that volume is mounted.

#include <optional>
#include <string>

#include "shell/Platform.h"

namespace ostrelo {

class Win32FreeSpace final : public FreeSpace {
 public:
  std::optional<DiskSpace> Read(const std::string& folder) override;
};

}  // namespace ostrelo
