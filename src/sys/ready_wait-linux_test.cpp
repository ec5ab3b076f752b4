#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <system_error>

#include <thread>

#include <gtest/gtest.h>

#include "sys/ready_wait.h"

namespace zelmo {
namespace {

using namespace std::chrono_literals;

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

using Clock = ReadyWait::Clock;

// Readable, writable, a hang-up that is both, and a deadline that ends a wait with none of them.
TEST(ReadyWait, ReportsWhatEachDescriptorIsReadyForOrEndsAtTheDeadline) {
  auto wait = ReadyWait::Make();
  ASSERT_NE(wait, nullptr);
  Pipe line;
  const auto start = Clock::now();
  EXPECT_TRUE(wait->WaitFor({{line.fds[0], true, false}}, start + 30ms).empty());
  EXPECT_GE(Clock::now() - start, 30ms) << "ended before its deadline";

  const auto ready =
      wait->WaitFor({{line.fds[0], true, false}, {line.fds[1], false, true}}, Clock::now() + 1s);
  ASSERT_EQ(ready.size(), 1u);
  EXPECT_EQ(ready[0].fd, line.fds[1]);
  EXPECT_TRUE(ready[0].writable);

  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  close(ends[0]);  // nobody reads: the writer's end has failed
  const auto failed = wait->WaitFor({{ends[1], false, true}}, std::nullopt);
  close(ends[1]);
  ASSERT_EQ(failed.size(), 1u);
  EXPECT_TRUE(failed[0].readable && failed[0].writable);
}

// A writable watch runs once; a deadline runs once, when due and not before, and a new one
// replaces it; a callback may remove its own watch while it runs.
TEST(Watches, OneShotWatchesAndDeadlinesRunOnceEach) {
  auto wait = ReadyWait::Make();
  ASSERT_NE(wait, nullptr);
  Pipe line;
  Watches watches;
  int writable = 0, due = 0, early = 0, read = 0;
  watches.Writable(line.fds[1], [&] { ++writable; });
  watches.Deadline(line.fds[1], Clock::now() + 10s, [&] { ++early; });
  watches.Deadline(line.fds[1], Clock::now() + 40ms, [&] { ++due; });
  watches.Readable(line.fds[0], [&] {
    ++read;
    watches.Remove(line.fds[0]);
  });
  ASSERT_EQ(write(line.fds[1], "\x06", 1), 1);
  const auto start = Clock::now();
  while (Clock::now() - start < 200ms) {
    watches.Deadline(-1, start + 200ms, [] {});  // the test's own end
    watches.WaitAndRun(*wait);
  }
  EXPECT_EQ(writable, 1);
  EXPECT_EQ(due, 1);
  EXPECT_EQ(early, 0);
  EXPECT_EQ(read, 1) << "a removed watch ran again";
}

}  // namespace
}  // namespace zelmo
