#include "device/serial_writer-win32.h"

#include "sys/io_event-win32.h"
#include "sys/wide-win32.h"

namespace zelmo {

namespace {

bool TimedOut(DWORD error) {
  return error == ERROR_TIMEOUT || error == WAIT_TIMEOUT || error == ERROR_SEM_TIMEOUT;
}

}  // namespace

std::string StalledLineReason(std::chrono::milliseconds stall) {
  // Worded as on Linux: the same stuck line reads the same on both.
  return "the line has taken no data for " + std::to_string(stall.count() / 1000) +
         " s (the register holds it stopped: CTS low)";
}

SerialWriter::SerialWriter(std::shared_ptr<SerialChannel> channel, HANDLE port,
                           std::chrono::milliseconds stall)
    : channel_(std::move(channel)), port_(port), stall_(stall) {
  try {
    stop_ = NewIoEvent();
    done_ = NewIoEvent();
    thread_ = std::thread(&SerialWriter::Run, this);
  } catch (...) {
    CloseEvents();
    throw;
  }
}

SerialWriter::~SerialWriter() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  ready_.notify_all();
  if (stop_) SetEvent(stop_);
  if (thread_.joinable()) thread_.join();
  CloseEvents();
}

void SerialWriter::CloseEvents() {
  for (HANDLE event : {stop_, done_}) {
    if (event) CloseHandle(event);
  }
  stop_ = done_ = nullptr;
}

void SerialWriter::Write(std::string wire) {
  {
    std::lock_guard lock(mutex_);
    queue_.push_back(std::move(wire));
  }
  ready_.notify_all();
}

void SerialWriter::Run() {
  for (;;) {
    std::string wire;
    {
      std::unique_lock lock(mutex_);
      ready_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
      if (stopping_) return;
      wire = std::move(queue_.front());
      queue_.pop_front();
    }
    if (!Send(wire)) return;
  }
}

bool SerialWriter::Send(const std::string& wire) {
  ResetEvent(done_);
  OVERLAPPED overlapped{};
  overlapped.hEvent = done_;
  DWORD written = 0;
  const DWORD size = static_cast<DWORD>(wire.size());
  if (!WriteFile(port_, wire.data(), size, &written, &overlapped)) {
    const DWORD error = GetLastError();
    if (error != ERROR_IO_PENDING) return Fail(SystemMessage(error));
    const HANDLE waits[] = {done_, stop_};
    const DWORD woken = WaitForMultipleObjects(2, waits, FALSE, static_cast<DWORD>(stall_.count()));
    if (woken != WAIT_OBJECT_0) {
      // Closing or stuck: the write is given up either way.
      CancelIoEx(port_, &overlapped);
      GetOverlappedResult(port_, &overlapped, &written, TRUE);
      return woken == WAIT_TIMEOUT ? Fail(StalledLineReason(stall_)) : false;
    }
    if (!GetOverlappedResult(port_, &overlapped, &written, FALSE)) {
      const DWORD error = GetLastError();
      return Fail(TimedOut(error) ? StalledLineReason(stall_) : SystemMessage(error));
    }
  }
  // The driver's own write time-out ends a write that the line would not take: short on
  // Windows, an error under Wine.
  return written == size || Fail(StalledLineReason(stall_));
}

bool SerialWriter::Fail(const std::string& reason) {
  if (WaitForSingleObject(stop_, 0) != WAIT_OBJECT_0) channel_->FailLine(reason);
  return false;
}

}  // namespace zelmo
