#include "shots/FileOutput.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <string>

#include <fcntl.h>
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

std::string TemporaryNameFor(const std::string& fileName) {
  // One per process: a crash leaves at most this one behind, and it is reused.
  return fileName.substr(0, FolderPartLength(fileName)) + ".ostrelo-" + std::to_string(::getpid()) + ".part";
}

}  // namespace ostrelo
