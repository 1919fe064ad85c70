#include "shell/SharedLibrary.h"

#include <windows.h>

#include "shell/windows/WideText.h"

namespace ostrelo {

namespace {

std::string Reason(DWORD error) { return SystemReason(error, "cannot be loaded"); }

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
