// The serial port on termios. The line is read and written on the front-end's event loop when
// it can wait on descriptors: a reply reaches the listener and the next command goes out on that
// one thread, with nothing else woken. Otherwise a thread of the port's own does the same and
// hands what arrives to the loop. Writes never wait (serial_writer-linux.h). On a real UART a line
// watcher sleeps in the driver until a modem line changes, and the driver's error counters are
// read whenever bytes arrive. Everything the threads and the posted tasks share lives in a
// SerialChannel that outlives the port, so a task that runs after the port is closed finds it
// closed and does nothing.
#include "device/serial_port-linux.h"

#include "device/line_settings.h"
#include "device/port_thread-linux.h"
#include "device/serial_channel.h"
#include "device/serial_port.h"
#include "device/serial_writer-linux.h"
#include "sys/ready_wait.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>
#include <functional>
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

// Where the driver cannot wait for modem-line changes, how often the lines are looked at.
constexpr auto kLineLookPeriod = std::chrono::milliseconds(50);

std::string SystemReason(int error) {
  return std::strerror(error);
}

constexpr std::pair<unsigned long, speed_t> kSpeeds[] = {
    {110, B110},       {300, B300},       {600, B600},       {1200, B1200},     {2400, B2400},
    {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},   {57600, B57600},
    {115200, B115200}, {230400, B230400}, {460800, B460800}, {921600, B921600},
};

std::optional<speed_t> SpeedOf(unsigned long baud) {
  for (const auto& [rate, speed] : kSpeeds) {
    if (rate == baud) return speed;
  }
  return std::nullopt;
}

std::string BaudOf(speed_t speed) {
  for (const auto& [rate, code] : kSpeeds) {
    if (code == speed) return std::to_string(rate) + " baud";
  }
  return "another speed";
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

// The parity a c_cflag stands for; PARODD and CMSPAR mean nothing without PARENB.
tcflag_t ParityOf(const termios& tio) {
  return (tio.c_cflag & PARENB) ? tio.c_cflag & (PARENB | PARODD | CMSPAR) : 0;
}

std::string ParityName(tcflag_t parity) {
  switch (parity) {
    case 0:
      return "no parity";
    case PARENB:
      return "even parity";
    case PARENB | PARODD:
      return "odd parity";
    case PARENB | CMSPAR | PARODD:
      return "mark parity";
    case PARENB | CMSPAR:
      return "space parity";
  }
  return "another parity";
}

char ParityLetter(Parity parity) {
  static const char kLetters[] = {'N', 'E', 'O', 'M', 'S'};
  return kLetters[static_cast<int>(parity)];
}

// The line as the settings file writes it.
std::string SettingsText(const LineSettings& line) {
  return std::to_string(line.baud) + "," + ParityLetter(line.parity) + "," +
         std::to_string(line.dataBits) + "," + (line.stopBits == StopBits::kTwo ? "2" : "1");
}

// A pseudo-terminal carries bytes alone: it keeps the speed, stop bits and flow control it is
// given but always reads back 8 data bits without parity.
bool IsPseudoTerminal(int fd) {
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return false;
  constexpr unsigned kFirstPtyMajor = 136, kPtyMajors = 8;  // the kernel's slave range
  return major(st.st_rdev) - kFirstPtyMajor < kPtyMajors;
}

std::string Join(const std::vector<std::string>& parts) {
  std::string all;
  for (const std::string& part : parts) all += (all.empty() ? "" : ", ") + part;
  return all;
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

// When the loop saw the line readable: the bytes go to the listener. On the front-end's own loop
// (`here`) they reach it at once, without a hand-over between threads; from the port's own
// thread they are posted. False once the line has failed.
bool ReadReady(SerialChannel& channel, LineCounters* counters, int fd, bool here) {
  char buffer[4096];
  const ssize_t n = read(fd, buffer, sizeof buffer);
  if (n > 0) {
    if (here) {
      RaiseCounterEventsHere(channel, counters);
      channel.ReceiveHere(buffer, static_cast<size_t>(n));
    } else {
      PostCounterEvents(channel, counters);
      channel.Receive(buffer, static_cast<size_t>(n));
    }
    return true;
  }
  if (n < 0 && (errno == EAGAIN || errno == EINTR)) return true;
  // A hung-up terminal reads as end of file; a pseudo-terminal whose other end has gone gives
  // EIO.
  const std::string reason = n < 0 && errno != EIO ? SystemReason(errno) : "the line was hung up";
  if (here) {
    channel.FailLineHere(reason);
  } else {
    channel.FailLine(reason);
  }
  return false;
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

class PosixSerialPort : public PortProperties {
 public:
  PosixSerialPort(EventLoop& loop, CommListener& listener)
      : PortProperties(EINVAL), loop_(loop), listener_(listener) {}
  ~PosixSerialPort() override { Close(); }

  bool PortOpen() const override { return fd_ >= 0; }

  void Output(const std::string& wire) override {
    if (wire.empty()) return;
    if (fd_ < 0) throw SerialError(Device(), "the port is not open");
    if (!thread_) {
      if (const int error = writer_->Write(wire); error != 0) {
        throw SerialError(Device(), SystemReason(error), error);
      }
      return;
    }
    // The port's thread found the line gone: say so now, as a write on this thread would.
    if (*lineDown_) throw SerialError(Device(), "the line has failed");
    thread_->Post([writer = writer_, channel = channel_, wire, device = Device()] {
      if (const int error = writer->Write(wire); error != 0) {
        channel->FailLine(device + ": " + SystemReason(error));
      }
    });
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
    // tcsetattr succeeds when any one change took: an adapter that ignores one would run another
    // line without a word, and the register would only seem not to answer.
    termios got;
    if (tcgetattr(fd_, &got) != 0) Fail(errno);
    const std::string missed =
        LineNotTaken(tio, got, IsPseudoTerminal(fd_), SettingsText(settings_), handshaking_);
    if (!missed.empty()) Fail(EINVAL, missed);
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

  // The line is read and written on the front-end's loop when it can wait on descriptors, else
  // on a thread of the port's own.
  void StartThreads() {
    channel_ = std::make_shared<SerialChannel>(loop_, listener_);
    const int fd = fd_;
    auto counters = LineCounters::Of(fd_);
    // The listener may close and drop this port from within a callback: each holds only what
    // outlives it.
    lineDown_ = std::make_shared<std::atomic<bool>>(false);
    auto reading = [channel = channel_, counters, fd, down = lineDown_](EventLoop& io, bool here) {
      return [&io, channel, counters, fd, here, down] {
        if (ReadReady(*channel, counters.get(), fd, here)) return;
        *down = true;
        io.Unwatch(fd);
      };
    };
    watching_ = loop_.WatchReadable(fd, reading(loop_, true));
    if (!watching_) {
      try {
        thread_ = std::make_unique<PortThread>(
            [channel = channel_](const std::string& reason) { channel->FailLine(reason); });
      } catch (const std::system_error&) {
        // Not the port's fault but the program's: it is out of descriptors.
        Close();
        throw;
      }
      thread_->WatchReadable(fd, reading(*thread_, false));
    }
    EventLoop& io = thread_ ? static_cast<EventLoop&>(*thread_) : loop_;
    auto failed = [channel = channel_, device = Device(), here = watching_,
                   down = lineDown_](const std::string& why) {
      *down = true;
      if (here) {
        channel->FailLineHere(device + ": " + why);
      } else {
        channel->FailLine(device + ": " + why);
      }
    };
    writer_ = std::make_shared<SerialWriter>(io, fd, static_cast<long>(settings_.baud), failed);
    try {
      if (thread_) thread_->Start();
      if (counters) {
        lineWatcherDone_ = std::make_shared<std::atomic<bool>>(false);
        StopSignal();  // its handler is in place before the watcher can be sent it
        lineWatcher_ = std::thread(WatchModemLines, channel_, counters, fd_, lineWatcherDone_);
      }
    } catch (const std::system_error&) {
      Close();
      throw;
    }
  }

  void Close() override {
    if (channel_) channel_->Close();
    // The port's own thread ends first: from then on the writer is this thread's alone.
    if (thread_) thread_->Stop();
    if (writer_) writer_->Stop();
    if (watching_) loop_.Unwatch(fd_);
    watching_ = false;
    StopLineWatcher();
    thread_.reset();
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
    if (fd_ >= 0) close(fd_);  // closing the device also releases its lock
    fd_ = -1;
  }

  EventLoop& loop_;
  CommListener& listener_;

  int fd_ = -1;
  std::shared_ptr<SerialChannel> channel_;
  std::shared_ptr<SerialWriter> writer_;
  std::unique_ptr<PortThread> thread_;  // only where the front-end's loop cannot watch the line
  std::shared_ptr<std::atomic<bool>> lineDown_;  // the line failed, as the port's thread found
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

std::string LineNotTaken(const termios& asked, const termios& got, bool bytesOnly,
                         const std::string& settings, int handshaking) {
  std::vector<std::string> kept;
  if (cfgetospeed(&got) != cfgetospeed(&asked) || cfgetispeed(&got) != cfgetispeed(&asked)) {
    kept.push_back(BaudOf(cfgetospeed(&got)));
  }
  if (!bytesOnly && (got.c_cflag & CSIZE) != (asked.c_cflag & CSIZE)) {
    static const char* kSizes[] = {"5", "6", "7", "8"};
    kept.push_back(std::string(kSizes[(got.c_cflag & CSIZE) / CS6]) + " data bits");
  }
  if (!bytesOnly && ParityOf(got) != ParityOf(asked)) kept.push_back(ParityName(ParityOf(got)));
  if ((got.c_cflag & CSTOPB) != (asked.c_cflag & CSTOPB)) {
    kept.push_back((got.c_cflag & CSTOPB) ? "2 stop bits" : "1 stop bit");
  }
  std::vector<std::string> missed;
  if (!kept.empty()) {
    missed.push_back("the line did not take Settings=" + settings + ": the driver keeps " +
                     Join(kept));
  }
  if ((got.c_cflag & CRTSCTS) != (asked.c_cflag & CRTSCTS)) {
    missed.push_back("the line did not take Handshaking=" + std::to_string(handshaking) +
                     ": the driver keeps " +
                     ((got.c_cflag & CRTSCTS) ? "RTS/CTS flow control" : "no flow control"));
  }
  std::string reason;
  for (const std::string& part : missed) reason += (reason.empty() ? "" : "; ") + part;
  return reason;
}

std::unique_ptr<SerialPort> MakeSerialPort(EventLoop& loop, CommListener& listener) {
  return std::make_unique<PosixSerialPort>(loop, listener);
}

std::string DefaultDevicePath(int16_t port) {
  return "/dev/ttyS" + std::to_string(port - 1);
}

}  // namespace zelmo
