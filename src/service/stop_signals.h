// The requests that stop the print service: SIGTERM and SIGINT on POSIX systems, Ctrl+C, Ctrl+Break
// and the console's close on Windows.
#pragma once

#include "service/stop_request.h"

namespace zelmo::service {

// From now on those requests set off `stop` instead of ending the process. `stop` must outlive the
// process's handling of them (in practice: the whole program).
void StopOnSignals(StopRequest& stop);

}  // namespace zelmo::service
