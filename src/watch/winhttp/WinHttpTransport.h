#pragma once
// Posts an event's posting to an http or https URL with the system's WinHTTP, its headers
// and the event's name in X-Ostrelo-Event, within 10 s (tests give a shorter time). Its
// failures read as the curl transport's do, so that a log line means one thing on every
// platform.

#include <string>

#include "watch/Delivery.h"

namespace ostrelo {

class WinHttpTransport final : public Transport {
 public:
  explicit WinHttpTransport(long timeoutMs = 10000);
  ~WinHttpTransport() override;
  WinHttpTransport(const WinHttpTransport&) = delete;
  WinHttpTransport& operator=(const WinHttpTransport&) = delete;
  std::string Deliver(const std::string& url, const std::string& event, const Posting& posting) override;

 private:
  long timeoutMs_;
  void* session_;  // HINTERNET, kept for its connections and proxy settings
};

}  // namespace ostrelo
