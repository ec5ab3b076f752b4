// What a port's own threads, the tasks it posts and the port itself share. It outlives the port,
// so a task that runs after the port is closed finds it closed and does nothing.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "device/serial_port.h"
#include "sys/event_loop.h"

namespace zelmo {

class SerialChannel : public std::enable_shared_from_this<SerialChannel> {
 public:
  SerialChannel(EventLoop& loop, CommListener& listener) : loop_(loop), listener_(listener) {}

  // From a reader thread: keeps the bytes and posts one receive event, however many reads come
  // before the loop gets to it.
  void Receive(const char* data, size_t size);
  // On the loop's thread: keeps the bytes and raises the receive event at once.
  void ReceiveHere(const char* data, size_t size);
  // Everything received and not yet taken (the port's Input).
  std::string TakeReceived();

  void PostEvent(int16_t event);
  // On the loop's thread: raises `event` at once.
  void RaiseHere(int16_t event);
  void FailLine(const std::string& reason);      // from any thread
  void FailLineHere(const std::string& reason);  // on the loop's thread

  // On the loop's thread when the port closes: tasks still queued then do nothing, and a thread
  // in WaitForStop wakes.
  void Close();
  // Waits up to `period`; true when the port is closing.
  bool WaitForStop(std::chrono::milliseconds period);
  bool Stopping();

 private:
  void DeliverReceive();

  EventLoop& loop_;
  CommListener& listener_;
  std::atomic<bool> open_{true};
  std::mutex mutex_;
  std::condition_variable stop_;
  bool stopping_ = false;
  std::string received_;
  bool receivePending_ = false;
};

}  // namespace zelmo
