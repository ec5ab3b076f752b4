// What Output sends, written on the thread of the loop that watches the port, never waiting for
// the line. A command the driver takes whole (almost always) costs that one write and nothing
// else: no other thread, no lock, no look at the driver's queue unless the loop has nothing to do
// for a while. What the driver cannot take at once goes when the loop sees the line take more,
// in its order. While bytes wait, in our hands or in the driver's queue, a deadline of the loop
// looks at the queue at the line's own pace; a line that takes nothing for the stall time has
// failed.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "sys/event_loop.h"

namespace zelmo {

// How long the line may take no bytes at all, with bytes waiting to go, before it counts as
// failed. A frame goes out in well under a second, so this only runs out when the line is stuck
// (the register holds CTS low).
inline constexpr std::chrono::milliseconds kWriteStall{30000};

// The reason given when the line took nothing for the stall time.
std::string StalledLineReason(std::chrono::milliseconds stall);

class SerialWriter : public std::enable_shared_from_this<SerialWriter> {
 public:
  using Clock = std::chrono::steady_clock;
  // `loop` watches `fd` (WatchReadable succeeded) and runs every call but Held; `failed` is told
  // the reason once when the line fails.
  SerialWriter(EventLoop& loop, int fd, long baud, std::function<void(const std::string&)> failed,
               std::chrono::milliseconds stall = kWriteStall);

  // Queues the bytes behind what is still to go, writing at once what the driver takes. Returns
  // 0, or the system's error when the line refused the write outright. Once the line has failed,
  // bytes are dropped.
  int Write(const std::string& wire);

  // Bytes of Write that have not gone out yet, in our hands or the driver's. Any thread.
  bool Held() const;

  // The port is closing: nothing more is written or reported.
  void Stop() { stopped_ = true; }

 private:
  // 0, or the error of a write that failed; what the driver did not take stays in waiting_.
  int WriteWaiting();
  void OnWritable();
  void Look();
  void LookAfter(Clock::duration period);
  Clock::duration LookPeriod(int queued) const;
  void Fail(const std::string& reason);
  int DriverQueue() const;

  EventLoop& loop_;
  const int fd_;
  const long baud_;
  const std::function<void(const std::string&)> failed_;
  const std::chrono::milliseconds stall_;

  std::string waiting_;
  std::atomic<bool> hasWaiting_{false};  // for Held, from other threads
  Clock::time_point progress_{};         // when the line last took bytes
  int lastQueued_ = -1;                  // the driver's queue at the last look; -1: not looked
  int quietLooks_ = 0;                   // looks in a row that saw no progress
  std::atomic<bool> failedLine_{false};
  bool stopped_ = false;
};

}  // namespace zelmo
