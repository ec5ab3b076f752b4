#include "device/serial_channel.h"

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace zelmo {
namespace {

class QueueLoop : public EventLoop {
 public:
  void Post(std::function<void()> task) override { tasks.push_back(std::move(task)); }
  void RunAll() {
    while (!tasks.empty()) {
      auto task = std::move(tasks.front());
      tasks.pop_front();
      task();
    }
  }
  std::deque<std::function<void()>> tasks;
};

class Recorder : public CommListener {
 public:
  void Comm_OnComm(int16_t event) override { events.push_back(event); }
  void Comm_OnLineFailure(const std::string& reason) override { failures.push_back(reason); }
  std::vector<int16_t> events;
  std::vector<std::string> failures;
};

TEST(SerialChannel, ReadsBeforeTheLoopGetsToThemAreOneReceiveEvent) {
  QueueLoop loop;
  Recorder listener;
  auto channel = std::make_shared<SerialChannel>(loop, listener);
  channel->Receive("\x06", 1);
  channel->Receive("\x04", 1);
  loop.RunAll();
  EXPECT_EQ(listener.events, std::vector<int16_t>{comEvReceive});
  EXPECT_EQ(channel->TakeReceived(), "\x06\x04");

  // Once handled, the next read raises the event again.
  channel->ReceiveHere("\x15", 1);
  channel->Receive("\x06", 1);
  loop.RunAll();
  EXPECT_EQ(listener.events, (std::vector<int16_t>{comEvReceive, comEvReceive, comEvReceive}));
  EXPECT_EQ(channel->TakeReceived(), "\x15\x06");
}

TEST(SerialChannel, NothingReachesTheListenerOnceThePortIsClosed) {
  QueueLoop loop;
  Recorder listener;
  auto channel = std::make_shared<SerialChannel>(loop, listener);
  channel->Receive("\x06", 1);
  channel->PostEvent(comEvCTS);
  channel->FailLine("the line was hung up");
  channel->Close();
  channel.reset();  // queued tasks keep what they need alive
  loop.RunAll();
  channel = std::make_shared<SerialChannel>(loop, listener);
  channel->Close();
  channel->ReceiveHere("\x06", 1);
  channel->FailLineHere("gone");
  EXPECT_TRUE(listener.events.empty());
  EXPECT_TRUE(listener.failures.empty());
  EXPECT_TRUE(channel->WaitForStop(std::chrono::milliseconds(0)));
}

}  // namespace
}  // namespace zelmo
