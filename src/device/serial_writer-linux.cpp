#include "device/serial_writer-linux.h"

#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace zelmo {
namespace {

// The shortest and longest time between two looks at a queue that does not move. A look finds the
// queue shrinking at the line's pace; on a stopped line the looks thin out to one a second.
constexpr std::chrono::milliseconds kFirstLook{20};
constexpr std::chrono::milliseconds kLongestLook{1000};

}  // namespace

std::string StalledLineReason(std::chrono::milliseconds stall) {
  return "the line has taken no data for " + std::to_string(stall.count() / 1000) +
         " s (the register holds it stopped: CTS low)";
}

SerialWriter::SerialWriter(EventLoop& loop, int fd, long baud,
                           std::function<void(const std::string&)> failed,
                           std::chrono::milliseconds stall)
    : loop_(loop), fd_(fd), baud_(std::max(baud, 1L)), failed_(std::move(failed)), stall_(stall) {}

int SerialWriter::Write(const std::string& wire) {
  if (stopped_ || failedLine_ || wire.empty()) return 0;
  const bool idle = waiting_.empty();
  waiting_ += wire;
  if (!idle) return 0;  // the loop already waits for the line to take more
  const auto now = Clock::now();
  progress_ = now;  // the line has the whole stall time from now
  lastQueued_ = -1;
  quietLooks_ = 0;
  if (const int error = WriteWaiting(); error != 0) {
    waiting_.clear();
    return error;
  }
  hasWaiting_ = !waiting_.empty();
  if (!waiting_.empty())
    loop_.WatchWritable(fd_, [self = shared_from_this()] { self->OnWritable(); });
  // Usually the reply comes, and the next command replaces this deadline, before it is due.
  loop_.SetDeadline(fd_, now + LookPeriod(static_cast<int>(wire.size())),
                    [self = shared_from_this()] { self->Look(); });
  return 0;
}

bool SerialWriter::Held() const {
  return !failedLine_ && (hasWaiting_ || DriverQueue() > 0);
}

int SerialWriter::WriteWaiting() {
  size_t done = 0;
  int error = 0;
  while (done < waiting_.size()) {
    const ssize_t n = write(fd_, waiting_.data() + done, waiting_.size() - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
    } else if (n < 0 && errno == EAGAIN) {
      break;
    } else if (!(n < 0 && errno == EINTR)) {
      error = n < 0 ? errno : EIO;
      break;
    }
  }
  waiting_.erase(0, done);
  if (done > 0) {
    progress_ = Clock::now();
    lastQueued_ = -1;
    quietLooks_ = 0;
  }
  return error;
}

void SerialWriter::OnWritable() {
  if (stopped_ || failedLine_ || waiting_.empty()) return;
  if (const int error = WriteWaiting(); error != 0) {
    // A terminal whose other end has gone gives EIO.
    Fail(error == EIO ? "the line was hung up" : std::strerror(error));
    return;
  }
  hasWaiting_ = !waiting_.empty();
  if (!waiting_.empty())
    loop_.WatchWritable(fd_, [self = shared_from_this()] { self->OnWritable(); });
}

// The driver's queue, looked at only while the loop has had nothing else to do since the last
// write: a shrinking queue is progress, an empty one with nothing in our hands is the end of it.
void SerialWriter::Look() {
  if (stopped_ || failedLine_) return;
  const int queued = DriverQueue();
  if (waiting_.empty() && queued == 0) return;
  const auto now = Clock::now();
  if (lastQueued_ >= 0 && queued < lastQueued_) {
    progress_ = now;
    quietLooks_ = 0;
  } else {
    ++quietLooks_;
  }
  lastQueued_ = queued;
  if (now - progress_ >= stall_) {
    Fail(StalledLineReason(stall_));
    return;
  }
  const auto next =
      std::min(now + LookPeriod(queued + static_cast<int>(waiting_.size())), progress_ + stall_);
  loop_.SetDeadline(fd_, next, [self = shared_from_this()] { self->Look(); });
}

// When `bytes` should have gone out at the line's speed, with room to spare, and later the
// longer the queue has stood still.
SerialWriter::Clock::duration SerialWriter::LookPeriod(int bytes) const {
  const auto line = std::chrono::microseconds(10'000'000LL * bytes / baud_ * 3 / 2);
  const auto quiet = kFirstLook * (1LL << std::min(quietLooks_, 6));
  return std::clamp<Clock::duration>(std::max<Clock::duration>(line, quiet), kFirstLook,
                                     kLongestLook);
}

void SerialWriter::Fail(const std::string& reason) {
  failedLine_ = true;
  waiting_.clear();
  hasWaiting_ = false;
  loop_.SetDeadline(fd_, {}, nullptr);
  failed_(reason);
}

int SerialWriter::DriverQueue() const {
  int queued = 0;
  return ioctl(fd_, TIOCOUTQ, &queued) == 0 ? queued : 0;
}

}  // namespace zelmo
