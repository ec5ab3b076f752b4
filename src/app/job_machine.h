// The print job as a state machine: where the run stands, what can happen to it, and what each
// happening means. This is the one place that decides how a run ends (its exit status and what
// the operator is told); the window and the front-ends only pass events in and carry out what
// comes back.
#pragma once

#include <cstdint>
#include <string>

#include "app/exit_status.h"
#include "app/operator.h"

namespace zelmo {

enum class RunPhase {
  kStartingUp,  // settings, port, receipt choice; nothing sent
  kWaiting,     // shown: waiting for the operator's print button; nothing sent
  kPreparing,   // the job was started: loading, building the table; nothing sent yet
  kEnquiring,   // the enquiry alone is out: a bare ENQ prints nothing
  kSending,     // the first frame that can print went out; the register drives the rest
  kEnded,       // the run's end is decided; nothing else happens
};
inline constexpr int kRunPhaseCount = 6;

enum class RunEvent {
  kReply,              // ACK or EOT from the register: it wants the next command
  kPrintPressed,       // the print button, or start-up starting the job itself (hidden)
  kDefaultRefused,     // a question was answered No, or a product name was missing
  kNoReceipt,          // no smetka.txt was chosen at start-up
  kStornoRefused,      // storna.txt without smetka.txt
  kReceiptNotLoaded,   // the loader could not read the receipt
  kReceiptRefused,     // the receipt cannot be checked or a value has no place on the register
  kSettingsFailure,    // the settings file cannot be examined, made, read or written
  kPortFailure,        // the port would not open
  kLineFailure,        // the line failed (hang-up, write error, device gone)
  kCloseRequest,       // the operator or the system asks the program to close
  kResourceFailure,    // the program itself cannot go on (threads, memory, its event loop)
  kJobSent,            // the table is used up: every command went out
  kReceiptNotDeleted,  // the job went out, but Clear=1 could not delete the receipt
  kReplyTimeout,       // Timeout= ran out with no ACK or EOT for the last command
  kEarlierRunCutOff,   // Journal=1 found this receipt's journal and it is not to be sent again
  kJournalFailure,     // Journal=1: the journal cannot be read, written or removed
};
inline constexpr int kRunEventCount = 17;

enum class Action {
  kNone,      // nothing to do: the event is logged at most
  kStartJob,  // prepare and send the job
  kAdvance,   // send the next command
  kEnd,       // end the run with `status`, after telling the operator
};

// What an event means in a phase. For kEnd, the operator's message is `text`, then (when an
// event brings its own detail) `joiner` and the detail; a run cut off adds what to do.
struct Outcome {
  Action action = Action::kNone;
  ExitStatus status = ExitStatus::kOther;
  const char* text = nullptr;  // nothing: the detail is the whole message, or there is none
  const char* joiner = "\r\n";
  MsgStyle style = MsgStyle::kError;
  const char* title = "";  // empty: the application's title
  bool silent = false;     // the operator was told already
};

// The table: what `event` means in `phase`.
Outcome Decide(RunPhase phase, RunEvent event);

// The message the operator is shown for `outcome` with the event's `detail`; empty for none.
std::string OperatorMessage(const Outcome& outcome, const std::string& detail);

inline constexpr const char* kCheckRegisterText =
    "Проверете дали сметката е испечатена пред повторно печатење.";

// One run's phase, moved by what the table decides.
class JobMachine {
 public:
  RunPhase phase() const { return phase_; }
  // What `event` means now; a kStartJob moves the run to preparing, a kEnd to its end. Once the
  // end is decided, an event that would end the run (a close request while the last message is
  // read) ends it as decided, with nothing more to say.
  Outcome On(RunEvent event);
  // Start-up is done and the shown window waits for its button.
  void Waiting();
  // The enquiry, the job's first command, was handed to the port.
  void EnquirySent();
  // The first frame that can print is about to go to the port: from now on the register may
  // hold part of the receipt.
  void SendingBegins();
  bool SendingBegun() const { return phase_ == RunPhase::kSending; }
  // The status for an end that no event of the table brought about: the one decided already,
  // else as for a failure of the program where the run stands.
  ExitStatus EndStatus() const;

 private:
  RunPhase phase_ = RunPhase::kStartingUp;
  Outcome decided_;  // the end, once the phase is kEnded
};

}  // namespace zelmo
