// The console's close requests: Ctrl+C, Ctrl+Break, its window being closed, the user logging
// off or the system shutting down. Windows calls the handler on a thread of its own.
#include <windows.h>

#include "ui/close_requests.h"

namespace zelmo {
namespace {

std::function<void()>& Request() {
  static std::function<void()> request;
  return request;
}

BOOL WINAPI OnConsoleControl(DWORD type) {
  if (Request()) Request()();
  // For these three the process is ended as soon as the handler returns: hold on, so that the
  // close request can close the port and end the run itself (Windows allows a few seconds).
  if (type == CTRL_CLOSE_EVENT || type == CTRL_LOGOFF_EVENT || type == CTRL_SHUTDOWN_EVENT) {
    Sleep(INFINITE);
  }
  return TRUE;
}

}  // namespace

void WatchCloseRequests(std::function<void()> request) {
  Request() = std::move(request);
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

}  // namespace zelmo
