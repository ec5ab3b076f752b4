// The writer against a pseudo-terminal, on a loop that waits on descriptors as the console's
// does: the test holds the register's end and stops the line as a register holding CTS low would.
#include "device/serial_writer-linux.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "device/serial_test.h"

namespace zelmo {
namespace {

using namespace std::chrono_literals;
using testing::WatchingLoop;

// The port's end opened as the port opens it (raw, not blocking), the register's end held here.
struct Line {
  Line() {
    master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return;
    port = open(ptsname(master), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    termios tio{};
    tcgetattr(port, &tio);
    cfmakeraw(&tio);
    tcsetattr(port, TCSANOW, &tio);
  }
  ~Line() {
    if (port >= 0) close(port);
    if (master >= 0) close(master);
  }
  bool Stop(bool stop) const { return tcflow(port, stop ? TCOOFF : TCOON) == 0; }
  // What has arrived so far, without waiting.
  std::string Arrived() const {
    std::string got;
    char buffer[4096];
    pollfd in = {master, POLLIN, 0};
    while (poll(&in, 1, 0) > 0) {
      const ssize_t n = read(master, buffer, sizeof buffer);
      if (n <= 0) break;
      got.append(buffer, static_cast<size_t>(n));
    }
    return got;
  }

  int master = -1;
  int port = -1;
};

class SerialWriterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_GE(line_.port, 0);
    loop_.WatchReadable(line_.port, [] {});  // as the port does before it writes
  }
  void TearDown() override { loop_.Unwatch(line_.port); }

  std::shared_ptr<SerialWriter> MakeWriter(std::chrono::milliseconds stall) {
    return std::make_shared<SerialWriter>(
        loop_, line_.port, 9600, [this](const std::string& why) { failures_.push_back(why); },
        stall);
  }

  Line line_;
  WatchingLoop loop_{3s};
  std::vector<std::string> failures_;
};

// The common case: the driver takes each command whole. The one look at the driver's queue that
// each write arms finds it empty and arms nothing more: an idle line costs no wake-ups.
TEST_F(SerialWriterTest, ACommandTheDriverTakesWholeLeavesNothingToWatch) {
  auto writer = MakeWriter(kWriteStall);
  EXPECT_EQ(writer->Write("\x05"), 0);
  EXPECT_EQ(writer->Write(""), 0);
  EXPECT_EQ(writer->Write("\x02"
                          "Sq1\x03"),
            0);
  EXPECT_EQ(line_.Arrived(), "\x05\x02Sq1\x03");
  EXPECT_EQ(loop_.deadlinesSet, 2);
  loop_.RunFor(300ms);
  EXPECT_EQ(loop_.deadlinesSet, 2) << "the look found the queue empty and looked again";
  EXPECT_FALSE(writer->Held());
  EXPECT_TRUE(failures_.empty());
}

// A command left in the driver's queue and one the driver could not even take whole: either way
// the line has failed once it has taken nothing for the stall time, reported once, and what is
// written after that is dropped.
TEST_F(SerialWriterTest, AStoppedLineFailsOnceAfterTheStallTime) {
  for (const size_t size : {size_t{69}, size_t{200000}}) {
    SCOPED_TRACE(size);
    Line line;
    ASSERT_TRUE(line.Stop(true));
    loop_.WatchReadable(line.port, [] {});
    std::vector<std::string> failures;
    auto writer = std::make_shared<SerialWriter>(
        loop_, line.port, 9600, [&](const std::string& why) { failures.push_back(why); }, 1000ms);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(writer->Write(std::string(size, 'x')), 0);
    EXPECT_TRUE(writer->Held());
    ASSERT_TRUE(loop_.RunUntil([&] { return !failures.empty(); }, 5s));
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, 1000ms);
    EXPECT_LT(waited, 2500ms);
    EXPECT_EQ(failures, std::vector<std::string>{
                            "the line has taken no data for 1 s (the register holds it stopped: "
                            "CTS low)"});
    EXPECT_FALSE(writer->Held());
    EXPECT_EQ(writer->Write("\x04"), 0);
    loop_.RunFor(100ms);
    EXPECT_EQ(failures.size(), 1u);
    ASSERT_TRUE(line.Stop(false));
    EXPECT_EQ(line.Arrived().find('\x04'), std::string::npos) << "written after the failure";
    loop_.Unwatch(line.port);
  }
}

// A line that takes bytes, however slowly, has not failed: here the register reads a little at a
// time, far less often than the stall time, and everything arrives in its order.
TEST_F(SerialWriterTest, ALineThatKeepsTakingBytesIsNotStalled) {
  auto writer = MakeWriter(600ms);
  std::string all;
  for (int i = 0; i < 200000; ++i) all += static_cast<char>('a' + i % 26);
  ASSERT_EQ(writer->Write(all.substr(0, 100000)), 0);
  ASSERT_EQ(writer->Write(all.substr(100000)), 0);
  ASSERT_TRUE(writer->Held()) << "the terminal took it all: the test shows nothing";
  std::string arrived;
  const auto end = std::chrono::steady_clock::now() + 10s;
  while (arrived.size() < all.size() && std::chrono::steady_clock::now() < end) {
    loop_.RunFor(200ms);
    arrived += line_.Arrived();
  }
  EXPECT_EQ(arrived.size(), all.size());
  EXPECT_TRUE(arrived == all) << "out of order";
  EXPECT_TRUE(failures_.empty()) << failures_.front();
}

TEST_F(SerialWriterTest, AWriteTheLineRefusesIsTheSystemsError) {
  auto writer = MakeWriter(kWriteStall);
  close(line_.master);
  line_.master = -1;
  EXPECT_EQ(writer->Write("\x05"), EIO);
  EXPECT_TRUE(failures_.empty()) << "the caller reports it";
}

}  // namespace
}  // namespace zelmo
