#pragma once
// The program's own files, the same on every platform: whole buffers written with a loop
// that survives signals and partial writes, data flushed to the disk, names replaced in
// one step, errors given as the errno values the program's file error reads, handles
// that cannot leak. One backend per platform (shots/posix, shots/windows); names are
// UTF-8 here.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace ostrelo {

// The steps of a shot's files, in the order they are made durable: the picture's bytes
// under a temporary name, the record's line, the picture's name.
enum class ShotStep { PictureSynced, RecordWritten, RecordSynced, Renamed, FolderSynced };
// Told after each step (tests end the program there, as a kill would); none by default.
inline void (*shotStepHook)(ShotStep) = nullptr;

// Owns an open file: a descriptor on POSIX, a HANDLE on Windows (both -1 when none);
// closes it on destruction unless closed before.
class FileHandle {
 public:
  using Native = intptr_t;
  static constexpr Native kNone = -1;

  FileHandle() = default;
  explicit FileHandle(Native handle) : handle_(handle) {}
  FileHandle(FileHandle&& other) noexcept : handle_(other.Release()) {}
  FileHandle& operator=(FileHandle&& other) noexcept {
    if (this != &other) {
      Close();
      handle_ = other.Release();
    }
    return *this;
  }
  ~FileHandle();

  Native get() const { return handle_; }
  bool valid() const { return handle_ != kNone; }
  // Closes now; returns 0 or the errno of a failed close (an interrupted close counts as closed).
  int Close();
  // Gives the handle up, open, to the caller.
  Native Release() {
    const Native handle = handle_;
    handle_ = kNone;
    return handle;
  }

 private:
  Native handle_ = kNone;
};

// A piece of a file gathered from several places.
struct FilePiece {
  void* base;
  size_t size;
};

// Writes all size bytes, retrying after EINTR and continuing after partial writes.
// Returns 0, or the errno of the write that failed (ENOSPC for a write that wrote
// nothing without saying why). bytesWritten receives what reached the file.
int WriteAll(FileHandle::Native file, const void* data, size_t size, size_t* bytesWritten = nullptr);

// The same for pieces. The pieces are consumed: after a partial write they describe what
// is left.
int WriteAllPieces(FileHandle::Native file, FilePiece* pieces, size_t count);

// Waits until the file's data is on the disk. Returns 0 or the errno.
int SyncFileData(FileHandle::Native file);

// The length of the folder part of a file name, its last separator included (0 for a
// name without a folder).
size_t FolderPartLength(const std::string& name);

// Makes a new or renamed entry of the folder holding fileName durable. Returns 0 or the
// errno; a file system that cannot sync folders counts as done.
int SyncFolderOf(const std::string& fileName);

// Creates the file that fileName's new content is written to before it is renamed to
// fileName: in the same folder, under a name nobody can foresee and never longer than a
// short fixed one (so any name the folder accepts for the file itself can be written),
// created exclusively, so never through a link planted there, with the permissions a
// new file of the process gets. Returns the handle (or kNone with errno) and the name.
FileHandle::Native CreateTemporaryFor(const std::string& fileName, std::string& partName);

// Removes the temporary files of programs that are gone from a folder: those of the
// names CreateTemporaryFor gives, and of the names earlier versions gave.
void RemoveStaleTemporaries(const std::string& folder);

// The temporary names: ".ostrelo-<process>-XXXXXX.part", XXXXXX of letters and digits
// drawn at random; earlier versions gave ".ostrelo-<process>.part".
inline constexpr const char* kPartPrefix = ".ostrelo-";
inline constexpr const char* kPartSuffix = ".part";
// The process that made a temporary file of ours, from its name; 0 for a name of another kind.
int64_t MakerOfTemporary(const std::string& name);

// Gives from its name to: replaces a file named to, never a folder. Once it returns, the
// new name is durable where the platform renames durably itself (Windows); elsewhere
// SyncFolderOf makes it so. Returns 0 or the errno.
int RenameFile(const std::string& from, const std::string& to);
// The same, failing with EEXIST rather than replacing anything.
int RenameWithoutReplacing(const std::string& from, const std::string& to);
// Removes a file (never a folder); what cannot be removed stays.
void RemoveFile(const std::string& name);

// Opens name to write at its end, created when missing and emptied first when asked.
// Returns the handle or kNone with errno.
FileHandle::Native OpenToAppend(const std::string& name, bool empty);
// Opens an existing file (never through a link) to cut it; kNone when it cannot be.
FileHandle::Native OpenToCut(const std::string& name);
// The file's length, or -1 with errno.
int64_t FileLength(FileHandle::Native file);
// Cuts the file back to length. Returns 0 or the errno.
int CutFile(FileHandle::Native file, int64_t length);
// The same by name.
int CutFileNamed(const std::string& name, int64_t length);

// A file's whole content, at most limit bytes of it; nullopt when it cannot be opened.
std::optional<std::string> ReadWholeFile(const std::string& name, size_t limit = SIZE_MAX);

}  // namespace ostrelo
