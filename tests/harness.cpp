#include "harness.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace e2e {
namespace {

void Pipe(int fds[2]) {
  if (pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
}

int DecodeStatus(int raw) {
  if (WIFEXITED(raw)) return WEXITSTATUS(raw);
  if (WIFSIGNALED(raw)) return 128 + WTERMSIG(raw);
  return -1;
}

}  // namespace

Process::Process(const std::vector<std::string>& argv, const std::string& input, bool closeInput) {
  int in[2], out[2], err[2];
  Pipe(in);
  Pipe(out);
  Pipe(err);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err[1], 2);
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  const int rc = posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(in[0]);
  close(out[1]);
  close(err[1]);
  in_ = in[1];
  out_ = out[0];
  err_ = err[0];
  if (rc != 0) throw std::runtime_error("cannot start " + argv[0]);
  signal(SIGPIPE, SIG_IGN);
  Write(input);
  if (closeInput) CloseInput();
}

Process::~Process() {
  if (!status_ && pid_ > 0) {
    kill(pid_, SIGKILL);
    int raw = 0;
    waitpid(pid_, &raw, 0);
  }
  for (int fd : {in_, out_, err_}) {
    if (fd >= 0) close(fd);
  }
}

void Process::Write(const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(in_, bytes.data() + done, bytes.size() - done);
    if (n <= 0) return;
    done += static_cast<std::size_t>(n);
  }
}

void Process::CloseInput() {
  if (in_ >= 0) close(in_);
  in_ = -1;
}

void Process::Signal(int sig) {
  kill(pid_, sig);
}

// Reads whatever is ready on the output pipes, waiting up to `timeout`; false once both closed.
bool Process::Pump(std::chrono::milliseconds timeout) {
  pollfd fds[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
  if (out_ < 0 && err_ < 0) return false;
  if (poll(fds, 2, static_cast<int>(timeout.count())) <= 0) return true;
  int* owners[2] = {&out_, &err_};
  std::string* texts[2] = {&outText_, &errText_};
  for (int i = 0; i < 2; ++i) {
    if (*owners[i] < 0 || fds[i].revents == 0) continue;
    char buf[4096];
    const ssize_t n = read(*owners[i], buf, sizeof buf);
    if (n > 0) {
      texts[i]->append(buf, static_cast<std::size_t>(n));
    } else {
      close(*owners[i]);
      *owners[i] = -1;
    }
  }
  return true;
}

bool Process::WaitForOutput(const std::string& text, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (outText_.find(text) == std::string::npos) {
    if (std::chrono::steady_clock::now() > deadline || !Pump(20ms)) return false;
  }
  return true;
}

bool Process::WaitForError(const std::string& text, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (errText_.find(text) == std::string::npos) {
    if (std::chrono::steady_clock::now() > deadline || !Pump(20ms)) return false;
  }
  return true;
}

std::optional<std::string> Process::FirstLine(std::chrono::milliseconds timeout) {
  if (!WaitForOutput("\n", timeout)) return std::nullopt;
  return outText_.substr(0, outText_.find('\n'));
}

Finished Process::Wait(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!status_) {
    int raw = 0;
    if (waitpid(pid_, &raw, WNOHANG) == pid_) {
      status_ = DecodeStatus(raw);
      break;
    }
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &raw, 0);
      status_ = DecodeStatus(raw);
      break;
    }
    Pump(10ms);
  }
  while (Pump(200ms)) {
  }
  return {*status_, outText_, errText_};
}

Scratch::Scratch() {
  std::random_device rd;
  dir_ = fs::temp_directory_path() / ("zelmo-e2e-" + std::to_string(rd()));
  fs::create_directories(dir_);
}

Scratch::~Scratch() {
  std::error_code ec;
  fs::remove_all(dir_, ec);
}

void Scratch::Write(const std::string& name, const std::string& bytes) const {
  std::ofstream(dir_ / name, std::ios::binary) << bytes;
}

std::string Scratch::Read(const std::string& name) const {
  std::ifstream in(dir_ / name, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void Scratch::Config(const std::string& device, const std::string& parametri) const {
  Write("Zelmocfg.ini", "[Parametri]\r\n" + parametri + "[Ports]\r\nCOM1=" + device + "\r\n");
}

Register::Register(const Scratch& scratch, const std::vector<std::string>& options)
    : record_(scratch.dir() / "received.bin"), proc_([&] {
        std::vector<std::string> argv = {REGISTER_BIN, "--record", record_.string()};
        argv.insert(argv.end(), options.begin(), options.end());
        return argv;
      }()) {
  const auto line = proc_.FirstLine();
  if (!line) throw std::runtime_error("the virtual register did not start");
  device_ = *line;
}

std::string Register::Received() const {
  std::ifstream in(record_, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string ZelmoBin() {
  return ZELMO_BIN;
}

Finished RunZelmo(const Scratch& scratch, const std::string& input,
                  std::chrono::milliseconds timeout) {
  Process zelmo({ZelmoBin(), "--console", "--dir", scratch.dir().string()}, input);
  return zelmo.Wait(timeout);
}

}  // namespace e2e
