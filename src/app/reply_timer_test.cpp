#include "app/reply_timer.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <deque>
#include <mutex>

namespace zelmo {
namespace {

using namespace std::chrono_literals;

// A loop whose tasks the test runs itself.
class QueueLoop : public EventLoop {
 public:
  void Post(std::function<void()> task) override {
    const std::lock_guard lock(mutex_);
    tasks_.push_back(std::move(task));
    posted_.notify_all();
  }
  // Runs what was posted within `wait`; how many tasks ran.
  int RunFor(std::chrono::milliseconds wait) {
    std::unique_lock lock(mutex_);
    posted_.wait_for(lock, wait, [this] { return !tasks_.empty(); });
    int ran = 0;
    while (!tasks_.empty()) {
      auto task = std::move(tasks_.front());
      tasks_.pop_front();
      lock.unlock();
      task();
      ++ran;
      lock.lock();
    }
    return ran;
  }

 private:
  std::mutex mutex_;
  std::condition_variable posted_;
  std::deque<std::function<void()>> tasks_;
};

TEST(ReplyTimer, ExpiresOnTheLoopOnceItsTimeHasPassed) {
  QueueLoop loop;
  ReplyTimer timer(loop);
  int expired = 0;
  timer.Arm(30ms, [&] { ++expired; });
  EXPECT_EQ(loop.RunFor(5s), 1);
  EXPECT_EQ(expired, 1);
  EXPECT_EQ(loop.RunFor(100ms), 0);  // once only
}

TEST(ReplyTimer, ArmingAgainOrDisarmingPutsTheLimitOff) {
  QueueLoop loop;
  ReplyTimer timer(loop);
  int first = 0, second = 0;
  timer.Arm(50ms, [&] { ++first; });
  timer.Arm(10min, [&] { ++second; });  // the next command: its own wait begins
  EXPECT_EQ(loop.RunFor(300ms), 0);
  timer.Disarm();
  timer.Arm(20ms, [&] { ++first; });
  timer.Disarm();
  loop.RunFor(300ms);
  EXPECT_EQ(first, 0);
  EXPECT_EQ(second, 0);
}

TEST(ReplyTimer, ATaskPostedBeforeTheTimerWentDoesNothing) {
  QueueLoop loop;
  int expired = 0;
  {
    ReplyTimer timer(loop);
    timer.Arm(1ms, [&] { ++expired; });
    std::this_thread::sleep_for(200ms);  // posted, not yet run
  }
  loop.RunFor(100ms);
  EXPECT_EQ(expired, 0);
}

}  // namespace
}  // namespace zelmo
