#include "app/job_machine.h"

namespace zelmo {
namespace {

using S = ExitStatus;

constexpr Outcome kGoOn{};
constexpr Outcome kStart{Action::kStartJob};
constexpr Outcome kNext{Action::kAdvance};

constexpr Outcome End(S status, const char* text = nullptr, const char* joiner = "\r\n",
                      MsgStyle style = MsgStyle::kError, const char* title = "") {
  return {Action::kEnd, status, text, joiner, style, title};
}

constexpr const char* kLineGone = "Врската со фискалната каса е прекината.";
constexpr const char* kClosedMidJob = "Печатењето е прекинато: програмата е затворена.";
constexpr const char* kCannotGoOn = "Програмата не може да продолжи.";
constexpr const char* kIniError = "Грешка во ini Фајлот.";
constexpr const char* kNoAnswerText = "Фискалната каса не одговара.";
constexpr const char* kStoppedAnswering = "Фискалната каса престана да одговара.";

constexpr const char* kJournalText =
    "Дневникот на печатењето (Journal=1) не може да се води: ништо не е испратено.";

// Before the first frame that can print goes out a failure is safe to retry (the enquiry alone
// prints nothing); after it the register may hold part of the receipt, and every end is a
// cut-off but the end of the table itself.
struct Row {
  RunEvent event;
  Outcome startingUp, waiting, preparing, enquiring, sending;
};

constexpr Outcome kLineBefore = End(S::kPortFailed, kLineGone);
constexpr Outcome kLineAfter = End(S::kCutOff, kLineGone);
constexpr Outcome kResourceBefore = End(S::kOther, kCannotGoOn);
constexpr Outcome kResourceAfter = End(S::kCutOff, kCannotGoOn);
constexpr Outcome kNoReceiptHelp =
    End(S::kNoReceipt, nullptr, "", MsgStyle::kInformation, "Непостоечки фајл...");
constexpr Outcome kNotLoaded = End(S::kLoadFailed, "Nemoze da se napolni.", "", MsgStyle::kPlain);
constexpr Outcome kRefused = End(S::kLoadFailed, "Сметката не може да се испечати:", " ");
constexpr Outcome kStorno = End(S::kStornoRefused, "Сторното не е возможно.", "",
                                MsgStyle::kInformation, "Сторно сметка...");
constexpr Outcome kSettings = End(S::kConfigError, kIniError);
// The guard cannot be kept: the program's own failure, and nothing that can print was sent.
constexpr Outcome kJournal = End(S::kOther, kJournalText);

constexpr Outcome kEarlierCutOff = End(
    S::kEarlierRunCutOff,
    "Претходното печатење на оваа сметка е прекинато: проверете ја касата. Ништо не е испратено.");

constexpr Row kTable[] = {
    // event, then what it means while starting up, waiting, preparing, enquiring and sending
    {RunEvent::kReply, kGoOn, kGoOn, kGoOn, kNext, kNext},
    {RunEvent::kPrintPressed, kStart, kStart, kGoOn, kGoOn, kGoOn},
    {RunEvent::kDefaultRefused, End(S::kOperatorRefused), End(S::kOperatorRefused),
     End(S::kOperatorRefused), End(S::kOperatorRefused), End(S::kCutOff)},
    {RunEvent::kNoReceipt, kNoReceiptHelp, kNoReceiptHelp, kNoReceiptHelp, kNoReceiptHelp,
     End(S::kCutOff)},
    {RunEvent::kStornoRefused, kStorno, kStorno, kStorno, kStorno, End(S::kCutOff)},
    {RunEvent::kReceiptNotLoaded, kNotLoaded, kNotLoaded, kNotLoaded, kNotLoaded, End(S::kCutOff)},
    {RunEvent::kReceiptRefused, kRefused, kRefused, kRefused, kRefused, End(S::kCutOff)},
    {RunEvent::kSettingsFailure, kSettings, kSettings, kSettings, kSettings,
     End(S::kCutOff, kIniError)},
    {RunEvent::kPortFailure, End(S::kPortFailed), End(S::kPortFailed), End(S::kPortFailed),
     kLineBefore, kLineAfter},
    {RunEvent::kLineFailure, kLineBefore, kLineBefore, kLineBefore, kLineBefore, kLineAfter},
    {RunEvent::kCloseRequest, End(S::kClosedBeforeSend), End(S::kClosedBeforeSend),
     End(S::kClosedBeforeSend), End(S::kClosedBeforeSend), End(S::kCutOff, kClosedMidJob)},
    {RunEvent::kResourceFailure, kResourceBefore, kResourceBefore, kResourceBefore, kResourceBefore,
     kResourceAfter},
    {RunEvent::kJobSent, kGoOn, kGoOn, kGoOn, kGoOn, End(S::kSent)},
    {RunEvent::kReceiptNotDeleted, kGoOn, kGoOn, kGoOn, kGoOn,
     End(S::kNotDeleted,
         "Сметката е испечатена: не печатете ја повторно.\r\n"
         "Датотеката на сметката не може да се избрише:")},
    // A register silent since the enquiry was sent that alone: nothing was printed.
    {RunEvent::kReplyTimeout, kGoOn, kGoOn, kGoOn, End(S::kPortFailed, kNoAnswerText),
     End(S::kCutOff, kStoppedAnswering)},
    {RunEvent::kEarlierRunCutOff, kEarlierCutOff, kEarlierCutOff, kEarlierCutOff, kEarlierCutOff,
     End(S::kCutOff)},
    {RunEvent::kJournalFailure, kJournal, kJournal, kJournal, kJournal,
     End(S::kCutOff, kJournalText)},
};
static_assert(std::size(kTable) == kRunEventCount, "one row per event");

}  // namespace

Outcome Decide(RunPhase phase, RunEvent event) {
  for (const Row& row : kTable) {
    if (row.event != event) continue;
    switch (phase) {
      case RunPhase::kStartingUp:
        return row.startingUp;
      case RunPhase::kWaiting:
        return row.waiting;
      case RunPhase::kPreparing:
        return row.preparing;
      case RunPhase::kEnquiring:
        return row.enquiring;
      case RunPhase::kSending:
        return row.sending;
      case RunPhase::kEnded:
        return kGoOn;  // the end is decided already
    }
  }
  return kGoOn;
}

std::string OperatorMessage(const Outcome& outcome, const std::string& detail) {
  if (outcome.silent) return "";
  std::string text = outcome.text ? outcome.text : "";
  if (!detail.empty()) text += (text.empty() ? "" : outcome.joiner) + detail;
  if (outcome.status == ExitStatus::kCutOff) {
    text += (text.empty() ? "" : "\r\n") + std::string(kCheckRegisterText);
  }
  return text;
}

Outcome JobMachine::On(RunEvent event) {
  if (phase_ == RunPhase::kEnded) {
    if (event == RunEvent::kReply || event == RunEvent::kPrintPressed) return kGoOn;
    Outcome again{Action::kEnd, decided_.status};
    again.silent = true;
    return again;
  }
  const Outcome outcome = Decide(phase_, event);
  if (outcome.action == Action::kStartJob) phase_ = RunPhase::kPreparing;
  if (outcome.action == Action::kEnd) {
    phase_ = RunPhase::kEnded;
    decided_ = outcome;
  }
  return outcome;
}

ExitStatus JobMachine::EndStatus() const {
  if (phase_ == RunPhase::kEnded) return decided_.status;
  return Decide(phase_, RunEvent::kResourceFailure).status;
}

void JobMachine::Waiting() {
  if (phase_ == RunPhase::kStartingUp) phase_ = RunPhase::kWaiting;
}

void JobMachine::EnquirySent() {
  if (phase_ == RunPhase::kPreparing) phase_ = RunPhase::kEnquiring;
}

void JobMachine::SendingBegins() {
  if (phase_ == RunPhase::kPreparing || phase_ == RunPhase::kEnquiring) {
    phase_ = RunPhase::kSending;
  }
}

}  // namespace zelmo
