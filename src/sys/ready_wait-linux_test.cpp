#include <sys/resource.h>
#include <unistd.h>

#include <system_error>

#include <thread>

#include <gtest/gtest.h>

#include "sys/ready_wait.h"

namespace zelmo {
namespace {

struct Pipe {
  Pipe() { EXPECT_EQ(pipe(fds), 0); }
  ~Pipe() {
    close(fds[0]);
    close(fds[1]);
  }
  int fds[2];
};

TEST(ReadyWait, AWakeFromAnotherThreadEndsTheWaitAndIsUsedUp) {
  auto wait = ReadyWait::Make();
  ASSERT_NE(wait, nullptr);
  Pipe quiet;
  std::thread waker([&] { wait->Wake(); });
  EXPECT_TRUE(wait->Wait({quiet.fds[0]}).empty());
  waker.join();

  // Once used up, the wake does not end the next wait: only the descriptor does.
  Pipe line;
  ASSERT_EQ(write(line.fds[1], "\x06", 1), 1);
  EXPECT_EQ(wait->Wait({quiet.fds[0], line.fds[0]}), std::vector<int>{line.fds[0]});
}

TEST(ReadyWait, AWakeBeforeTheWaitIsNotLost) {
  auto wait = ReadyWait::Make();
  ASSERT_NE(wait, nullptr);
  wait->Wake();
  wait->Wake();
  EXPECT_TRUE(wait->Wait({}).empty());
}

// A wait the system refuses (here: more descriptors than the process may have) is an error, not
// an empty wake-up that the loop would retry at once for ever.
TEST(ReadyWait, AWaitTheSystemRefusesThrowsInsteadOfSpinning) {
  auto wait = ReadyWait::Make();
  ASSERT_NE(wait, nullptr);
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
  rlimit low = saved;
  low.rlim_cur = 8;
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
  const std::vector<int> many(16, 0);  // poll() takes no more than the limit: EINVAL
  EXPECT_THROW(wait->Wait(many), std::system_error);
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &saved), 0);
}

}  // namespace
}  // namespace zelmo
