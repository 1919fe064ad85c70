#include "shots/FileOutput.h"

#include <cerrno>
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

}  // namespace ostrelo
