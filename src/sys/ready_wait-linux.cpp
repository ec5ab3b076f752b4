#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <system_error>

#include "sys/ready_wait.h"

namespace zelmo {
namespace {

class PollWait : public ReadyWait {
 public:
  explicit PollWait(int wakeFd) : wakeFd_(wakeFd) {}
  ~PollWait() override { close(wakeFd_); }

  void Wake() override {
    const uint64_t one = 1;
    (void)!write(wakeFd_, &one, sizeof one);  // a full counter still wakes the wait
  }

  std::vector<int> Wait(const std::vector<int>& fds) override {
    std::vector<pollfd> polled = {{wakeFd_, POLLIN, 0}};
    for (int fd : fds) polled.push_back({fd, POLLIN, 0});
    std::vector<int> ready;
    if (poll(polled.data(), polled.size(), -1) < 0) {
      if (errno == EINTR) return ready;  // a signal: the caller looks again
      // Waiting again would fail again at once: the loop would spin instead of sleeping.
      throw std::system_error(errno, std::generic_category(), "poll");
    }
    if (polled[0].revents != 0) {
      uint64_t count;
      (void)!read(wakeFd_, &count, sizeof count);
    }
    for (size_t i = 1; i < polled.size(); ++i) {
      if (polled[i].revents != 0) ready.push_back(polled[i].fd);
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
