#include "watch/curl/CurlTransport.h"

#include <curl/curl.h>

namespace ostrelo {

namespace {

size_t Discard(char*, size_t size, size_t count, void*) { return size * count; }

}  // namespace

CurlTransport::CurlTransport(long timeoutMs) : timeoutMs_(timeoutMs) { curl_global_init(CURL_GLOBAL_DEFAULT); }

CurlTransport::~CurlTransport() { curl_global_cleanup(); }

std::string CurlTransport::Deliver(const std::string& url, const std::string& event, const Posting& posting) {
  CURL* curl = curl_easy_init();
  if (curl == nullptr) return "libcurl could not start";
  curl_slist* headers = curl_slist_append(nullptr, ("X-Ostrelo-Event: " + event).c_str());
  for (const std::string& header : posting.headers) headers = curl_slist_append(headers, header.c_str());
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(curl, CURLOPT_POSTFIELDS, posting.body.c_str());
  curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(posting.body.size()));
  curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, timeoutMs_);
  // No signals: the delivery runs on a thread of its own.
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Discard);
  const CURLcode code = curl_easy_perform(curl);
  long status = 0;
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  curl_slist_free_all(headers);
  curl_easy_cleanup(curl);
  if (code != CURLE_OK) return curl_easy_strerror(code);
  if (status < 200 || status >= 300) return "the server answered " + std::to_string(status);
  return {};
}

}  // namespace ostrelo
