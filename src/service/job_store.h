// The jobs on disk: FOLDER/jobs/<id>/ holds a job's record, its receipt, its settings and the
// logs of its runs. A record is written whole and flushed before anything acts on it, so a
// service killed at any moment finds every job again. Folders are named by the service's own ids
// only: nothing of a request becomes a path.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "service/job.h"

namespace zelmo::service {

class JobStore {
 public:
  explicit JobStore(std::filesystem::path jobsFolder) : root_(std::move(jobsFolder)) {}

  // A new id, never one in use: the time, then a count of the ids made, then random hexadecimal
  // digits. Ids of one second sort in the order they were made, so "newest first" holds.
  std::string NewId();
  std::filesystem::path FolderOf(const std::string& id) const { return root_ / id; }

  // Writes the job's record durably (its folder made first). Throws on failure.
  void Save(const Job& job) const;
  void Remove(const std::string& id) const;

  struct Loaded {
    std::vector<Job> jobs;
    std::vector<std::string> problems;  // folders whose record could not be read, and why
  };
  Loaded LoadAll() const;

 private:
  std::filesystem::path root_;
  std::uint32_t made_ = 0;
};

// How a job's run ended, as its own log says it; nothing while the log does not hold the end.
struct RunEnd {
  int status = 0;
  std::string message;
};
RunEnd RunEndFromStatus(int status, const std::string& logText, const std::string& outputText);
bool ReadRunEnd(const std::string& logText, RunEnd& end);

}  // namespace zelmo::service
