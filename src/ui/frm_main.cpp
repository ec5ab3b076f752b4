#include "ui/frm_main.h"

#include <exception>

#include "app/checked16.h"
#include "app/print_job.h"
#include "app/shutdown.h"
#include "app/startup.h"
#include "device/replies.h"

namespace zelmo {

FrmMain::FrmMain(Window& window, ProgramEnd& end, std::filesystem::path folder,
                 const PortFactory& makePort, EventLoop* loop)
    : window_(window), end_(end), port_(makePort(*this)), bridge_{state_,  machine_,
                                                                  window_, *port_,
                                                                  end_,    std::move(folder)} {
  bridge_.log = &log_;
  if (!loop) return;
  replyTimer_ = std::make_unique<ReplyTimer>(*loop);
  bridge_.replyTimer = replyTimer_.get();
  bridge_.replyExpired = [this] { ReplyTimedOut(); };
}

WindowHandlers FrmMain::Handlers() {
  return {[this] { Form_Load(); }, [this] { Form_QueryUnload(); }, [this] { btnPrint_Click(); }};
}

void FrmMain::Form_Load() {
  Guard([this] {
    if (StartUp(bridge_)) btnPrintClick(bridge_);
  });
}

void FrmMain::Form_QueryUnload() {
  Finish(bridge_, RunEvent::kCloseRequest);
}

void FrmMain::btnPrint_Click() {
  Guard([this] { btnPrintClick(bridge_); });
}

void FrmMain::Comm_OnComm(int16_t commEvent) {
  Guard([&] {
    if (commEvent != comEvReceive) {
      if (auto line = SerialEventLine(commEvent, state_.iSendPos)) AddEvent(bridge_, *line);
      return;
    }
    const std::string wire = port_->Input();
    if (wire.empty()) return;  // an earlier event already took these bytes
    log_.Received(wire);
    AddEvent(bridge_, DecodeReply(wire));
  });
}

std::string FrmMain::DecodeReply(const std::string& wire) {
  Reply reply = DecodeReplyBytes(wire);
  // Before the job starts a stray ACK must not send anything; it is only logged.
  if (reply.advance && machine_.On(RunEvent::kReply).action == Action::kAdvance) {
    state_.iSendPos = Add16(state_.iSendPos, 1);
    Pecati(bridge_, state_.iSendPos);
  }
  return reply.line;
}

void FrmMain::Comm_OnLineFailure(const std::string& reason) {
  Finish(bridge_, RunEvent::kLineFailure, reason);
}

void FrmMain::ResourceFailure(const std::string& reason) {
  Finish(bridge_, RunEvent::kResourceFailure, reason);
}

void FrmMain::ReplyTimedOut() {
  const std::string seconds = std::to_string(state_.iTimeout);
  std::string detail = "Нема одговор од касата " + seconds + " секунди (Timeout=" + seconds + ").";
  if (port_->OutputHeld()) {
    detail +=
        "\r\nЛинијата не ја прими командата: касата ја држи запрена (CTS ниско). Ако кабелот "
        "или адаптерот нема линија CTS, ставете Handshaking=0.";
  }
  AddEvent(bridge_, detail);
  Finish(bridge_, RunEvent::kReplyTimeout, detail);
}

void FrmMain::Guard(const std::function<void()>& handler) {
  try {
    handler();
  } catch (const DismissedByClose&) {
    Finish(bridge_, RunEvent::kCloseRequest);
  } catch (const BoxUnavailable& e) {
    Finish(bridge_, RunEvent::kResourceFailure, e.reason);
  } catch (const SerialError& e) {
    Finish(bridge_, RunEvent::kLineFailure, e.what());
  } catch (const std::exception& e) {
    Finish(bridge_, RunEvent::kResourceFailure, e.what());
  }
}

}  // namespace zelmo
