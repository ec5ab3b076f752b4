// A job's run: the one-shot program in a process of its own, so that nothing a run does can take
// the service down and every path of the one-shot program is the service's too.
#pragma once

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace zelmo::service {

// The process could not be started (the system's reason is in what()).
class ChildProcessError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class ChildProcess {
 public:
  virtual ~ChildProcess() = default;
  // The exit status once the process has ended; nothing if `timeout` passed first. A process
  // ended by a signal reports 128 + the signal's number.
  virtual std::optional<int> WaitFor(std::chrono::milliseconds timeout) = 0;
  // Asks the process to end as a closed one-shot run does (SIGTERM; on Windows its close request).
  virtual void RequestEnd() = 0;
};

// Starts `program` with `arguments` (UTF-8, without the program itself) in `folder`, standard input
// closed, standard output and error to `output` (appended; empty: discarded). Where the system
// allows it the child is asked to end when the service itself dies, so that no run outlives it
// unseen. Throws ChildProcessError.
std::unique_ptr<ChildProcess> StartChildProcess(const std::filesystem::path& program,
                                                const std::vector<std::string>& arguments,
                                                const std::filesystem::path& folder,
                                                const std::filesystem::path& output);

}  // namespace zelmo::service
