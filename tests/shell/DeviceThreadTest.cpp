// The device thread: jobs in order, bounded waits that drop what nobody waits for,
// jobs put off to a later time.

#include "shell/DeviceThread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace ostrelo {
namespace {

using namespace std::chrono_literals;
using Clock = DeviceThread::Clock;

// A job that holds the thread until released.
struct Gate {
  std::promise<void> entered, release;
  std::shared_future<void> released{release.get_future().share()};
  DeviceThread::Work Work() {
    return [this] {
      entered.set_value();
      released.wait();
    };
  }
};

TEST(DeviceThread, RunsJobsOneAfterTheOtherInTheOrderPostedOnItsOwnThread) {
  DeviceThread thread;
  thread.Start();
  std::vector<int> order;
  std::vector<std::thread::id> ids;
  std::mutex m;
  std::vector<std::shared_ptr<DeviceThread::Job>> jobs;
  for (int i = 0; i < 20; ++i) {
    jobs.push_back(thread.Post([&, i] {
      std::lock_guard lock(m);
      order.push_back(i);
      ids.push_back(std::this_thread::get_id());
    }));
  }
  for (auto& job : jobs) EXPECT_TRUE(thread.Wait(job));
  std::vector<int> expected(20);
  for (int i = 0; i < 20; ++i) expected[i] = i;
  EXPECT_EQ(order, expected);
  for (auto id : ids) {
    EXPECT_NE(id, std::this_thread::get_id());
    EXPECT_EQ(id, ids.front());
  }
}

TEST(DeviceThread, AWaitThatEndsFirstDropsAJobNotYetBegunAndLetsARunningJobFinish) {
  DeviceThread thread;
  thread.Start();
  Gate gate;
  auto busy = thread.Post(gate.Work());
  gate.entered.get_future().wait();

  std::atomic<bool> lateRan{false};
  auto late = thread.Post([&] { lateRan = true; });
  EXPECT_FALSE(thread.Wait(late, Clock::now() + 50ms));  // behind the busy job
  EXPECT_FALSE(thread.Wait(busy, Clock::now() + 10ms));  // running: not dropped

  gate.release.set_value();
  EXPECT_TRUE(thread.Wait(busy));
  EXPECT_TRUE(thread.Run([] {}));  // everything before it has run
  EXPECT_FALSE(lateRan);
  EXPECT_FALSE(thread.Wait(late));  // dropped for good
}

TEST(DeviceThread, AJobKeptPastItsWaitRunsInItsTurnWithoutTheCaller) {
  DeviceThread thread;
  thread.Start();
  Gate gate;
  thread.Post(gate.Work());
  gate.entered.get_future().wait();
  std::atomic<bool> ran{false};
  auto kept = thread.Post([&] { ran = true; });
  EXPECT_FALSE(thread.Wait(kept, Clock::now() + 20ms, /*keep=*/true));
  gate.release.set_value();
  EXPECT_TRUE(thread.Wait(kept));
  EXPECT_TRUE(ran);
}

TEST(DeviceThread, AJobPutOffRunsNoSoonerAndDoesNotHoldUpLaterJobs) {
  DeviceThread thread;
  thread.Start();
  std::atomic<bool> laterRan{false};
  std::atomic<bool> nowRanFirst{false};
  const auto notBefore = Clock::now() + 150ms;
  Clock::time_point ranAt;
  auto later = thread.Post(
      [&] {
        ranAt = Clock::now();
        laterRan = true;
      },
      notBefore);
  auto now = thread.Post([&] { nowRanFirst = !laterRan; });
  EXPECT_TRUE(thread.Wait(now));
  EXPECT_TRUE(nowRanFirst);
  EXPECT_TRUE(thread.Wait(later));
  EXPECT_GE(ranAt, notBefore);
}

TEST(DeviceThread, StopRunsWhatIsDueDropsWhatIsPutOffAndRefusesNewJobs) {
  DeviceThread thread;
  thread.Start();
  Gate gate;
  std::atomic<int> ran{0};
  thread.Post(gate.Work());
  gate.entered.get_future().wait();
  auto due = thread.Post([&] { ++ran; });
  auto putOff = thread.Post([&] { ran += 100; }, Clock::now() + 1h);
  auto stopped = std::async(std::launch::async, [&] { thread.Stop(); });
  std::this_thread::sleep_for(20ms);
  gate.release.set_value();
  stopped.get();
  EXPECT_FALSE(thread.running());
  EXPECT_EQ(ran, 1);
  EXPECT_TRUE(thread.Wait(due));
  EXPECT_FALSE(thread.Wait(putOff));
  EXPECT_FALSE(thread.Wait(thread.Post([&] { ran += 1000; })));
  EXPECT_FALSE(thread.Run([&] { ran += 1000; }, Clock::now() + 10ms));
  EXPECT_EQ(ran, 1);

  // And it can be started again.
  thread.Start();
  EXPECT_TRUE(thread.Run([&] { ++ran; }));
  EXPECT_EQ(ran, 2);
}

TEST(DeviceThread, AJobCanRunWorkOnItsOwnThreadWithoutWaitingForItselfAndPostMore) {
  DeviceThread thread;
  thread.Start();
  std::atomic<int> inner{0};
  std::shared_ptr<DeviceThread::Job> posted;
  EXPECT_TRUE(thread.Run([&] {
    EXPECT_TRUE(thread.onThread());
    EXPECT_TRUE(thread.Run([&] { inner = 1; }));
    posted = thread.Post([&] { inner = 2; });
  }));
  EXPECT_FALSE(thread.onThread());
  EXPECT_TRUE(thread.Wait(posted));
  EXPECT_EQ(inner, 2);
}

}  // namespace
}  // namespace ostrelo
