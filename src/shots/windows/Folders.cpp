#include "shots/Folders.h"

#include <cctype>
#include <cerrno>
#include <string>

#include <windows.h>
// After windows.h, whose types they use.
#include <knownfolders.h>
#include <shlobj.h>

#include "shots/windows/Win32Files.h"

namespace ostrelo {

PathKind KindOf(const std::string& name) {
  const DWORD attributes = GetFileAttributesW(Utf16(name).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    KeepLastError();
    return PathKind::Missing;
  }
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? PathKind::Folder : PathKind::Other;
}

bool CanWriteInto(const std::string& folder) {
  // Read-only attributes and access lists both answer: a file of ours is made and removed.
  std::string part;
  FileHandle file(CreateTemporaryFor(InFolder(folder, "x"), part));
  if (!file.valid()) return false;
  file.Close();
  RemoveFile(part);
  return true;
}

bool NameTooLong(const std::string& folder, const std::string& name) {
  wchar_t volume[MAX_PATH + 1];
  DWORD longest = 0;
  if (!GetVolumePathNameW(Utf16(folder).c_str(), volume, MAX_PATH + 1) ||
      !GetVolumeInformationW(volume, nullptr, 0, nullptr, &longest, nullptr, nullptr, 0) || longest == 0)
    return false;
  // The file system counts UTF-16 units.
  return Utf16(name.substr(FolderPartLength(name))).size() > longest;
}

bool PlainAbsoluteFolder(const std::string& folder) {
  std::string name = folder;
  for (char& c : name) {
    if (c == '/') c = '\\';
  }
  const bool drive =
      name.size() >= 3 && std::isalpha(static_cast<unsigned char>(name[0])) && name[1] == ':' && name[2] == '\\';
  const bool share = name.size() > 2 && name.compare(0, 2, "\\\\") == 0 && name[2] != '.' && name[2] != '?';
  return (drive || share) && (name + "\\").find("\\.\\") == std::string::npos &&
         (name + "\\").find("\\..\\") == std::string::npos;
}

char FolderSeparator() { return '\\'; }

namespace {

std::string KnownFolder(REFKNOWNFOLDERID id) {
  wchar_t* path = nullptr;
  std::string folder;
  if (SUCCEEDED(SHGetKnownFolderPath(id, 0, nullptr, &path))) folder = Utf8(path);
  CoTaskMemFree(path);
  return folder;
}

}  // namespace

std::string HomeFolder() {
  const std::string profile = KnownFolder(FOLDERID_Profile);
  return profile.empty() ? "C:\\" : profile;
}

std::string StateFolder() { return InFolder(KnownFolder(FOLDERID_LocalAppData), "Ostrelo"); }

void MakeFolders(const std::string& path) {
  // Those that exist, and the drive itself, fail harmlessly.
  for (size_t at = path.find_first_of("\\/", 1);; at = path.find_first_of("\\/", at + 1)) {
    CreateDirectoryW(Utf16(path.substr(0, at)).c_str(), nullptr);
    if (at == std::string::npos) return;
  }
}

FileHandle::Native TakeLock(const std::string& lockFile) {
  FileHandle file(NativeOf(CreateFileW(Utf16(lockFile).c_str(), GENERIC_READ | GENERIC_WRITE,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr)));
  OVERLAPPED whole{};
  if (!file.valid() ||
      !LockFileEx(Win32Handle(file.get()), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &whole))
    return FileHandle::kNone;
  return file.Release();
}

}  // namespace ostrelo
