// Journal=1 on the real program. The journal goes on the disk just before the first frame that
// can print: a run that ends before it (the enquiry alone out, which prints nothing) leaves none
// and the same receipt simply goes out on the next run; a run that ends after it without the
// whole job keeps it, and the next run sends nothing unasked (11).
#include <signal.h>

#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "harness.h"

namespace e2e {
namespace {

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

const std::string kReceipt = "Sugar 1kg;2;A;12.50\r\n";  // a job of 8 commands
constexpr int kCommands = 8;
constexpr std::size_t kJobBytes = 1 + 45 + 69 + 1 + 1 + 45 + 69 + 1;
const std::string kHiddenJournal = "Seriska=1\r\nPrikaziForma=0\r\nDelimiter=;\r\nJournal=1\r\n";
constexpr const char* kEarlierCutOff = "Претходното печатење на оваа сметка е прекинато";

// What the register has been sent, once it has stopped growing.
std::string SettledReceived(const Register& reg) {
  std::string last = reg.Received();
  for (int i = 0; i < 100; ++i) {
    std::this_thread::sleep_for(100ms);
    const std::string now = reg.Received();
    if (now == last && !now.empty()) return now;
    last = now;
  }
  return last;
}

// A run killed with SIGKILL while it waits for the answer to command `k` (1-based); what had
// reached the register.
std::string KilledAt(Scratch& scratch, int k) {
  Register reg(scratch, {"--silent-after", std::to_string(k - 1)});
  scratch.Config(reg.device(), kHiddenJournal);
  Process zelmo({ZelmoBin(), "--console", "--dir", scratch.dir().string()});
  const std::string received = SettledReceived(reg);
  zelmo.Signal(SIGKILL);
  EXPECT_EQ(zelmo.Wait().status, 128 + SIGKILL);
  return received;
}

// The next run against a register that answers everything: 0 with the whole job, or 11 with
// nothing sent.
void ExpectNextRun(Scratch& scratch, bool journalKept) {
  Register reg(scratch);
  scratch.Config(reg.device(), kHiddenJournal);
  const Finished again = RunZelmo(scratch);
  if (journalKept) {
    EXPECT_EQ(again.status, 11) << again.err;
    EXPECT_TRUE(Has(again.err, kEarlierCutOff)) << again.err;
    EXPECT_EQ(reg.Received(), "");
    EXPECT_TRUE(scratch.Exists("smetka.jrn"));
  } else {
    EXPECT_EQ(again.status, 0) << again.err;
    reg.Wait();
    EXPECT_EQ(reg.Received().size(), kJobBytes);
    EXPECT_FALSE(scratch.Exists("smetka.jrn"));
  }
  EXPECT_TRUE(scratch.Exists("smetka.txt"));
}

TEST(Journal, AReceiptKilledAtAnyCommandIsRetriedCleanOnlyBeforeItsFirstFrame) {
  std::string before;
  for (int k = 1; k <= kCommands; ++k) {
    SCOPED_TRACE("killed at command " + std::to_string(k));
    Scratch scratch;
    scratch.Write("smetka.txt", kReceipt);
    const std::string received = KilledAt(scratch, k);
    // Each kill came one command later: the first after the enquiry alone.
    if (k == 1) {
      EXPECT_EQ(received, "\x05");
    }
    EXPECT_GT(received.size(), before.size());
    EXPECT_EQ(received.compare(0, before.size(), before), 0);
    before = received;
    EXPECT_EQ(scratch.Exists("smetka.jrn"), k > 1);
    ExpectNextRun(scratch, k > 1);
  }
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// zelmo under strace with `options`; strace's log.
struct Traced {
  Finished run;
  std::string log;
};
Traced RunTraced(const Scratch& scratch, const std::vector<std::string>& options) {
  const fs::path log =
      scratch.dir().parent_path() / (scratch.dir().filename().string() + ".strace");
  std::vector<std::string> argv = {"/usr/bin/strace", "-f", "-qq", "-y", "-o", log.string()};
  argv.insert(argv.end(), options.begin(), options.end());
  argv.insert(argv.end(), {ZelmoBin(), "--console", "--dir", scratch.dir().string()});
  Process zelmo(argv);
  Traced t{zelmo.Wait(30s), ReadFile(log)};
  fs::remove(log);
  return t;
}

// Every ending of a run with Journal=1: where the README says nothing was sent there is no
// journal and the next run prints; where the register may have printed (10, and 9, whose receipt
// stays) the journal stays and the next run sends nothing.
TEST(Journal, EveryEndingKeepsAJournalExactlyWhenTheRegisterMayHavePrinted) {
  struct Case {
    std::string name;
    std::vector<std::string> faults;  // the register's
    std::string extra;                // settings
    std::function<Finished(Scratch&, Register&)> run;
    int status;
    bool journal;
  };
  const auto plain = [](Scratch& s, Register&) { return RunZelmo(s); };
  const auto closedAfterEnquiry = [](Scratch& s, Register& reg) {
    Process zelmo({ZelmoBin(), "--console", "--dir", s.dir().string()});
    EXPECT_EQ(SettledReceived(reg), "\x05");
    zelmo.Signal(SIGTERM);
    return zelmo.Wait();
  };
  // The register's device goes away with it.
  const auto lineGoneAfterEnquiry = [](Scratch& s, Register& reg) {
    Process zelmo({ZelmoBin(), "--console", "--dir", s.dir().string()});
    EXPECT_EQ(SettledReceived(reg), "\x05");
    reg.process().Signal(SIGKILL);
    return zelmo.Wait();
  };
  const auto receiptStays = [](Scratch& s, Register&) {
    return RunTraced(s, {"-P", (s.dir() / "smetka.txt").string(), "-e",
                         "inject=unlink,unlinkat:error=EBUSY:when=1"})
        .run;
  };
  const Case cases[] = {
      {"the register never answers the enquiry",
       {"--silent-after", "0"},
       "Timeout=1\r\n",
       plain,
       7,
       false},
      {"the line drops with the enquiry alone out",
       {"--silent-after", "0"},
       "",
       lineGoneAfterEnquiry,
       7,
       false},
      {"closed with the enquiry alone out",
       {"--silent-after", "0"},
       "",
       closedAfterEnquiry,
       8,
       false},
      {"the register stops after the enquiry's answer",
       {"--silent-after", "1"},
       "Timeout=1\r\n",
       plain,
       10,
       true},
      {"the line drops after the opening frame", {"--hangup-after", "1"}, "", plain, 10, true},
      {"printed, the receipt deleted", {}, "Clear=1\r\n", plain, 0, false},
      {"printed, the receipt cannot be deleted", {}, "Clear=1\r\n", receiptStays, 9, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Scratch scratch;
    scratch.Write("smetka.txt", kReceipt);
    {
      Register reg(scratch, c.faults);
      scratch.Config(reg.device(), kHiddenJournal + c.extra);
      const Finished run = c.run(scratch, reg);
      EXPECT_EQ(run.status, c.status) << run.err;
      reg.process().Signal(SIGTERM);
      reg.Wait();
      if (c.status == 7 || c.status == 8) {
        EXPECT_EQ(reg.Received(), "\x05") << "the enquiry alone";
      }
    }
    EXPECT_EQ(scratch.Exists("smetka.jrn"), c.journal);
    if (c.status == 0) {
      EXPECT_FALSE(scratch.Exists("smetka.txt"));
      continue;
    }
    ExpectNextRun(scratch, c.journal);
  }
}

TEST(Journal, TheOperatorDecidesInTheShownWindow) {
  for (const bool yes : {false, true}) {
    SCOPED_TRACE(yes ? "yes" : "no");
    Scratch scratch;
    scratch.Write("smetka.txt", kReceipt);
    KilledAt(scratch, 3);
    Register reg(scratch);
    scratch.Config(reg.device(),
                   "Seriska=1\r\nPrikaziForma=1\r\nDelimiter=;\r\nJournal=1\r\n"
                   "Clear=1\r\n");
    // The print button, then the answer to the question.
    const Finished run = RunZelmo(scratch, yes ? "\nда\n" : "\nне\n");
    EXPECT_TRUE(Has(run.err, "Да ја испечатам ли повторно?")) << run.err;
    EXPECT_EQ(run.status, yes ? 0 : 11) << run.err;
    EXPECT_EQ(scratch.Exists("smetka.jrn"), !yes);
    EXPECT_EQ(scratch.Exists("smetka.txt"), !yes);
    if (!yes) {
      EXPECT_EQ(reg.Received(), "");
    }
  }
}

// A yes takes the earlier journal away: if this run then sends nothing, the receipt is not
// held back again.
TEST(Journal, AYesThenNothingSentLeavesNoJournal) {
  Scratch scratch;
  scratch.Write("smetka.txt", kReceipt);
  KilledAt(scratch, 3);
  Register reg(scratch, {"--silent-after", "0"});
  scratch.Config(reg.device(),
                 "Seriska=1\r\nPrikaziForma=1\r\nDelimiter=;\r\nJournal=1\r\nTimeout=1\r\n");
  const Finished run = RunZelmo(scratch, "\nда\n");
  EXPECT_EQ(run.status, 7) << run.err;
  EXPECT_FALSE(scratch.Exists("smetka.jrn"));
}

TEST(Journal, AWholeJobLeavesNoJournalAndAnotherReceiptsJournalIsReplaced) {
  Scratch scratch;
  scratch.Write("smetka.txt", "Milk;1;A;45.50\r\n");
  KilledAt(scratch, 2);
  scratch.Write("smetka.txt", kReceipt);  // the next sale, another receipt
  Register reg(scratch);
  scratch.Config(reg.device(), kHiddenJournal + "Clear=1\r\n");
  const Finished run = RunZelmo(scratch);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(Has(run.out + run.err, "Дневникот на друга сметка е заменет")) << run.out;
  EXPECT_FALSE(scratch.Exists("smetka.jrn"));
  EXPECT_FALSE(scratch.Exists("smetka.txt"));
}

// --- on the disk before the frame ----------------------------------------------------------------

// The index of the first line at or after `from` that holds every one of `parts`; npos if none.
std::size_t Find(const std::vector<std::string>& lines, std::size_t from,
                 const std::vector<std::string>& parts) {
  for (std::size_t i = from; i < lines.size(); ++i) {
    bool all = true;
    for (const std::string& part : parts) all = all && Has(lines[i], part);
    if (all) return i;
  }
  return std::string::npos;
}

// A power cut may come at any moment: the journal must be whole and its name on the disk (its
// folder flushed) before the first frame that can print goes out, and the printed receipt's
// removal, and the journal's, must be on the disk before the program ends with 0.
TEST(Journal, TheJournalAndTheRemovalsAreOnTheDiskInTime) {
  Scratch scratch;
  scratch.Write("smetka.txt", kReceipt);
  Register reg(scratch);
  scratch.Config(reg.device(), kHiddenJournal + "Clear=1\r\n");
  const Traced t =
      RunTraced(scratch, {"-e",
                          "trace=write,fsync,fdatasync,rename,renameat,renameat2,unlink,unlinkat,"
                          "exit_group"});
  ASSERT_EQ(t.run.status, 0) << t.run.err;
  std::vector<std::string> lines;
  std::istringstream in(t.log);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  const std::string dir = scratch.dir().string();
  const std::string pty = "<" + reg.device() + ">";
  const auto npos = std::string::npos;

  const std::size_t enquiry = Find(lines, 0, {"write(", pty, "\"\\5\", 1)"});
  const std::size_t written = Find(lines, 0, {"write(", "smetka.jrn.", ".tmp>"});
  const std::size_t synced = Find(lines, written, {"fsync(", "smetka.jrn.", ".tmp>"});
  const std::size_t renamed = Find(lines, synced, {"rename", ".tmp\"", dir + "/smetka.jrn\""});
  const std::size_t folder = Find(lines, renamed, {"fsync(", "<" + dir + ">"});
  const std::size_t frame = Find(lines, enquiry + 1, {"write(", pty});
  ASSERT_NE(enquiry, npos) << t.log.substr(0, 6000);
  ASSERT_NE(frame, npos) << t.log.substr(0, 6000);
  ASSERT_NE(written, npos) << "the journal's bytes";
  ASSERT_NE(synced, npos) << "the journal flushed";
  ASSERT_NE(renamed, npos) << "the journal renamed into place";
  ASSERT_NE(folder, npos) << "its folder flushed";
  EXPECT_LT(enquiry, written) << "the enquiry goes first: a run that ends with it keeps no journal";
  EXPECT_LT(folder, frame) << "all of it before the opening frame:\n" << lines[frame];

  const std::size_t receiptGone = Find(lines, frame, {"unlink", dir + "/smetka.txt\""});
  const std::size_t journalGone = Find(lines, frame, {"unlink", dir + "/smetka.jrn\""});
  const std::size_t end = Find(lines, frame, {"exit_group("});
  ASSERT_NE(receiptGone, npos);
  ASSERT_NE(journalGone, npos);
  ASSERT_NE(end, npos);
  EXPECT_LT(receiptGone, journalGone) << "the journal outlives the receipt";
  EXPECT_LT(Find(lines, receiptGone, {"fsync(", "<" + dir + ">"}), journalGone);
  EXPECT_LT(Find(lines, journalGone, {"fsync(", "<" + dir + ">"}), end);
  reg.Wait();
}

}  // namespace
}  // namespace e2e
