#pragma once
// Hands an event to a user's command: run by /bin/sh in a process group of its own (by cmd.exe in a job
// object on Windows), the posting's body (the JSON and a newline) on its standard input, the event's name in
// OSTRELO_EVENT and its id in OSTRELO_EVENT_ID; it fails when the command ends otherwise
// than with status 0 or runs longer than 10 s (tests give a shorter time), when its
// whole group is killed, so nothing it started is left behind.

#include <string>

#include "watch/Delivery.h"

namespace ostrelo {

class CommandTransport final : public Transport {
 public:
  explicit CommandTransport(int timeoutMs = 10000) : timeoutMs_(timeoutMs) {}
  std::string Deliver(const std::string& command, const std::string& event, const Posting& posting) override;

 private:
  int timeoutMs_;
};

}  // namespace ostrelo
