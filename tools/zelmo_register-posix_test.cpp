// The program itself on its pseudo-terminal: the test plays the bridge.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "device/frames.h"

extern char** environ;

namespace zelmo::sim {
namespace {

using namespace std::chrono_literals;

constexpr char kENQ = '\x05', kEOT = '\x04', kACK = '\x06';

std::string TempPath(const std::string& name) {
  return ::testing::TempDir() + "zelmo-register-" + name + "-" + std::to_string(getpid());
}

class RegisterProcess {
 public:
  explicit RegisterProcess(std::vector<std::string> args) {
    args.insert(args.begin(), ZELMO_REGISTER_PROGRAM);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    int out[2];
    if (pipe(out) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    stdout_ = out[0];
  }
  ~RegisterProcess() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (stdout_ >= 0) close(stdout_);
  }

  // The first line: the device the bridge is to open.
  std::string DevicePath() {
    std::string line;
    while (line.find('\n') == std::string::npos) {
      const std::string more = ReadSome(5s);
      if (more.empty()) return "";
      line += more;
    }
    rest_ = line.substr(line.find('\n') + 1);
    return line.substr(0, line.find('\n'));
  }

  // The exit status, or -1 when it does not end within `timeout`.
  int Wait(std::chrono::milliseconds timeout = 5s) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      std::this_thread::sleep_for(5ms);
    }
    return -1;
  }

  // Everything printed after the first line, once the program has ended.
  std::string Output() {
    for (std::string more; !(more = ReadSome(2s)).empty();) rest_ += more;
    return rest_;
  }

 private:
  std::string ReadSome(std::chrono::milliseconds timeout) {
    pollfd in = {stdout_, POLLIN, 0};
    if (poll(&in, 1, static_cast<int>(timeout.count())) <= 0) return "";
    char buffer[4096];
    const ssize_t n = read(stdout_, buffer, sizeof buffer);
    return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : "";
  }

  pid_t pid_ = -1;
  int stdout_ = -1;
  std::string rest_;
};

// The bridge's end of the line.
class Bridge {
 public:
  explicit Bridge(const std::string& path) {
    fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios tio;
    if (fd_ >= 0 && tcgetattr(fd_, &tio) == 0) {
      cfmakeraw(&tio);
      tcsetattr(fd_, TCSANOW, &tio);
    }
  }
  ~Bridge() { Close(); }
  bool ok() const { return fd_ >= 0; }
  void Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }

  void Send(const std::string& bytes) {
    ASSERT_EQ(write(fd_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }

  // What arrives within `timeout`, up to `count` bytes; empty once the line is gone.
  std::string Receive(size_t count = 1, std::chrono::milliseconds timeout = 3s) {
    std::string got;
    pollfd in = {fd_, POLLIN, 0};
    while (got.size() < count && poll(&in, 1, static_cast<int>(timeout.count())) > 0) {
      char buffer[256];
      const ssize_t n = read(fd_, buffer, std::min(sizeof buffer, count - got.size()));
      if (n <= 0) break;
      got.append(buffer, static_cast<size_t>(n));
    }
    return got;
  }

 private:
  int fd_ = -1;
};

std::vector<std::string> TwoItemJob() {
  return {std::string(1, kENQ),
          BuildOpeningFrame(),
          BuildItemFrame(1, "Млеко", "Б", 45.5, 2),
          BuildItemFrame(1, "Sugar 1kg", "A", 12.5, 2),
          std::string(1, kEOT),
          std::string(1, kENQ),
          BuildOpeningFrame(),
          BuildTotalFrame(116),
          std::string(1, kEOT)};
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream all;
  all << in.rdbuf();
  return all.str();
}

TEST(ZelmoRegister, PrintsTheReceiptOfAJobAndRecordsEveryByte) {
  const std::string record = TempPath("record");
  const std::string link = TempPath("link");
  RegisterProcess reg({"--record", record, "--link", link});
  const std::string path = reg.DevicePath();
  ASSERT_FALSE(path.empty());
  char target[256] = {};
  ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
  EXPECT_EQ(path, target);

  Bridge bridge(path);
  ASSERT_TRUE(bridge.ok());
  std::string sent;
  for (const std::string& command : TwoItemJob()) {
    bridge.Send(command);
    sent += command;
    EXPECT_EQ(bridge.Receive(), std::string(1, kACK));
  }
  bridge.Close();

  EXPECT_EQ(reg.Wait(), 0);
  const std::string receipt = reg.Output();
  EXPECT_NE(receipt.find("ФИСКАЛНА СМЕТКА"), std::string::npos) << receipt;
  EXPECT_NE(receipt.find("Млеко\n  2.000 x 45.50 = 91.00   даночна група Б\n"), std::string::npos)
      << receipt;
  EXPECT_NE(receipt.find("ВКУПНО 116.00\nВкупниот износ се совпаѓа со ставките.\n"),
            std::string::npos)
      << receipt;
  EXPECT_EQ(receipt.find("ФИСКАЛНА", 1), std::string::npos) << "printed once";
  EXPECT_EQ(ReadFile(record), sent);
  struct stat st;
  EXPECT_NE(lstat(link.c_str(), &st), 0) << "the link is removed at exit";
  unlink(record.c_str());
}

TEST(ZelmoRegister, HangsUpWhenToldAndPrintsWhatItHas) {
  RegisterProcess reg({"--hangup-after", "3"});
  Bridge bridge(reg.DevicePath());
  ASSERT_TRUE(bridge.ok());
  const auto job = TwoItemJob();
  for (size_t i = 0; i < 3; ++i) {
    bridge.Send(job[i]);
    EXPECT_EQ(bridge.Receive(), std::string(1, kACK));
  }
  bridge.Send(job[3]);  // gets no answer: the line drops
  EXPECT_EQ(reg.Wait(), 0);
  EXPECT_EQ(bridge.Receive(1, 200ms), "");
  const std::string receipt = reg.Output();
  EXPECT_NE(receipt.find("Млеко"), std::string::npos) << receipt;
  EXPECT_NE(receipt.find("Сметката не е завршена."), std::string::npos) << receipt;
}

TEST(ZelmoRegister, PacedToTheBaudRateAFrameTakesItsTimeOnTheLine) {
  RegisterProcess reg({"--baud", "9600"});
  Bridge bridge(reg.DevicePath());
  ASSERT_TRUE(bridge.ok());
  const std::string item = BuildItemFrame(1, "Sugar 1kg", "A", 12.5, 2);
  const auto start = std::chrono::steady_clock::now();
  bridge.Send(item);
  EXPECT_EQ(bridge.Receive(), std::string(1, kACK));
  // 69 bytes and the answer at about 1.04 ms a byte.
  EXPECT_GE(std::chrono::steady_clock::now() - start, 65ms);
}

// QEMU's side of a serial port served in Telnet: the register connects to it.
class TelnetServer {
 public:
  explicit TelnetServer(const std::string& path) : path_(path) {
    listen_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    unlink(path.c_str());
    if (bind(listen_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listen_, 1) != 0) {
      close(listen_);
      listen_ = -1;
    }
  }
  ~TelnetServer() {
    for (int fd : {listen_, peer_}) {
      if (fd >= 0) close(fd);
    }
    unlink(path_.c_str());
  }
  bool ok() const { return listen_ >= 0; }
  bool Accept() {
    pollfd in = {listen_, POLLIN, 0};
    if (poll(&in, 1, 5000) <= 0) return false;
    peer_ = accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
    return peer_ >= 0;
  }
  void Send(const std::string& bytes) {
    ASSERT_EQ(write(peer_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
  std::string Receive(size_t count) {
    std::string got;
    pollfd in = {peer_, POLLIN, 0};
    while (got.size() < count && poll(&in, 1, 3000) > 0) {
      char buffer[256];
      const ssize_t n = read(peer_, buffer, std::min(sizeof buffer, count - got.size()));
      if (n <= 0) break;
      got.append(buffer, static_cast<size_t>(n));
    }
    return got;
  }

 private:
  std::string path_;
  int listen_ = -1, peer_ = -1;
};

TEST(ZelmoRegister, OnATelnetSocketItSkipsTheGreetingAndSendsABreakAsIacBreak) {
  const std::string path = TempPath("sock");
  TelnetServer server(path);
  ASSERT_TRUE(server.ok());
  const std::string record = TempPath("telnet-record");
  RegisterProcess reg({"--socket", path, "--telnet", "--break-before", "2", "--burst", "3:600",
                       "--record", record});
  ASSERT_TRUE(server.Accept());
  EXPECT_EQ(reg.DevicePath(), path);
  // QEMU's greeting (WILL ECHO, WILL SGA, WILL BINARY, DO BINARY), then the machine's bytes as
  // they are: a 0xFF in them is data.
  server.Send(std::string("\xff\xfb\x01\xff\xfb\x03\xff\xfb\x00\xff\xfd\x00", 12));
  std::string sent;
  std::string noise;
  const auto job = TwoItemJob();
  for (size_t i = 0; i < job.size(); ++i) {
    server.Send(job[i]);
    sent += job[i];
    if (i == 1) {
      EXPECT_EQ(server.Receive(3), "\xff\xf3" + std::string(1, kACK));
    }
    if (i == 2) {
      // 600 noise bytes: a 0xFF among them goes doubled, so that QEMU passes it on as one byte.
      std::string got = server.Receive(1);
      while (got.back() != kACK) got += server.Receive(1);
      for (size_t p = 0; p < got.size(); ++p) {
        if (got[p] != '\xff') continue;
        ASSERT_LT(p + 1, got.size());
        EXPECT_EQ(got[++p], '\xff') << "at " << p;
      }
      EXPECT_NE(got.find("\xff\xff"), std::string::npos) << "600 bytes hold a 0xFF";
    }
    if (i != 1 && i != 2) {
      EXPECT_EQ(server.Receive(1), std::string(1, kACK)) << i;
    }
  }
  // The receipt is complete: the register ends by itself.
  EXPECT_EQ(reg.Wait(), 0);
  EXPECT_NE(reg.Output().find("ВКУПНО 116.00"), std::string::npos);
  EXPECT_EQ(ReadFile(record), sent);
  unlink(record.c_str());
}

TEST(ZelmoRegister, StopAfterHoldsTheLineSoTheBridgesWritesWait) {
  RegisterProcess reg({"--stop-after", "1"});
  const std::string path = reg.DevicePath();
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(write(fd, &kENQ, 1), 1);
  pollfd in = {fd, POLLIN, 0};
  ASSERT_EQ(poll(&in, 1, 3000), 1);
  char ack = 0;
  ASSERT_EQ(read(fd, &ack, 1), 1);
  EXPECT_EQ(ack, kACK);
  // The stop comes just after the answer.
  pollfd out = {fd, POLLOUT, 0};
  for (int i = 0; i < 100 && poll(&out, 1, 0) == 1; ++i) std::this_thread::sleep_for(10ms);
  EXPECT_EQ(poll(&out, 1, 200), 0) << "the line takes no more";
  EXPECT_EQ(write(fd, &kEOT, 1), -1);
  EXPECT_EQ(errno, EAGAIN);
  close(fd);
  EXPECT_EQ(reg.Wait(), 0) << "the bridge's close ends the session";
}

TEST(ZelmoRegister, EndsWithItsOwnStatusesForAWrongCommandLineAndATimeout) {
  EXPECT_EQ(RegisterProcess({"--nak", "0"}).Wait(), 2);
  RegisterProcess idle({"--timeout", "0.2"});
  EXPECT_FALSE(idle.DevicePath().empty());
  EXPECT_EQ(idle.Wait(), 3);
}

}  // namespace
}  // namespace zelmo::sim
