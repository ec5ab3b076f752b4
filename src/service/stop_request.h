// A request to stop the print service, from a signal, a console event or the service manager.
// Request() may be called from any thread; the service waits on it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace zelmo::service {

class StopRequest {
 public:
  void Request() {
    {
      std::lock_guard lock(mutex_);
      requested_ = true;
    }
    changed_.notify_all();
  }
  bool Requested() const {
    std::lock_guard lock(mutex_);
    return requested_;
  }
  // True once a stop was requested; false if `timeout` passed first.
  bool WaitFor(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [this] { return requested_; });
  }
  void Wait() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return requested_; });
  }

 private:
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  bool requested_ = false;
};

}  // namespace zelmo::service
