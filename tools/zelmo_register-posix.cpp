// zelmo-register: a fiscal register on a pseudo-terminal (or on a given serial device), for
// integrators, demonstrations and the bridge's own end-to-end tests. See --help.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <iostream>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "register_engine.h"
#include "register_options.h"
#include "register_receipt.h"

namespace zelmo::sim {
namespace {

enum ExitStatus { kDone = 0, kLineFailed = 1, kBadUsage = 2, kTimedOut = 3 };

class LineError : public std::runtime_error {
 public:
  LineError(const std::string& what, int error)
      : std::runtime_error(what + ": " + std::strerror(error)) {}
};

// Written by the signal handler, read by the main loop: the one way a signal gets in.
int signalPipe[2] = {-1, -1};

void OnSignal(int) {
  const int saved = errno;
  const char b = 0;
  (void)!write(signalPipe[1], &b, 1);
  errno = saved;
}

void CatchSignals() {
  if (pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) throw LineError("pipe", errno);
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaction(s, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);
}

void MakeRaw(int fd) {
  termios tio;
  if (tcgetattr(fd, &tio) != 0) throw LineError("tcgetattr", errno);
  cfmakeraw(&tio);
  tio.c_cflag |= CLOCAL | CREAD;
  cfsetispeed(&tio, B9600);
  cfsetospeed(&tio, B9600);
  if (tcsetattr(fd, TCSANOW, &tio) != 0) throw LineError("tcsetattr", errno);
}

// Our end of the line, and the path the bridge opens.
struct Line {
  int fd = -1;
  // Our own hold on the pseudo-terminal's device until the bridge has spoken: without it the
  // master would see a hang-up before the bridge has even opened the port.
  int heldDevice = -1;
  std::string path;
  bool pseudoTerminal = false;
  bool telnet = false;

  ~Line() {
    ReleaseHold();
    if (fd >= 0) close(fd);
  }
  void ReleaseHold() {
    if (heldDevice >= 0) close(heldDevice);
    heldDevice = -1;
  }
};

void OpenPseudoTerminal(Line& line) {
  line.fd = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (line.fd < 0) throw LineError("posix_openpt", errno);
  if (grantpt(line.fd) != 0 || unlockpt(line.fd) != 0) throw LineError("grantpt", errno);
  const char* name = ptsname(line.fd);
  if (name == nullptr) throw LineError("ptsname", errno);
  line.path = name;
  line.heldDevice = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (line.heldDevice < 0) throw LineError(line.path, errno);
  MakeRaw(line.heldDevice);
  line.pseudoTerminal = true;
}

void OpenDevice(Line& line, const std::string& path) {
  line.path = path;
  line.fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (line.fd < 0) throw LineError(path, errno);
  MakeRaw(line.fd);
  tcflush(line.fd, TCIOFLUSH);
}

// A virtual machine's serial port served on a Unix socket. The machine may still be starting: the
// socket is waited for.
void OpenSocket(Line& line, const std::string& path, bool telnet) {
  line.path = path;
  line.telnet = telnet;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) throw LineError(path, ENAMETOOLONG);
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  for (;;) {
    line.fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (line.fd < 0) throw LineError("socket", errno);
    if (connect(line.fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) return;
    const int error = errno;
    close(line.fd);
    line.fd = -1;
    if ((error != ENOENT && error != ECONNREFUSED) || std::chrono::steady_clock::now() > deadline) {
      throw LineError(path, error);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

// Telnet as QEMU speaks it on a serial port's socket: it greets with option commands (IAC WILL
// ECHO, SGA, BINARY, IAC DO BINARY) and then passes the machine's bytes as they are, 0xFF
// included, so only the commands before the first byte of data are Telnet.
class TelnetGreeting {
 public:
  std::string Strip(const char* bytes, size_t size) {
    std::string data;
    for (size_t i = 0; i < size; ++i) {
      const auto b = static_cast<unsigned char>(bytes[i]);
      if (over_) {
        data += bytes[i];
      } else if (pending_ > 0) {
        --pending_;
      } else if (b == kIAC) {
        pending_ = 2;  // IAC, a verb, an option
      } else {
        over_ = true;
        data += bytes[i];
      }
    }
    return data;
  }

  static constexpr unsigned char kIAC = 0xFF;
  static constexpr unsigned char kBreak = 0xF3;

 private:
  bool over_ = false;
  int pending_ = 0;
};

// What we send in Telnet: a 0xFF byte of data goes doubled.
std::string TelnetEscaped(const std::string& bytes) {
  std::string out;
  for (char b : bytes) {
    out += b;
    if (static_cast<unsigned char>(b) == TelnetGreeting::kIAC) out += b;
  }
  return out;
}

class SymbolicLink {
 public:
  SymbolicLink(std::string link, const std::string& target) : link_(std::move(link)) {
    if (link_.empty()) return;
    struct stat st;
    if (lstat(link_.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) unlink(link_.c_str());  // stale
    if (symlink(target.c_str(), link_.c_str()) != 0) {
      const int error = errno;
      link_.clear();
      throw LineError("symlink " + target, error);
    }
  }
  ~SymbolicLink() {
    if (!link_.empty()) unlink(link_.c_str());
  }

 private:
  std::string link_;
};

// Spaces bytes out as a line at `baud` would carry them; at once when `baud` is 0. A byte's slot
// follows the previous one, or the moment the byte was to hand if the line was idle then: a
// sleep that wakes late does not push back the bytes after it, so a long job keeps the line's
// own pace instead of adding up every late wake-up.
class Pacer {
 public:
  using Clock = std::chrono::steady_clock;

  explicit Pacer(long baud)
      : byteTime_(baud > 0 ? std::chrono::nanoseconds(10'000'000'000LL / baud)
                           : std::chrono::nanoseconds(0)) {}
  void NextByte(Clock::time_point toHand) {
    if (byteTime_.count() == 0) return;
    slot_ = std::max(slot_, toHand) + byteTime_;
    std::this_thread::sleep_until(slot_);
  }
  bool paced() const { return byteTime_.count() != 0; }

 private:
  std::chrono::nanoseconds byteTime_;
  Clock::time_point slot_{};
};

class Register {
 public:
  explicit Register(const Options& options)
      : options_(options),
        engine_(options.faults),
        receiving_(options.baud),
        sending_(options.baud) {}

  int Run() {
    CatchSignals();
    if (!options_.socket.empty()) {
      OpenSocket(line_, options_.socket, options_.telnet);
    } else if (options_.device.empty()) {
      OpenPseudoTerminal(line_);
    } else {
      OpenDevice(line_, options_.device);
    }
    SymbolicLink link(options_.link, line_.path);
    if (!options_.record.empty()) {
      record_.open(options_.record, std::ios::binary | std::ios::trunc);
      if (!record_) throw LineError(options_.record, errno);
    }
    // The first line tells whoever started us that the line is ready.
    std::cout << line_.path << std::endl;
    return Serve();
  }

 private:
  int Serve() {
    const int timeout =
        options_.timeoutSeconds > 0 ? static_cast<int>(options_.timeoutSeconds * 1000) : -1;
    char buffer[4096];
    for (;;) {
      pollfd fds[2] = {{line_.fd, POLLIN, 0}, {signalPipe[0], POLLIN, 0}};
      const int ready = poll(fds, 2, timeout);
      if (ready < 0 && errno == EINTR) continue;
      if (ready < 0) throw LineError("poll", errno);
      if (ready == 0) return End(kTimedOut);
      if (fds[1].revents != 0) return End(kDone);
      const ssize_t n = read(line_.fd, buffer, sizeof buffer);
      if (n > 0) {
        std::string data(buffer, static_cast<size_t>(n));
        if (line_.telnet) data = telnet_.Strip(buffer, static_cast<size_t>(n));
        if (data.empty()) continue;
        if (auto status = Take(data.data(), data.size())) return End(*status);
        continue;
      }
      if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
      // The master of a pseudo-terminal reads EIO once the last holder of the device has
      // closed it: the bridge has closed the port. A socket ends when the machine goes.
      if (n == 0 || errno == EIO || errno == ECONNRESET) return End(kDone);
      throw LineError(line_.path, errno);
    }
  }

  // Returns an exit status when the session is over.
  std::optional<int> Take(const char* bytes, size_t size) {
    const auto received = Pacer::Clock::now();
    Record(bytes, size);
    line_.ReleaseHold();
    if (hangUpDue_) return HangUp();
    for (size_t i = 0; i < size; ++i) {
      receiving_.NextByte(received);
      const Answer answer = engine_.Take(bytes[i]);
      if (options_.verbose && !answer.log.empty()) {
        std::cerr << "zelmo-register: " << answer.log << std::endl;
      }
      const bool answered = !answer.log.empty();
      if (answered && options_.breakBefore.count(engine_.commands()) != 0) SendBreak();
      if (!Send(answer.bytes)) return kDone;
      if (answered && options_.stopAfter > 0 && engine_.commands() == options_.stopAfter) {
        StopLine();
      }
      // The line drops once the bridge has had the answer, which it shows by sending more.
      if (answer.hangUp) {
        hangUpDue_ = true;
        if (i + 1 < size) return HangUp();
      }
      if (engine_.complete()) {
        PrintReceipt();
        if (!line_.pseudoTerminal) return kDone;
      }
    }
    return std::nullopt;
  }

  // False when the bridge is gone.
  bool Send(const std::string& answer) {
    const std::string bytes = line_.telnet ? TelnetEscaped(answer) : answer;
    const auto ready = Pacer::Clock::now();
    const size_t chunk = sending_.paced() ? 1 : bytes.size();
    for (size_t done = 0; done < bytes.size();) {
      sending_.NextByte(ready);
      const ssize_t n = write(line_.fd, bytes.data() + done, std::min(chunk, bytes.size() - done));
      if (n > 0) {
        done += static_cast<size_t>(n);
      } else if (n < 0 && errno == EIO) {
        return false;
      } else if (!(n < 0 && (errno == EINTR || errno == EAGAIN))) {
        throw LineError(line_.path, errno);
      }
    }
    return true;
  }

  void SendBreak() {
    if (line_.telnet) {
      const char iacBreak[] = {static_cast<char>(TelnetGreeting::kIAC),
                               static_cast<char>(TelnetGreeting::kBreak)};
      if (write(line_.fd, iacBreak, sizeof iacBreak) != sizeof iacBreak) {
        throw LineError(line_.path, errno);
      }
    } else if (tcsendbreak(line_.fd, 0) != 0) {
      throw LineError("tcsendbreak " + line_.path, errno);
    }
    if (options_.verbose) std::cerr << "zelmo-register: break" << std::endl;
  }

  // Stops output on the bridge's side of the pseudo-terminal, as the terminal's own flow control
  // would (tcflow TCOOFF): the kernel then takes none of its bytes and its writes wait, as they do
  // on a UART whose CTS the register holds low. The stop belongs to the terminal, not to our
  // descriptor, so it lasts until the bridge closes the port.
  void StopLine() {
    const int fd = open(line_.path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) throw LineError(line_.path, errno);
    const bool stopped = tcflow(fd, TCOOFF) == 0;
    const int error = errno;
    close(fd);
    if (!stopped) throw LineError("tcflow " + line_.path, error);
    if (options_.verbose) std::cerr << "zelmo-register: line stopped" << std::endl;
  }

  int HangUp() {
    close(line_.fd);
    line_.fd = -1;
    return kDone;
  }

  void Record(const char* bytes, size_t size) {
    if (!record_.is_open()) return;
    record_.write(bytes, static_cast<std::streamsize>(size));
    record_.flush();
  }

  void PrintReceipt() {
    if (printed_) return;
    printed_ = true;
    std::cout << RenderReceipt(engine_.receipt()) << std::flush;
  }

  int End(int status) {
    PrintReceipt();
    return status;
  }

  const Options& options_;
  RegisterEngine engine_;
  Line line_;
  TelnetGreeting telnet_;
  std::ofstream record_;
  Pacer receiving_;
  Pacer sending_;
  bool printed_ = false;
  bool hangUpDue_ = false;
};

}  // namespace
}  // namespace zelmo::sim

int main(int argc, char** argv) {
  using namespace zelmo::sim;
  Options options;
  try {
    options = ParseOptions(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const UsageError& e) {
    std::cerr << "zelmo-register: " << e.what() << "\nTry 'zelmo-register --help'.\n";
    return kBadUsage;
  }
  if (options.help) {
    std::cout << UsageText();
    return kDone;
  }
  try {
    return Register(options).Run();
  } catch (const std::exception& e) {
    std::cerr << "zelmo-register: " << e.what() << "\n";
    return kLineFailed;
  }
}
