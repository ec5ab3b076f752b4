// A loop's sleep that ends when another thread wakes it or when one of the loop's own
// descriptors has something to read, so that a reply is handled on the loop's thread the moment
// it arrives.
#pragma once

#include <memory>
#include <vector>

namespace zelmo {

class ReadyWait {
 public:
  // Nothing where descriptors cannot be waited on this way: the loop then sleeps on its queue
  // alone and the port reads on a thread of its own. Throws std::system_error when the system
  // will not give what the wait needs.
  static std::unique_ptr<ReadyWait> Make();

  virtual ~ReadyWait() = default;
  // Safe from any thread; a wake with nobody waiting ends the next wait at once.
  virtual void Wake() = 0;
  // Sleeps until Wake() or until some of `fds` can be read; returns those that can (none after a
  // signal). Throws std::system_error when waiting itself fails.
  virtual std::vector<int> Wait(const std::vector<int>& fds) = 0;
};

}  // namespace zelmo
