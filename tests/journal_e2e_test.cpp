// Journal=1 on the real program: a run killed at any command of its job leaves a journal, and the
// same receipt is then not sent again unasked.
#include <signal.h>

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

TEST(Journal, AReceiptKilledAtAnyCommandIsNotSentAgainUnasked) {
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
    ASSERT_TRUE(scratch.Exists("smetka.jrn"));
    Register reg(scratch);
    scratch.Config(reg.device(), kHiddenJournal);
    const Finished again = RunZelmo(scratch);
    EXPECT_EQ(again.status, 11) << again.err;
    EXPECT_TRUE(Has(again.err, kEarlierCutOff)) << again.err;
    EXPECT_EQ(reg.Received(), "");
    EXPECT_TRUE(scratch.Exists("smetka.txt"));
    EXPECT_TRUE(scratch.Exists("smetka.jrn"));
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

}  // namespace
}  // namespace e2e
