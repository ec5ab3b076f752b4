// How a run ends: the port closed, the window unloaded, the status given to ProgramEnd. Start-up,
// the print job and the window all end the run through here, with what the job machine decided.
#pragma once

#include <string>

#include "app/bridge.h"
#include "app/job_machine.h"

namespace zelmo {

// Closes the port if it is open, unloads the window and ends the run with `status`.
[[noreturn]] void ShutDown(Bridge& b, ExitStatus status);

// `event` happened. When the machine says the run ends, the port is closed, the operator told
// (with `detail`), and the run ended; otherwise this returns what the machine decided.
Outcome Happened(Bridge& b, RunEvent event, const std::string& detail = "");

// As Happened, for an event after which the run cannot go on.
[[noreturn]] void Finish(Bridge& b, RunEvent event, const std::string& detail = "");

}  // namespace zelmo
