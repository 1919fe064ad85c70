#include "watch/curl/CurlTransport.h"

#include "watch/curl/CurlLibrary.h"

namespace ostrelo {

namespace {

size_t Discard(char*, size_t size, size_t count, void*) { return size * count; }

}  // namespace

CurlTransport::CurlTransport(long timeoutMs) : timeoutMs_(timeoutMs) {
  const CurlLibrary& lib = LoadCurl();
  if (lib.error.empty()) lib.global_init(CURL_GLOBAL_DEFAULT);
}

CurlTransport::~CurlTransport() {
  const CurlLibrary& lib = LoadCurl();
  if (lib.error.empty()) lib.global_cleanup();
}

std::string CurlTransport::Deliver(const std::string& url, const std::string& event, const Posting& posting) {
  const CurlLibrary& lib = LoadCurl();
  if (!lib.error.empty()) return lib.error;
  CURL* curl = lib.easy_init();
  if (curl == nullptr) return "libcurl could not start";
  curl_slist* headers = lib.slist_append(nullptr, ("X-Ostrelo-Event: " + event).c_str());
  for (const std::string& header : posting.headers) headers = lib.slist_append(headers, header.c_str());
  lib.easy_setopt(curl, CURLOPT_URL, url.c_str());
  lib.easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
  lib.easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
  lib.easy_setopt(curl, CURLOPT_POSTFIELDS, posting.body.c_str());
  lib.easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(posting.body.size()));
  lib.easy_setopt(curl, CURLOPT_TIMEOUT_MS, timeoutMs_);
  // No signals: the delivery runs on a thread of its own.
  lib.easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  lib.easy_setopt(curl, CURLOPT_WRITEFUNCTION, Discard);
  const CURLcode code = lib.easy_perform(curl);
  long status = 0;
  lib.easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  lib.slist_free_all(headers);
  lib.easy_cleanup(curl);
  if (code != CURLE_OK) return lib.easy_strerror(code);
  if (status < 200 || status >= 300) return "the server answered " + std::to_string(status);
  return {};
}

}  // namespace ostrelo
