#include "shell/windows/WideText.h"

namespace ostrelo {

std::wstring Utf16(const std::string& utf8) {
  const int size = static_cast<int>(utf8.size());
  const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), size, nullptr, 0);
  std::wstring wide(static_cast<size_t>(n > 0 ? n : 0), L'\0');
  if (n > 0) MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), size, wide.data(), n);
  return wide;
}

std::string Utf8(const wchar_t* wide, int length) {
  if (wide == nullptr) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, wide, length, nullptr, 0, nullptr, nullptr);
  std::string text(static_cast<size_t>(n > 0 ? n : 0), '\0');
  if (n > 0) WideCharToMultiByte(CP_UTF8, 0, wide, length, text.data(), n, nullptr, nullptr);
  if (length < 0 && !text.empty()) text.pop_back();  // the terminating zero
  return text;
}

std::string SystemReason(DWORD error, const char* fallback, HMODULE module) {
  wchar_t* text = nullptr;
  const DWORD from = module != nullptr ? FORMAT_MESSAGE_FROM_HMODULE : 0;
  const DWORD length =
      FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | from | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                     module, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string reason = length > 0 ? Utf8(text, static_cast<int>(length)) : std::string();
  LocalFree(text);
  while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r' || reason.back() == ' ')) reason.pop_back();
  return (reason.empty() ? std::string(fallback) : reason) + " (error " + std::to_string(error) + ")";
}

}  // namespace ostrelo
