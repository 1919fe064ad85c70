#include "watch/curl/CurlLibrary.h"

#include "shell/SharedLibrary.h"

namespace ostrelo {

namespace {

// The run-time names: the link name libcurl.so comes only with the development package.
#ifdef _WIN32
constexpr const char* kLibraryName = "libcurl-4.dll";
#else
constexpr const char* kLibraryName = "libcurl.so.4";
#endif

template <typename Fn>
void Resolve(const SharedLibrary& library, const char* name, Fn& fn, std::string& error) {
  library.Resolve(name, fn);
  if (fn == nullptr && error.empty()) error = std::string(kLibraryName) + " has no " + name;
}

CurlLibrary Open() {
  // Never closed: libcurl's TLS back-ends do not take being unloaded well.
  static const SharedLibrary library(kLibraryName);
  CurlLibrary lib;
  if (!library.loaded()) {
    lib.error = library.error();
    return lib;
  }
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
