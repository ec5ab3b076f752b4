// Where the front-end's loop cannot wait on descriptors (the desktop's), the port's line is read
// and written on a loop of the port's own, on a thread of its own, as the front-end's loop would
// do it.
#pragma once

#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

#include "sys/event_loop.h"
#include "sys/ready_wait.h"

namespace zelmo {

// What its callbacks read, they post to the front-end's loop; `failed` is told why when waiting
// itself fails, and the thread ends. Watches are set before Start or from its own thread.
class PortThread : public EventLoop {
 public:
  // Throws std::system_error when the system will not give the wait.
  explicit PortThread(std::function<void(const std::string&)> failed)
      : wait_(ReadyWait::Make()), failed_(std::move(failed)) {}
  ~PortThread() override { Stop(); }

  // Throws std::system_error when no thread can be made.
  void Start() {
    thread_ = std::thread([this] { Run(); });
  }

  // Waits for the thread to end; what is still queued is dropped.
  void Stop() {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    wait_->Wake();
    if (thread_.joinable()) thread_.join();
  }

  void Post(std::function<void()> task) override {
    {
      std::lock_guard lock(mutex_);
      tasks_.push_back(std::move(task));
    }
    wait_->Wake();
  }
  bool WatchReadable(int fd, std::function<void()> ready) override {
    watches_.Readable(fd, std::move(ready));
    return true;
  }
  void WatchWritable(int fd, std::function<void()> ready) override {
    watches_.Writable(fd, std::move(ready));
  }
  void SetDeadline(int fd, std::chrono::steady_clock::time_point when,
                   std::function<void()> due) override {
    watches_.Deadline(fd, when, std::move(due));
  }
  void Unwatch(int fd) override { watches_.Remove(fd); }

 private:
  void Run();

  std::unique_ptr<ReadyWait> wait_;
  const std::function<void(const std::string&)> failed_;
  Watches watches_;  // its own thread only, once started
  std::mutex mutex_;
  std::deque<std::function<void()>> tasks_;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace zelmo
