#include "watch/Delivery.h"

#include <cctype>
#include <chrono>

namespace ostrelo {

std::string NotifyUrlProblem(const std::string& given) {
  if (const std::string unknown = UnknownReceiver(given); !unknown.empty()) {
    return "no receiver is named " + unknown + " (slack, discord, teams, gchat, ntfy, gotify)";
  }
  const std::string url = ReadNotifyTarget(given).address;
  std::string lower;
  for (const char c : url) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  size_t at = 0;
  if (lower.rfind("http://", 0) == 0) {
    at = 7;
  } else if (lower.rfind("https://", 0) == 0) {
    at = 8;
  } else {
    return "not an http or https URL";
  }
  const size_t end = url.find_first_of("/?#", at);
  const std::string authority = url.substr(at, end == std::string::npos ? std::string::npos : end - at);
  if (authority.find('@') != std::string::npos) return "user names in the URL are not taken";
  std::string host = authority;
  std::string port;
  if (!host.empty() && host[0] == '[') {
    const size_t close = host.find(']');
    if (close == std::string::npos) return "the host's address is not closed by ]";
    port = host.substr(close + 1);
    host = host.substr(0, close + 1);
  } else if (const size_t colon = host.rfind(':'); colon != std::string::npos) {
    port = host.substr(colon);
    host = host.substr(0, colon);
  }
  if (host.empty() || host == "[]") return "no host";
  for (const char c : host) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && std::string("-._[]:").find(c) == std::string::npos) {
      return "the host has a character a host name cannot have";
    }
  }
  if (!port.empty()) {
    if (port[0] != ':' || port.size() < 2 || port.size() > 6) return "the port is not a number from 1 to 65535";
    for (size_t i = 1; i < port.size(); ++i) {
      if (!std::isdigit(static_cast<unsigned char>(port[i]))) return "the port is not a number from 1 to 65535";
    }
    const long number = std::stol(port.substr(1));
    if (number < 1 || number > 65535) return "the port is not a number from 1 to 65535";
  }
  for (const char c : url) {
    if (std::isspace(static_cast<unsigned char>(c)) || std::iscntrl(static_cast<unsigned char>(c))) {
      return "the URL holds a blank or a control character";
    }
  }
  return {};
}

std::string ShownTarget(const std::string& target) {
  const std::string url = ReadNotifyTarget(target).address;
  const size_t scheme = url.find("://");
  if (scheme != std::string::npos && url.find_first_of(" \t") > scheme) {
    // Secrets ride in the user info and the query: both are left out.
    std::string shown = target.substr(0, target.size() - url.size() + scheme + 3);
    const size_t end = url.find_first_of("/?#", scheme + 3);
    const std::string authority =
        url.substr(scheme + 3, end == std::string::npos ? std::string::npos : end - scheme - 3);
    const size_t at = authority.rfind('@');
    shown += at == std::string::npos ? authority : "***" + authority.substr(at);
    if (end == std::string::npos) return shown;
    const std::string rest = url.substr(end);
    const size_t query = rest.find_first_of("?#");
    return shown + rest.substr(0, query) + (query == std::string::npos ? "" : rest[query] == '?' ? "?***" : "#***");
  }
  // A command may hold anything on its line: its program names it.
  const size_t start = target.find_first_not_of(" \t");
  if (start == std::string::npos) return target;
  const size_t end = target.find_first_of(" \t", start);
  return target.substr(start, end - start) + (target.find_first_not_of(" \t", end) == std::string::npos ? "" : " ...");
}

Delivery::Delivery(Transport& transport, std::vector<std::string> targets, DeliveryOptions options,
                   std::function<void(const std::string&)> log)
    : transport_(transport), targets_(std::move(targets)), options_(options), log_(std::move(log)), thread_([this] {
        Run();
      }) {}

Delivery::~Delivery() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    drainUntil_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(kDrainMs);
  }
  wake_.notify_all();
  thread_.join();
}

void Delivery::Send(const RunEvent& event) {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (queue_.size() >= options_.capacity) {
      ++dropped_;
      return;
    }
    queue_.push_back(event);
  }
  wake_.notify_one();
}

int64_t Delivery::dropped() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return dropped_;
}

void Delivery::Run() {
  int64_t droppedTold = 0;
  for (;;) {
    RunEvent item;
    int64_t droppedNow = 0;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
      // The program ends: what is left gets a bounded time, then is given up.
      if (queue_.empty() || (stopping_ && std::chrono::steady_clock::now() > drainUntil_)) return;
      item = std::move(queue_.front());
      queue_.pop_front();
      droppedNow = dropped_;
    }
    if (droppedNow != droppedTold) {
      log_("Notifications: " + std::to_string(droppedNow - droppedTold) + " events dropped, the queue was full");
      droppedTold = droppedNow;
    }
    DeliverToAll(item);
  }
}

void Delivery::DeliverToAll(const RunEvent& event) {
  for (const std::string& target : targets_) {
    const NotifyTarget to = ReadNotifyTarget(target);
    const Posting posting = PostingFor(to.receiver, event);
    std::string problem;
    int64_t pauseMs = options_.firstPauseMs;
    for (int32_t attempt = 1; attempt <= options_.tries; ++attempt) {
      problem = transport_.Deliver(to.address, event.name, posting);
      if (problem.empty()) break;
      std::unique_lock<std::mutex> lock(mutex_);
      // While the program ends, what is queued gets one try only.
      if (stopping_ || attempt == options_.tries) break;
      wake_.wait_for(lock, std::chrono::milliseconds(pauseMs), [&] { return stopping_; });
      pauseMs *= 2;
    }
    bool& failing = failing_[target];
    std::string line = "Notification to " + ShownTarget(target);
    if (!problem.empty() && !failing) log_(line.append(" failed: ").append(problem));
    if (problem.empty() && failing) log_(line.append(" works again"));
    failing = !problem.empty();
  }
}

}  // namespace ostrelo
