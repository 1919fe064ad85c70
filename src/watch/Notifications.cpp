#include "watch/Notifications.h"

#include <utility>

namespace ostrelo {

Notifications::Notifications(const NotifyOptions& options, const MakeTransport& web, const MakeTransport& command,
                             std::function<void(const std::string&)> log) {
  std::vector<Recipient> recipients;
  if (!options.urls.empty()) web_ = web();
  for (const std::string& url : options.urls) recipients.push_back({web_.get(), url});
  if (!options.command.empty()) {
    command_ = command();
    recipients.push_back({command_.get(), options.command});
  }
  delivery_ = std::make_unique<Delivery>(std::move(recipients), options.delivery, std::move(log));
  events_ = std::make_unique<RunEvents>(options.events, *delivery_);
}

}  // namespace ostrelo
