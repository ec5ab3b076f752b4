#include "device/serial_channel.h"

namespace zelmo {

void SerialChannel::Receive(const char* data, size_t size) {
  bool post = false;
  {
    std::lock_guard lock(mutex_);
    received_.append(data, size);
    post = !receivePending_;
    receivePending_ = true;
  }
  if (post) loop_.Post([self = shared_from_this()] { self->DeliverReceive(); });
}

void SerialChannel::ReceiveHere(const char* data, size_t size) {
  {
    std::lock_guard lock(mutex_);
    received_.append(data, size);
  }
  if (open_) listener_.Comm_OnComm(comEvReceive);
}

std::string SerialChannel::TakeReceived() {
  std::lock_guard lock(mutex_);
  std::string all;
  all.swap(received_);
  return all;
}

void SerialChannel::PostEvent(int16_t event) {
  loop_.Post([self = shared_from_this(), event] {
    if (self->open_) self->listener_.Comm_OnComm(event);
  });
}

void SerialChannel::RaiseHere(int16_t event) {
  if (open_) listener_.Comm_OnComm(event);
}

void SerialChannel::FailLine(const std::string& reason) {
  loop_.Post([self = shared_from_this(), reason] { self->FailLineHere(reason); });
}

void SerialChannel::FailLineHere(const std::string& reason) {
  if (open_) listener_.Comm_OnLineFailure(reason);
}

void SerialChannel::Close() {
  open_ = false;
  std::lock_guard lock(mutex_);
  stopping_ = true;
  stop_.notify_all();
}

bool SerialChannel::WaitForStop(std::chrono::milliseconds period) {
  std::unique_lock lock(mutex_);
  return stop_.wait_for(lock, period, [this] { return stopping_; });
}

bool SerialChannel::Stopping() {
  std::lock_guard lock(mutex_);
  return stopping_;
}

void SerialChannel::DeliverReceive() {
  if (!open_) return;
  {
    std::lock_guard lock(mutex_);
    receivePending_ = false;
  }
  listener_.Comm_OnComm(comEvReceive);
}

}  // namespace zelmo
