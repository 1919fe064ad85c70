#pragma once
// Hands an event to a user's command: run by /bin/sh (cmd.exe on Windows), the posting's body (the JSON and
// a newline) on its standard input,
// the event's name in OSTRELO_EVENT; it fails when the command ends otherwise than
// with status 0 or runs longer than 10 s (it is then killed).

#include <string>

#include "watch/Delivery.h"

namespace ostrelo {

class CommandTransport final : public Transport {
 public:
  std::string Deliver(const std::string& command, const std::string& event, const Posting& posting) override;
};

}  // namespace ostrelo
