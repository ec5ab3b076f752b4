// zelmo --serve: the print service on a data folder, until a stop is requested.
#pragma once

#include <string>

#include "service/stop_request.h"

namespace zelmo::service {

// Runs the service on `folder` (its Zelmocfg.ini, its jobs/) until `stop` is requested; a running
// job is let end and the queue is kept. Returns the exit status: 0 after a clean stop, 6 when the
// settings are refused (the key is named on standard error), 1 for the program's own failure.
int Serve(const std::string& folder, StopRequest& stop);

}  // namespace zelmo::service
