#include "shell/SharedLibrary.h"

#include <windows.h>

namespace ostrelo {

namespace {

std::wstring Utf16(const std::string& utf8) {
  const int size = static_cast<int>(utf8.size());
  const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), size, nullptr, 0);
  std::wstring wide(static_cast<size_t>(n > 0 ? n : 0), L'\0');
  if (n > 0) MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), size, wide.data(), n);
  return wide;
}

std::string Utf8(const wchar_t* wide, int length) {
  const int n = WideCharToMultiByte(CP_UTF8, 0, wide, length, nullptr, 0, nullptr, nullptr);
  std::string text(static_cast<size_t>(n > 0 ? n : 0), '\0');
  if (n > 0) WideCharToMultiByte(CP_UTF8, 0, wide, length, text.data(), n, nullptr, nullptr);
  return text;
}

// The system's text for an error, without its line end, and its number.
std::string Reason(DWORD error) {
  wchar_t* text = nullptr;
  const DWORD length =
      FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                     nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string reason = length > 0 ? Utf8(text, static_cast<int>(length)) : std::string();
  LocalFree(text);
  while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r' || reason.back() == ' ')) reason.pop_back();
  return (reason.empty() ? "cannot be loaded" : reason) + " (error " + std::to_string(error) + ")";
}

}  // namespace

SharedLibrary::SharedLibrary(const std::string& path) {
  const std::wstring name = Utf16(path);
  // A name that is not UTF-8 is loaded as nothing rather than as another file.
  handle_ = name.empty() ? nullptr : LoadLibraryW(name.c_str());
  if (handle_ == nullptr) error_ = path + ": " + Reason(name.empty() ? ERROR_INVALID_NAME : GetLastError());
}

SharedLibrary::~SharedLibrary() {
  if (handle_ != nullptr) FreeLibrary(static_cast<HMODULE>(handle_));
}

void* SharedLibrary::Symbol(const char* name) const {
  if (handle_ == nullptr) return nullptr;
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name));
}

}  // namespace ostrelo
