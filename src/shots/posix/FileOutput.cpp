#include "shots/FileOutput.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

namespace ostrelo {

namespace {

int Fd(FileHandle::Native file) { return static_cast<int>(file); }

// writev takes the pieces as they are: the two layouts agree.
static_assert(sizeof(FilePiece) == sizeof(iovec) && offsetof(FilePiece, base) == offsetof(iovec, iov_base) &&
              offsetof(FilePiece, size) == offsetof(iovec, iov_len));

}  // namespace

FileHandle::~FileHandle() { Close(); }

int FileHandle::Close() {
  if (handle_ == kNone) return 0;
  const int fd = Fd(handle_);
  handle_ = kNone;
  // On Linux the descriptor is gone even when close() reports EINTR: never retry.
  if (::close(fd) != 0 && errno != EINTR) return errno;
  return 0;
}

int WriteAll(FileHandle::Native file, const void* data, size_t size, size_t* bytesWritten) {
  const auto* p = static_cast<const unsigned char*>(data);
  size_t done = 0;
  int error = 0;
  while (done < size) {
    const ssize_t n = ::write(Fd(file), p + done, size - done);
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

int WriteAllPieces(FileHandle::Native file, FilePiece* pieces, size_t count) {
  size_t next = 0;
  while (next < count && pieces[next].size == 0) ++next;
  while (next < count) {
    const int batch = static_cast<int>(std::min<size_t>(count - next, IOV_MAX));
    ssize_t n = ::writev(Fd(file), reinterpret_cast<const iovec*>(pieces + next), batch);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return n < 0 ? errno : ENOSPC;
    // Skip the pieces written whole, then trim the one written in part.
    while (next < count && static_cast<size_t>(n) >= pieces[next].size) {
      n -= static_cast<ssize_t>(pieces[next].size);
      pieces[next].size = 0;
      ++next;
    }
    if (n > 0) {
      pieces[next].base = static_cast<unsigned char*>(pieces[next].base) + n;
      pieces[next].size -= static_cast<size_t>(n);
    }
    while (next < count && pieces[next].size == 0) ++next;
  }
  return 0;
}

int SyncFileData(FileHandle::Native file) { return ::fdatasync(Fd(file)) != 0 ? errno : 0; }

int SyncFolderOf(const std::string& fileName) {
  const size_t folderPart = FolderPartLength(fileName);
  const std::string folder = folderPart == 0 ? "." : fileName.substr(0, folderPart);
  FileHandle fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd.valid()) return errno;
  if (::fsync(Fd(fd.get())) != 0 && errno != EINVAL && errno != EROFS) return errno;
  return 0;
}

namespace {

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

}  // namespace

FileHandle::Native CreateTemporaryFor(const std::string& fileName, std::string& partName) {
  partName = fileName.substr(0, FolderPartLength(fileName)) + kPartPrefix + std::to_string(::getpid()) + "-XXXXXX" +
             kPartSuffix;
  // mkostemps: O_CREAT | O_EXCL with a random name, mode 0600; a link of that name fails.
  const int fd = ::mkostemps(partName.data(), static_cast<int>(std::strlen(kPartSuffix)), O_CLOEXEC);
  if (fd < 0) return FileHandle::kNone;
  if (::fchmod(fd, NewFileMode()) != 0) {
    // The file stays readable by its owner only: not a reason to lose the shot.
  }
  return fd;
}

void RemoveStaleTemporaries(const std::string& folder) {
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return;
  while (const dirent* entry = ::readdir(dir)) {
    const pid_t maker = static_cast<pid_t>(MakerOfTemporary(entry->d_name));
    // The maker's number may have been given to another program since: that file stays.
    if (maker > 0 && maker != ::getpid() && ::kill(maker, 0) != 0 && errno == ESRCH)
      ::unlinkat(::dirfd(dir), entry->d_name, 0);
  }
  ::closedir(dir);
}

int RenameFile(const std::string& from, const std::string& to) {
  return ::rename(from.c_str(), to.c_str()) != 0 ? errno : 0;
}

int RenameWithoutReplacing(const std::string& from, const std::string& to) {
  // A new link never replaces a file of that name.
  if (::link(from.c_str(), to.c_str()) != 0) return errno;
  ::unlink(from.c_str());
  return 0;
}

void RemoveFile(const std::string& name) { ::unlink(name.c_str()); }

FileHandle::Native OpenToAppend(const std::string& name, bool empty) {
  return ::open(name.c_str(), (empty ? O_TRUNC : O_APPEND) | O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
}

FileHandle::Native OpenToCut(const std::string& name) {
  return ::open(name.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC);
}

int64_t FileLength(FileHandle::Native file) {
  struct stat info {};
  if (::fstat(Fd(file), &info) != 0) return -1;
  return info.st_size;
}

int CutFile(FileHandle::Native file, int64_t length) {
  return ::ftruncate(Fd(file), static_cast<off_t>(length)) != 0 ? errno : 0;
}

int CutFileNamed(const std::string& name, int64_t length) {
  return ::truncate(name.c_str(), static_cast<off_t>(length)) != 0 ? errno : 0;
}

std::optional<std::string> ReadWholeFile(const std::string& name, size_t limit) {
  FileHandle fd(::open(name.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) return std::nullopt;
  std::string text;
  char buffer[65536];
  for (ssize_t n; text.size() < limit && (n = ::read(Fd(fd.get()), buffer, sizeof buffer)) > 0;) text.append(buffer, n);
  return text;
}

}  // namespace ostrelo
