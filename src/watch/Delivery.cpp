#include "watch/Delivery.h"

#include <algorithm>
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
  // A command may hold anything on its line: its program names it, never the variables
  // set before it ("TOKEN=... notify.sh").
  size_t start = target.find_first_not_of(" \t");
  if (start == std::string::npos) return target;
  size_t end = target.find_first_of(" \t", start);
  const auto isSetting = [&] {
    const size_t equals = target.find('=', start);
    return equals < end && equals > start && !std::isdigit(static_cast<unsigned char>(target[start])) &&
           std::all_of(target.begin() + static_cast<std::ptrdiff_t>(start),
                       target.begin() + static_cast<std::ptrdiff_t>(equals),
                       [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; });
  };
  while (isSetting()) {
    start = target.find_first_not_of(" \t", end);
    if (start == std::string::npos) return "...";
    end = target.find_first_of(" \t", start);
  }
  return target.substr(start, end - start) + (target.find_first_not_of(" \t", end) == std::string::npos ? "" : " ...");
}

Delivery::Delivery(std::vector<Recipient> recipients, DeliveryOptions options,
                   std::function<void(const std::string&)> log)
    : options_(options), log_(std::move(log)) {
  for (Recipient& r : recipients) {
    lanes_.push_back(std::make_unique<Lane>());
    lanes_.back()->to = ReadNotifyTarget(r.target);
    lanes_.back()->recipient = std::move(r);
  }
  // Started once every lane is in place: a thread only ever touches its own.
  for (const auto& lane : lanes_) lane->thread = std::thread([this, l = lane.get()] { Run(*l); });
}

namespace {

std::vector<Recipient> Through(Transport& transport, const std::vector<std::string>& targets) {
  std::vector<Recipient> recipients;
  recipients.reserve(targets.size());
  for (const std::string& target : targets) recipients.push_back({&transport, target});
  return recipients;
}

std::string Events(int64_t n) { return std::to_string(n) + (n == 1 ? " event" : " events"); }

}  // namespace

Delivery::Delivery(Transport& transport, const std::vector<std::string>& targets, DeliveryOptions options,
                   std::function<void(const std::string&)> log)
    : Delivery(Through(transport, targets), options, std::move(log)) {}

Delivery::~Delivery() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    drainUntil_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(kDrainMs);
  }
  wake_.notify_all();
  for (const auto& lane : lanes_) lane->thread.join();
  for (const auto& lane : lanes_) {
    const auto left = static_cast<int64_t>(lane->queue.size());
    const int64_t missed = lane->dropped + lane->lost + left;
    if (missed == 0) continue;
    log_("Notification to " + ShownTarget(lane->recipient.target) + ": " + Events(missed) + " not delivered" +
         (left == 0 ? "" : ", " + std::to_string(left) + " of them still queued when the program ended"));
  }
}

void Delivery::Send(const RunEvent& event) {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& lane : lanes_) {
      if (lane->queue.size() >= options_.capacity) {
        ++lane->dropped;
      } else {
        lane->queue.push_back(event);
      }
    }
  }
  wake_.notify_all();
}

int64_t Delivery::dropped() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  int64_t dropped = 0;
  for (const auto& lane : lanes_) dropped += lane->dropped;
  return dropped;
}

void Delivery::Run(Lane& lane) {
  int64_t droppedTold = 0;
  bool failing = false;
  for (;;) {
    RunEvent item;
    int64_t droppedNow = 0;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait(lock, [&] { return stopping_ || !lane.queue.empty(); });
      if (lane.queue.empty()) return;
      // The program ends: what is left gets a bounded time, and none at all when this
      // target fails, so that one that hangs does not hold the end. It is counted.
      if (stopping_ && (failing || std::chrono::steady_clock::now() > drainUntil_)) return;
      item = std::move(lane.queue.front());
      lane.queue.pop_front();
      droppedNow = lane.dropped;
    }
    const std::string shown = ShownTarget(lane.recipient.target);
    if (droppedNow != droppedTold) {
      log_("Notifications to " + shown + ": " + Events(droppedNow - droppedTold) + " dropped, the queue was full");
      droppedTold = droppedNow;
    }
    const std::string problem = DeliverOne(lane, item);
    std::string line = "Notification to " + shown;
    if (!problem.empty() && !failing) log_(line.append(" failed: ").append(problem));
    if (problem.empty() && failing) log_(line.append(" works again"));
    failing = !problem.empty();
    if (failing) {
      const std::lock_guard<std::mutex> lock(mutex_);
      ++lane.lost;
    }
  }
}

std::string Delivery::DeliverOne(Lane& lane, const RunEvent& event) {
  const Posting posting = PostingFor(lane.to.receiver, event);
  std::string problem;
  int64_t pauseMs = options_.firstPauseMs;
  for (int32_t attempt = 1; attempt <= options_.tries; ++attempt) {
    problem = lane.recipient.transport->Deliver(lane.to.address, event.name, posting);
    if (problem.empty()) break;
    std::unique_lock<std::mutex> lock(mutex_);
    // While the program ends, what is queued gets one try only.
    if (stopping_ || attempt == options_.tries) break;
    // The end during the pause: this event has had its one try.
    if (wake_.wait_for(lock, std::chrono::milliseconds(pauseMs), [&] { return stopping_; })) break;
    pauseMs *= 2;
  }
  return problem;
}

}  // namespace ostrelo
