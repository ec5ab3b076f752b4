// One run of a job: its folder made ready for the one-shot program (the receipt, the register's
// settings made hidden, journaled and logged), the program run in a child process, its end read.
#pragma once

#include <filesystem>
#include <functional>
#include <string>

#include "service/job.h"
#include "service/job_store.h"

namespace zelmo::service {

// The seam between the queue and the processes: tests put in a runner of their own.
class JobRunner {
 public:
  virtual ~JobRunner() = default;
  // Writes what the run reads into `folder`; throws what a person needs to read.
  virtual void Prepare(const Job& job, const std::filesystem::path& registerFolder,
                       const std::filesystem::path& folder) = 0;
  // Runs it to its end.
  virtual RunEnd Run(const Job& job, const std::filesystem::path& folder) = 0;
  // The end of a run the service lost sight of (it was killed meanwhile), from what the run left.
  virtual std::optional<RunEnd> Recover(const Job& job, const std::filesystem::path& folder) = 0;
};

// The log of a job's attempt, relative to its folder.
std::string RunLogName(int attempt);

// The register's settings for a job's run: its Zelmocfg.ini as it is (or a default one) with
// PrikaziForma=0, Journal=1, Clear=1 and Log= set.
void WriteJobSettings(const std::filesystem::path& registerFolder,
                      const std::filesystem::path& folder, int attempt);

// The receipt delimiter of a register's settings (";" when none is set).
std::string RegisterDelimiter(const std::filesystem::path& registerFolder);

// The register's serial device as its settings name it.
std::string RegisterDevice(const std::filesystem::path& registerFolder);

// Runs `program --console --dir FOLDER` for each job.
class ProcessJobRunner : public JobRunner {
 public:
  explicit ProcessJobRunner(std::filesystem::path program) : program_(std::move(program)) {}
  void Prepare(const Job& job, const std::filesystem::path& registerFolder,
               const std::filesystem::path& folder) override;
  RunEnd Run(const Job& job, const std::filesystem::path& folder) override;
  std::optional<RunEnd> Recover(const Job& job, const std::filesystem::path& folder) override;

 private:
  std::filesystem::path program_;
};

}  // namespace zelmo::service
