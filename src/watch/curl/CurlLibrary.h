#pragma once
// libcurl, opened when the program is to post notifications to a URL: a run without one
// neither loads it nor the libraries it pulls in.

#include <curl/curl.h>

#include <string>

namespace ostrelo {

struct CurlLibrary {
  CURLcode (*global_init)(long flags) = nullptr;
  void (*global_cleanup)() = nullptr;
  CURL* (*easy_init)() = nullptr;
  CURLcode (*easy_setopt)(CURL* curl, CURLoption option, ...) = nullptr;
  CURLcode (*easy_perform)(CURL* curl) = nullptr;
  CURLcode (*easy_getinfo)(CURL* curl, CURLINFO info, ...) = nullptr;
  void (*easy_cleanup)(CURL* curl) = nullptr;
  const char* (*easy_strerror)(CURLcode code) = nullptr;
  curl_slist* (*slist_append)(curl_slist* list, const char* text) = nullptr;
  void (*slist_free_all)(curl_slist* list) = nullptr;
  // Empty once every function above is found; otherwise why the library is unusable.
  std::string error;
};

// The process's one copy, opened on the first call and kept until the process ends
// (libcurl's TLS back-ends do not take being unloaded well).
const CurlLibrary& LoadCurl();

}  // namespace ostrelo
