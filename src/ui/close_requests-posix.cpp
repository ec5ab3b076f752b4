#include "ui/close_requests.h"

#include <pthread.h>
#include <signal.h>

#include <thread>

namespace zelmo {

void WatchCloseRequests(std::function<void()> request) {
  // A reader that went away must not kill us mid-job; the write error is enough.
  signal(SIGPIPE, SIG_IGN);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  // Blocked here, before other threads exist, so that every thread inherits the mask and only
  // the watcher below takes these signals.
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  std::thread([set, request = std::move(request)] {
    for (;;) {
      int sig = 0;
      if (sigwait(&set, &sig) == 0) request();
    }
  }).detach();
}

}  // namespace zelmo
