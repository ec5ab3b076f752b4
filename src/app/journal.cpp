#include "app/journal.h"

#include <fstream>
#include <optional>
#include <sstream>
#include <system_error>

#include "app/new_file.h"
#include "app/run_log.h"
#include "app/sha256.h"
#include "app/shutdown.h"
#include "sys/paths.h"

namespace zelmo {
namespace {

namespace fs = std::filesystem;

constexpr const char* kDigestKey = "sha256=";

std::optional<std::string> ReadWhole(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream bytes;
  bytes << in.rdbuf();
  if (in.bad()) return std::nullopt;
  return bytes.str();
}

// The digest a journal holds, or empty.
std::string DigestOf(const std::string& journal) {
  const auto at = journal.find(kDigestKey);
  if (at == std::string::npos) return "";
  return journal.substr(at + std::string(kDigestKey).size(), 64);
}

bool PrintAgain(Bridge& b) {
  if (b.state.sPrikaziForma != "1") return false;
  return b.frmMain.MsgBox(
             "Претходното печатење на оваа сметка е прекинато.\r\n"
             "Проверете ја касата: дали сметката е веќе испечатена?\r\n"
             "Да ја испечатам ли повторно?",
             MsgStyle::kQuestion, "") == MsgAnswer::kYes;
}

}  // namespace

void GuardAgainstReprint(Bridge& b) {
  if (!b.state.bJournal) return;
  const fs::path journal = b.folder / kJournalFileName;
  const auto receipt = ReadWhole(Utf8ToPath(b.state.sReceiptFile));
  if (!receipt) Finish(b, RunEvent::kReceiptNotLoaded);
  const std::string digest = Sha256Hex(*receipt);
  if (const auto earlier = ReadWhole(journal)) {
    if (DigestOf(*earlier) == digest) {
      AddEvent(b, "Дневник на прекинато печатење на оваа сметка: " + PathToUtf8(journal));
      if (!PrintAgain(b)) Finish(b, RunEvent::kEarlierRunCutOff);
    } else {
      AddEvent(b, "Дневникот на друга сметка е заменет: " + PathToUtf8(journal));
    }
  }
  const JobState& s = b.state;
  const std::string text = std::string(kDigestKey) + digest + "\r\ntime=" + RunLog::Now() +
                           "\r\nreceipt=" + s.sReceiptFile + "\r\nSettings=" + s.sLineSettings +
                           "\r\nHandshaking=" + std::to_string(s.iHandshaking) + "\r\n";
  try {
    WriteNewFile(journal, text);
  } catch (const NewFileError& e) {
    // Unguarded, the receipt is not sent: a cut-off would leave nothing to find.
    Finish(b, RunEvent::kSettingsFailure, PathToUtf8(journal) + ": " + e.what());
  }
}

void JobWentOut(Bridge& b) {
  if (!b.state.bJournal) return;
  const fs::path journal = b.folder / kJournalFileName;
  std::error_code ec;
  if (!fs::remove(journal, ec) && ec) {
    AddEvent(b, "Дневникот не може да се избрише: " + PathToUtf8(journal) + ": " + ec.message());
  }
}

}  // namespace zelmo
