#include "app/print_job.h"

#include <algorithm>
#include <string>
#include <system_error>

#include "app/checked16.h"
#include "app/journal.h"
#include "app/shutdown.h"
#include "device/frames.h"
#include "device/sequence.h"
#include "receipt/loader.h"
#include "sys/durable_file.h"
#include "sys/paths.h"

namespace zelmo {
namespace {

// The help the operator gets when there is no receipt; the folder stands between apostrophes.
std::string NoReceiptHelp(const Bridge& b) {
  return "Немате сметка за печатење.\r\n"
         "\r\n"
         "Во патеката '" +
         PathToUtf8(b.folder) +
         "\\' ставете ја сметката за печатење со назив 'Smetka.txt' и тоа во следниов формат:\r\n"
         "\r\n"
         "Назив на производот - со должина не подолга од 18 знаци\r\n"
         "Количина - со должина на децималата не поголема од 3 места\r\n"
         "Тип на данок - со должина од 1 знак и тоа А,Б или 'B'\r\n"
         "Единачна цена на производот - со должина на децималата не поголема од 2 места\r\n"
         "\r\n"
         "Сите вредности меѓусебно се одделени со (;) точка-запирка и без празен простор.";
}

// The items as the print sequence reads them.
std::vector<StepItem> ItemsOf(const JobState& s) {
  std::vector<StepItem> items;
  items.reserve(s.aItems.size());
  for (const ReceiptItem& item : s.aItems) {
    items.push_back({item.sName, item.dQuantity, item.sTaxCode, item.dUnitPrice});
  }
  return items;
}

// Every command is built before the first goes out: a value that has no place in its field stops
// the job here, with the receipt's line named, and nothing reaches the register.
void BuildCommandTable(Bridge& b) {
  JobState& s = b.state;
  s.sCommands.assign(std::max<std::size_t>(kInitialCommandSlots, s.iStepCount + 1u), "");
  const int16_t last = Add16(s.iStepCount, -1);
  const JobSteps steps{s.iStepCount, s.iReceiptKind, s.dTotal, ItemsOf(s)};
  for (int16_t step = 0; step <= last; ++step) {
    try {
      s.sCommands[step] = GetStepCommand(steps, step);
    } catch (const FieldRangeError&) {
      const bool itemStep = step > 1 && step < s.iStepCount - 5;
      Finish(b, RunEvent::kReceiptRefused,
             itemStep ? "неисправна вредност во редот " + std::to_string(step - 1) + "."
                      : std::string("вкупниот износ е преголем."));
    }
  }
}

void LoadIntoJob(Bridge& b) {
  switch (LoadReceipt(b.state.sReceiptFile, b.state, b.frmMain)) {
    case LoadResult::kRefused:
      Finish(b, RunEvent::kDefaultRefused);
    case LoadResult::kFailed:
      Finish(b, RunEvent::kReceiptNotLoaded);
    case LoadResult::kLoaded:
      break;
  }
  try {
    b.state.iStepCount = Add16(b.state.iItemCount, 7);
  } catch (const Overflow16&) {
    Finish(b, RunEvent::kReceiptNotLoaded);  // too long for the job's 16-bit step numbers
  }
}

// The receipt went out whole; what is left is its file. When that stays (or its removal may not
// outlast a power cut), the operator must know that it was printed all the same.
void DeleteReceipt(Bridge& b) {
  std::string why = "датотеката ја нема";
  try {
    if (sys::RemoveFileDurably(Utf8ToPath(b.state.sReceiptFile))) return;
  } catch (const sys::DurableFileError& e) {
    why = e.what();
  }
  const std::string detail = b.state.sReceiptFile + ": " + why;
  AddEvent(b, "Сметката не е избришана: " + detail);
  Finish(b, RunEvent::kReceiptNotDeleted, detail);
}

// The reply's time limit needs its thread: made now, so that a program that cannot make it
// ends before anything is sent.
void ReadyReplyTimer(Bridge& b) {
  if (b.state.iTimeout > 0 && b.replyTimer && b.replyExpired) b.replyTimer->Start();
}

// The table is used up. Only a job whose every command went out counts as printed; before the
// job (a stray ACK in the shown mode) nothing ends.
void EndOfTable(Bridge& b) {
  if (!b.machine.SendingBegun()) return;
  if (b.state.sClear == "1") DeleteReceipt(b);
  JobWentOut(b);
  Finish(b, RunEvent::kJobSent);
}

}  // namespace

void btnPrintClick(Bridge& b) {
  if (Happened(b, RunEvent::kPrintPressed).action != Action::kStartJob) return;
  b.frmMain.SetPrintEnabled(false);
  b.state.dTotal = 0;
  PrepareJob(b);
  int16_t linija = 0;
  Pecati(b, linija);
}

void PrepareJob(Bridge& b) {
  if (b.state.sReceiptFile.empty()) {
    Finish(b, RunEvent::kNoReceipt, NoReceiptHelp(b));
  }
  LoadIntoJob(b);
  BuildCommandTable(b);
  LookForEarlierRun(b);
  ReadyReplyTimer(b);
}

void Pecati(Bridge& b, int16_t& linija) {
  JobState& s = b.state;
  if (linija < 0 || static_cast<std::size_t>(linija) >= s.sCommands.size() ||
      s.sCommands[linija].empty()) {
    s.iSendPos = 0;
    linija = 0;
  }
  std::string& command = s.sCommands[linija];
  if (command.empty()) return EndOfTable(b);
  // A close request that came while this job was being prepared or while the last command
  // travelled is taken now, before another byte goes out.
  if (b.frmMain.CloseRequested()) Finish(b, RunEvent::kCloseRequest);
  // The job opens with the enquiry, which prints nothing. The frame after it may print: its
  // journal is on the disk first, and from its first byte on the register may hold part of it.
  const RunPhase phase = b.machine.phase();
  if (phase == RunPhase::kEnquiring) {
    WriteJournal(b);
    b.machine.SendingBegins();
  }
  b.Comm.Output(command);
  if (b.log) b.log->Sent(command);
  if (phase == RunPhase::kPreparing) b.machine.EnquirySent();
  // The wait for this command's ACK or EOT, and for the line to take it, has its limit.
  if (s.iTimeout > 0 && b.replyTimer && b.replyExpired) {
    b.replyTimer->Arm(std::chrono::seconds(s.iTimeout), b.replyExpired);
  }
  if (linija > 1 && linija < s.iStepCount - 5) {
    b.frmMain.SetLabel("Ја печатам " + std::to_string(linija - 1) + "-та сметка");
  }
  command.clear();
}

}  // namespace zelmo
