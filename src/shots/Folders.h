#pragma once
// The folders the program writes into, the same on every platform: what a name is,
// whether a folder can be written, the operator's home folder, the folder of the
// program's own state and the lock that keeps it to one program at a time. One backend
// per platform (shots/posix, shots/windows); names are UTF-8 here.

#include <string>

#include "shots/FileOutput.h"

namespace ostrelo {

enum class PathKind { Missing, Folder, Other };
// What name is; Missing, with errno, when nothing can be found there.
PathKind KindOf(const std::string& name);
inline bool Exists(const std::string& name) { return KindOf(name) != PathKind::Missing; }

// Whether the program may create files in folder.
bool CanWriteInto(const std::string& folder);
// Whether the last part of name is longer than folder's file system takes.
bool NameTooLong(const std::string& folder, const std::string& name);
// A folder's name taken as it is written: absolute, without "." or ".." steps.
bool PlainAbsoluteFolder(const std::string& folder);
// The separator a name built by the program puts between a folder and what it holds.
char FolderSeparator();

// The operator's home folder, where the file dialog opens first.
std::string HomeFolder();
// Where the program keeps its own state: $XDG_STATE_HOME/ostrelo or
// ~/.local/state/ostrelo; %LOCALAPPDATA%\Ostrelo on Windows.
std::string StateFolder();
// Creates path and the folders above it that are missing, for the user only.
void MakeFolders(const std::string& path);

// Opens lockFile (created when missing, never through a link) and takes its lock for as
// long as the handle stays open; kNone when another program holds it or it cannot be.
FileHandle::Native TakeLock(const std::string& lockFile);

}  // namespace ostrelo
