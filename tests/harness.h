// Runs the real programs for end-to-end tests: a scratch folder, the virtual register on a
// pseudo-terminal, and zelmo with its input, output and exit status.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace e2e {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

struct Finished {
  int status = -1;  // exit status, or 128 + signal
  std::string out, err;
};

// A child process with its standard streams on pipes.
class Process {
 public:
  Process(const std::vector<std::string>& argv, const std::string& input = "",
          bool closeInput = true);
  ~Process();
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  // The first line the process writes to standard output (without its line end).
  std::optional<std::string> FirstLine(std::chrono::milliseconds timeout = 10s);
  // Waits for the end (killing the process after `timeout`) and collects what it wrote.
  Finished Wait(std::chrono::milliseconds timeout = 30s);
  void Signal(int sig);
  void Write(const std::string& bytes);
  void CloseInput();
  // Waits until standard output holds `text` (collected output is kept for Wait).
  bool WaitForOutput(const std::string& text, std::chrono::milliseconds timeout = 10s);
  // The same for standard error.
  bool WaitForError(const std::string& text, std::chrono::milliseconds timeout = 10s);
  pid_t pid() const { return pid_; }

 private:
  bool Pump(std::chrono::milliseconds timeout);
  pid_t pid_ = -1;
  int in_ = -1, out_ = -1, err_ = -1;
  std::string outText_, errText_;
  std::optional<int> status_;
};

class Scratch {
 public:
  Scratch();
  ~Scratch();
  const fs::path& dir() const { return dir_; }
  void Write(const std::string& name, const std::string& bytes) const;
  std::string Read(const std::string& name) const;
  bool Exists(const std::string& name) const { return fs::exists(dir_ / name); }
  // A configuration with COM1 mapped to `device`.
  void Config(const std::string& device, const std::string& parametri) const;

 private:
  fs::path dir_;
};

// The virtual register on a fresh pseudo-terminal, recording what it receives.
class Register {
 public:
  explicit Register(const Scratch& scratch, const std::vector<std::string>& options = {});
  const std::string& device() const { return device_; }
  Finished Wait(std::chrono::milliseconds timeout = 30s) { return proc_.Wait(timeout); }
  std::string Received() const;
  Process& process() { return proc_; }

 private:
  fs::path record_;
  Process proc_;
  std::string device_;
};

// zelmo --console --dir <scratch> with `input` on standard input.
Finished RunZelmo(const Scratch& scratch, const std::string& input = "",
                  std::chrono::milliseconds timeout = 30s);

std::string ZelmoBin();

}  // namespace e2e
