#include "watch/curl/CurlLibrary.h"

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace ostrelo {

namespace {

#ifdef _WIN32
constexpr const char* kLibraryName = "libcurl-4.dll";
void* Open(std::string& error) {
  HMODULE module = LoadLibraryA(kLibraryName);
  if (module == nullptr)
    error = std::string(kLibraryName) + " cannot be loaded (error " + std::to_string(GetLastError()) + ")";
  return reinterpret_cast<void*>(module);
}
void* Find(void* library, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}
#else
// The run-time name: the link name libcurl.so comes only with the development package.
constexpr const char* kLibraryName = "libcurl.so.4";
void* Open(std::string& error) {
  dlerror();
  void* library = dlopen(kLibraryName, RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    const char* why = dlerror();
    error = why != nullptr ? why : std::string(kLibraryName) + " cannot be loaded";
  }
  return library;
}
void* Find(void* library, const char* name) { return dlsym(library, name); }
#endif

template <typename Fn>
void Resolve(void* library, const char* name, Fn& fn, std::string& error) {
  fn = reinterpret_cast<Fn>(Find(library, name));
  if (fn == nullptr && error.empty()) error = std::string(kLibraryName) + " has no " + name;
}

CurlLibrary Open() {
  CurlLibrary lib;
  void* library = Open(lib.error);
  if (library == nullptr) return lib;
  Resolve(library, "curl_global_init", lib.global_init, lib.error);
  Resolve(library, "curl_global_cleanup", lib.global_cleanup, lib.error);
  Resolve(library, "curl_easy_init", lib.easy_init, lib.error);
  Resolve(library, "curl_easy_setopt", lib.easy_setopt, lib.error);
  Resolve(library, "curl_easy_perform", lib.easy_perform, lib.error);
  Resolve(library, "curl_easy_getinfo", lib.easy_getinfo, lib.error);
  Resolve(library, "curl_easy_cleanup", lib.easy_cleanup, lib.error);
  Resolve(library, "curl_easy_strerror", lib.easy_strerror, lib.error);
  Resolve(library, "curl_slist_append", lib.slist_append, lib.error);
  Resolve(library, "curl_slist_free_all", lib.slist_free_all, lib.error);
  return lib;
}

}  // namespace

const CurlLibrary& LoadCurl() {
  static const CurlLibrary library = Open();
  return library;
}

}  // namespace ostrelo
