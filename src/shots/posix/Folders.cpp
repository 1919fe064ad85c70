#include "shots/Folders.h"

#include <cstdlib>
#include <string>

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ostrelo {

PathKind KindOf(const std::string& name) {
  struct stat info {};
  if (::stat(name.c_str(), &info) != 0) return PathKind::Missing;
  return S_ISDIR(info.st_mode) ? PathKind::Folder : PathKind::Other;
}

bool CanWriteInto(const std::string& folder) { return ::access(folder.c_str(), W_OK | X_OK) == 0; }

bool NameTooLong(const std::string& folder, const std::string& name) {
  const long longest = ::pathconf(folder.c_str(), _PC_NAME_MAX);
  return longest > 0 && name.size() - FolderPartLength(name) > static_cast<size_t>(longest);
}

bool PlainAbsoluteFolder(const std::string& folder) {
  return !folder.empty() && folder[0] == '/' && folder.find("/./") == std::string::npos &&
         folder.find("/../") == std::string::npos;
}

char FolderSeparator() { return '/'; }

std::string HomeFolder() {
  if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') return home;
  if (const passwd* pw = ::getpwuid(::getuid()); pw != nullptr && pw->pw_dir != nullptr) return pw->pw_dir;
  return "/";
}

std::string StateFolder() {
  const char* state = std::getenv("XDG_STATE_HOME");
  if (state != nullptr && state[0] == '/') return std::string(state) + "/ostrelo";
  const char* home = std::getenv("HOME");
  return std::string(home != nullptr ? home : "") + "/.local/state/ostrelo";
}

void MakeFolders(const std::string& path) {
  for (size_t at = path.find('/', 1);; at = path.find('/', at + 1)) {
    ::mkdir(path.substr(0, at).c_str(), 0700);
    if (at == std::string::npos) return;
  }
}

FileHandle::Native TakeLock(const std::string& lockFile) {
  FileHandle fd(::open(lockFile.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (!fd.valid() || ::flock(static_cast<int>(fd.get()), LOCK_EX | LOCK_NB) != 0) return FileHandle::kNone;
  return fd.Release();
}

}  // namespace ostrelo
