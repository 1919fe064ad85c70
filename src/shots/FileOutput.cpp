#include "shots/FileOutput.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ostrelo {

FileDescriptor::~FileDescriptor() { Close(); }

int FileDescriptor::Close() {
  if (fd_ < 0) return 0;
  const int fd = fd_;
  fd_ = -1;
  // On Linux the descriptor is gone even when close() reports EINTR: never retry.
  if (::close(fd) != 0 && errno != EINTR) return errno;
  return 0;
}

int WriteAll(int fd, const void* data, size_t size, size_t* bytesWritten) {
  const auto* p = static_cast<const unsigned char*>(data);
  size_t done = 0;
  int error = 0;
  while (done < size) {
    const ssize_t n = ::write(fd, p + done, size - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    // A write of 0 bytes for a non-empty request makes no progress: treat it as full.
    error = n < 0 ? errno : ENOSPC;
    break;
  }
  if (bytesWritten != nullptr) *bytesWritten = done;
  return error;
}

int WriteAllPieces(int fd, iovec* pieces, size_t count) {
  size_t next = 0;
  while (next < count && pieces[next].iov_len == 0) ++next;
  while (next < count) {
    const int batch = static_cast<int>(std::min<size_t>(count - next, IOV_MAX));
    ssize_t n = ::writev(fd, pieces + next, batch);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return n < 0 ? errno : ENOSPC;
    // Skip the pieces written whole, then trim the one written in part.
    while (next < count && static_cast<size_t>(n) >= pieces[next].iov_len) {
      n -= static_cast<ssize_t>(pieces[next].iov_len);
      pieces[next].iov_len = 0;
      ++next;
    }
    if (n > 0) {
      pieces[next].iov_base = static_cast<unsigned char*>(pieces[next].iov_base) + n;
      pieces[next].iov_len -= static_cast<size_t>(n);
    }
    while (next < count && pieces[next].iov_len == 0) ++next;
  }
  return 0;
}

size_t FolderPartLength(const std::string& name) {
  for (size_t i = name.size(); i > 0; --i) {
    const char c = name[i - 1];
#ifdef _WIN32
    if (c == '\\' || c == '/' || c == ':') return i;
#else
    if (c == '/') return i;
#endif
  }
  return 0;
}

int SyncFolderOf(const std::string& fileName) {
  const size_t folderPart = FolderPartLength(fileName);
  const std::string folder = folderPart == 0 ? "." : fileName.substr(0, folderPart);
  FileDescriptor fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd.valid()) return errno;
  if (::fsync(fd.get()) != 0 && errno != EINVAL && errno != EROFS) return errno;
  return 0;
}

namespace {

constexpr const char* kPartPrefix = ".ostrelo-";
constexpr const char* kPartSuffix = ".part";

// The permissions open(..., 0666) would give, read once: umask() can only be read by
// setting it.
mode_t NewFileMode() {
  static const mode_t mode = [] {
    const mode_t mask = ::umask(022);
    ::umask(mask);
    return static_cast<mode_t>(0666 & ~mask);
  }();
  return mode;
}

// The process that made a temporary file of ours, from its name ".ostrelo-<pid>[-XXXXXX].part";
// 0 for a name of another kind.
pid_t MakerOf(const std::string& name) {
  const size_t prefix = std::strlen(kPartPrefix), suffix = std::strlen(kPartSuffix);
  if (name.size() <= prefix + suffix || name.compare(0, prefix, kPartPrefix) != 0 ||
      name.compare(name.size() - suffix, suffix, kPartSuffix) != 0)
    return 0;
  const std::string middle = name.substr(prefix, name.size() - prefix - suffix);
  const size_t digits = middle.find_first_not_of("0123456789");
  if (digits == 0 || digits > 9) return 0;
  if (digits != std::string::npos && (middle.size() != digits + 7 || middle[digits] != '-')) return 0;
  return static_cast<pid_t>(std::stol(middle.substr(0, digits)));
}

}  // namespace

int CreateTemporaryFor(const std::string& fileName, std::string& partName) {
  partName = fileName.substr(0, FolderPartLength(fileName)) + kPartPrefix + std::to_string(::getpid()) + "-XXXXXX" +
             kPartSuffix;
  // mkostemps: O_CREAT | O_EXCL with a random name, mode 0600; a link of that name fails.
  const int fd = ::mkostemps(partName.data(), static_cast<int>(std::strlen(kPartSuffix)), O_CLOEXEC);
  if (fd < 0) return -1;
  if (::fchmod(fd, NewFileMode()) != 0) {
    // The file stays readable by its owner only: not a reason to lose the shot.
  }
  return fd;
}

void RemoveStaleTemporaries(const std::string& folder) {
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return;
  while (const dirent* entry = ::readdir(dir)) {
    const pid_t maker = MakerOf(entry->d_name);
    // The maker's number may have been given to another program since: that file stays.
    if (maker > 0 && maker != ::getpid() && ::kill(maker, 0) != 0 && errno == ESRCH)
      ::unlinkat(::dirfd(dir), entry->d_name, 0);
  }
  ::closedir(dir);
}

}  // namespace ostrelo
