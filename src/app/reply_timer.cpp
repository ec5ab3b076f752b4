#include "app/reply_timer.h"

#include <condition_variable>
#include <mutex>
#include <optional>

namespace zelmo {

// What the thread and the posted task share; a task that runs after the timer is gone finds it
// stopped and does nothing.
struct ReplyTimer::Shared {
  std::mutex mutex;
  std::condition_variable changed;
  std::optional<std::chrono::steady_clock::time_point> deadline;
  std::function<void()> expired;
  unsigned long generation = 0;
  bool stopping = false;
};

ReplyTimer::ReplyTimer(EventLoop& loop) : loop_(loop), shared_(std::make_shared<Shared>()) {}

ReplyTimer::~ReplyTimer() {
  {
    const std::lock_guard lock(shared_->mutex);
    shared_->stopping = true;
  }
  shared_->changed.notify_all();
  if (thread_.joinable()) thread_.join();
}

void ReplyTimer::Arm(std::chrono::milliseconds after, std::function<void()> expired) {
  {
    const std::lock_guard lock(shared_->mutex);
    shared_->deadline = std::chrono::steady_clock::now() + after;
    shared_->expired = std::move(expired);
    ++shared_->generation;
  }
  shared_->changed.notify_all();
  Start();
}

void ReplyTimer::Start() {
  if (!thread_.joinable()) thread_ = std::thread([this] { Watch(); });
}

void ReplyTimer::Disarm() {
  const std::lock_guard lock(shared_->mutex);
  shared_->deadline.reset();
  ++shared_->generation;
}

void ReplyTimer::Watch() {
  const std::shared_ptr<Shared> shared = shared_;
  std::unique_lock lock(shared->mutex);
  while (!shared->stopping) {
    if (!shared->deadline) {
      shared->changed.wait(lock);
      continue;
    }
    const auto deadline = *shared->deadline;
    if (shared->changed.wait_until(lock, deadline) != std::cv_status::timeout) continue;
    if (!shared->deadline || *shared->deadline != deadline) continue;
    shared->deadline.reset();
    const unsigned long generation = shared->generation;
    loop_.Post([shared, generation] {
      std::function<void()> expired;
      {
        const std::lock_guard inner(shared->mutex);
        if (shared->stopping || shared->generation != generation) return;
        expired = shared->expired;
      }
      expired();
    });
  }
}

}  // namespace zelmo
