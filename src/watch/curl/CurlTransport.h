#pragma once
// Posts an event's posting to an http or https URL with libcurl, its headers and the
// event's name in X-Ostrelo-Event, within 10 s (tests give a shorter time).

#include <string>

#include "watch/Delivery.h"

namespace ostrelo {

class CurlTransport final : public Transport {
 public:
  explicit CurlTransport(long timeoutMs = 10000);
  ~CurlTransport() override;
  CurlTransport(const CurlTransport&) = delete;
  CurlTransport& operator=(const CurlTransport&) = delete;
  std::string Deliver(const std::string& url, const std::string& event, const Posting& posting) override;

 private:
  long timeoutMs_;
};

}  // namespace ostrelo
