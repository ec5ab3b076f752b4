// Shared by the serial port's and writer's tests on every platform: the front-end's loop, run by
// the test on its own thread, a listener that records what the port reports, and the port set up
// as start-up sets it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "device/serial_port.h"
#include "sys/ready_wait.h"

namespace zelmo::testing {

// A loop the test runs on its own thread.
class RunLoop : public EventLoop {
 public:
  // Runs the loop until `done` holds or `timeout` passes; returns whether `done` held.
  virtual bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) = 0;
  bool RunUntil(const std::function<bool()>& done) { return RunUntil(done, patience_); }
  // Runs the loop for `period`.
  void RunFor(std::chrono::milliseconds period) {
    RunUntil([] { return false; }, period);
  }

 protected:
  // `patience`: how long RunUntil waits when not told.
  explicit RunLoop(std::chrono::milliseconds patience) : patience_(patience) {}
  const std::chrono::milliseconds patience_;
};

// A loop of posted tasks alone, which cannot watch descriptors: the port reads on a thread.
class TestLoop : public RunLoop {
 public:
  explicit TestLoop(std::chrono::milliseconds patience) : RunLoop(patience) {}

  void Post(std::function<void()> task) override {
    std::lock_guard lock(mutex_);
    tasks_.push_back(std::move(task));
    ready_.notify_all();
  }

  using RunLoop::RunUntil;
  bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) override {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
      std::unique_lock lock(mutex_);
      if (!ready_.wait_until(lock, deadline, [this] { return !tasks_.empty(); })) return done();
      auto task = std::move(tasks_.front());
      tasks_.pop_front();
      lock.unlock();
      task();
    }
    return true;
  }

  bool WaitForPending() {
    std::unique_lock lock(mutex_);
    return ready_.wait_for(lock, patience_, [this] { return !tasks_.empty(); });
  }

 private:
  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<std::function<void()>> tasks_;
};

// A loop that waits on descriptors and deadlines as the console front-end's does: the port reads
// and writes on the test's own thread, the one that runs the loop. Needs ReadyWait::Make().
class WatchingLoop : public RunLoop {
 public:
  explicit WatchingLoop(std::chrono::milliseconds patience)
      : RunLoop(patience), wait_(ReadyWait::Make()) {}

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
    ++deadlinesSet;
    watches_.Deadline(fd, when, std::move(due));
  }
  void Unwatch(int fd) override { watches_.Remove(fd); }

  using RunLoop::RunUntil;
  bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) override {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
      if (std::chrono::steady_clock::now() >= end) return false;
      std::deque<std::function<void()>> tasks;
      {
        std::lock_guard lock(mutex_);
        tasks.swap(tasks_);
      }
      for (auto& task : tasks) task();
      if (!tasks.empty()) continue;
      watches_.Deadline(kRunEnd, end, [] {});  // the run's own end ends the wait too
      watches_.WaitAndRun(*wait_);
    }
    return true;
  }

  int deadlinesSet = 0;

 private:
  static constexpr int kRunEnd = -1;  // no descriptor: the key of the run's own deadline
  std::unique_ptr<ReadyWait> wait_;
  Watches watches_;
  std::mutex mutex_;
  std::deque<std::function<void()>> tasks_;
};

// Takes the input on every receive event, as the reply handling does, and notes the thread that
// each event came on.
class RecordingListener : public CommListener {
 public:
  void Comm_OnComm(int16_t event) override {
    events.push_back(event);
    threads.push_back(std::this_thread::get_id());
    if (event == comEvReceive && port) received += port->Input();
  }
  void Comm_OnLineFailure(const std::string& reason) override {
    failures.push_back(reason);
    threads.push_back(std::this_thread::get_id());
  }

  SerialPort* port = nullptr;
  std::vector<int16_t> events;
  std::vector<std::thread::id> threads;
  std::string received;
  std::vector<std::string> failures;
};

// Sets the port up as start-up does.
inline void Configure(SerialPort& port, const std::string& device) {
  port.SetCommPort(1, device);
  port.SetSettings("9600,N,8,1");
  port.SetRTSEnable(true);
  port.SetDTREnable(true);
  port.SetHandshaking(kHandshakeRtsCts);
}

}  // namespace zelmo::testing
