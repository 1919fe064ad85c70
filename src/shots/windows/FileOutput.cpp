#include "shots/FileOutput.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include <windows.h>
// After windows.h, whose types it uses.
#include <bcrypt.h>

#include "shots/windows/Win32Files.h"

namespace ostrelo {

int ErrnoOf(DWORD error) {
  switch (error) {
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return ENOSPC;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:  // another program holds the file open (a spreadsheet)
    case ERROR_LOCK_VIOLATION: return EACCES;
    case ERROR_WRITE_PROTECT: return EROFS;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME: return ENOENT;
    case ERROR_DIRECTORY: return ENOTDIR;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS: return EEXIST;
    case ERROR_FILENAME_EXCED_RANGE: return ENAMETOOLONG;
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME: return EINVAL;
    case ERROR_TOO_MANY_OPEN_FILES: return EMFILE;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY: return ENOMEM;
    case ERROR_NOT_SAME_DEVICE: return EXDEV;
    default: return EIO;
  }
}

void KeepLastError() { errno = ErrnoOf(GetLastError()); }

std::string InFolder(const std::string& folder, const std::string& name) {
  if (folder.empty()) return ".\\" + name;
  const char last = folder.back();
  return last == '\\' || last == '/' || last == ':' ? folder + name : folder + "\\" + name;
}

FileHandle::~FileHandle() { Close(); }

int FileHandle::Close() {
  if (handle_ == kNone) return 0;
  const HANDLE handle = Win32Handle(handle_);
  handle_ = kNone;
  return CloseHandle(handle) ? 0 : ErrnoOf(GetLastError());
}

int WriteAll(FileHandle::Native file, const void* data, size_t size, size_t* bytesWritten) {
  const auto* p = static_cast<const unsigned char*>(data);
  size_t done = 0;
  int error = 0;
  while (done < size) {
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(size - done, DWORD{1} << 30));
    DWORD n = 0;
    if (!WriteFile(Win32Handle(file), p + done, chunk, &n, nullptr)) {
      error = ErrnoOf(GetLastError());
      break;
    }
    // A write of 0 bytes for a non-empty request makes no progress: treat it as full.
    if (n == 0) {
      error = ENOSPC;
      break;
    }
    done += n;
  }
  if (bytesWritten != nullptr) *bytesWritten = done;
  return error;
}

int WriteAllPieces(FileHandle::Native file, FilePiece* pieces, size_t count) {
  // No gathering write for files opened without caching: the pieces are copied into
  // chunks of this size, each written with one call.
  constexpr size_t kChunkBytes = size_t{1} << 20;
  std::vector<unsigned char> chunk;
  chunk.reserve(kChunkBytes);
  size_t next = 0;
  for (;;) {
    while (next < count && pieces[next].size == 0) ++next;
    if (next == count) return 0;
    chunk.clear();
    for (size_t i = next; i < count && chunk.size() < kChunkBytes; ++i) {
      const auto* base = static_cast<const unsigned char*>(pieces[i].base);
      chunk.insert(chunk.end(), base, base + std::min(pieces[i].size, kChunkBytes - chunk.size()));
    }
    size_t written = 0;
    const int error = WriteAll(file, chunk.data(), chunk.size(), &written);
    // The pieces that reached the file are consumed, the one written in part trimmed.
    for (; written > 0; ++next) {
      const size_t n = std::min(written, pieces[next].size);
      pieces[next].base = static_cast<unsigned char*>(pieces[next].base) + n;
      pieces[next].size -= n;
      written -= n;
      if (pieces[next].size != 0) break;
    }
    if (error != 0) return error;
  }
}

int SyncFileData(FileHandle::Native file) { return FlushFileBuffers(Win32Handle(file)) ? 0 : ErrnoOf(GetLastError()); }

int SyncFolderOf(const std::string&) {
  // Windows has no call for it: a rename made with MOVEFILE_WRITE_THROUGH returns once it
  // is on the disk, and a new file's entry goes with the file's own FlushFileBuffers
  // (which flushes its metadata and the folder structure).
  return 0;
}

namespace {

// Six letters or digits nobody can foresee.
bool RandomLetters(char* out) {
  static constexpr char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  for (int filled = 0; filled < 6;) {
    unsigned char bytes[16];
    if (!BCRYPT_SUCCESS(BCryptGenRandom(nullptr, bytes, sizeof bytes, BCRYPT_USE_SYSTEM_PREFERRED_RNG))) return false;
    for (unsigned char b : bytes) {
      if (b < 248 && filled < 6) out[filled++] = kLetters[b % 62];  // 248 = 4 x 62: no letter favoured
    }
  }
  return true;
}

}  // namespace

FileHandle::Native CreateTemporaryFor(const std::string& fileName, std::string& partName) {
  const std::string stem =
      fileName.substr(0, FolderPartLength(fileName)) + kPartPrefix + std::to_string(GetCurrentProcessId()) + "-";
  for (int attempt = 0; attempt < 100; ++attempt) {
    char letters[6];
    if (!RandomLetters(letters)) {
      errno = EIO;
      return FileHandle::kNone;
    }
    partName = stem + std::string(letters, sizeof letters) + kPartSuffix;
    // CREATE_NEW: a file or link of that name fails, and a link is never followed.
    const HANDLE file = CreateFileW(Utf16(partName).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file != INVALID_HANDLE_VALUE) return NativeOf(file);
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) {
      errno = ErrnoOf(error);
      return FileHandle::kNone;
    }
  }
  errno = EEXIST;
  return FileHandle::kNone;
}

namespace {

// Whether the process numbered pid still runs; a process that cannot be asked does.
bool Running(DWORD pid) {
  const HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  if (process == nullptr) return GetLastError() != ERROR_INVALID_PARAMETER;
  DWORD code = 0;
  const bool running = !GetExitCodeProcess(process, &code) || code == STILL_ACTIVE;
  CloseHandle(process);
  return running;
}

}  // namespace

void RemoveStaleTemporaries(const std::string& folder) {
  WIN32_FIND_DATAW entry;
  const HANDLE search = FindFirstFileExW(Utf16(InFolder(folder, "*")).c_str(), FindExInfoBasic, &entry,
                                         FindExSearchNameMatch, nullptr, 0);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    const std::string name = Utf8(entry.cFileName);
    const int64_t maker = MakerOfTemporary(name);
    // The maker's number may have been given to another program since: that file stays.
    if (maker > 0 && maker != GetCurrentProcessId() && !Running(static_cast<DWORD>(maker)))
      DeleteFileW(Utf16(InFolder(folder, name)).c_str());
  } while (FindNextFileW(search, &entry));
  FindClose(search);
}

int RenameFile(const std::string& from, const std::string& to) {
  return MoveFileExW(Utf16(from).c_str(), Utf16(to).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
             ? 0
             : ErrnoOf(GetLastError());
}

int RenameWithoutReplacing(const std::string& from, const std::string& to) {
  return MoveFileExW(Utf16(from).c_str(), Utf16(to).c_str(), MOVEFILE_WRITE_THROUGH) ? 0 : ErrnoOf(GetLastError());
}

void RemoveFile(const std::string& name) { DeleteFileW(Utf16(name).c_str()); }

int CutFile(FileHandle::Native file, int64_t length) {
  LARGE_INTEGER at;
  at.QuadPart = length;
  const LARGE_INTEGER none{};
  // Writes go on at the new end.
  if (!SetFilePointerEx(Win32Handle(file), at, nullptr, FILE_BEGIN) || !SetEndOfFile(Win32Handle(file)) ||
      !SetFilePointerEx(Win32Handle(file), none, nullptr, FILE_END))
    return ErrnoOf(GetLastError());
  return 0;
}

FileHandle::Native OpenToAppend(const std::string& name, bool empty) {
  FileHandle file(NativeOf(CreateFileW(Utf16(name).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                       FILE_ATTRIBUTE_NORMAL, nullptr)));
  if (!file.valid()) {
    KeepLastError();
    return FileHandle::kNone;
  }
  const LARGE_INTEGER none{};
  if (empty ? CutFile(file.get(), 0) != 0 : !SetFilePointerEx(Win32Handle(file.get()), none, nullptr, FILE_END)) {
    KeepLastError();
    return FileHandle::kNone;
  }
  return file.Release();
}

FileHandle::Native OpenToCut(const std::string& name) {
  FileHandle file(NativeOf(CreateFileW(Utf16(name).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr)));
  BY_HANDLE_FILE_INFORMATION info;
  if (!file.valid() || !GetFileInformationByHandle(Win32Handle(file.get()), &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
    return FileHandle::kNone;
  return file.Release();
}

int64_t FileLength(FileHandle::Native file) {
  LARGE_INTEGER size;
  if (!GetFileSizeEx(Win32Handle(file), &size)) {
    KeepLastError();
    return -1;
  }
  return size.QuadPart;
}

int CutFileNamed(const std::string& name, int64_t length) {
  FileHandle file(NativeOf(CreateFileW(Utf16(name).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                       FILE_ATTRIBUTE_NORMAL, nullptr)));
  if (!file.valid()) return ErrnoOf(GetLastError());
  if (const int error = CutFile(file.get(), length); error != 0) return error;
  return file.Close();
}

std::optional<std::string> ReadWholeFile(const std::string& name, size_t limit) {
  FileHandle file(
      NativeOf(CreateFileW(Utf16(name).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)));
  if (!file.valid()) return std::nullopt;
  std::string text;
  char buffer[65536];
  for (DWORD n = 0;
       text.size() < limit && ReadFile(Win32Handle(file.get()), buffer, sizeof buffer, &n, nullptr) && n > 0;)
    text.append(buffer, n);
  return text;
}

}  // namespace ostrelo
