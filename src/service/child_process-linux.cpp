// Runs on fork and exec: the child is set up with async-signal-safe calls only, since the service
// has other threads. The death signal is Linux's own.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "service/child_process.h"

namespace zelmo::service {
namespace {

std::string Reason(int error) {
  return std::strerror(error);
}

class LinuxChild : public ChildProcess {
 public:
  LinuxChild(pid_t pid, int pidfd) : pid_(pid), pidfd_(pidfd) {}
  ~LinuxChild() override {
    if (!status_) {
      // Never left behind as a zombie: whoever drops it without its end waits for it here.
      RequestEnd();
      WaitFor(std::chrono::hours(1));
    }
    if (pidfd_ >= 0) close(pidfd_);
  }

  std::optional<int> WaitFor(std::chrono::milliseconds timeout) override {
    if (status_) return status_;
    const auto until = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      if (Reap(WNOHANG)) return status_;
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          until - std::chrono::steady_clock::now());
      if (left.count() <= 0) return std::nullopt;
      if (pidfd_ < 0) {
        // Without a process descriptor (an old kernel) the end is looked for now and then.
        usleep(20000);
        continue;
      }
      pollfd ready{pidfd_, POLLIN, 0};
      poll(&ready, 1, static_cast<int>(std::min<long long>(left.count(), 60000)));
    }
  }

  void RequestEnd() override {
    if (!status_) kill(pid_, SIGTERM);
  }

 private:
  bool Reap(int flags) {
    int raw = 0;
    pid_t got;
    do {
      got = waitpid(pid_, &raw, flags);
    } while (got < 0 && errno == EINTR);
    if (got != pid_) return false;
    if (WIFEXITED(raw)) {
      status_ = WEXITSTATUS(raw);
    } else {
      status_ = 128 + WTERMSIG(raw);
    }
    return true;
  }

  pid_t pid_;
  int pidfd_;
  std::optional<int> status_;
};

int OpenOutput(const std::filesystem::path& output) {
  if (output.empty()) return open("/dev/null", O_WRONLY | O_CLOEXEC);
  return open(output.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
}

// In the child, between fork and exec. Reports a failure's errno through `report` and ends.
[[noreturn]] void BecomeTheRun(char* const* argv, const char* folder, int in, int out, int report,
                               pid_t service) {
  auto fail = [report]() {
    const int error = errno;
    ssize_t ignored = write(report, &error, sizeof error);
    (void)ignored;
    _exit(127);
  };
  // A service killed outright must not leave a run holding the port: the run ends as a closed
  // one-shot run does, and its log says how far it got.
  if (prctl(PR_SET_PDEATHSIG, SIGTERM) != 0) fail();
  if (getppid() != service) _exit(128 + SIGTERM);
  // Its own process group: a Ctrl+C at the service's terminal stops the service, while the
  // running job is let end.
  setpgid(0, 0);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  if (dup2(in, STDIN_FILENO) < 0 || dup2(out, STDOUT_FILENO) < 0 || dup2(out, STDERR_FILENO) < 0)
    fail();
  if (chdir(folder) != 0) fail();
  execv(argv[0], argv);
  fail();
}

}  // namespace

std::unique_ptr<ChildProcess> StartChildProcess(const std::filesystem::path& program,
                                                const std::vector<std::string>& arguments,
                                                const std::filesystem::path& folder,
                                                const std::filesystem::path& output) {
  // Everything the child needs is made before the fork.
  std::vector<std::string> words{program.string()};
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  const std::string where = folder.string();

  // Standard input at its end from the start: no question of a run can wait for an answer.
  const int in = open("/dev/null", O_RDONLY | O_CLOEXEC);
  if (in < 0) throw ChildProcessError("/dev/null: " + Reason(errno));
  const int out = OpenOutput(output);
  if (out < 0) {
    const int error = errno;
    close(in);
    throw ChildProcessError(output.string() + ": " + Reason(error));
  }
  int report[2];
  if (pipe2(report, O_CLOEXEC) != 0) {
    const int error = errno;
    close(in);
    close(out);
    throw ChildProcessError("pipe: " + Reason(error));
  }
  const pid_t service = getpid();
  const pid_t pid = fork();
  if (pid == 0) BecomeTheRun(argv.data(), where.c_str(), in, out, report[1], service);
  const int forkError = errno;
  close(in);
  close(out);
  close(report[1]);
  if (pid < 0) {
    close(report[0]);
    throw ChildProcessError("fork: " + Reason(forkError));
  }
  // The report pipe closes on exec: nothing read means the program is running.
  int childError = 0;
  ssize_t got;
  do {
    got = read(report[0], &childError, sizeof childError);
  } while (got < 0 && errno == EINTR);
  close(report[0]);
  if (got == sizeof childError) {
    waitpid(pid, nullptr, 0);
    throw ChildProcessError(program.string() + ": " + Reason(childError));
  }
  const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
  return std::make_unique<LinuxChild>(pid, pidfd);
}

}  // namespace zelmo::service
