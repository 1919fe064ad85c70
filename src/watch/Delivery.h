#pragma once
// Delivers the run's events on a thread of its own, so the window never waits: each
// target gets the request its receiver takes (NotifyFormat.h); a
// bounded queue (events beyond it are dropped and counted), three tries a target with
// a growing pause between them, and one log line per target when delivery fails and
// one when it works again.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "watch/NotifyFormat.h"
#include "watch/RunEvents.h"

namespace ostrelo {

// How the platform hands one event to one target (an URL, its prefix taken off; a
// command): the posting as it is, the event's name beside it.
class Transport {
 public:
  virtual ~Transport() = default;
  // Empty when delivered, otherwise why not. Returns within the transport's own time-out.
  virtual std::string Deliver(const std::string& target, const std::string& event, const Posting& posting) = 0;
};

struct DeliveryOptions {
  size_t capacity = 256;
  int32_t tries = 3;
  int64_t firstPauseMs = 2000;  // doubled after each failed try
};

// "http://host[:port][/path]" or https, after a receiver's prefix if any: empty when the
// URL can be posted to, else why not.
std::string NotifyUrlProblem(const std::string& given);

// A target as messages and log lines name it: an URL without its user info and query
// ("https://***@host/path?***"), a command by its program only ("notify.sh ...").
std::string ShownTarget(const std::string& target);

class Delivery final : public EventSink {
 public:
  static constexpr int64_t kDrainMs = 10000;
  // log is called on the delivery thread, one whole line at a time.
  Delivery(Transport& transport, std::vector<std::string> targets, DeliveryOptions options,
           std::function<void(const std::string&)> log);
  // Delivers what is queued, each with one try, for at most kDrainMs, then ends the thread.
  ~Delivery() override;
  Delivery(const Delivery&) = delete;
  Delivery& operator=(const Delivery&) = delete;

  void Send(const RunEvent& event) override;
  int64_t dropped() const;

 private:
  void Run();
  void DeliverToAll(const RunEvent& event);

  Transport& transport_;
  std::vector<std::string> targets_;
  DeliveryOptions options_;
  std::function<void(const std::string&)> log_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<RunEvent> queue_;
  int64_t dropped_ = 0;
  bool stopping_ = false;
  std::chrono::steady_clock::time_point drainUntil_;
  std::map<std::string, bool> failing_;  // delivery thread only
  std::thread thread_;
};

}  // namespace ostrelo
