#pragma once
// The run's events told where the program's options say: to every URL and to the
// command, each a target of its own that gets every event.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "watch/Delivery.h"
#include "watch/RunEvents.h"

namespace ostrelo {

struct NotifyOptions {
  std::vector<std::string> urls;
  std::string command;  // empty: none
  EventOptions events;
  DeliveryOptions delivery;
};

class Notifications {
 public:
  using MakeTransport = std::function<std::unique_ptr<Transport>()>;
  // web posts to the URLs and command runs the command, each made only when needed.
  Notifications(const NotifyOptions& options, const MakeTransport& web, const MakeTransport& command,
                std::function<void(const std::string&)> log);

  RunEvents& events() { return *events_; }
  const Delivery& delivery() const { return *delivery_; }

 private:
  std::unique_ptr<Transport> web_, command_;
  std::unique_ptr<Delivery> delivery_;  // drains before the transports go
  std::unique_ptr<RunEvents> events_;
};

}  // namespace ostrelo
