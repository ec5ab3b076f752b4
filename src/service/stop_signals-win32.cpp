// Ctrl+C, Ctrl+Break and the console's close stop the service. Windows calls the handler on a
// thread of its own, so the request is set off from there.
#include <windows.h>

#include "service/stop_signals.h"

namespace zelmo::service {
namespace {

StopRequest* gStop = nullptr;

BOOL WINAPI OnConsoleControl(DWORD type) {
  if (gStop) gStop->Request();
  // For these the process is ended as soon as the handler returns: hold on, so that the service
  // can let a running job end and close down while Windows allows it.
  if (type == CTRL_CLOSE_EVENT || type == CTRL_LOGOFF_EVENT || type == CTRL_SHUTDOWN_EVENT) {
    Sleep(INFINITE);
  }
  return TRUE;
}

}  // namespace

void StopOnSignals(StopRequest& stop) {
  gStop = &stop;
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

}  // namespace zelmo::service
