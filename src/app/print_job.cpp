#include "app/print_job.h"

#include <algorithm>
#include <string>
#include <system_error>

#include "app/checked16.h"
#include "app/startup.h"
#include "device/frames.h"
#include "device/sequence.h"
#include "receipt/loader.h"
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

void RefuseReceipt(Bridge& b, const std::string& why) {
  b.frmMain.MsgBox("Сметката не може да се испечати: " + why, MsgStyle::kError, "");
  ShutDown(b, ExitStatus::kLoadFailed);
}

// Every command is built before the first goes out: a value that has no place in its field stops
// the job here, with the receipt's line named, and nothing reaches the register.
void BuildCommandTable(Bridge& b) {
  JobState& s = b.state;
  s.sCommands.assign(std::max<std::size_t>(kInitialCommandSlots, s.iStepCount + 1u), "");
  const int16_t last = Add16(s.iStepCount, -1);
  for (int16_t step = 0; step <= last; ++step) {
    try {
      s.sCommands[step] = GetStepCommand(s, step);
    } catch (const FieldRangeError&) {
      const bool itemStep = step > 1 && step < s.iStepCount - 5;
      RefuseReceipt(b, itemStep ? "неисправна вредност во редот " + std::to_string(step - 1) + "."
                                : std::string("вкупниот износ е преголем."));
    }
  }
}

bool LoadIntoJob(Bridge& b) {
  switch (LoadReceipt(b.state.sReceiptFile, b.state, b.frmMain)) {
    case LoadResult::kRefused:
      ShutDown(b, ExitStatus::kOperatorRefused);
    case LoadResult::kFailed:
      return false;
    case LoadResult::kLoaded:
      break;
  }
  try {
    b.state.iStepCount = Add16(b.state.iItemCount, 7);
  } catch (const Overflow16&) {
    return false;  // a receipt too long for the job's 16-bit step numbers
  }
  return true;
}

void DeleteReceipt(Bridge& b) {
  std::error_code ec;
  if (std::filesystem::remove(Utf8ToPath(b.state.sReceiptFile), ec)) return;
  const std::string why = ec ? ec.message() : "датотеката ја нема";
  b.frmMain.AddEvent("Сметката не е избришана: " + b.state.sReceiptFile + ": " + why);
  b.end.End(ExitStatus::kNotDeleted);
}

// The table is used up. Only a job whose every command went out counts as printed.
void EndOfTable(Bridge& b) {
  JobState& s = b.state;
  if (s.phase == JobPhase::kPrepared) b.end.End(ExitStatus::kLoadFailed);
  if (s.phase != JobPhase::kSending) return;  // no job is running: nothing to end
  s.phase = JobPhase::kSent;
  if (s.sClear == "1") DeleteReceipt(b);
  b.end.End(ExitStatus::kSent);
}

}  // namespace

void btnPrintClick(Bridge& b) {
  if (b.state.phase != JobPhase::kIdle) return;
  b.state.phase = JobPhase::kPrepared;
  b.frmMain.SetPrintEnabled(false);
  b.state.dTotal = 0;
  PrepareJob(b);
  int16_t linija = 0;
  Pecati(b, linija);
}

void PrepareJob(Bridge& b) {
  if (b.state.sReceiptFile.empty()) {
    b.frmMain.MsgBox(NoReceiptHelp(b), MsgStyle::kInformation, "Непостоечки фајл...");
    b.end.End(ExitStatus::kNoReceipt);
  }
  if (!LoadIntoJob(b)) {
    b.frmMain.MsgBox("Nemoze da se napolni.", MsgStyle::kPlain, "");
    return;
  }
  BuildCommandTable(b);
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
  b.Comm.Output(command);
  if (s.phase == JobPhase::kPrepared) s.phase = JobPhase::kSending;
  if (linija > 1 && linija < s.iStepCount - 5) {
    b.frmMain.SetLabel("Ја печатам " + std::to_string(linija - 1) + "-та сметка");
  }
  command.clear();
}

}  // namespace zelmo
