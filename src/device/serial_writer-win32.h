// What Output sends goes out on a thread of its own, so that a register holding the line (CTS
// low) never stops the front-end's event loop: the window repaints and a close request is taken
// while a write waits. A write that does not end within the stall time, or that fails, is the
// line's failure, reported once through the channel; nothing more is sent after it.
#pragma once

#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "device/serial_channel.h"

namespace zelmo {

// How long a write may wait for the line. A frame fits the driver's buffer many times over, so
// this only runs out when the line is stuck.
inline constexpr std::chrono::milliseconds kWriteStall{30000};

// The reason given when a write waited the whole stall time.
std::string StalledLineReason(std::chrono::milliseconds stall);

class SerialWriter {
 public:
  // `port` is opened for overlapped I/O and outlives the writer. Throws ProgramResourceError (or
  // std::system_error) when the writer's events or thread cannot be had: the program's failure,
  // known before anything is sent.
  SerialWriter(std::shared_ptr<SerialChannel> channel, HANDLE port,
               std::chrono::milliseconds stall = kWriteStall);
  SerialWriter(const SerialWriter&) = delete;
  SerialWriter& operator=(const SerialWriter&) = delete;
  ~SerialWriter();

  // Queues the bytes behind what is still to go; never waits.
  void Write(std::string wire);

 private:
  void Run();
  // Sends one block; false when the line failed (and that was reported).
  bool Send(const std::string& wire);
  bool Fail(const std::string& reason);
  void CloseEvents();

  std::shared_ptr<SerialChannel> channel_;
  HANDLE port_;
  std::chrono::milliseconds stall_;
  HANDLE stop_ = nullptr;  // set when the writer ends: a pending write is cancelled
  HANDLE done_ = nullptr;  // the end of the write in flight
  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<std::string> queue_;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace zelmo
