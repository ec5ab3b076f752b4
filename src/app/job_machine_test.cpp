// The table that decides every end of a run, checked cell by cell against an expectation written
// out here, and against the README's exit-status table that point-of-sale programs read.
#include "app/job_machine.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <regex>
#include <sstream>

namespace zelmo {
namespace {

using E = RunEvent;
using P = RunPhase;
using S = ExitStatus;

constexpr P kPhases[] = {P::kStartingUp, P::kWaiting, P::kPreparing,
                         P::kEnquiring,  P::kSending, P::kEnded};

// What each event must mean in each phase: an action, or the status the run ends with.
struct Cell {
  Action action;
  S status = S::kOther;
};
constexpr Cell Go{Action::kNone};
constexpr Cell Start{Action::kStartJob};
constexpr Cell Next{Action::kAdvance};
constexpr Cell Ends(S s) {
  return {Action::kEnd, s};
}

struct Expected {
  E event;
  Cell startingUp, waiting, preparing, enquiring, sending;
};

const Expected kExpected[] = {
    {E::kReply, Go, Go, Go, Next, Next},
    {E::kPrintPressed, Start, Start, Go, Go, Go},
    {E::kDefaultRefused, Ends(S::kOperatorRefused), Ends(S::kOperatorRefused),
     Ends(S::kOperatorRefused), Ends(S::kOperatorRefused), Ends(S::kCutOff)},
    {E::kNoReceipt, Ends(S::kNoReceipt), Ends(S::kNoReceipt), Ends(S::kNoReceipt),
     Ends(S::kNoReceipt), Ends(S::kCutOff)},
    {E::kStornoRefused, Ends(S::kStornoRefused), Ends(S::kStornoRefused), Ends(S::kStornoRefused),
     Ends(S::kStornoRefused), Ends(S::kCutOff)},
    {E::kReceiptNotLoaded, Ends(S::kLoadFailed), Ends(S::kLoadFailed), Ends(S::kLoadFailed),
     Ends(S::kLoadFailed), Ends(S::kCutOff)},
    {E::kReceiptRefused, Ends(S::kLoadFailed), Ends(S::kLoadFailed), Ends(S::kLoadFailed),
     Ends(S::kLoadFailed), Ends(S::kCutOff)},
    {E::kSettingsFailure, Ends(S::kConfigError), Ends(S::kConfigError), Ends(S::kConfigError),
     Ends(S::kConfigError), Ends(S::kCutOff)},
    {E::kPortFailure, Ends(S::kPortFailed), Ends(S::kPortFailed), Ends(S::kPortFailed),
     Ends(S::kPortFailed), Ends(S::kCutOff)},
    // With the enquiry alone out, every failure is one before anything that can print.
    {E::kLineFailure, Ends(S::kPortFailed), Ends(S::kPortFailed), Ends(S::kPortFailed),
     Ends(S::kPortFailed), Ends(S::kCutOff)},
    {E::kCloseRequest, Ends(S::kClosedBeforeSend), Ends(S::kClosedBeforeSend),
     Ends(S::kClosedBeforeSend), Ends(S::kClosedBeforeSend), Ends(S::kCutOff)},
    {E::kResourceFailure, Ends(S::kOther), Ends(S::kOther), Ends(S::kOther), Ends(S::kOther),
     Ends(S::kCutOff)},
    {E::kJobSent, Go, Go, Go, Go, Ends(S::kSent)},
    {E::kReceiptNotDeleted, Go, Go, Go, Go, Ends(S::kNotDeleted)},
    {E::kReplyTimeout, Go, Go, Go, Ends(S::kPortFailed), Ends(S::kCutOff)},
    {E::kEarlierRunCutOff, Ends(S::kEarlierRunCutOff), Ends(S::kEarlierRunCutOff),
     Ends(S::kEarlierRunCutOff), Ends(S::kEarlierRunCutOff), Ends(S::kCutOff)},
    {E::kJournalFailure, Ends(S::kOther), Ends(S::kOther), Ends(S::kOther), Ends(S::kOther),
     Ends(S::kCutOff)},
};
static_assert(std::size(kExpected) == kRunEventCount);

TEST(JobMachine, EveryPhaseAndEventMeansWhatTheTableSays) {
  for (const Expected& row : kExpected) {
    const Cell cells[] = {row.startingUp, row.waiting, row.preparing,
                          row.enquiring,  row.sending, Go};
    for (int p = 0; p < kRunPhaseCount; ++p) {
      SCOPED_TRACE("event " + std::to_string(static_cast<int>(row.event)) + ", phase " +
                   std::to_string(p));
      const Outcome got = Decide(kPhases[p], row.event);
      EXPECT_EQ(got.action, cells[p].action);
      if (cells[p].action == Action::kEnd) {
        EXPECT_EQ(got.status, cells[p].status);
      }
    }
  }
}

// The promise behind every status: before the first frame that can print nothing can have been
// printed (the enquiry alone prints nothing); after it only the end of the table is a printed
// receipt, and every other end says to check the register.
TEST(JobMachine, AnEndBeforeSendingIsSafeToRetryAndAfterItNeverIs) {
  for (int e = 0; e < kRunEventCount; ++e) {
    for (P phase : kPhases) {
      const Outcome o = Decide(phase, static_cast<E>(e));
      if (o.action != Action::kEnd) continue;
      SCOPED_TRACE("event " + std::to_string(e) + ", status " +
                   std::to_string(static_cast<int>(o.status)));
      // This run sent nothing, but an earlier one of the same receipt may have.
      if (static_cast<E>(e) == E::kEarlierRunCutOff && phase != P::kSending) {
        EXPECT_EQ(SafetyOf(o.status), Safety::kCheckRegister);
        continue;
      }
      if (phase != P::kSending) {
        EXPECT_EQ(SafetyOf(o.status), Safety::kNothingSent);
        continue;
      }
      const bool whole =
          static_cast<E>(e) == E::kJobSent || static_cast<E>(e) == E::kReceiptNotDeleted;
      EXPECT_EQ(SafetyOf(o.status), whole ? Safety::kPrinted : Safety::kCheckRegister);
      const std::string text = OperatorMessage(o, "detail");
      if (o.status == S::kCutOff) {
        EXPECT_NE(text.find(kCheckRegisterText), std::string::npos) << text;
      }
    }
  }
}

TEST(JobMachine, TheOperatorsMessagesAreTheSystemsOwn) {
  struct Case {
    P phase;
    E event;
    std::string detail, text;
    MsgStyle style;
    std::string title;
  } cases[] = {
      {P::kSending, E::kLineFailure, "hang-up",
       "Врската со фискалната каса е прекината.\r\nhang-up\r\n"
       "Проверете дали сметката е испечатена пред повторно печатење.",
       MsgStyle::kError, ""},
      {P::kPreparing, E::kLineFailure, "hang-up",
       "Врската со фискалната каса е прекината.\r\nhang-up", MsgStyle::kError, ""},
      {P::kSending, E::kCloseRequest, "",
       "Печатењето е прекинато: програмата е затворена.\r\n"
       "Проверете дали сметката е испечатена пред повторно печатење.",
       MsgStyle::kError, ""},
      {P::kWaiting, E::kCloseRequest, "", "", MsgStyle::kError, ""},
      {P::kStartingUp, E::kStornoRefused, "", "Сторното не е возможно.", MsgStyle::kInformation,
       "Сторно сметка..."},
      {P::kPreparing, E::kReceiptNotLoaded, "", "Nemoze da se napolni.", MsgStyle::kPlain, ""},
      {P::kPreparing, E::kReceiptRefused, "неисправна вредност во редот 2.",
       "Сметката не може да се испечати: неисправна вредност во редот 2.", MsgStyle::kError, ""},
      {P::kStartingUp, E::kSettingsFailure, "/x/Zelmocfg.ini: Input/output error",
       "Грешка во ini Фајлот.\r\n/x/Zelmocfg.ini: Input/output error", MsgStyle::kError, ""},
      {P::kWaiting, E::kNoReceipt, "help", "help", MsgStyle::kInformation, "Непостоечки фајл..."},
      {P::kSending, E::kReceiptNotDeleted, "/x/smetka.txt: Permission denied",
       "Сметката е испечатена: не печатете ја повторно.\r\n"
       "Датотеката на сметката не може да се избрише:\r\n/x/smetka.txt: Permission denied",
       MsgStyle::kError, ""},
      {P::kStartingUp, E::kResourceFailure, "Resource temporarily unavailable",
       "Програмата не може да продолжи.\r\nResource temporarily unavailable", MsgStyle::kError, ""},
      {P::kEnquiring, E::kReplyTimeout, "Нема одговор од касата 2 секунди (Timeout=2).",
       "Фискалната каса не одговара.\r\nНема одговор од касата 2 секунди (Timeout=2).",
       MsgStyle::kError, ""},
      {P::kSending, E::kReplyTimeout, "Нема одговор од касата 2 секунди (Timeout=2).",
       "Фискалната каса престана да одговара.\r\nНема одговор од касата 2 секунди (Timeout=2).\r\n"
       "Проверете дали сметката е испечатена пред повторно печатење.",
       MsgStyle::kError, ""},
      {P::kEnquiring, E::kCloseRequest, "", "", MsgStyle::kError, ""},
      {P::kPreparing, E::kJournalFailure, "/x/smetka.jrn: Permission denied",
       "Дневникот на печатењето (Journal=1) не може да се води: ништо не е испратено.\r\n"
       "/x/smetka.jrn: Permission denied",
       MsgStyle::kError, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const Outcome o = Decide(c.phase, c.event);
    EXPECT_EQ(OperatorMessage(o, c.detail), c.text);
    EXPECT_EQ(o.style, c.style);
    EXPECT_EQ(std::string(o.title), c.title);
  }
}

TEST(JobMachine, PhasesMoveOnlyForwards) {
  JobMachine m;
  EXPECT_EQ(m.phase(), P::kStartingUp);
  m.SendingBegins();  // nothing was started: nothing is sending
  EXPECT_EQ(m.phase(), P::kStartingUp);
  m.Waiting();
  EXPECT_EQ(m.phase(), P::kWaiting);
  EXPECT_EQ(m.On(E::kReply).action, Action::kNone);  // a stray ACK sends nothing
  EXPECT_EQ(m.On(E::kPrintPressed).action, Action::kStartJob);
  EXPECT_EQ(m.phase(), P::kPreparing);
  EXPECT_EQ(m.On(E::kPrintPressed).action, Action::kNone);  // a second press restarts nothing
  m.Waiting();
  EXPECT_EQ(m.phase(), P::kPreparing);
  m.EnquirySent();
  EXPECT_EQ(m.phase(), P::kEnquiring);
  EXPECT_FALSE(m.SendingBegun());
  EXPECT_EQ(m.On(E::kReply).action, Action::kAdvance);  // the enquiry's answer: the first frame
  m.SendingBegins();
  EXPECT_TRUE(m.SendingBegun());
  m.EnquirySent();  // the second enquiry of the job is part of the sending
  EXPECT_EQ(m.phase(), P::kSending);
  EXPECT_EQ(m.On(E::kReply).action, Action::kAdvance);
  const Outcome end = m.On(E::kLineFailure);
  EXPECT_EQ(end.status, S::kCutOff);
  EXPECT_EQ(m.phase(), P::kEnded);
  EXPECT_EQ(m.EndStatus(), S::kCutOff);
  // An ended run stays ended as it was decided: a close request while the operator reads the
  // last message changes nothing, and says nothing more.
  for (int e = 0; e < kRunEventCount; ++e) {
    const Outcome again = m.On(static_cast<E>(e));
    if (static_cast<E>(e) == E::kReply || static_cast<E>(e) == E::kPrintPressed) {
      EXPECT_EQ(again.action, Action::kNone);
      continue;
    }
    EXPECT_EQ(again.action, Action::kEnd) << e;
    EXPECT_EQ(again.status, S::kCutOff) << e;
    EXPECT_EQ(OperatorMessage(again, "detail"), "") << e;
  }
}

TEST(JobMachine, AnEndNoEventBroughtAboutIsAFailureWhereTheRunStands) {
  JobMachine m;
  EXPECT_EQ(m.EndStatus(), S::kOther);
  m.On(E::kPrintPressed);
  m.EnquirySent();
  EXPECT_EQ(m.EndStatus(), S::kOther);
  m.SendingBegins();
  EXPECT_EQ(m.EndStatus(), S::kCutOff);
}

// --- the README's table --------------------------------------------------------------------------

std::optional<std::string> ReadReadme() {
  const std::filesystem::path readme =
      std::filesystem::path(__FILE__).parent_path().parent_path().parent_path() / "README.md";
  std::ifstream in(readme, std::ios::binary);
  if (!in) return std::nullopt;
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Rows "| 3 | meaning | safe to print again? |" of the table under "### Exit status".
std::map<int, std::string> ReadmeStatuses(const std::string& readme) {
  std::map<int, std::string> rows;
  const std::size_t start = readme.find("### Exit status");
  if (start == std::string::npos) return rows;
  std::istringstream lines(readme.substr(start));
  const std::regex row(R"(^\| (\d+) \| .* \| ([^|]+) \|$)");
  bool inTable = false;
  for (std::string line; std::getline(lines, line);) {
    std::smatch m;
    if (std::regex_match(line, m, row)) {
      rows[std::stoi(m[1])] = m[2];
      inTable = true;
    } else if (inTable && line.rfind("|", 0) != 0) {
      break;
    }
  }
  return rows;
}

// What the README's last column must begin with for each promise.
const char* ReadmeWords(Safety safety) {
  switch (safety) {
    case Safety::kNothingSent:
      return "Nothing was sent";
    case Safety::kPrinted:
      return "It is printed";
    case Safety::kCheckRegister:
      return "Unknown";
  }
  return "";
}

TEST(ExitStatusTable, TheReadmeListsEveryStatusWithTheSamePromise) {
  const std::optional<std::string> readme = ReadReadme();
#ifdef _WIN32
  if (!readme) GTEST_SKIP() << "the sources are not visible from this Windows test";
#endif
  ASSERT_TRUE(readme) << "README.md beside the sources";
  const std::map<int, std::string> rows = ReadmeStatuses(*readme);
  std::map<int, Safety> code;
  for (const StatusRow& row : ExitStatusTable()) code[static_cast<int>(row.status)] = row.safety;
  ASSERT_EQ(rows.size(), code.size()) << "the README's table and the code's list other statuses";
  for (const auto& [status, safety] : code) {
    SCOPED_TRACE("status " + std::to_string(status));
    ASSERT_EQ(rows.count(status), 1u);
    EXPECT_EQ(rows.at(status).rfind(ReadmeWords(safety), 0), 0u) << rows.at(status);
  }
}

TEST(ExitStatusTable, HelpListsEveryStatusOnce) {
  const std::string help = UsageStatusList();
  for (const StatusRow& row : ExitStatusTable()) {
    const std::string item = std::to_string(static_cast<int>(row.status)) + " " + row.brief;
    std::string flat = help;
    for (char& c : flat) {
      if (c == '\n') c = ' ';
    }
    EXPECT_NE(flat.find(item), std::string::npos) << item;
  }
  std::istringstream lines(help);
  for (std::string line; std::getline(lines, line);) EXPECT_LE(line.size(), 94u) << line;
}

}  // namespace
}  // namespace zelmo
