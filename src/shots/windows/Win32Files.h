#pragma once
// What the Windows backend of the files shares: names are UTF-8 inside and UTF-16 at
// every call; Win32 errors become the errno values the program's file error reads.

#include <string>

#include <windows.h>

#include "shell/windows/WideText.h"
#include "shots/FileOutput.h"

namespace ostrelo {

int ErrnoOf(DWORD error);
// errno from GetLastError(), for the callers that read errno.
void KeepLastError();

inline HANDLE Win32Handle(FileHandle::Native file) { return reinterpret_cast<HANDLE>(file); }
inline FileHandle::Native NativeOf(HANDLE handle) { return reinterpret_cast<FileHandle::Native>(handle); }

// folder and a name in it; "." for an empty folder.
std::string InFolder(const std::string& folder, const std::string& name);

}  // namespace ostrelo
