// A register that holds the line stopped in the middle of a job, as one holding CTS low does: the
// bridge's write waits in the background, its loop stays free, a close request is taken at once,
// and a line that takes nothing for 30 s is given up as failed. And the other side of it: a line
// that takes every command at once costs nothing for that watch, one read and one write per
// reply on one thread.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <thread>

#include "e2e_common.h"
#include "harness.h"

namespace e2e {
namespace {

using std::chrono::steady_clock;

const std::string kENQ = "\x05";

// The register answers the ENQ and the opening frame, then stops the line: the first item frame
// cannot go out.
struct StoppedJob : HiddenJob {
  StoppedJob() : HiddenJob({"--stop-after", "2"}) {}
};

std::string OpeningFrameOf(const std::string& received) {
  return received.substr(0, received.find('\x03') + 5);
}

TEST(StuckLine, ACloseRequestIsTakenAtOnceWhileAWriteWaits) {
  StoppedJob job;
  Process zelmo(job.Console());
  ASSERT_TRUE(zelmo.WaitForOutput("ACK\nACK\n")) << "the ENQ and the opening frame answered";
  std::this_thread::sleep_for(300ms);  // the item frame is waiting for the line now
  const auto asked = steady_clock::now();
  zelmo.Signal(SIGTERM);
  const Finished run = zelmo.Wait(60s);
  // A loop held by the write would take the request only when the write gives up, 30 s on.
  EXPECT_LT(steady_clock::now() - asked, 10s);
  EXPECT_EQ(run.status, 10) << run.err;
  EXPECT_EQ(job.scratch.Read("smetka.txt"), kReceipt);
  job.reg.Wait();
  const std::string received = job.reg.Received();
  EXPECT_EQ(received.substr(0, 1), kENQ);
  EXPECT_EQ(received, OpeningFrameOf(received)) << "nothing of the item frame went out";
}

TEST(StuckLine, ALineThatTakesNothingFor30SecondsHasFailed) {
  StoppedJob job;
  const auto start = steady_clock::now();
  const Finished run = RunZelmo(job.scratch, "", 90s);
  EXPECT_GE(steady_clock::now() - start, 29s);
  EXPECT_EQ(run.status, 10) << run.err;
  EXPECT_NE(run.err.find("Врската со фискалната каса е прекината."), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("the line has taken no data for 30 s"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("Проверете дали сметката е испечатена"), std::string::npos) << run.err;
  EXPECT_EQ(job.scratch.Read("smetka.txt"), kReceipt);
  job.reg.Wait();
  const std::string received = job.reg.Received();
  EXPECT_EQ(received, OpeningFrameOf(received));
}

// One line of strace -f: the thread, the call's name and what follows it.
struct Call {
  std::string thread, name, rest;
};

std::vector<Call> Calls(const fs::path& log) {
  std::vector<Call> calls;
  std::ifstream lines(log);
  for (std::string line; std::getline(lines, line);) {
    const size_t space = line.find(' ');
    const size_t name = line.find_first_not_of(' ', space);  // strace pads the thread's number
    if (space == std::string::npos || name == std::string::npos) continue;
    // "<... poll resumed>": a call that waited, and ended while others were traced.
    if (line.compare(name, 4, "<...") == 0) {
      calls.push_back({line.substr(0, space), "resumed", line.substr(name)});
      continue;
    }
    const size_t paren = line.find('(', name);
    if (paren == std::string::npos) continue;
    calls.push_back({line.substr(0, space), line.substr(name, paren - name), line.substr(paren)});
  }
  return calls;
}

TEST(StuckLine, ALineThatTakesEveryCommandCostsOneReadAndOneWritePerReplyOnOneThread) {
  std::string receipt;
  for (int i = 1; i <= 20; ++i)
    receipt += "Item " + std::to_string(i) + ";1;A;" + std::to_string(i) + "\r\n";
  HiddenJob job({}, receipt);
  const fs::path log =
      job.scratch.dir().parent_path() / (job.scratch.dir().filename().string() + ".strace");
  std::vector<std::string> argv = {"/usr/bin/strace", "-f", "-qq", "-y", "-o", log.string()};
  for (const std::string& arg : job.Console()) argv.push_back(arg);
  Process zelmo(argv);
  const Finished run = zelmo.Wait(60s);
  const std::vector<Call> calls = Calls(log);
  fs::remove(log);
  ASSERT_EQ(run.status, 0) << run.err;

  // From the ENQ to the last reply: the job's whole exchange.
  const std::string port = "<" + job.reg.device() + ">";
  auto onPort = [&](const Call& c) { return c.rest.find(port) != std::string::npos; };
  size_t first = calls.size(), last = 0;
  for (size_t i = 0; i < calls.size(); ++i) {
    if (first == calls.size() && calls[i].name == "write" && onPort(calls[i])) first = i;
    if (calls[i].name == "read" && onPort(calls[i])) last = i;
  }
  ASSERT_LT(first, last) << "no exchange on " << job.reg.device();
  // The other threads (the close-request watcher) are asleep once their wait has begun; one that
  // is still starting on a busy machine may run until it gets there, and none may wake.
  auto waits = [](const Call& c) { return c.rest.find("<unfinished ...>") != std::string::npos; };
  std::set<std::string> asleep;
  for (size_t i = 0; i < first; ++i) {
    if (waits(calls[i])) asleep.insert(calls[i].thread);
    if (calls[i].name == "resumed") asleep.erase(calls[i].thread);
  }
  int reads = 0, writes = 0;
  for (size_t i = first; i <= last; ++i) {
    const Call& c = calls[i];
    SCOPED_TRACE(c.thread + " " + c.name + c.rest.substr(0, 80));
    if (c.thread != calls[first].thread) {
      EXPECT_EQ(asleep.count(c.thread), 0u) << "another thread woke during the job";
      if (waits(c)) asleep.insert(c.thread);
      continue;
    }
    EXPECT_NE(c.name, "futex") << "a lock or a wake-up between threads";
    EXPECT_FALSE(c.name == "ioctl" && onPort(c)) << "a look at the line that was not needed";
    if (onPort(c) && c.name == "read") ++reads;
    if (onPort(c) && c.name == "write") ++writes;
  }
  // ENQ, the opening frame, one frame per item, the closing frames and EOT, each answered.
  const int commands = 2 + 20 + 4 + 1;
  EXPECT_EQ(writes, commands);
  EXPECT_EQ(reads, commands);
}

}  // namespace
}  // namespace e2e
