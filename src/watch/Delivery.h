#pragma once
// Delivers the run's events away from the window, so the window never waits: each
// target gets the request its receiver takes (NotifyFormat.h) from a queue and a thread
// of its own, so a target that hangs holds no other. A bounded queue (events beyond it
// are dropped and counted), three tries an event with a growing pause between them, one
// log line per target when delivery fails and one when it works again, and at the end
// one line per target that missed events.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
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

// A target and the transport that reaches it.
struct Recipient {
  Transport* transport;
  std::string target;
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
  // log is called on the delivery threads, one whole line at a time.
  Delivery(std::vector<Recipient> recipients, DeliveryOptions options, std::function<void(const std::string&)> log);
  // Every target through one transport.
  Delivery(Transport& transport, const std::vector<std::string>& targets, DeliveryOptions options,
           std::function<void(const std::string&)> log);
  // Delivers what is queued, each with one try, for at most kDrainMs, to the targets
  // that do not fail; then tells how many events each target missed.
  ~Delivery() override;
  Delivery(const Delivery&) = delete;
  Delivery& operator=(const Delivery&) = delete;

  void Send(const RunEvent& event) override;
  int64_t dropped() const;

 private:
  struct Lane {
    Recipient recipient;
    NotifyTarget to;
    std::deque<RunEvent> queue;
    int64_t dropped = 0;  // the queue was full
    int64_t lost = 0;     // every try failed
    std::thread thread;
  };
  void Run(Lane& lane);
  std::string DeliverOne(Lane& lane, const RunEvent& event);

  DeliveryOptions options_;
  std::function<void(const std::string&)> log_;
  mutable std::mutex mutex_;  // guards the lanes' queues and counts, and what follows
  std::condition_variable wake_;
  bool stopping_ = false;
  std::chrono::steady_clock::time_point drainUntil_;
  std::vector<std::unique_ptr<Lane>> lanes_;
};

}  // namespace ostrelo
