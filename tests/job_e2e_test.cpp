// The real bridge printing on the virtual register over a pseudo-terminal.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <vector>

#include "harness.h"

namespace e2e {
namespace {

const std::string kENQ = "\x05", kEOT = "\x04";
const std::string kHidden = "Seriska=1\r\nPrikaziForma=0\r\nDelimiter=;\r\n";

// Frames as the register's manual lays them out, built here independently of the bridge.
std::string Frame(const std::string& body) {
  const std::string covered = body + "\x03";
  unsigned acc = 0;
  for (std::size_t p = 0; p < covered.size(); ++p) {
    acc ^= static_cast<unsigned>(static_cast<unsigned char>(covered[p])) << (p % 9);
  }
  char check[8];
  std::snprintf(check, sizeof check, "%04X", acc);
  return "\x02" + covered + check;
}

const std::string kOpening = Frame("Sq1" + std::string(17, ' ') + "0" + std::string(17, ' ') + "0");

TEST(Job, AReceiptWithCyrillicNamesArrivesByteForByte) {
  Scratch scratch;
  Register reg(scratch);
  scratch.Config(reg.device(), kHidden + "Clear=1\r\n");
  // Code page 1251, as point-of-sale programs write it: "Млеко" and "Шеќер".
  scratch.Write("smetka.txt", "Sugar 1kg;2;A;12.50\r\n\xCC\xEB\xE5\xEA\xEE;2;\xE1;45.5\r\n");

  const Finished run = RunZelmo(scratch);
  const Finished regRun = reg.Wait();
  EXPECT_EQ(run.status, 0) << run.err;

  const std::string sugar = Frame("Dq1Sugar 1kg" + std::string(9, ' ') + "A      1250      2000" +
                                  "      2500" + std::string(11, ' '));
  const std::string milk = Frame("Dq1\xCC\xEB\xE5\xEA\xEE" + std::string(13, ' ') +
                                 "B      4550      2000      9100" + std::string(11, ' '));
  ASSERT_EQ(sugar.substr(sugar.size() - 4), "0F50");  // the manual's own examples
  ASSERT_EQ(milk.substr(milk.size() - 4), "7F45");
  const std::string total =
      Frame("Dq4     11600     11600         0         0         0         0");
  EXPECT_EQ(reg.Received(), kENQ + kOpening + sugar + milk + kEOT + kENQ + kOpening + total + kEOT);
  EXPECT_FALSE(scratch.Exists("smetka.txt"));
  EXPECT_NE(regRun.out.find("Млеко"), std::string::npos) << regRun.out;
  EXPECT_NE(run.out.find("ACK"), std::string::npos);
  EXPECT_NE(run.err.find("Ја печатам 2-та сметка"), std::string::npos);
}

TEST(Job, SixtyItemsGoThrough) {
  Scratch scratch;
  Register reg(scratch);
  scratch.Config(reg.device(), kHidden);
  std::string receipt;
  for (int i = 1; i <= 60; ++i) receipt += "Item " + std::to_string(i) + ";1;A;1.10\r\n";
  scratch.Write("smetka.txt", receipt);
  const Finished run = RunZelmo(scratch);
  reg.Wait();
  EXPECT_EQ(run.status, 0) << run.err;
  const std::string got = reg.Received();
  EXPECT_EQ(got.substr(got.size() - 69 - 1),
            Frame("Dq4      6600      6600         0         0         0         0") + kEOT);
  EXPECT_TRUE(scratch.Exists("smetka.txt"));  // Clear is not set
}

TEST(Job, AReceiptThatFailsToLoadSendsNothingAndStays) {
  Scratch scratch;
  Register reg(scratch);
  scratch.Config(reg.device(), kHidden + "Clear=1\r\n");
  const std::string receipt = "Bread;1;A;30\r\n\r\n";
  scratch.Write("smetka.txt", receipt);
  const Finished run = RunZelmo(scratch);
  EXPECT_EQ(run.status, 3);
  EXPECT_NE(run.err.find("Nemoze da se napolni."), std::string::npos);
  EXPECT_EQ(scratch.Read("smetka.txt"), receipt);
  reg.process().Signal(SIGTERM);
  reg.Wait();
  EXPECT_EQ(reg.Received(), "");
}

TEST(Job, TheOperatorAnswersTheQuestionsOnStandardInput) {
  Scratch scratch;
  Register reg(scratch);
  scratch.Config(reg.device(), kHidden);
  scratch.Write("smetka.txt", "Bread;0;A;30\r\n");
  const Finished run = RunZelmo(scratch, "да\n");
  reg.Wait();
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.err.find("Немате количина на артикалот за печатење."), std::string::npos);
  EXPECT_NE(reg.Received().find("      3000      1000      3000"), std::string::npos);
}

TEST(Job, ARefusedDefaultEndsWithNothingSent) {
  Scratch scratch;
  Register reg(scratch);
  scratch.Config(reg.device(), kHidden);
  scratch.Write("smetka.txt", "Bread;1;A;\r\n");
  const Finished run = RunZelmo(scratch, "не\n");
  EXPECT_EQ(run.status, 4);
  reg.process().Signal(SIGTERM);
  reg.Wait();
  EXPECT_EQ(reg.Received(), "");
}

TEST(Job, ShownModeWaitsForTheButton) {
  Scratch scratch;
  Register reg(scratch);
  scratch.Config(reg.device(), "Seriska=1\r\nPrikaziForma=1\r\nDelimiter=;\r\n");
  scratch.Write("smetka.txt", "Bread;1;A;30\r\n");
  Process zelmo({ZelmoBin(), "--console", "--dir", scratch.dir().string()}, "", false);
  EXPECT_FALSE(zelmo.WaitForOutput("ACK", 300ms));  // nothing is sent before the button
  zelmo.Write("\n");
  const Finished run = zelmo.Wait();
  reg.Wait();
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.err.find("Спремно за печатење на фискална сметка"), std::string::npos);
  EXPECT_EQ(reg.Received().substr(0, 1), kENQ);
}

// A job held by the register (NAK, or no answer at all) waits; a close request then cuts it off.
TEST(Job, AHeldJobWaitsUntilClosedAndKeepsItsReceipt) {
  struct Case {
    std::vector<std::string> fault;
    std::string logged;
  } cases[] = {{{"--nak", "3"}, "NAK"}, {{"--silent-after", "7"}, "ACK"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fault[0]);
    Scratch scratch;
    Register reg(scratch, c.fault);
    scratch.Config(reg.device(), kHidden + "Clear=1\r\n");
    scratch.Write("smetka.txt", "Bread;1;A;30\r\n");
    Process zelmo({ZelmoBin(), "--console", "--dir", scratch.dir().string()});
    EXPECT_TRUE(zelmo.WaitForOutput(c.logged));
    EXPECT_FALSE(zelmo.WaitForOutput("never", 500ms));  // still waiting
    EXPECT_TRUE(scratch.Exists("smetka.txt"));
    zelmo.Signal(SIGTERM);
    const Finished run = zelmo.Wait();
    EXPECT_EQ(run.status, 10) << run.err;
    EXPECT_EQ(scratch.Read("smetka.txt"), "Bread;1;A;30\r\n");
    reg.Wait();
  }
}

TEST(Job, AHangUpMidJobCutsItOffAndKeepsTheReceipt) {
  Scratch scratch;
  Register reg(scratch, {"--hangup-after", "3"});
  scratch.Config(reg.device(), kHidden + "Clear=1\r\n");
  const std::string receipt = "Bread;1;A;30\r\nMilk;2;B;45.5\r\n";
  scratch.Write("smetka.txt", receipt);
  const Finished run = RunZelmo(scratch);
  reg.Wait();
  EXPECT_EQ(run.status, 10) << run.err;
  EXPECT_NE(run.err.find("Врската со фискалната каса е прекината."), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("Проверете дали сметката е испечатена пред повторно печатење."),
            std::string::npos);
  EXPECT_EQ(scratch.Read("smetka.txt"), receipt);
}

}  // namespace
}  // namespace e2e
