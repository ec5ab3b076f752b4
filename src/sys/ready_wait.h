// A loop's sleep that ends when another thread wakes it, when one of the loop's own descriptors
// is ready or when the loop's next deadline comes, so that a reply is handled on the loop's
// thread the moment it arrives and nothing else wakes it.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace zelmo {

class ReadyWait {
 public:
  using Clock = std::chrono::steady_clock;
  struct Watch {
    int fd;
    bool readable;
    bool writable;
  };
  // A descriptor that is ready; one that has failed or hung up is both readable and writable, so
  // that whoever waits on it finds out.
  struct Ready {
    int fd;
    bool readable;
    bool writable;
  };

  // Nothing where descriptors cannot be waited on this way: the loop then sleeps on its queue
  // alone and the port reads on a thread of its own. Throws std::system_error when the system
  // will not give what the wait needs.
  static std::unique_ptr<ReadyWait> Make();

  virtual ~ReadyWait() = default;
  // Safe from any thread; a wake with nobody waiting ends the next wait at once.
  virtual void Wake() = 0;
  // Sleeps until Wake(), until some of `watches` are ready or until `deadline`; returns those
  // that are (none after a wake, a signal or the deadline). Throws std::system_error when
  // waiting itself fails.
  virtual std::vector<Ready> WaitFor(const std::vector<Watch>& watches,
                                     std::optional<Clock::time_point> deadline) = 0;

  // Sleeps until Wake() or until some of `fds` can be read; returns those that can.
  std::vector<int> Wait(const std::vector<int>& fds);
};

// What a loop waits for besides its queue of tasks: descriptors to read, a descriptor to take
// bytes again (once), and one deadline per descriptor. Used on the loop's thread only; a
// callback may change the watches, its own included.
class Watches {
 public:
  void Readable(int fd, std::function<void()> ready);
  void Writable(int fd, std::function<void()> ready);
  void Deadline(int fd, ReadyWait::Clock::time_point when, std::function<void()> due);
  void Remove(int fd);

  // Waits once on `wait` and runs, here, what became ready and what came due.
  void WaitAndRun(ReadyWait& wait);

 private:
  struct Entry {
    std::function<void()> readable;
    std::function<void()> writable;
    std::function<void()> due;
    ReadyWait::Clock::time_point when;
  };
  void RunReady(const ReadyWait::Ready& ready);
  void RunDue();

  std::map<int, Entry> entries_;
};

}  // namespace zelmo
