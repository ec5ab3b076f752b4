// A time limit on the register's reply, kept on a thread of its own and ended on the front-end's
// event loop, so it works alike under every front-end. Only a run with Timeout= ever starts it.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <thread>

#include "sys/event_loop.h"

namespace zelmo {

class ReplyTimer {
 public:
  explicit ReplyTimer(EventLoop& loop);
  ~ReplyTimer();
  ReplyTimer(const ReplyTimer&) = delete;
  ReplyTimer& operator=(const ReplyTimer&) = delete;

  // Makes the timer's thread, so that a program that cannot make one (std::system_error) knows
  // it before the job's first command; once is enough.
  void Start();
  // `expired` runs on the loop once `after` has passed, unless Arm or Disarm comes first.
  void Arm(std::chrono::milliseconds after, std::function<void()> expired);
  void Disarm();

 private:
  struct Shared;
  void Watch();

  EventLoop& loop_;
  std::shared_ptr<Shared> shared_;
  std::thread thread_;
};

}  // namespace zelmo
