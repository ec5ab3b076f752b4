#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

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
    if (poll(polled.data(), polled.size(), -1) <= 0)
      return ready;  // a signal: the caller looks again
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
  if (wakeFd < 0) return nullptr;
  return std::make_unique<PollWait>(wakeFd);
}

}  // namespace zelmo
