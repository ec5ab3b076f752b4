// A signal handler may do almost nothing: it writes one byte to a pipe, and a thread of its own
// turns that into the stop request.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>
#include <thread>

#include "service/stop_signals.h"

namespace zelmo::service {
namespace {

int gWake = -1;

extern "C" void OnStopSignal(int) {
  const int saved = errno;
  const char byte = 1;
  ssize_t ignored = write(gWake, &byte, 1);
  (void)ignored;
  errno = saved;
}

}  // namespace

void StopOnSignals(StopRequest& stop) {
  int wake[2];
  if (pipe2(wake, O_CLOEXEC) != 0)
    throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
  gWake = wake[1];
  std::thread([&stop, fd = wake[0]] {
    char byte;
    ssize_t got;
    do {
      got = read(fd, &byte, 1);
    } while (got < 0 && errno == EINTR);
    stop.Request();
  }).detach();
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
  // A client that goes away mid-answer must not end the service.
  signal(SIGPIPE, SIG_IGN);
}

}  // namespace zelmo::service
