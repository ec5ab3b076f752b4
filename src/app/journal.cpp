#include "app/journal.h"

#include <system_error>

#include "app/run_log.h"
#include "app/sha256.h"
#include "app/shutdown.h"
#include "sys/durable_file.h"
#include "sys/paths.h"

namespace zelmo {
namespace {

namespace fs = std::filesystem;

fs::path JournalPath(const Bridge& b) {
  return b.folder / kJournalFileName;
}

[[noreturn]] void CannotKeep(Bridge& b, const std::string& reason) {
  Finish(b, RunEvent::kJournalFailure, PathToUtf8(JournalPath(b)) + ": " + reason);
}

bool PrintAgain(Bridge& b) {
  if (b.state.sPrikaziForma != "1") return false;
  return b.frmMain.MsgBox(
             "Претходното печатење на оваа сметка е прекинато.\r\n"
             "Проверете ја касата: дали сметката е веќе испечатена?\r\n"
             "Да ја испечатам ли повторно?",
             MsgStyle::kQuestion, "") == MsgAnswer::kYes;
}

std::string ReceiptDigest(Bridge& b) {
  try {
    if (const auto receipt = sys::ReadFileIfThere(Utf8ToPath(b.state.sReceiptFile))) {
      return Sha256Hex(*receipt);
    }
  } catch (const sys::DurableFileError&) {
  }
  Finish(b, RunEvent::kReceiptNotLoaded);
}

// The operator checked the register and wants it printed: the earlier run's journal has done its
// work. Until this run's first frame there is none, so a run that sends nothing leaves none.
void TakeAwayEarlierJournal(Bridge& b) {
  try {
    sys::RemoveFileDurably(JournalPath(b));
  } catch (const sys::DurableFileError& e) {
    CannotKeep(b, e.what());
  }
}

}  // namespace

void LookForEarlierRun(Bridge& b) {
  if (!b.state.bJournal) return;
  JobState& s = b.state;
  s.sReceiptDigest = ReceiptDigest(b);
  std::optional<std::string> earlier;
  try {
    earlier = sys::ReadFileIfThere(JournalPath(b));
  } catch (const sys::DurableFileError& e) {
    CannotKeep(b, e.what());
  }
  if (!earlier) return;
  const std::string digest = DigestIn(*earlier);
  // A journal that names no receipt may be of this one: it is not taken for none.
  if (digest.empty()) CannotKeep(b, "не содржи sha256= на сметка");
  if (digest != s.sReceiptDigest) {
    s.bOtherJournal = true;
    return;
  }
  AddEvent(b, "Дневник на прекинато печатење на оваа сметка: " + PathToUtf8(JournalPath(b)));
  if (!PrintAgain(b)) Finish(b, RunEvent::kEarlierRunCutOff);
  TakeAwayEarlierJournal(b);
}

void WriteJournal(Bridge& b) {
  if (!b.state.bJournal) return;
  const JobState& s = b.state;
  const std::string text = JournalText(
      {s.sReceiptDigest, RunLog::Now(), s.sReceiptFile, s.sLineSettings, s.iHandshaking});
  try {
    sys::WriteFileDurably(JournalPath(b), text);
  } catch (const sys::DurableFileError& e) {
    // Unguarded, the receipt is not sent: a cut-off would leave nothing to find. A journal that
    // got its name but not its folder's flush goes too, as this run sends nothing.
    std::error_code ignored;
    if (e.step().find("folder") != std::string::npos) fs::remove(JournalPath(b), ignored);
    CannotKeep(b, e.what());
  }
  if (s.bOtherJournal) {
    AddEvent(b, "Дневникот на друга сметка е заменет: " + PathToUtf8(JournalPath(b)));
  }
}

void JobWentOut(Bridge& b) {
  if (!b.state.bJournal) return;
  try {
    sys::RemoveFileDurably(JournalPath(b));
  } catch (const sys::DurableFileError& e) {
    AddEvent(b, "Дневникот не може да се избрише: " + PathToUtf8(JournalPath(b)) + ": " + e.what());
  }
}

}  // namespace zelmo
