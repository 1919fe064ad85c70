#pragma once
// Posts an event's JSON to an http or https URL with libcurl, within 10 s.

#include <string>

#include "watch/Delivery.h"

namespace ostrelo {

class CurlTransport final : public Transport {
 public:
  CurlTransport();
  ~CurlTransport() override;
  CurlTransport(const CurlTransport&) = delete;
  CurlTransport& operator=(const CurlTransport&) = delete;
  std::string Deliver(const std::string& url, const std::string& event, const std::string& json) override;
};

}  // namespace ostrelo
