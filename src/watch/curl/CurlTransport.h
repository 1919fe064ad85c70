#pragma once
// Posts an event's JSON to an http or https URL with libcurl, within 10 s (tests give
// a shorter time).

#include <string>

#include "watch/Delivery.h"

namespace ostrelo {

class CurlTransport final : public Transport {
 public:
  explicit CurlTransport(long timeoutMs = 10000);
  ~CurlTransport() override;
  CurlTransport(const CurlTransport&) = delete;
  CurlTransport& operator=(const CurlTransport&) = delete;
  std::string Deliver(const std::string& url, const std::string& event, const std::string& json) override;

 private:
  long timeoutMs_;
};

}  // namespace ostrelo
