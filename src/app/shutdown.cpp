#include "app/shutdown.h"

#include <cstdlib>
#include <exception>

namespace zelmo {

void ShutDown(Bridge& b, ExitStatus status) {
  if (b.Comm.PortOpen()) b.Comm.SetPortOpen(false);
  b.frmMain.Unload();
  if (b.log) b.log->End(static_cast<int>(status));
  b.end.End(status);
  std::abort();  // an ending that returned: never go on with the run
}

Outcome Happened(Bridge& b, RunEvent event, const std::string& detail) {
  const Outcome outcome = b.machine.On(event);
  if (outcome.action != Action::kEnd) return outcome;
  // The end is decided: a time-out must not cut short the operator reading why.
  if (b.replyTimer) b.replyTimer->Disarm();
  // The line is let go before the operator is asked to read anything: the register is not held
  // while a box waits.
  if (b.Comm.PortOpen()) b.Comm.SetPortOpen(false);
  const std::string text = OperatorMessage(outcome, detail);
  if (b.log && !text.empty()) b.log->Line("message: " + text);
  if (!text.empty()) {
    try {
      b.frmMain.MsgBox(text, outcome.style, outcome.title);
    } catch (const DismissedByClose&) {
      // Closed while the operator read it: the end is decided already.
    } catch (const BoxUnavailable&) {
      // Nobody can be told (no thread, no memory): the status still says it.
    } catch (const std::exception&) {
    }
  }
  ShutDown(b, outcome.status);
}

void Finish(Bridge& b, RunEvent event, const std::string& detail) {
  Happened(b, event, detail);
  // Every event this is used for ends the run wherever it can happen; this is for the rest.
  ShutDown(b, b.machine.EndStatus());
}

}  // namespace zelmo
