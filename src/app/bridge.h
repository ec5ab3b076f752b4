// What the run's routines work on: the job state and its machine, the window, the port, the way
// out, and the folder that stands for the executable's own.
#pragma once

#include <filesystem>
#include <functional>

#include "app/exit_status.h"
#include "app/job_machine.h"
#include "app/job_state.h"
#include "app/reply_timer.h"
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
};

}  // namespace zelmo
