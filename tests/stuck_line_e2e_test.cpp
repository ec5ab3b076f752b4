// A register that holds the line stopped in the middle of a job, as one holding CTS low does: the
// bridge's write waits in the background, its loop stays free, a close request is taken at once,
// and a line that takes nothing for 30 s is given up as failed.
#include <gtest/gtest.h>

#include <csignal>
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

}  // namespace
}  // namespace e2e
