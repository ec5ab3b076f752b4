// Timeout= on the real program: a register that never answers, one that stops answering, and
// one that holds the line stopped.
#include <gtest/gtest.h>

#include "harness.h"

namespace e2e {
namespace {

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

struct Case {
  const char* name;
  std::vector<std::string> faults;
  int status;
  const char* message;
  bool held;  // the message names the stopped line and Handshaking=0
};

TEST(Timeout, ARegisterThatDoesNotAnswerEndsTheRun) {
  const Case cases[] = {
      {"never answers", {"--silent-after", "0"}, 7, "Фискалната каса не одговара.", false},
      {"stops answering",
       {"--silent-after", "3"},
       10,
       "Фискалната каса престана да одговара.",
       false},
      {"holds the line stopped",
       {"--stop-after", "2"},
       10,
       "Фискалната каса престана да одговара.",
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Scratch scratch;
    Register reg(scratch, c.faults);
    scratch.Config(reg.device(), "Seriska=1\r\nPrikaziForma=0\r\nDelimiter=;\r\nTimeout=1\r\n");
    scratch.Write("smetka.txt", "Sugar 1kg;2;A;12.50\r\nMilk;1;A;45.5\r\n");
    const auto start = std::chrono::steady_clock::now();
    const Finished run = RunZelmo(scratch);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 20s);
    EXPECT_EQ(run.status, c.status) << run.err;
    EXPECT_TRUE(Has(run.err, c.message)) << run.err;
    EXPECT_TRUE(Has(run.err, "(Timeout=1)")) << run.err;
    EXPECT_EQ(Has(run.err, "Handshaking=0"), c.held) << run.err;
    EXPECT_EQ(Has(run.err, "Проверете дали сметката е испечатена"), c.status == 10) << run.err;
    if (c.status == 7) {
      EXPECT_EQ(reg.Received(), "\x05");
    }
    EXPECT_TRUE(scratch.Exists("smetka.txt"));
  }
}

TEST(Timeout, AnAnsweringRegisterIsNotCutOff) {
  Scratch scratch;
  Register reg(scratch, {"--baud", "9600"});
  scratch.Config(reg.device(), "Seriska=1\r\nPrikaziForma=0\r\nDelimiter=;\r\nTimeout=1\r\nClear=1\r\n");
  scratch.Write("smetka.txt", "Sugar 1kg;2;A;12.50\r\nMilk;1;A;45.5\r\n");
  const Finished run = RunZelmo(scratch);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_FALSE(scratch.Exists("smetka.txt"));
}

TEST(Timeout, AValueOutOfRangeIsRefused) {
  for (const char* value : {"0", "3601", "1.5", "-1", "abc"}) {
    SCOPED_TRACE(value);
    Scratch scratch;
    Register reg(scratch);
    scratch.Config(reg.device(),
                   "Seriska=1\r\nPrikaziForma=0\r\nDelimiter=;\r\nTimeout=" + std::string(value) + "\r\n");
    scratch.Write("smetka.txt", "Sugar 1kg;2;A;12.50\r\n");
    const Finished run = RunZelmo(scratch);
    EXPECT_EQ(run.status, 6);
    EXPECT_TRUE(Has(run.err, "Timeout=\"" + std::string(value) + "\"")) << run.err;
    EXPECT_TRUE(Has(run.err, "од 1 до 3600")) << run.err;
    EXPECT_EQ(reg.Received(), "");
  }
}

}  // namespace
}  // namespace e2e
