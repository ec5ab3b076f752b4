#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <system_error>

#include "sys/ready_wait.h"

namespace zelmo {
namespace {

// poll()'s time-out for `deadline`: whole milliseconds, rounded up so that the wait never ends
// before it; -1 for none.
int TimeoutOf(std::optional<ReadyWait::Clock::time_point> deadline) {
  if (!deadline) return -1;
  const auto left = *deadline - ReadyWait::Clock::now();
  if (left <= left.zero()) return 0;
  const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
  return static_cast<int>(std::min<long long>(ms, INT_MAX));
}

class PollWait : public ReadyWait {
 public:
  explicit PollWait(int wakeFd) : wakeFd_(wakeFd) {}
  ~PollWait() override { close(wakeFd_); }

  void Wake() override {
    const uint64_t one = 1;
    (void)!write(wakeFd_, &one, sizeof one);  // a full counter still wakes the wait
  }

  std::vector<Ready> WaitFor(const std::vector<Watch>& watches,
                             std::optional<Clock::time_point> deadline) override {
    std::vector<pollfd> polled = {{wakeFd_, POLLIN, 0}};
    for (const Watch& w : watches) {
      const short events =
          static_cast<short>((w.readable ? POLLIN : 0) | (w.writable ? POLLOUT : 0));
      polled.push_back({w.fd, events, 0});
    }
    std::vector<Ready> ready;
    if (poll(polled.data(), polled.size(), TimeoutOf(deadline)) < 0) {
      if (errno == EINTR) return ready;  // a signal: the caller looks again
      // Waiting again would fail again at once: the loop would spin instead of sleeping.
      throw std::system_error(errno, std::generic_category(), "poll");
    }
    if (polled[0].revents != 0) {
      uint64_t count;
      (void)!read(wakeFd_, &count, sizeof count);
    }
    for (size_t i = 1; i < polled.size(); ++i) {
      const short got = polled[i].revents;
      if (got == 0) continue;
      const bool failed = (got & (POLLHUP | POLLERR | POLLNVAL)) != 0;
      ready.push_back(
          {polled[i].fd, failed || (got & POLLIN) != 0, failed || (got & POLLOUT) != 0});
    }
    return ready;
  }

 private:
  int wakeFd_;
};

}  // namespace

std::unique_ptr<ReadyWait> ReadyWait::Make() {
  const int wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wakeFd < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
  return std::make_unique<PollWait>(wakeFd);
}

}  // namespace zelmo
