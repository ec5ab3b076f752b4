#include "service/print_service.h"

#include <algorithm>
#include <cstdio>
#include <iostream>

#include "service/child_process.h"
#include "sys/durable_file.h"

namespace zelmo::service {
namespace {

std::int64_t Now() {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// The service's own words for the operator, where no run said anything.
constexpr const char* kLostRun =
    "Услугата запре додека сметката се испраќаше, а записот не кажува како заврши: проверете ја "
    "касата.";
constexpr const char* kNotPrepared = "Сметката не може да се подготви за печатење: ";
constexpr const char* kNotStarted = "Печатењето не може да се започне: ";

bool Older(const Job& a, const Job& b) {
  return a.created != b.created ? a.created < b.created : a.id < b.id;
}

}  // namespace

PrintService::PrintService(std::vector<RegisterSettings> registers,
                           std::filesystem::path dataFolder, int keepDays,
                           std::unique_ptr<JobRunner> runner)
    : store_(dataFolder / "jobs"), keepDays_(keepDays), runner_(std::move(runner)) {
  for (RegisterSettings& settings : registers) {
    auto reg = std::make_unique<Register>();
    reg->settings = std::move(settings);
    registers_.push_back(std::move(reg));
  }
}

PrintService::~PrintService() {
  Stop();
}

PrintService::Register* PrintService::RegisterNamed(const std::string& name) {
  for (auto& reg : registers_) {
    if (reg->settings.name == name) return reg.get();
  }
  return nullptr;
}

const PrintService::Register* PrintService::RegisterNamed(const std::string& name) const {
  for (const auto& reg : registers_) {
    if (reg->settings.name == name) return reg.get();
  }
  return nullptr;
}

std::vector<std::string> PrintService::Start() {
  JobStore::Loaded loaded = store_.LoadAll();
  std::sort(loaded.jobs.begin(), loaded.jobs.end(), Older);
  std::lock_guard lock(mutex_);
  for (Job& job : loaded.jobs) {
    if (job.stage == JobStage::kSending) {
      // Its run went on without the service, or never began: its own log tells which.
      const std::optional<RunEnd> end = runner_->Recover(job, store_.FolderOf(job.id));
      End(job, end ? *end : RunEnd{-1, kLostRun});
      if (!end) {
        job.exitStatus.reset();
        store_.Save(job);
      }
    }
    Register* reg = RegisterNamed(job.registerName);
    if (job.stage == JobStage::kQueued && reg) reg->queue.push_back(job.id);
    byKey_[job.idempotencyKey] = job.id;
    jobs_[job.id] = std::move(job);
  }
  Prune();
  for (auto& reg : registers_) {
    Register& r = *reg;
    r.worker = std::thread([this, &r] { Work(r); });
  }
  return loaded.problems;
}

void PrintService::Stop() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  for (auto& reg : registers_) {
    if (reg->worker.joinable()) reg->worker.join();
  }
}

SubmitResult PrintService::Submit(const std::string& registerName, const std::string& key,
                                  const ReceiptRequest& receipt) {
  std::unique_lock lock(mutex_);
  if (stopping_) return {SubmitResult::kStopping, {}};
  Register* reg = RegisterNamed(registerName);
  if (!reg) return {SubmitResult::kNoRegister, {}};
  if (auto known = byKey_.find(key); known != byKey_.end()) {
    Job& job = jobs_.at(known->second);
    if (job.registerName != registerName || job.canonical != receipt.canonical)
      return {SubmitResult::kOtherBody, job};
    if (job.stage != JobStage::kEnded || job.outcome == PrintOutcome::kPrinted)
      return {SubmitResult::kExisting, job};
    if (job.outcome == PrintOutcome::kUnknown) return {SubmitResult::kUnknown, job};
    // Nothing of it reached the register: the same request is another attempt of the same job.
    Job again = job;
    again.attempts += 1;
    again.stage = JobStage::kQueued;
    again.outcome = PrintOutcome::kNone;
    again.exitStatus.reset();
    again.message.clear();
    again.ended = 0;
    again.resolved = false;
    store_.Save(again);
    job = again;
    reg->queue.push_back(job.id);
    changed_.notify_all();
    return {SubmitResult::kQueued, job};
  }
  Job job;
  job.id = store_.NewId();
  job.registerName = registerName;
  job.idempotencyKey = key;
  job.canonical = receipt.canonical;
  job.created = Now();
  job.items = receipt.items;
  job.total = receipt.total;
  // On disk before it is queued or answered: a job the caller was told of is never lost.
  store_.Save(job);
  byKey_[key] = job.id;
  jobs_[job.id] = job;
  reg->queue.push_back(job.id);
  changed_.notify_all();
  return {SubmitResult::kQueued, job};
}

void PrintService::Work(Register& reg) {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [&] { return stopping_ || !reg.queue.empty(); });
    if (stopping_) return;
    const std::string id = reg.queue.front();
    reg.queue.pop_front();
    reg.running = id;
    lock.unlock();
    RunOne(reg, id);
    lock.lock();
    reg.running.clear();
    changed_.notify_all();
  }
}

void PrintService::RunOne(Register& reg, const std::string& id) {
  const std::filesystem::path folder = store_.FolderOf(id);
  Job job;
  {
    std::lock_guard lock(mutex_);
    job = jobs_.at(id);
  }
  std::optional<RunEnd> failed;
  try {
    runner_->Prepare(job, reg.settings.folder, folder);
    job.stage = JobStage::kSending;
    // Marked as sending on disk before the run can touch the port.
    store_.Save(job);
  } catch (const std::exception& e) {
    failed = RunEnd{static_cast<int>(1), kNotPrepared + std::string(e.what())};
  }
  if (!failed) {
    {
      std::lock_guard lock(mutex_);
      jobs_.at(id).stage = JobStage::kSending;
    }
    changed_.notify_all();
    try {
      failed = runner_->Run(job, folder);
    } catch (const std::exception& e) {
      failed = RunEnd{static_cast<int>(1), kNotStarted + std::string(e.what())};
    }
  }
  std::lock_guard lock(mutex_);
  Job& ended = jobs_.at(id);
  End(ended, *failed);
  Prune();
  changed_.notify_all();
}

void PrintService::End(Job& job, const RunEnd& end) {
  job.stage = JobStage::kEnded;
  job.exitStatus = end.status;
  job.outcome = OutcomeOfExitStatus(end.status);
  job.message = end.message;
  job.ended = Now();
  try {
    store_.Save(job);
  } catch (const std::exception& e) {
    std::cerr << "zelmo: job " << job.id << ": its end could not be written: " << e.what()
              << std::endl;
  }
}

void PrintService::Prune() {
  const std::int64_t before = Now() - static_cast<std::int64_t>(keepDays_) * 86400;
  for (auto it = jobs_.begin(); it != jobs_.end();) {
    const Job& job = it->second;
    if (job.stage != JobStage::kEnded || job.ended >= before) {
      ++it;
      continue;
    }
    store_.Remove(job.id);
    if (auto key = byKey_.find(job.idempotencyKey); key != byKey_.end() && key->second == job.id)
      byKey_.erase(key);
    it = jobs_.erase(it);
  }
}

std::optional<Job> PrintService::Find(const std::string& id) const {
  std::lock_guard lock(mutex_);
  const auto it = jobs_.find(id);
  if (it == jobs_.end()) return std::nullopt;
  return it->second;
}

std::optional<Job> PrintService::WaitForEnd(const std::string& id,
                                            std::chrono::seconds timeout) const {
  std::unique_lock lock(mutex_);
  changed_.wait_for(lock, timeout, [&] {
    const auto it = jobs_.find(id);
    return stopping_ || it == jobs_.end() || it->second.stage == JobStage::kEnded;
  });
  const auto it = jobs_.find(id);
  if (it == jobs_.end()) return std::nullopt;
  return it->second;
}

std::vector<Job> PrintService::List(const std::string& registerName, std::int64_t since,
                                    std::size_t limit) const {
  std::vector<Job> found;
  {
    std::lock_guard lock(mutex_);
    for (const auto& [id, job] : jobs_) {
      if (!registerName.empty() && job.registerName != registerName) continue;
      if (job.created < since) continue;
      found.push_back(job);
    }
  }
  std::sort(found.begin(), found.end(), [](const Job& a, const Job& b) { return Older(b, a); });
  if (found.size() > limit) found.resize(limit);
  return found;
}

ResolveResult PrintService::Resolve(const std::string& id, bool printed) {
  std::lock_guard lock(mutex_);
  const auto it = jobs_.find(id);
  if (it == jobs_.end()) return {ResolveResult::kNoJob, {}};
  Job& job = it->second;
  if (job.stage != JobStage::kEnded || job.outcome != PrintOutcome::kUnknown)
    return {ResolveResult::kNotUnknown, job};
  if (!printed) {
    // Someone looked: nothing of it is on the register, so its guard must not stop the next
    // attempt.
    sys::RemoveFileDurably(store_.FolderOf(id) / "smetka.jrn");
  }
  job.outcome = printed ? PrintOutcome::kPrinted : PrintOutcome::kNotPrinted;
  job.resolved = true;
  store_.Save(job);
  changed_.notify_all();
  return {ResolveResult::kResolved, job};
}

std::vector<RegisterView> PrintService::Registers() const {
  std::vector<RegisterView> views;
  std::lock_guard lock(mutex_);
  for (const auto& reg : registers_) {
    RegisterView view;
    view.name = reg->settings.name;
    view.device = RegisterDevice(reg->settings.folder);
    view.busy = !reg->running.empty();
    view.queued = static_cast<int>(reg->queue.size());
    for (const auto& [id, job] : jobs_) {
      if (job.registerName != view.name || job.stage != JobStage::kEnded) continue;
      if (job.ended >= view.lastEnded) {
        view.lastEnded = job.ended;
        view.lastOutcome = job.outcome;
      }
      if (job.outcome == PrintOutcome::kPrinted)
        view.lastPrinted = std::max(view.lastPrinted, job.ended);
    }
    views.push_back(view);
  }
  return views;
}

std::optional<std::string> PrintService::DelimiterOf(const std::string& registerName) const {
  const Register* reg = RegisterNamed(registerName);
  if (!reg) return std::nullopt;
  return RegisterDelimiter(reg->settings.folder);
}

std::string PrintService::Metrics() const {
  const std::vector<RegisterView> views = Registers();
  std::map<std::pair<std::string, std::string>, int> counts;
  {
    std::lock_guard lock(mutex_);
    for (const auto& [id, job] : jobs_) {
      if (job.stage == JobStage::kEnded) counts[{job.registerName, OutcomeName(job.outcome)}]++;
    }
  }
  std::string text =
      "# HELP zelmo_jobs Jobs kept by the service that have ended, by register and outcome.\n"
      "# TYPE zelmo_jobs gauge\n";
  for (const RegisterView& view : views) {
    for (const char* outcome : {"printed", "not-printed", "unknown"}) {
      text += "zelmo_jobs{register=\"" + view.name + "\",outcome=\"" + outcome + "\"} " +
              std::to_string(counts[{view.name, outcome}]) + "\n";
    }
  }
  text +=
      "# HELP zelmo_queue_length Jobs waiting for their register.\n"
      "# TYPE zelmo_queue_length gauge\n";
  for (const RegisterView& view : views)
    text +=
        "zelmo_queue_length{register=\"" + view.name + "\"} " + std::to_string(view.queued) + "\n";
  text +=
      "# HELP zelmo_seconds_since_last_printed Seconds since the register's last printed job.\n"
      "# TYPE zelmo_seconds_since_last_printed gauge\n";
  for (const RegisterView& view : views) {
    if (!view.lastPrinted) continue;
    text += "zelmo_seconds_since_last_printed{register=\"" + view.name + "\"} " +
            std::to_string(Now() - view.lastPrinted) + "\n";
  }
  return text;
}

}  // namespace zelmo::service
