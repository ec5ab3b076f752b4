#include <unistd.h>

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

}  // namespace
}  // namespace zelmo
