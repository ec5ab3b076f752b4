// The system's close requests for a headless run: each terminating signal is one request, taken
// by the watcher thread, and none of them kills the program before it can end the run itself.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "ui/close_requests.h"

namespace zelmo {
namespace {

// Runs in a child process: the watcher changes the whole process's signal mask for good.
int CountRequests() {
  std::atomic<int> requests = 0;
  WatchCloseRequests([&] { ++requests; });
  int sent = 0;
  for (int sig : {SIGTERM, SIGINT, SIGHUP, SIGTERM}) {
    kill(getpid(), sig);
    ++sent;
    // Each signal is one request: wait for it before sending the next, as two of the same kind
    // pending at once are one to the system.
    for (int i = 0; i < 5000 && requests < sent; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  kill(getpid(), SIGPIPE);  // a reader that went away is not a close request, nor the end
  return requests;
}

TEST(CloseRequests, EachTerminatingSignalIsOneRequestAndKillsNothing) {
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) _exit(CountRequests());
  int raw = 0;
  ASSERT_EQ(waitpid(child, &raw, 0), child);
  ASSERT_TRUE(WIFEXITED(raw)) << "killed by signal " << WTERMSIG(raw);
  EXPECT_EQ(WEXITSTATUS(raw), 4);
}

}  // namespace
}  // namespace zelmo
