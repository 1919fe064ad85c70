#include "shots/statvfs/StatvfsFreeSpace.h"

#include <sys/stat.h>
#include <sys/statvfs.h>
#include <climits>
#include <cstdlib>

namespace ostrelo {

std::optional<DiskSpace> StatvfsFreeSpace::Read(const std::string& folder) {
  struct statvfs fs {};
  if (::statvfs(folder.c_str(), &fs) != 0) return std::nullopt;
  DiskSpace space;
  // f_bavail: what a writer without the superuser's reserve may still use.
  space.availableBytes = static_cast<uint64_t>(fs.f_bavail) * fs.f_frsize;
  space.blockBytes = fs.f_frsize > 0 ? fs.f_frsize : fs.f_bsize;
  space.mountPoint = MountPointOf(folder);
  return space;
}

std::string MountPointOf(const std::string& path) {
  char resolved[PATH_MAX];
  if (::realpath(path.c_str(), resolved) == nullptr) return path;
  std::string here = resolved;
  struct stat s {};
  if (::stat(here.c_str(), &s) != 0) return here;
  const dev_t device = s.st_dev;
  while (here != "/") {
    const size_t slash = here.find_last_of('/');
    const std::string parent = slash == 0 ? "/" : here.substr(0, slash);
    if (::stat(parent.c_str(), &s) != 0 || s.st_dev != device) break;
    here = parent;
  }
  return here;
}

}  // namespace ostrelo
