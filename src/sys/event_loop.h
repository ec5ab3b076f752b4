// The front-end's event loop, as seen by the parts that raise events from other threads.
#pragma once

#include <chrono>
#include <functional>

namespace zelmo {

class EventLoop {
 public:
  virtual ~EventLoop() = default;
  // Queues `task` to run on the loop's thread, after the handler running now. Safe from any
  // thread.
  virtual void Post(std::function<void()> task) = 0;
  // Calls `ready` on the loop's thread, between tasks, each time `fd` has something to read,
  // until Unwatch(fd). False when this loop cannot watch descriptors.
  virtual bool WatchReadable(int /*fd*/, std::function<void()> /*ready*/) { return false; }
  // On the loop's thread, once WatchReadable(fd) has succeeded: calls `ready` once, when `fd` can
  // take bytes again (or has failed).
  virtual void WatchWritable(int /*fd*/, std::function<void()> /*ready*/) {}
  // On the loop's thread, once WatchReadable(fd) has succeeded: calls `due` once `when` has come.
  // One deadline per descriptor: a new one replaces it, an empty `due` only drops it.
  virtual void SetDeadline(int /*fd*/, std::chrono::steady_clock::time_point /*when*/,
                           std::function<void()> /*due*/) {}
  // Ends every watch of `fd` and its deadline.
  virtual void Unwatch(int /*fd*/) {}
};

}  // namespace zelmo
