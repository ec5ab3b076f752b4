// One timed job: the real zelmo on one end of a pseudo-terminal, the virtual register's engine
// and the harness's clock on the other.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench_fixtures.h"
#include "latency_session.h"
#include "register_engine.h"

extern char** environ;

namespace bench {
namespace {

using Nanos = long long;

Nanos Now() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<Nanos>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

void SleepUntil(Nanos when) {
  const timespec ts{static_cast<time_t>(when / 1'000'000'000),
                    static_cast<long>(when % 1'000'000'000)};
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
  }
}

[[noreturn]] void Fail(const std::string& what) {
  throw std::runtime_error(what + ": " + std::strerror(errno));
}

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() {
    if (fd_ >= 0) close(fd_);
  }
  int get() const { return fd_; }

 private:
  int fd_;
};

// The register's end of the line. The harness also holds the device itself, so the master never
// sees a hang-up between the bridge's open and close.
struct PseudoTerminal {
  PseudoTerminal() : master(posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC)) {
    if (master.get() < 0) Fail("posix_openpt");
    if (grantpt(master.get()) != 0 || unlockpt(master.get()) != 0) Fail("grantpt");
    const char* name = ptsname(master.get());
    if (!name) Fail("ptsname");
    device = name;
    held = std::make_unique<Fd>(open(name, O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (held->get() < 0) Fail(device);
    termios tio{};
    if (tcgetattr(held->get(), &tio) != 0) Fail("tcgetattr");
    cfmakeraw(&tio);
    if (tcsetattr(held->get(), TCSANOW, &tio) != 0) Fail("tcsetattr");
  }

  Fd master;
  std::string device;
  std::unique_ptr<Fd> held;
};

std::string Settings(const std::string& device) {
  return "[Parametri]\r\nSeriska=1\r\nPrikaziForma=0\r\nDelimiter=;\r\nClear=1\r\n"
         "[Ports]\r\nCOM1=" +
         device + "\r\n";
}

std::string ReadText(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Debian's own Python, which has python3-serial, whatever else is first on the path.
constexpr const char* kPython = "/usr/bin/python3";
constexpr const char* kReplayScript = ZELMO_REPLAY_SCRIPT;

std::string Hex(const std::string& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (const char c : bytes) {
    hex += kDigits[static_cast<unsigned char>(c) >> 4];
    hex += kDigits[static_cast<unsigned char>(c) & 15];
  }
  return hex;
}

// The bridge, started as a point-of-sale program starts it: standard input empty, its output
// into files that are only looked at when something went wrong.
class Bridge {
 public:
  Bridge(const JobPlan& plan, const ScratchDir& dir, const std::string& device) : dir_(dir) {
    std::vector<std::string> args = {plan.zelmo};
    if (!plan.replay.empty()) {
      std::string hex;
      for (const std::string& command : plan.replay) hex += Hex(command) + "\n";
      dir.Write("commands.txt", hex);
      args = {kPython, kReplayScript, device, (dir.path() / "commands.txt").string()};
    } else {
      if (plan.frontEnd == FrontEndKind::kConsole) args.push_back("--console");
      args.insert(args.end(), {"--dir", dir.path().string()});
    }
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, OutPath().c_str(), O_WRONLY | O_CREAT, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, ErrPath().c_str(), O_WRONLY | O_CREAT, 0644);
    started_ = Now();
    const int rc = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
      errno = rc;
      Fail("cannot start " + args[0]);
    }
    pidfd_ = std::make_unique<Fd>(static_cast<int>(syscall(SYS_pidfd_open, pid_, 0)));
    if (pidfd_->get() < 0) Fail("pidfd_open");
  }

  ~Bridge() {
    if (reaped_) return;
    kill(pid_, SIGKILL);
    Reap();
  }

  Nanos started() const { return started_; }
  int pidfd() const { return pidfd_->get(); }

  // The exit status (128 + signal when killed), with the process's resource use.
  int Reap() {
    int raw = 0;
    while (wait4(pid_, &raw, 0, &usage_) < 0 && errno == EINTR) {
    }
    reaped_ = true;
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
  }
  void Kill() { kill(pid_, SIGKILL); }
  const rusage& usage() const { return usage_; }
  std::string Errors() const { return ReadText(ErrPath()); }

 private:
  std::string OutPath() const { return (dir_.path() / "out.txt").string(); }
  std::string ErrPath() const { return (dir_.path() / "err.txt").string(); }

  const ScratchDir& dir_;
  pid_t pid_ = -1;
  Nanos started_ = 0;
  std::unique_ptr<Fd> pidfd_;
  rusage usage_{};
  bool reaped_ = false;
};

double Seconds(const timeval& t) {
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

// Timer slack of this thread down to a nanosecond while it lives, so that a paced answer is not
// held back by the kernel's default 50 us of grouping. Children inherit the slack: start them
// before.
struct PreciseTimers {
  PreciseTimers() { prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL); }
  ~PreciseTimers() { prctl(PR_SET_TIMERSLACK, 0UL, 0UL, 0UL, 0UL); }
};

// The register's side of one job: the virtual register's engine answers, this class keeps the
// clock. Unpaced, an answer goes the moment its command is complete. Paced, every byte takes its
// time on a simulated line that carries one byte after the other: a command's bytes from the
// moment each was read, then the answer's; the answer is written when its last byte would be in.
class TimedRegister {
 public:
  TimedRegister(int master, long baud, Nanos started, JobTiming& timing)
      : master_(master),
        byteTime_(baud > 0 ? 10'000'000'000LL / baud : 0),
        started_(started),
        timing_(timing) {}

  // Takes what one read gave at `readAt`; false once the register refused a command.
  bool Take(const char* bytes, size_t size, Nanos readAt) {
    for (size_t i = 0; i < size; ++i) {
      if (!inCommand_) FirstByte(readAt);
      lineFree_ = std::max(lineFree_, readAt) + byteTime_;
      ++timing_.bytesFromBridge;
      command_ += bytes[i];
      const zelmo::sim::Answer answer = engine_.Take(bytes[i]);
      if (answer.bytes.empty()) continue;
      if (answer.bytes != std::string(1, zelmo::sim::kACK)) {
        timing_.failure = "the register refused command " + std::to_string(engine_.commands());
        return false;
      }
      timing_.commands.push_back(std::move(command_));
      command_.clear();
      Answer(answer.bytes);
    }
    return true;
  }

  const zelmo::sim::RegisterEngine& engine() const { return engine_; }
  Nanos lastAnswer() const { return lastAnswer_; }

 private:
  void FirstByte(Nanos readAt) {
    inCommand_ = true;
    if (lastAnswer_ == 0) {
      timing_.startupMs = static_cast<double>(readAt - started_) / 1e6;
    } else {
      timing_.turnaroundUs.push_back(static_cast<double>(readAt - lastAnswer_) / 1e3);
    }
  }

  void Answer(const std::string& bytes) {
    if (byteTime_ > 0) {
      lineFree_ += byteTime_ * static_cast<Nanos>(bytes.size());
      SleepUntil(lineFree_);
      timing_.oversleepSeconds += static_cast<double>(Now() - lineFree_) / 1e9;
    }
    if (write(master_, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
      Fail("write to the line");
    }
    lastAnswer_ = Now();
    timing_.bytesToBridge += static_cast<long>(bytes.size());
    inCommand_ = false;
  }

  int master_;
  Nanos byteTime_;
  Nanos started_;
  JobTiming& timing_;
  zelmo::sim::RegisterEngine engine_;
  Nanos lineFree_ = 0;
  Nanos lastAnswer_ = 0;
  bool inCommand_ = false;
  std::string command_;
};

// Serves the line until the bridge ends; returns when it ended, or 0 when it had to be killed.
Nanos Serve(const JobPlan& plan, PseudoTerminal& line, Bridge& bridge, TimedRegister& reg,
            JobTiming& timing) {
  const Nanos deadline = bridge.started() + static_cast<Nanos>(plan.timeoutSeconds * 1e9);
  char buffer[4096];
  for (;;) {
    pollfd fds[2] = {{line.master.get(), POLLIN, 0}, {bridge.pidfd(), POLLIN, 0}};
    const Nanos left = deadline - Now();
    const int ready = left > 0 ? poll(fds, 2, static_cast<int>(left / 1'000'000) + 1) : 0;
    const Nanos at = Now();
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) Fail("poll");
    if (ready == 0) {
      timing.failure = "timed out after " + std::to_string(plan.timeoutSeconds) + " s";
      return 0;
    }
    if (fds[0].revents & POLLIN) {
      const ssize_t n = read(line.master.get(), buffer, sizeof buffer);
      if (n > 0 && !reg.Take(buffer, static_cast<size_t>(n), at)) return 0;
    }
    if (fds[1].revents != 0) return at;
  }
}

void CheckOutcome(const JobPlan& plan, const ScratchDir& dir, const TimedRegister& reg, int status,
                  const Bridge& bridge, JobTiming& timing) {
  if (!timing.failure.empty()) return;
  const auto printed = reg.engine().receipt().items.size();
  if (status != 0) {
    timing.failure = "zelmo ended with status " + std::to_string(status) + ": " + bridge.Errors();
  } else if (!reg.engine().complete() || printed != static_cast<size_t>(plan.items)) {
    timing.failure = "the register printed " + std::to_string(printed) + " of " +
                     std::to_string(plan.items) + " items";
  } else if (plan.replay.empty() && std::filesystem::exists(dir.path() / "smetka.txt")) {
    timing.failure = "the receipt was not deleted";
  }
}

}  // namespace

JobTiming RunJob(const JobPlan& plan) {
  JobTiming timing;
  const ScratchDir dir;
  PseudoTerminal line;
  dir.Write("Zelmocfg.ini", Settings(line.device));
  dir.Write("smetka.txt", ReceiptFile(plan.items));

  Bridge bridge(plan, dir, line.device);
  // The paced answers must leave on time; the bridge, started above, keeps the usual slack.
  const PreciseTimers precise;
  TimedRegister reg(line.master.get(), plan.baud, bridge.started(), timing);
  const Nanos ended = Serve(plan, line, bridge, reg, timing);
  if (ended == 0) bridge.Kill();
  const int status = bridge.Reap();
  CheckOutcome(plan, dir, reg, status, bridge, timing);

  timing.totalSeconds = static_cast<double>(ended - bridge.started()) / 1e9;
  timing.exitMs = static_cast<double>(ended - reg.lastAnswer()) / 1e6;
  if (plan.baud > 0) {
    timing.lineSeconds = static_cast<double>(timing.bytesFromBridge + timing.bytesToBridge) * 10 /
                         static_cast<double>(plan.baud);
  }
  timing.maxRssKb = bridge.usage().ru_maxrss;
  timing.cpuSeconds = Seconds(bridge.usage().ru_utime) + Seconds(bridge.usage().ru_stime);
  timing.contextSwitches = bridge.usage().ru_nvcsw + bridge.usage().ru_nivcsw;
  timing.voluntarySwitches = bridge.usage().ru_nvcsw;
  return timing;
}

}  // namespace bench

namespace bench {

void Echo(const std::string& device) {
  const Fd line(open(device.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
  if (line.get() < 0) Fail(device);
  char byte;
  while (read(line.get(), &byte, 1) == 1) {
    if (write(line.get(), &byte, 1) != 1) break;
  }
}

std::vector<double> EchoTurnarounds(const std::string& self, int count, double idleMs) {
  PseudoTerminal line;
  std::vector<std::string> args = {self, kEchoOption, line.device};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t child = -1;
  if (posix_spawn(&child, argv[0], nullptr, nullptr, argv.data(), environ) != 0) Fail(self);
  const PreciseTimers precise;
  std::vector<double> rounds;
  for (int i = 0; i < count; ++i) {
    SleepUntil(Now() + static_cast<Nanos>(idleMs * 1e6));
    const char ack = zelmo::sim::kACK;
    if (write(line.master.get(), &ack, 1) != 1) Fail("write to the echo");
    const Nanos sent = Now();
    pollfd fd = {line.master.get(), POLLIN, 0};
    if (poll(&fd, 1, 5000) != 1) Fail("no echo");
    rounds.push_back(static_cast<double>(Now() - sent) / 1e3);
    char back;
    if (read(line.master.get(), &back, 1) != 1) Fail("no echo");
  }
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  return rounds;
}

}  // namespace bench
