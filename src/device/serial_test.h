// Shared by the serial port's and writer's tests on every platform: the front-end's loop, run by
// the test on its own thread, a listener that records what the port reports, and the port set up
// as start-up sets it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "device/serial_port.h"

namespace zelmo::testing {

class TestLoop : public EventLoop {
 public:
  // `patience`: how long RunUntil and WaitForPending wait when not told.
  explicit TestLoop(std::chrono::milliseconds patience) : patience_(patience) {}

  void Post(std::function<void()> task) override {
    std::lock_guard lock(mutex_);
    tasks_.push_back(std::move(task));
    ready_.notify_all();
  }

  // Runs posted tasks until `done` holds or `timeout` passes; returns whether `done` held.
  bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
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
  bool RunUntil(const std::function<bool()>& done) { return RunUntil(done, patience_); }

  // Runs posted tasks for `period`.
  void RunFor(std::chrono::milliseconds period) {
    RunUntil([] { return false; }, period);
  }

  bool WaitForPending() {
    std::unique_lock lock(mutex_);
    return ready_.wait_for(lock, patience_, [this] { return !tasks_.empty(); });
  }

 private:
  const std::chrono::milliseconds patience_;
  std::mutex mutex_;
  std::condition_variable ready_;
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
