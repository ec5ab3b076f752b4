// The port's writer against a line it can hold up: a named pipe whose far end reads only when the
// test says, as a register holding CTS low would. A real port's flow control and the driver's own
// write time-out need a real driver.
#include "device/serial_writer-win32.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "device/serial_test.h"
#include "sys/io_event-win32.h"
#include "sys/wide-win32.h"

namespace zelmo {
namespace {

using namespace std::chrono_literals;

using testing::TestLoop;

class FailureListener : public CommListener {
 public:
  void Comm_OnComm(int16_t) override {}
  void Comm_OnLineFailure(const std::string& reason) override { failures.push_back(reason); }
  std::vector<std::string> failures;
};

// A pipe with no buffer to speak of: a write of a megabyte waits until the far end reads it.
class HeldLine {
 public:
  HeldLine() {
    const std::wstring name =
        L"\\\\.\\pipe\\zelmo-writer-" + std::to_wstring(std::random_device()());
    far_ = CreateNamedPipeW(name.c_str(), PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED,
                            PIPE_TYPE_BYTE | PIPE_WAIT, 1, 0, 0, 0, nullptr);
    near_ = CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                        FILE_FLAG_OVERLAPPED, nullptr);
  }
  ~HeldLine() {
    for (HANDLE h : {near_, far_}) {
      if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    }
  }
  bool ok() const { return far_ != INVALID_HANDLE_VALUE && near_ != INVALID_HANDLE_VALUE; }
  HANDLE port() const { return near_; }
  HANDLE farEnd() const { return far_; }

  // Reads `size` bytes from the far end, waiting up to 30 s for them.
  std::string Read(size_t size) {
    std::string got;
    const HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (got.size() < size && std::chrono::steady_clock::now() < deadline) {
      char buffer[65536];
      OVERLAPPED overlapped{};
      overlapped.hEvent = event;
      DWORD n = 0;
      if (!ReadFile(far_, buffer, sizeof buffer, &n, &overlapped)) {
        if (GetLastError() != ERROR_IO_PENDING) break;
        if (WaitForSingleObject(event, 30000) != WAIT_OBJECT_0) {
          CancelIoEx(far_, &overlapped);
        }
        if (!GetOverlappedResult(far_, &overlapped, &n, TRUE)) break;
      }
      got.append(buffer, n);
    }
    CloseHandle(event);
    return got;
  }

  // What the far end holds right now, without waiting.
  DWORD Waiting() const {
    DWORD available = 0;
    PeekNamedPipe(far_, nullptr, 0, nullptr, &available, nullptr);
    return available;
  }

 private:
  HANDLE far_ = INVALID_HANDLE_VALUE;
  HANDLE near_ = INVALID_HANDLE_VALUE;
};

class SerialWriterTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(line_.ok()) << GetLastError(); }

  // Writes on a thread of its own, so that a Write that waited would show rather than hang.
  bool WriteReturns(SerialWriter& writer, const std::string& wire) {
    auto written = std::async(std::launch::async, [&] { writer.Write(wire); });
    return written.wait_for(20s) == std::future_status::ready;
  }

  TestLoop loop_{5s};  // only run for set periods
  FailureListener listener_;
  std::shared_ptr<SerialChannel> channel_ = std::make_shared<SerialChannel>(loop_, listener_);
  HeldLine line_;
};

const std::string kBlock(1 << 20, 'A');

TEST_F(SerialWriterTest, WriteReturnsAtOnceAndTheBytesGoOutInOrderWhenTheLineMoves) {
  SerialWriter writer(channel_, line_.port());
  ASSERT_TRUE(WriteReturns(writer, kBlock));
  ASSERT_TRUE(WriteReturns(writer, "\x01\x30\x20"));
  ASSERT_TRUE(WriteReturns(writer, "\x05"));
  EXPECT_EQ(line_.Read(kBlock.size() + 4), kBlock + "\x01\x30\x20\x05");
  loop_.RunFor(200ms);
  EXPECT_TRUE(listener_.failures.empty());
}

TEST_F(SerialWriterTest, LineHeldForTheStallTimeIsReportedOnceAndNothingMoreGoes) {
  EXPECT_EQ(StalledLineReason(kWriteStall),
            "the line has taken no data for 30 s (the register holds it stopped: CTS low)");
  SerialWriter writer(channel_, line_.port(), 1000ms);
  ASSERT_TRUE(WriteReturns(writer, kBlock));
  const auto deadline = std::chrono::steady_clock::now() + 30s;
  while (listener_.failures.empty() && std::chrono::steady_clock::now() < deadline) {
    loop_.RunFor(100ms);
  }
  ASSERT_EQ(listener_.failures,
            std::vector<std::string>{
                "the line has taken no data for 1 s (the register holds it stopped: CTS low)"});
  // What had gone into the pipe before the write was given up stays there; nothing is added.
  const DWORD before = line_.Waiting();
  ASSERT_TRUE(WriteReturns(writer, "\x05"));
  loop_.RunFor(500ms);
  EXPECT_EQ(line_.Waiting(), before);
  EXPECT_EQ(listener_.failures.size(), 1u);
}

TEST_F(SerialWriterTest, ClosingWithAWriteWaitingGivesItUpQuietly) {
  auto writer = std::make_unique<SerialWriter>(channel_, line_.port());
  ASSERT_TRUE(WriteReturns(*writer, kBlock));
  ASSERT_TRUE(WriteReturns(*writer, "\x05"));
  auto closed = std::async(std::launch::async, [&] { writer.reset(); });
  ASSERT_EQ(closed.wait_for(20s), std::future_status::ready) << "closing waited for the line";
  loop_.RunFor(300ms);
  EXPECT_TRUE(listener_.failures.empty());
}

TEST_F(SerialWriterTest, RefusedWriteIsTheLinesFailureInTheSystemsWords) {
  // The pipe's far end only reads: a write there is refused at once.
  SerialWriter writer(channel_, line_.farEnd());
  ASSERT_TRUE(WriteReturns(writer, "\x05"));
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (listener_.failures.empty() && std::chrono::steady_clock::now() < deadline) {
    loop_.RunFor(100ms);
  }
  ASSERT_EQ(listener_.failures, std::vector<std::string>{SystemMessage(ERROR_ACCESS_DENIED)});
}

// The writer's events are the program's own: one the system refuses fails the writer as it is
// made, as the program's failure, and nothing is ever reported as the line's.
TEST_F(SerialWriterTest, EventTheSystemRefusesIsTheProgramsFailureBeforeAnythingIsSent) {
  for (int nth : {1, 2}) {
    SCOPED_TRACE(nth);
    RefuseIoEventForTest(nth, ERROR_NO_SYSTEM_RESOURCES);
    try {
      SerialWriter writer(channel_, line_.port());
      ADD_FAILURE() << "the writer was made without its events";
    } catch (const ProgramResourceError& e) {
      EXPECT_EQ(std::string(e.what()), "CreateEventW: " + SystemMessage(ERROR_NO_SYSTEM_RESOURCES));
    }
  }
  RefuseIoEventForTest(0);
  loop_.RunFor(200ms);
  EXPECT_TRUE(listener_.failures.empty());
  EXPECT_EQ(line_.Waiting(), 0u);
  // What refused is the system's, not the writer's: the next one that gets its events writes.
  SerialWriter writer(channel_, line_.port());
  ASSERT_TRUE(WriteReturns(writer, "\x05"));
  EXPECT_EQ(line_.Read(1), "\x05");
}

}  // namespace
}  // namespace zelmo
