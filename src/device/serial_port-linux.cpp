// The serial port on termios. The front-end's event loop reads the device itself when it can
// wait on descriptors; otherwise one reader thread waits on it and hands what arrives to the loop.
// Writes never wait on the loop: what the driver cannot take at once is written by a writer
// thread, which also gives up on a line that takes nothing for 30 s. On a real UART a line
// watcher sleeps in the driver until a modem line changes, and the driver's error counters are
// read whenever bytes arrive. Everything the threads and the posted tasks share lives in a
// SerialChannel that outlives the port, so a task that runs after the port is closed finds it
// closed and does nothing.
#include "device/serial_port-linux.h"

#include "device/line_settings.h"
#include "device/serial_channel.h"
#include "device/serial_port.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

namespace zelmo {
namespace {

constexpr const char* kDialoutHint =
    "Додајте го корисникот во групата dialout (sudo usermod -aG dialout $USER), па најавете се "
    "повторно.";
constexpr const char* kInUseReason = "in use by another program";

// How long the line may take no bytes at all, with bytes waiting to go, before it counts as
// failed. A frame goes out in well under a second, so this only runs out when the line is stuck
// (the register holds CTS low).
constexpr auto kWriteStall = std::chrono::seconds(30);
constexpr const char* kStallReason =
    "the line has taken no data for 30 s (the register holds it stopped: CTS low)";

// Where the driver cannot wait for modem-line changes, how often the lines are looked at.
constexpr auto kLineLookPeriod = std::chrono::milliseconds(50);

std::string SystemReason(int error) {
  return std::strerror(error);
}

std::optional<speed_t> SpeedOf(unsigned long baud) {
  static const std::pair<unsigned long, speed_t> kSpeeds[] = {
      {110, B110},       {300, B300},       {600, B600},       {1200, B1200},     {2400, B2400},
      {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},   {57600, B57600},
      {115200, B115200}, {230400, B230400}, {460800, B460800}, {921600, B921600},
  };
  for (const auto& [rate, speed] : kSpeeds) {
    if (rate == baud) return speed;
  }
  return std::nullopt;
}

// The parity bits of c_cflag. Mark and space are a parity bit that does not change: CMSPAR, with
// PARODD for a bit that is always 1.
tcflag_t ParityFlags(Parity parity) {
  switch (parity) {
    case Parity::kNone:
      return 0;
    case Parity::kEven:
      return PARENB;
    case Parity::kOdd:
      return PARENB | PARODD;
    case Parity::kMark:
      return PARENB | CMSPAR | PARODD;
    case Parity::kSpace:
      return PARENB | CMSPAR;
  }
  return 0;
}

tcflag_t SizeFlags(int dataBits) {
  static const tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
  return kSizes[std::clamp(dataBits, 5, 8) - 5];
}

// Each counter the driver keeps, and the event its increase stands for.
struct CounterEvent {
  int serial_icounter_struct::*counter;
  int16_t event;
};
constexpr CounterEvent kCounterEvents[] = {
    {&serial_icounter_struct::cts, comEvCTS},
    {&serial_icounter_struct::dsr, comEvDSR},
    {&serial_icounter_struct::dcd, comEvCD},
    {&serial_icounter_struct::rng, comEvRing},
    {&serial_icounter_struct::brk, comEventBreak},
    {&serial_icounter_struct::frame, comEventFrame},
    {&serial_icounter_struct::overrun, comEventOverrun},
    {&serial_icounter_struct::buf_overrun, comEventRxOver},
    {&serial_icounter_struct::parity, comEventRxParity},
};

bool ReadCounters(int fd, serial_icounter_struct& counters) {
  std::memset(&counters, 0, sizeof counters);
  return ioctl(fd, TIOCGICOUNT, &counters) == 0;
}

// A real UART counts line changes and receive errors; a rise in a counter becomes its event. The
// counters catch changes that a look at the lines themselves would miss between two looks. The
// line watcher and the readers both look; each rise is reported once.
class LineCounters {
 public:
  // Nothing where the driver keeps no counters (a pseudo-terminal).
  static std::shared_ptr<LineCounters> Of(int fd) {
    serial_icounter_struct now;
    if (!ReadCounters(fd, now)) return nullptr;
    return std::make_shared<LineCounters>(fd, now);
  }
  LineCounters(int fd, const serial_icounter_struct& now) : fd_(fd), last_(now) {}

  // The events of the counters that rose since the last look, in the table's order.
  std::vector<int16_t> Rises() {
    std::lock_guard lock(mutex_);
    serial_icounter_struct now;
    if (!ReadCounters(fd_, now)) return {};
    std::vector<int16_t> events = CounterRises(last_, now);
    last_ = now;
    return events;
  }

 private:
  std::mutex mutex_;
  const int fd_;
  serial_icounter_struct last_;
};

// A break or a character with a framing or parity error is no byte of the input (the line
// ignores them), so it is seen in the counters when the next bytes arrive.
void RaiseCounterEventsHere(SerialChannel& channel, LineCounters* counters) {
  if (counters == nullptr) return;
  for (int16_t event : counters->Rises()) channel.RaiseHere(event);
}

void PostCounterEvents(SerialChannel& channel, LineCounters* counters) {
  if (counters == nullptr) return;
  for (int16_t event : counters->Rises()) channel.PostEvent(event);
}

// On the loop's thread, when the loop saw the line readable: the bytes go to the listener at once,
// without a hand-over between threads. False once the line has failed.
bool ReadReady(SerialChannel& channel, LineCounters* counters, int fd) {
  char buffer[4096];
  const ssize_t n = read(fd, buffer, sizeof buffer);
  if (n > 0) {
    RaiseCounterEventsHere(channel, counters);
    channel.ReceiveHere(buffer, static_cast<size_t>(n));
    return true;
  }
  if (n < 0 && (errno == EAGAIN || errno == EINTR)) return true;
  channel.FailLineHere(n < 0 && errno != EIO ? SystemReason(errno) : "the line was hung up");
  return false;
}

// Reads until the wake pipe says stop or the line fails. No sleeping here: a reply byte goes to
// the loop as soon as poll() sees it.
void ReadLoop(std::shared_ptr<SerialChannel> channel, std::shared_ptr<LineCounters> counters,
              int fd, int wakeFd) {
  char buffer[4096];
  pollfd fds[2] = {{fd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
  for (;;) {
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      channel->FailLine(SystemReason(errno));
      return;
    }
    if (fds[1].revents != 0) return;
    if (fds[0].revents == 0) continue;
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n > 0) {
      PostCounterEvents(*channel, counters.get());
      channel->Receive(buffer, static_cast<size_t>(n));
      continue;
    }
    const int error = n < 0 ? errno : 0;
    const bool hungUp = (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
    if (error == EINTR || (error == EAGAIN && !hungUp)) continue;
    // A hung-up terminal reads as end of file; a pseudo-terminal whose other end has gone gives
    // EIO.
    channel->FailLine(n < 0 && error != EAGAIN ? SystemReason(error) : "the line was hung up");
    return;
  }
}

// The signal that ends the line watcher's wait in the driver; it does nothing else.
int StopSignal() {
  static const int signal = [] {
    struct sigaction action {};
    action.sa_handler = [](int) {};
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no restart: the wait must end
    sigaction(SIGRTMIN, &action, nullptr);
    return SIGRTMIN;
  }();
  return signal;
}

// Sleeps in the driver until a modem line changes (TIOCMIWAIT), then reports what the counters
// say: no wake-ups while the lines keep still. The port stops it with StopSignal().
void WatchModemLines(std::shared_ptr<SerialChannel> channel, std::shared_ptr<LineCounters> counters,
                     int fd, std::shared_ptr<std::atomic<bool>> done) {
  // Whatever the thread that opened the port blocks, the stop must get through.
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, StopSignal());
  pthread_sigmask(SIG_UNBLOCK, &stop, nullptr);
  const int lines = TIOCM_CTS | TIOCM_DSR | TIOCM_CD | TIOCM_RNG;
  while (!channel->Stopping()) {
    if (ioctl(fd, TIOCMIWAIT, lines) == 0) {
      PostCounterEvents(*channel, counters.get());
    } else if (errno != EINTR) {
      // A driver that cannot wait for the lines: look at them now and then instead.
      while (!channel->WaitForStop(kLineLookPeriod)) PostCounterEvents(*channel, counters.get());
    }
  }
  *done = true;
}

// Bytes the driver could not take at once, written by the writer thread in their order, and the
// driver's own queue watched until it has gone out. A line that takes nothing for kWriteStall
// while bytes wait has failed.
class Writer {
 public:
  Writer(std::shared_ptr<SerialChannel> channel, int fd, int wakeFd, long baud, std::string device)
      : channel_(std::move(channel)),
        fd_(fd),
        wakeFd_(wakeFd),
        baud_(baud),
        device_(std::move(device)) {}

  // On the loop's thread. Never waits for the line. False when the line has failed.
  bool Output(const std::string& wire, int& error) {
    std::lock_guard lock(mutex_);
    if (failed_) return true;  // the failure is on its way to the listener
    if (waiting_.empty()) {
      size_t done = 0;
      while (done < wire.size()) {
        const ssize_t n = write(fd_, wire.data() + done, wire.size() - done);
        if (n > 0) {
          done += static_cast<size_t>(n);
        } else if (n < 0 && errno == EAGAIN) {
          break;
        } else if (!(n < 0 && errno == EINTR)) {
          error = n < 0 ? errno : EIO;
          return false;
        }
      }
      waiting_ = wire.substr(done);
    } else {
      waiting_ += wire;
    }
    progress_ = std::chrono::steady_clock::now();
    work_ = true;
    wake_.notify_all();
    return true;
  }

  void Stop() {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    wake_.notify_all();
  }

  void Run() {
    std::unique_lock lock(mutex_);
    for (;;) {
      wake_.wait(lock, [this] { return stopping_ || work_; });
      if (stopping_) return;
      if (!waiting_.empty()) {
        WriteWaiting(lock);
      } else if (const int queued = DriverQueue(); queued > 0) {
        WatchDrain(lock, queued);
      } else {
        work_ = false;
      }
      if (!failed_ && std::chrono::steady_clock::now() - progress_ >= kWriteStall) Fail(lock);
    }
  }

  // Bytes of Output that have not gone out yet, in our hands or the driver's.
  bool Held() {
    const std::lock_guard lock(mutex_);
    return !failed_ && (!waiting_.empty() || DriverQueue() > 0);
  }

 private:
  int DriverQueue() const {
    int queued = 0;
    return ioctl(fd_, TIOCOUTQ, &queued) == 0 ? queued : 0;
  }

  // Waits until the driver takes more (or the port closes), then gives it what it takes.
  void WriteWaiting(std::unique_lock<std::mutex>& lock) {
    const auto left = kWriteStall - (std::chrono::steady_clock::now() - progress_);
    const int timeout = static_cast<int>(std::max<long long>(
        0, std::chrono::duration_cast<std::chrono::milliseconds>(left).count()));
    lock.unlock();
    pollfd fds[2] = {{fd_, POLLOUT, 0}, {wakeFd_, POLLIN, 0}};
    const int ready = poll(fds, 2, timeout);
    lock.lock();
    if (ready <= 0 || stopping_) return;
    if ((fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
      FailWith(lock, "the line was hung up");
      return;
    }
    if ((fds[0].revents & POLLOUT) == 0) return;
    const ssize_t n = write(fd_, waiting_.data(), waiting_.size());
    if (n > 0) {
      waiting_.erase(0, static_cast<size_t>(n));
      progress_ = std::chrono::steady_clock::now();
    } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
      FailWith(lock, SystemReason(errno));
    }
  }

  // The driver holds bytes that have not gone out: look again when they should have, at the
  // line's own pace, and count a shrinking queue as progress.
  void WatchDrain(std::unique_lock<std::mutex>& lock, int queued) {
    const long byteMicros = 10'000'000L / std::max(baud_, 1L);
    const auto period =
        std::clamp(std::chrono::microseconds(queued * byteMicros * 3 / 2),
                   std::chrono::microseconds(20'000), std::chrono::microseconds(1'000'000));
    wake_.wait_for(lock, period, [this] { return stopping_ || !waiting_.empty(); });
    if (stopping_) return;
    const int now = DriverQueue();
    if (now < queued) progress_ = std::chrono::steady_clock::now();
  }

  void Fail(std::unique_lock<std::mutex>& lock) { FailWith(lock, kStallReason); }

  void FailWith(std::unique_lock<std::mutex>&, const std::string& reason) {
    failed_ = true;
    work_ = false;
    waiting_.clear();
    channel_->FailLine(device_ + ": " + reason);
  }

  std::shared_ptr<SerialChannel> channel_;
  const int fd_, wakeFd_;
  const long baud_;
  const std::string device_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::string waiting_;
  std::chrono::steady_clock::time_point progress_;
  bool work_ = false;
  bool failed_ = false;
  bool stopping_ = false;
};

class PosixSerialPort : public PortProperties {
 public:
  PosixSerialPort(EventLoop& loop, CommListener& listener)
      : PortProperties(EINVAL), loop_(loop), listener_(listener) {}
  ~PosixSerialPort() override { Close(); }

  bool PortOpen() const override { return fd_ >= 0; }

  void Output(const std::string& wire) override {
    if (wire.empty()) return;
    if (fd_ < 0) throw SerialError(Device(), "the port is not open");
    int error = 0;
    if (!writer_->Output(wire, error)) throw SerialError(Device(), SystemReason(error), error);
  }

  std::string Input() override { return channel_ ? channel_->TakeReceived() : std::string(); }

  bool OutputHeld() override { return writer_ && writer_->Held(); }

 private:
  // Speeds of the table, 5 to 8 data bits, 1 or 2 stop bits.
  bool Runs(const LineSettings& line) const override {
    return SpeedOf(line.baud) && line.dataBits >= 5 && line.stopBits != StopBits::kOneAndHalf;
  }

  [[noreturn]] void Fail(int error, std::string reason = "") {
    CloseDescriptors();
    if (reason.empty()) reason = SystemReason(error);
    const bool denied = error == EACCES || error == EPERM;
    throw SerialError(Device(), reason, error, denied ? kDialoutHint : "");
  }

  void Open() override {
    if (fd_ >= 0) return;
    fd_ = open(Device().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) {
      const int error = errno;
      Fail(error, error == EBUSY ? kInUseReason : "");
    }
    // TIOCEXCL does not hold off root; the advisory lock does, for every program that asks.
    if (flock(fd_, LOCK_EX | LOCK_NB) != 0) {
      const int error = errno;
      Fail(error, error == EWOULDBLOCK ? kInUseReason : "");
    }
    termios tio;
    if (tcgetattr(fd_, &tio) != 0) {
      const int error = errno;
      Fail(error, error == ENOTTY ? "not a serial port (" + SystemReason(error) + ")" : "");
    }
    if (ioctl(fd_, TIOCEXCL) != 0) Fail(errno);
    Configure(tio);
    SetModemLines();
    tcflush(fd_, TCIFLUSH);  // whatever the register said before we came is not a reply
    StartThreads();
  }

  void Configure(termios& tio) {
    cfmakeraw(&tio);
    tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    tio.c_cflag |= SizeFlags(settings_.dataBits) | ParityFlags(settings_.parity) | CLOCAL | CREAD;
    if (settings_.stopBits == StopBits::kTwo) tio.c_cflag |= CSTOPB;
    if (handshaking_ == kHandshakeRtsCts) tio.c_cflag |= CRTSCTS;
    // A break and a character that arrived with a framing or parity error are line events, never
    // bytes of a reply (a break would read as a NUL before the ACK that follows it): the driver
    // drops them and counts them. The hardware checks parity only when the settings ask for it.
    tio.c_iflag |= IGNBRK | INPCK | IGNPAR;
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    const speed_t speed = SpeedOf(settings_.baud).value_or(B9600);
    if (cfsetispeed(&tio, speed) != 0 || cfsetospeed(&tio, speed) != 0) {
      Fail(errno);
    }
    if (tcsetattr(fd_, TCSANOW, &tio) != 0) Fail(errno);
  }

  // A pseudo-terminal has no modem lines and says so with ENOTTY or EINVAL; that is not a fault.
  void SetModemLines() {
    const int rts = TIOCM_RTS, dtr = TIOCM_DTR;
    if (ioctl(fd_, rts_ ? TIOCMBIS : TIOCMBIC, &rts) != 0 && errno != ENOTTY && errno != EINVAL) {
      Fail(errno);
    }
    if (ioctl(fd_, dtr_ ? TIOCMBIS : TIOCMBIC, &dtr) != 0 && errno != ENOTTY && errno != EINVAL) {
      Fail(errno);
    }
  }

  void StartThreads() {
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) {
      // Not the port's fault but the program's: it is out of descriptors.
      const int error = errno;
      CloseDescriptors();
      throw std::system_error(error, std::generic_category(), "pipe2");
    }
    wakeRead_ = pipeFds[0];
    wakeWrite_ = pipeFds[1];
    channel_ = std::make_shared<SerialChannel>(loop_, listener_);
    const int fd = fd_;
    auto counters = LineCounters::Of(fd_);
    // The listener may close and drop this port from within ReadReady: the callback holds only
    // what outlives it.
    watching_ = loop_.WatchReadable(fd, [&loop = loop_, channel = channel_, counters, fd] {
      if (!ReadReady(*channel, counters.get(), fd)) loop.Unwatch(fd);
    });
    if (!watching_) reader_ = std::thread(ReadLoop, channel_, counters, fd_, wakeRead_);
    writer_ = std::make_shared<Writer>(channel_, fd_, wakeRead_, static_cast<long>(settings_.baud),
                                       Device());
    writerThread_ = std::thread([writer = writer_] { writer->Run(); });
    if (counters) {
      lineWatcherDone_ = std::make_shared<std::atomic<bool>>(false);
      StopSignal();  // its handler is in place before the watcher can be sent it
      lineWatcher_ = std::thread(WatchModemLines, channel_, counters, fd_, lineWatcherDone_);
    }
  }

  void Close() override {
    if (watching_) loop_.Unwatch(fd_);
    watching_ = false;
    if (channel_) channel_->Close();
    if (writer_) writer_->Stop();
    if (wakeWrite_ >= 0) {
      const char stop = 0;
      while (write(wakeWrite_, &stop, 1) < 0 && errno == EINTR) {
      }
    }
    if (reader_.joinable()) reader_.join();
    if (writerThread_.joinable()) writerThread_.join();
    StopLineWatcher();
    channel_.reset();
    writer_.reset();
    if (fd_ >= 0) {
      // What has not gone out by now never will: closing a UART would otherwise wait up to 30 s
      // for a stopped line to take it.
      tcflush(fd_, TCOFLUSH);
      ioctl(fd_, TIOCNXCL);
    }
    CloseDescriptors();
  }

  // The watcher sleeps in the driver, which only a signal wakes; one sent just before it went to
  // sleep is missed, so the signal is sent until the watcher has gone.
  void StopLineWatcher() {
    if (!lineWatcher_.joinable()) return;
    while (!*lineWatcherDone_) {
      pthread_kill(lineWatcher_.native_handle(), StopSignal());
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    lineWatcher_.join();
    lineWatcherDone_.reset();
  }

  void CloseDescriptors() {
    for (int* fd : {&fd_, &wakeRead_, &wakeWrite_}) {
      if (*fd >= 0) close(*fd);  // closing the device also releases its lock
      *fd = -1;
    }
  }

  EventLoop& loop_;
  CommListener& listener_;

  int fd_ = -1;
  int wakeRead_ = -1;
  int wakeWrite_ = -1;
  std::shared_ptr<SerialChannel> channel_;
  std::shared_ptr<Writer> writer_;
  std::thread reader_;
  std::thread writerThread_;
  std::thread lineWatcher_;
  std::shared_ptr<std::atomic<bool>> lineWatcherDone_;
  bool watching_ = false;
};

}  // namespace

std::vector<int16_t> CounterRises(const serial_icounter_struct& before,
                                  const serial_icounter_struct& now) {
  std::vector<int16_t> events;
  for (const auto& [counter, event] : kCounterEvents) {
    if (now.*counter != before.*counter) events.push_back(event);
  }
  return events;
}

std::unique_ptr<SerialPort> MakeSerialPort(EventLoop& loop, CommListener& listener) {
  return std::make_unique<PosixSerialPort>(loop, listener);
}

std::string DefaultDevicePath(int16_t port) {
  return "/dev/ttyS" + std::to_string(port - 1);
}

}  // namespace zelmo
