// What the run's routines work on: the job state and its machine, the window, the port, the way
// out, and the folder that stands for the executable's own.
#pragma once

#include <filesystem>
#include <functional>

#include "app/exit_status.h"
#include "app/job_machine.h"
#include "app/job_state.h"
#include "app/reply_timer.h"
#include "app/run_log.h"
#include "app/window.h"
#include "device/serial_port.h"

namespace zelmo {

struct Bridge {
  JobState& state;
  JobMachine& machine;
  Window& frmMain;
  SerialPort& Comm;
  ProgramEnd& end;
  std::filesystem::path folder;
  ReplyTimer* replyTimer = nullptr;  // where the front-end has a loop for it
  // Timeout= ran out: the window ends the run as the register's silence says.
  std::function<void()> replyExpired = nullptr;
  RunLog* log = nullptr;  // where the run's log file is kept
};

// A line of the event list, in the log file as well.
inline void AddEvent(Bridge& b, const std::string& line) {
  b.frmMain.AddEvent(line);
  if (b.log) b.log->Line(line);
}

}  // namespace zelmo
