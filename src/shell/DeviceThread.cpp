#include "shell/DeviceThread.h"

#include <algorithm>

namespace ostrelo {

namespace {
thread_local bool onDeviceThread = false;
}  // namespace

DeviceThread::~DeviceThread() { Stop(); }

bool DeviceThread::OnAnyDeviceThread() { return onDeviceThread; }

void DeviceThread::Start() {
  if (thread_.joinable()) return;
  {
    std::lock_guard lock(mutex_);
    stopping_ = false;
  }
  thread_ = std::thread([this] { Loop(); });
}

void DeviceThread::Stop() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  thread_.join();
  // Jobs posted for later, or after the thread ended, never run.
  std::lock_guard lock(mutex_);
  for (auto& job : jobs_) job->state_ = Job::State::Dropped;
  jobs_.clear();
  done_.notify_all();
}

void DeviceThread::Abandon() {
  if (!thread_.joinable()) return;
  std::lock_guard lock(mutex_);
  stopping_ = true;
  for (auto& job : jobs_) job->state_ = Job::State::Dropped;
  jobs_.clear();
  thread_.detach();
  wake_.notify_all();
  done_.notify_all();
}

bool DeviceThread::Ended(const std::shared_ptr<Job>& job) {
  std::lock_guard lock(mutex_);
  return job->state_ == Job::State::Done || job->state_ == Job::State::Dropped;
}

std::shared_ptr<DeviceThread::Job> DeviceThread::Post(Work work, Clock::time_point notBefore) {
  auto job = std::make_shared<Job>();
  job->work_ = std::move(work);
  job->notBefore_ = notBefore;
  {
    std::lock_guard lock(mutex_);
    if (!thread_.joinable()) {
      job->state_ = Job::State::Dropped;
      return job;
    }
    jobs_.push_back(job);
  }
  wake_.notify_all();
  return job;
}

bool DeviceThread::Wait(const std::shared_ptr<Job>& job, std::optional<Clock::time_point> deadline, bool keep) {
  std::unique_lock lock(mutex_);
  auto finished = [&] { return job->state_ == Job::State::Done || job->state_ == Job::State::Dropped; };
  if (deadline) {
    done_.wait_until(lock, *deadline, finished);
  } else {
    done_.wait(lock, finished);
  }
  if (job->state_ == Job::State::Queued && !keep) {
    // Nobody waits for it any more: it must not run later, on data the caller has
    // moved on from.
    job->state_ = Job::State::Dropped;
    jobs_.erase(std::remove(jobs_.begin(), jobs_.end(), job), jobs_.end());
  }
  return job->state_ == Job::State::Done;
}

bool DeviceThread::Run(Work work, std::optional<Clock::time_point> deadline) {
  if (onThread()) {  // from a job of this very thread: it would wait for itself
    work();
    return true;
  }
  return Wait(Post(std::move(work)), deadline);
}

void DeviceThread::Loop() {
  onDeviceThread = true;
  std::unique_lock lock(mutex_);
  for (;;) {
    const Clock::time_point now = Clock::now();
    auto due = std::find_if(jobs_.begin(), jobs_.end(), [&](const auto& j) { return j->notBefore_ <= now; });
    if (due == jobs_.end()) {
      if (stopping_) return;
      auto earliest = std::min_element(jobs_.begin(), jobs_.end(),
                                       [](const auto& a, const auto& b) { return a->notBefore_ < b->notBefore_; });
      if (earliest == jobs_.end()) {
        wake_.wait(lock);
      } else {
        wake_.wait_until(lock, (*earliest)->notBefore_);
      }
      continue;
    }
    std::shared_ptr<Job> job = *due;
    jobs_.erase(due);
    job->state_ = Job::State::Running;
    lock.unlock();
    job->work_();
    job->work_ = nullptr;  // what it holds is released here, on this thread
    lock.lock();
    job->state_ = Job::State::Done;
    done_.notify_all();
  }
}

}  // namespace ostrelo
