#pragma once
// Names and texts are UTF-8 inside the program and UTF-16 at every Windows call; what the
// Windows backends share to cross that line and to word the system's errors.

#include <string>

#include <windows.h>

namespace ostrelo {

// Empty for a text that is not UTF-8: no call finds a file by an empty name.
std::wstring Utf16(const std::string& utf8);
// length -1: up to the terminating zero, which is left out.
std::string Utf8(const wchar_t* wide, int length = -1);

// The system's text for an error (from module's own messages first, when given), without its
// line end, then "(error N)"; fallback when the system has no text for it.
std::string SystemReason(DWORD error, const char* fallback, HMODULE module = nullptr);

}  // namespace ostrelo
