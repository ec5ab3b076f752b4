// The serial port on termios. The front-end's event loop reads the device itself when it can
// wait on descriptors; otherwise one reader thread waits on it and hands what arrives to the loop.
// On a real UART a second thread watches the modem lines and the driver's error counters.
// Everything the threads and the posted tasks share lives in a SerialChannel that outlives the
// port, so a task that runs after the port is closed finds it closed and does nothing.
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

#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>
#include <thread>

namespace zelmo {
namespace {

constexpr const char* kDialoutHint =
    "Додајте го корисникот во групата dialout (sudo usermod -aG dialout $USER), па најавете се "
    "повторно.";
constexpr const char* kInUseReason = "in use by another program";

// How long Output waits for the driver to take more bytes before it gives up. A frame fits the
// driver's buffer many times over, so this only runs out when the line is stuck (CTS held low).
constexpr int kWriteStallMs = 30000;

// How often the modem lines and error counters of a real UART are looked at.
constexpr auto kLineWatchPeriod = std::chrono::milliseconds(5);

std::string SystemReason(int error) {
  return std::strerror(error);
}

struct LineSettings {
  speed_t speed = B9600;
  tcflag_t parity = 0;  // PARENB, PARENB | PARODD or 0
  tcflag_t dataBits = CS8;
  bool twoStopBits = false;
};

std::optional<speed_t> SpeedOf(long baud) {
  static const std::pair<long, speed_t> kSpeeds[] = {
      {110, B110},       {300, B300},       {600, B600},       {1200, B1200},     {2400, B2400},
      {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},   {57600, B57600},
      {115200, B115200}, {230400, B230400}, {460800, B460800}, {921600, B921600},
  };
  for (const auto& [rate, speed] : kSpeeds) {
    if (rate == baud) return speed;
  }
  return std::nullopt;
}

// "9600,N,8,1": baud, parity N/E/O, data bits 5 to 8, stop bits 1 or 2.
std::optional<LineSettings> ParseSettings(const std::string& text) {
  const auto fields = SplitSettings(text);
  if (!fields) return std::nullopt;
  LineSettings line;
  const auto speed = SpeedOf(static_cast<long>(fields->baud));
  if (!speed) return std::nullopt;
  line.speed = *speed;

  const std::string& parity = fields->parity;
  if (parity == "N" || parity == "n") {
    line.parity = 0;
  } else if (parity == "E" || parity == "e") {
    line.parity = PARENB;
  } else if (parity == "O" || parity == "o") {
    line.parity = PARENB | PARODD;
  } else {
    return std::nullopt;
  }

  static const tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
  const std::string& bits = fields->dataBits;
  if (bits.size() != 1 || bits[0] < '5' || bits[0] > '8') return std::nullopt;
  line.dataBits = kSizes[bits[0] - '5'];

  if (fields->stopBits != "1" && fields->stopBits != "2") return std::nullopt;
  line.twoStopBits = fields->stopBits == "2";
  return line;
}

// On the loop's thread, when the loop saw the line readable: the bytes go to the listener at once,
// without a hand-over between threads. False once the line has failed.
bool ReadReady(SerialChannel& channel, int fd) {
  char buffer[4096];
  const ssize_t n = read(fd, buffer, sizeof buffer);
  if (n > 0) {
    channel.ReceiveHere(buffer, static_cast<size_t>(n));
    return true;
  }
  if (n < 0 && (errno == EAGAIN || errno == EINTR)) return true;
  channel.FailLineHere(n < 0 && errno != EIO ? SystemReason(errno) : "the line was hung up");
  return false;
}

// Reads until the wake pipe says stop or the line fails. No sleeping here: a reply byte goes to
// the loop as soon as poll() sees it.
void ReadLoop(std::shared_ptr<SerialChannel> channel, int fd, int wakeFd) {
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
// counters catch changes that a look at the lines themselves would miss between two looks.
void WatchLines(std::shared_ptr<SerialChannel> channel, int fd, serial_icounter_struct last) {
  while (!channel->WaitForStop(kLineWatchPeriod)) {
    serial_icounter_struct now;
    if (!ReadCounters(fd, now)) return;
    for (const auto& [counter, event] : kCounterEvents) {
      if (now.*counter != last.*counter) channel->PostEvent(event);
    }
    last = now;
  }
}

class PosixSerialPort : public SerialPort {
 public:
  PosixSerialPort(EventLoop& loop, CommListener& listener) : loop_(loop), listener_(listener) {}
  ~PosixSerialPort() override { Close(); }

  void SetCommPort(int16_t port, const std::string& device) override {
    port_ = port;
    device_ = device.empty() ? DefaultDevicePath(port) : device;
  }

  void SetSettings(const std::string& settings) override {
    const auto parsed = ParseSettings(settings);
    if (!parsed) throw SerialError(Device(), "invalid line settings \"" + settings + "\"", EINVAL);
    settings_ = *parsed;
  }

  void SetRTSEnable(bool on) override { rts_ = on; }
  void SetDTREnable(bool on) override { dtr_ = on; }
  void SetHandshaking(int mode) override { handshaking_ = mode; }

  void SetPortOpen(bool open) override {
    if (open) {
      Open();
    } else {
      Close();
    }
  }

  bool PortOpen() const override { return fd_ >= 0; }

  void Output(const std::string& wire) override {
    if (wire.empty()) return;
    if (fd_ < 0) throw SerialError(Device(), "the port is not open");
    size_t done = 0;
    while (done < wire.size()) {
      const ssize_t n = write(fd_, wire.data() + done, wire.size() - done);
      if (n > 0) {
        done += static_cast<size_t>(n);
      } else if (n < 0 && errno == EAGAIN) {
        WaitWritable();
      } else if (!(n < 0 && errno == EINTR)) {
        const int error = n < 0 ? errno : EIO;
        throw SerialError(Device(), SystemReason(error), error);
      }
    }
  }

  std::string Input() override { return channel_ ? channel_->TakeReceived() : std::string(); }

 private:
  std::string Device() const { return device_.empty() ? DefaultDevicePath(port_) : device_; }

  [[noreturn]] void Fail(int error, std::string reason = "") {
    CloseDescriptors();
    if (reason.empty()) reason = SystemReason(error);
    const bool denied = error == EACCES || error == EPERM;
    throw SerialError(Device(), reason, error, denied ? kDialoutHint : "");
  }

  void Open() {
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
    tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
    tio.c_cflag |= settings_.dataBits | settings_.parity | CLOCAL | CREAD;
    if (settings_.twoStopBits) tio.c_cflag |= CSTOPB;
    if (handshaking_ == kHandshakeRtsCts) tio.c_cflag |= CRTSCTS;
    if (settings_.parity != 0) tio.c_iflag |= INPCK;
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    if (cfsetispeed(&tio, settings_.speed) != 0 || cfsetospeed(&tio, settings_.speed) != 0) {
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
    if (pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) Fail(errno);
    wakeRead_ = pipeFds[0];
    wakeWrite_ = pipeFds[1];
    channel_ = std::make_shared<SerialChannel>(loop_, listener_);
    const int fd = fd_;
    // The listener may close and drop this port from within ReadReady: the callback holds only
    // what outlives it.
    watching_ = loop_.WatchReadable(fd, [&loop = loop_, channel = channel_, fd] {
      if (!ReadReady(*channel, fd)) loop.Unwatch(fd);
    });
    if (!watching_) reader_ = std::thread(ReadLoop, channel_, fd_, wakeRead_);
    serial_icounter_struct counters;
    if (ReadCounters(fd_, counters))
      lineWatcher_ = std::thread(WatchLines, channel_, fd_, counters);
  }

  void WaitWritable() {
    pollfd out = {fd_, POLLOUT, 0};
    int ready;
    do {
      ready = poll(&out, 1, kWriteStallMs);
    } while (ready < 0 && errno == EINTR);
    if (ready == 0)
      throw SerialError(Device(), "the line takes no more data (timed out)", ETIMEDOUT);
    if (ready < 0) throw SerialError(Device(), SystemReason(errno), errno);
  }

  void Close() {
    if (watching_) loop_.Unwatch(fd_);
    watching_ = false;
    if (channel_) channel_->Close();
    if (wakeWrite_ >= 0) {
      const char stop = 0;
      while (write(wakeWrite_, &stop, 1) < 0 && errno == EINTR) {
      }
    }
    if (reader_.joinable()) reader_.join();
    if (lineWatcher_.joinable()) lineWatcher_.join();
    channel_.reset();
    if (fd_ >= 0) ioctl(fd_, TIOCNXCL);
    CloseDescriptors();
  }

  void CloseDescriptors() {
    for (int* fd : {&fd_, &wakeRead_, &wakeWrite_}) {
      if (*fd >= 0) close(*fd);  // closing the device also releases its lock
      *fd = -1;
    }
  }

  EventLoop& loop_;
  CommListener& listener_;
  int16_t port_ = 1;
  std::string device_;
  LineSettings settings_;
  bool rts_ = false;
  bool dtr_ = false;
  int handshaking_ = 0;

  int fd_ = -1;
  int wakeRead_ = -1;
  int wakeWrite_ = -1;
  std::shared_ptr<SerialChannel> channel_;
  std::thread reader_;
  std::thread lineWatcher_;
  bool watching_ = false;
};

}  // namespace

std::unique_ptr<SerialPort> MakeSerialPort(EventLoop& loop, CommListener& listener) {
  return std::make_unique<PosixSerialPort>(loop, listener);
}

std::string DefaultDevicePath(int16_t port) {
  return "/dev/ttyS" + std::to_string(port - 1);
}

}  // namespace zelmo
