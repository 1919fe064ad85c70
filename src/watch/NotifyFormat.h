#pragma once
// The receivers a notification URL may name by a prefix of its scheme
// ("slack+https://..."), and an event's request as each of them takes it. A plain
// http or https URL, and a command, get the event's own JSON.

#include <string>
#include <vector>

#include "watch/RunEvents.h"

namespace ostrelo {

enum class ReceiverKind { Json, Slack, Discord, Teams, GoogleChat, Ntfy, Gotify };

struct NotifyTarget {
  ReceiverKind receiver = ReceiverKind::Json;
  std::string address;  // what is posted to, the prefix taken off; or the command
};

// A known prefix followed by http:// or https:// names the receiver; anything else is
// taken as it is.
NotifyTarget ReadNotifyTarget(const std::string& target);
// The prefix before "+http://" or "+https://" when it names no receiver, else empty.
std::string UnknownReceiver(const std::string& url);

// What is handed over: the body, the header lines (the content type and the event's id
// in X-Ostrelo-Event-Id among them), and the event's id for a transport without headers.
struct Posting {
  std::string body;
  std::vector<std::string> headers;
  std::string id = {};  // empty: none
};

Posting PostingFor(ReceiverKind receiver, const RunEvent& event);

}  // namespace ostrelo
