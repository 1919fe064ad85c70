#pragma once
// One thread that runs jobs one after the other, in the order posted, for callers that
// must not wait on it for long: a caller waits for a job up to a deadline of its own,
// and a job it stopped waiting for before the job began is dropped. A job may be
// posted to run no sooner than a given time; later jobs do not wait behind it.
//
// No device library here: the camera backend puts every access to its device on such
// a thread, and so does the DAQ unit for the card's reads, so a device that stops
// answering holds up that thread, never the caller.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace ostrelo {

class DeviceThread {
 public:
  using Clock = std::chrono::steady_clock;
  using Work = std::function<void()>;
  class Job;

  DeviceThread() = default;
  // Stop().
  ~DeviceThread();
  DeviceThread(const DeviceThread&) = delete;
  DeviceThread& operator=(const DeviceThread&) = delete;

  // Starts the thread (again after Stop()).
  void Start();
  // Runs every job already due, drops those posted for later, and ends the thread.
  void Stop();
  // Drops every job not yet begun and leaves the thread to the one it is running, which
  // may never return: the thread ends after it, on its own. Only for a thread made with
  // new and then let go of (its state must outlive the job).
  void Abandon();
  bool running() const { return thread_.joinable(); }

  // Queues work to run after the jobs posted before it, and no sooner than notBefore.
  std::shared_ptr<Job> Post(Work work, Clock::time_point notBefore = {});
  // Waits until the job has run (no deadline: however long it takes). False when the
  // deadline came first, or when the job was dropped. A job that had not begun by the
  // deadline never runs, unless keep is set (it then runs in its turn); one already
  // running finishes on its own.
  bool Wait(const std::shared_ptr<Job>& job, std::optional<Clock::time_point> deadline = std::nullopt,
            bool keep = false);
  // Post() and Wait(): true when the work ran within the time.
  bool Run(Work work, std::optional<Clock::time_point> deadline = std::nullopt);
  // Whether the job has run or was dropped, without waiting.
  bool Ended(const std::shared_ptr<Job>& job);
  // Whether the caller is on this thread.
  bool onThread() const { return std::this_thread::get_id() == thread_.get_id(); }
  // Whether the caller is on a thread of any DeviceThread.
  static bool OnAnyDeviceThread();

 private:
  void Loop();

  std::mutex mutex_;
  std::condition_variable wake_;  // the thread: a job was posted, or stop
  std::condition_variable done_;  // callers: a job has run or was dropped
  std::deque<std::shared_ptr<Job>> jobs_;
  bool stopping_ = false;
  std::thread thread_;
};

class DeviceThread::Job {
 private:
  friend class DeviceThread;
  enum class State { Queued, Running, Done, Dropped };
  Work work_;
  Clock::time_point notBefore_;
  State state_ = State::Queued;
};

}  // namespace ostrelo
