#pragma once
// Plain POSIX file output for the picture and record writers: whole buffers written
// with a write() loop that survives signals and partial writes, errors reported as
// the program's file error, descriptors that cannot leak.

#include <cstddef>
#include <string>

#include <sys/uio.h>

namespace ostrelo {

// The steps of a shot's files, in the order they are made durable: the picture's bytes
// under a temporary name, the record's line, the picture's name.
enum class ShotStep { PictureSynced, RecordWritten, RecordSynced, Renamed, FolderSynced };
// Told after each step (tests end the program there, as a kill would); none by default.
inline void (*shotStepHook)(ShotStep) = nullptr;

// Owns a file descriptor; closes it on destruction unless released or closed.
class FileDescriptor {
 public:
  FileDescriptor() = default;
  explicit FileDescriptor(int fd) : fd_(fd) {}
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor();

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  // Closes now; returns 0 or the errno of a failed close (EINTR counts as closed).
  int Close();

 private:
  int fd_ = -1;
};

// Writes all size bytes, retrying after EINTR and continuing after partial writes.
// Returns 0, or the errno of the write that failed (ENOSPC for a write that wrote
// nothing without saying why). bytesWritten receives what reached the file.
int WriteAll(int fd, const void* data, size_t size, size_t* bytesWritten = nullptr);

// The same for pieces gathered from several places (at most IOV_MAX a call). The
// pieces are consumed: after a partial write they describe what is left.
int WriteAllPieces(int fd, iovec* pieces, size_t count);

// The length of the folder part of a file name, its last separator included (0 for a
// name without a folder).
size_t FolderPartLength(const std::string& name);

// Makes a new or renamed entry of the folder holding fileName durable (fsync of the
// folder). Returns 0 or the errno; a file system that cannot sync folders counts as done.
int SyncFolderOf(const std::string& fileName);

// Creates the file that fileName's new content is written to before it is renamed to
// fileName: in the same folder, under a name nobody can foresee and never longer than a
// short fixed one (so any name the folder accepts for the file itself can be written),
// created exclusively, so never through a link planted there, with the permissions a
// new file of the process gets. Returns the descriptor (or -1 with errno) and the name.
int CreateTemporaryFor(const std::string& fileName, std::string& partName);

// Removes the temporary files of programs that are gone from a folder: those of the
// names CreateTemporaryFor gives, and of the names earlier versions gave.
void RemoveStaleTemporaries(const std::string& folder);

}  // namespace ostrelo
