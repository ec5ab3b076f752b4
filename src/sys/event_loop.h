// The front-end's event loop, as seen by the parts that raise events from other threads.
#pragma once

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
  virtual void Unwatch(int /*fd*/) {}
};

}  // namespace zelmo
