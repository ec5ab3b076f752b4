// Log= on the real program: what a run writes into its log file, appending, moving a full log
// aside, and a log that cannot be kept.
#include <regex>
#include <sstream>

#include <gtest/gtest.h>

#include "harness.h"

namespace e2e {
namespace {

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

constexpr const char* kReceipt = "Sugar 1kg;2;A;12.50\r\n";

Finished RunWithLog(Scratch& scratch, const std::string& log) {
  Register reg(scratch);
  scratch.Config(reg.device(), "Seriska=1\r\nPrikaziForma=0\r\nDelimiter=;\r\nLog=" + log + "\r\n");
  scratch.Write("smetka.txt", kReceipt);
  return RunZelmo(scratch);
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

TEST(Log, ARunWritesItsStartItsEventsItsBytesAndItsEnd) {
  Scratch scratch;
  const Finished run = RunWithLog(scratch, "zelmo.log");
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string log = scratch.Read("zelmo.log");
  const auto lines = Lines(log);
  ASSERT_GE(lines.size(), 4u) << log;
  const std::regex stamp(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3} .+)");
  for (const std::string& line : lines) EXPECT_TRUE(std::regex_match(line, stamp)) << line;
  EXPECT_TRUE(Has(lines.front(), " start zelmo ")) << lines.front();
  EXPECT_TRUE(Has(lines.front(), "folder " + scratch.dir().string())) << lines.front();
  EXPECT_TRUE(Has(lines.front(), "Settings=9600,N,8,1, Handshaking=2")) << lines.front();
  EXPECT_TRUE(Has(lines.front(), "port COM1 /")) << lines.front();
  EXPECT_TRUE(Has(log, " sent 05\n")) << log;      // the enquiry
  EXPECT_TRUE(Has(log, " received 06\n")) << log;  // its ACK
  EXPECT_TRUE(Has(log, " ACK")) << log;            // the event list's line for it
  EXPECT_TRUE(Has(lines.back(), " end, exit status 0")) << lines.back();
}

TEST(Log, RunsAppendAndAFullLogIsMovedAside) {
  Scratch scratch;
  ASSERT_EQ(RunWithLog(scratch, "zelmo.log").status, 0);
  const std::string first = scratch.Read("zelmo.log");
  ASSERT_EQ(RunWithLog(scratch, "zelmo.log").status, 0);
  const std::string both = scratch.Read("zelmo.log");
  EXPECT_EQ(both.compare(0, first.size(), first), 0);
  EXPECT_GT(both.size(), first.size());
  EXPECT_FALSE(scratch.Exists("zelmo.log.1"));

  const std::string full(1024 * 1024, 'x');
  scratch.Write("zelmo.log", full);
  scratch.Write("zelmo.log.1", "older\n");
  ASSERT_EQ(RunWithLog(scratch, "zelmo.log").status, 0);
  EXPECT_EQ(scratch.Read("zelmo.log.1"), full);  // one old file is kept
  EXPECT_TRUE(Has(Lines(scratch.Read("zelmo.log")).front(), " start zelmo "));
}

TEST(Log, ALogThatCannotBeKeptNeverFailsTheJob) {
  Scratch scratch;
  const Finished run = RunWithLog(scratch, "no-such-folder/zelmo.log");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(Has(run.err, "no-such-folder/zelmo.log")) << run.err;
  // One warning, on standard error; the event list carries it as well (standard output).
  const auto count = [](const std::string& text) {
    std::size_t n = 0;
    for (auto at = text.find("Датотеката со записи"); at != std::string::npos;
         at = text.find("Датотеката со записи", at + 1)) {
      ++n;
    }
    return n;
  };
  EXPECT_EQ(count(run.err), 1u) << run.err;
  EXPECT_EQ(count(run.out), 1u) << run.out;
}

}  // namespace
}  // namespace e2e
