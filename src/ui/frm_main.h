// frmMain: the one window of a run. It owns the job state and the serial port, and wires the
// window's events (load, close request, print button) and the port's events to the run.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "app/bridge.h"
#include "app/job_machine.h"
#include "app/job_state.h"
#include "device/serial_port.h"
#include "ui/front_end.h"

namespace zelmo {

class FrmMain : public CommListener {
 public:
  using PortFactory = std::function<std::unique_ptr<SerialPort>(CommListener&)>;

  // `folder` stands for the executable's folder (settings and receipts). With `loop`, Timeout=
  // is kept on it; without, the register is waited for as long as it takes.
  FrmMain(Window& window, ProgramEnd& end, std::filesystem::path folder,
          const PortFactory& makePort, EventLoop* loop = nullptr);

  WindowHandlers Handlers();

  void Form_Load();
  void Form_QueryUnload();
  void btnPrint_Click();
  void Comm_OnComm(int16_t commEvent) override;
  void Comm_OnLineFailure(const std::string& reason) override;

  // Log line of a reply; on ACK or EOT of a running job the next command goes out first.
  std::string DecodeReply(const std::string& wire);

  // The program cannot go on (its event loop failed): the run ends as the machine decides.
  [[noreturn]] void ResourceFailure(const std::string& reason);

  // Timeout= ran out with no ACK or EOT for the last command.
  [[noreturn]] void ReplyTimedOut();

  const JobState& state() const { return state_; }
  // The program's version, for the log file's first line.
  void SetVersion(const std::string& version) { state_.sVersion = version; }
  RunPhase phase() const { return machine_.phase(); }

 private:
  // Runs one event handler; what it lets escape ends the run with the operator told.
  void Guard(const std::function<void()>& handler);

  JobState state_;
  JobMachine machine_;
  Window& window_;
  ProgramEnd& end_;
  std::unique_ptr<SerialPort> port_;
  Bridge bridge_;
  RunLog log_;
  std::unique_ptr<ReplyTimer> replyTimer_;
};

}  // namespace zelmo
