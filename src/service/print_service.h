// The service's jobs: handed in by the HTTP side, kept on disk, run one at a time per register
// in arrival order by a worker of that register, registers side by side. The idempotency key is
// what makes a retried request the same job and never a second print.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "service/job.h"
#include "service/job_run.h"
#include "service/job_store.h"
#include "service/receipt_request.h"
#include "service/service_settings.h"

namespace zelmo::service {

struct SubmitResult {
  enum Kind {
    kQueued,     // a new job, or a new attempt of one that printed nothing
    kExisting,   // the same key and body: that job, as it stands
    kUnknown,    // the same key and body, ended unknown: not again until it is resolved
    kOtherBody,  // the key was used for another receipt
    kNoRegister,
    kStopping,
  } kind;
  Job job;
};

struct ResolveResult {
  enum Kind { kResolved, kNoJob, kNotUnknown } kind;
  Job job;
};

struct RegisterView {
  std::string name;
  std::string device;
  bool busy = false;
  int queued = 0;
  PrintOutcome lastOutcome = PrintOutcome::kNone;
  std::int64_t lastEnded = 0;
  std::int64_t lastPrinted = 0;
};

class PrintService {
 public:
  PrintService(std::vector<RegisterSettings> registers, std::filesystem::path dataFolder,
               int keepDays, std::unique_ptr<JobRunner> runner);
  ~PrintService();

  // Loads the jobs on disk, ends the ones whose run was lost, queues the queued ones again and
  // starts the workers. Problems found are returned to be reported.
  std::vector<std::string> Start();
  // The workers take no further job; a running one is let end. The queue stays on disk.
  void Stop();

  SubmitResult Submit(const std::string& registerName, const std::string& key,
                      const ReceiptRequest& receipt);
  std::optional<Job> Find(const std::string& id) const;
  // The job once it ended or `timeout` passed (or the service stops).
  std::optional<Job> WaitForEnd(const std::string& id, std::chrono::seconds timeout) const;
  // Newest first, at most `limit`.
  std::vector<Job> List(const std::string& registerName, std::int64_t since,
                        std::size_t limit) const;
  ResolveResult Resolve(const std::string& id, bool printed);
  std::vector<RegisterView> Registers() const;
  // The delimiter a receipt for the register must not hold in a name; nothing for no register.
  std::optional<std::string> DelimiterOf(const std::string& registerName) const;
  std::string Metrics() const;

 private:
  struct Register {
    RegisterSettings settings;
    std::deque<std::string> queue;
    std::string running;
    std::thread worker;
  };

  void Work(Register& reg);
  void RunOne(Register& reg, const std::string& id);
  void End(Job& job, const RunEnd& end);
  void Prune();
  Register* RegisterNamed(const std::string& name);
  const Register* RegisterNamed(const std::string& name) const;

  JobStore store_;
  int keepDays_;
  std::unique_ptr<JobRunner> runner_;
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  bool stopping_ = false;
  std::map<std::string, Job> jobs_;
  std::map<std::string, std::string> byKey_;  // idempotency key -> job id
  std::vector<std::unique_ptr<Register>> registers_;
};

}  // namespace zelmo::service
