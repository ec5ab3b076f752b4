#include "service/print_service.h"

#include <gtest/gtest.h>

#include <fstream>

namespace zelmo::service {
namespace {

using namespace std::chrono_literals;

// Runs end with the statuses given, in order; recovery tells what the test set.
class FakeRunner : public JobRunner {
 public:
  std::vector<int> statuses;
  std::vector<std::string> ran;  // job ids, in the order they ran
  std::optional<RunEnd> recovered;
  std::mutex mutex;

  void Prepare(const Job&, const std::filesystem::path&, const std::filesystem::path&) override {}
  RunEnd Run(const Job& job, const std::filesystem::path&) override {
    std::lock_guard lock(mutex);
    const int status = statuses.empty() ? 0 : statuses.front();
    if (!statuses.empty()) statuses.erase(statuses.begin());
    ran.push_back(job.id);
    return {status, "status " + std::to_string(status)};
  }
  std::optional<RunEnd> Recover(const Job&, const std::filesystem::path&) override {
    return recovered;
  }
};

class PrintServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = std::filesystem::temp_directory_path() /
              ("zelmo-queue-" +
               std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    std::filesystem::remove_all(folder_);
    std::filesystem::create_directories(folder_);
  }
  void TearDown() override {
    service_.reset();
    std::filesystem::remove_all(folder_);
  }
  FakeRunner& Start(std::vector<int> statuses = {}) {
    auto runner = std::make_unique<FakeRunner>();
    runner->statuses = std::move(statuses);
    FakeRunner& fake = *runner;
    service_ = std::make_unique<PrintService>(std::vector<RegisterSettings>{{"till", folder_}},
                                              folder_, 30, std::move(runner));
    service_->Start();
    return fake;
  }
  static ReceiptRequest Receipt(const std::string& canonical) {
    ReceiptRequest r;
    r.items = {{"Млеко", 1, "A", 10}};
    r.canonical = canonical;
    r.total = 10;
    return r;
  }
  Job Ended(const SubmitResult& submitted) {
    const auto job = service_->WaitForEnd(submitted.job.id, 10s);
    EXPECT_TRUE(job && job->stage == JobStage::kEnded);
    return *job;
  }
  std::filesystem::path folder_;
  std::unique_ptr<PrintService> service_;
};

TEST_F(PrintServiceTest, OneKeyIsOneJobWhateverItsOutcome) {
  FakeRunner& runner = Start({7, 10, 0});
  const SubmitResult first = service_->Submit("till", "k", Receipt("A"));
  ASSERT_EQ(first.kind, SubmitResult::kQueued);
  EXPECT_EQ(Ended(first).outcome, PrintOutcome::kNotPrinted);
  EXPECT_EQ(service_->Submit("till", "k", Receipt("B")).kind, SubmitResult::kOtherBody);
  EXPECT_EQ(service_->Submit("nowhere", "k2", Receipt("A")).kind, SubmitResult::kNoRegister);

  // Nothing was sent: the same request is the next attempt of the same job.
  const SubmitResult second = service_->Submit("till", "k", Receipt("A"));
  EXPECT_EQ(second.kind, SubmitResult::kQueued);
  EXPECT_EQ(second.job.id, first.job.id);
  EXPECT_EQ(second.job.attempts, 2);
  const Job unknown = Ended(second);
  EXPECT_EQ((std::pair{unknown.outcome, unknown.exitStatus}),
            (std::pair{PrintOutcome::kUnknown, std::optional<int>(10)}));
  EXPECT_EQ(service_->Submit("till", "k", Receipt("A")).kind, SubmitResult::kUnknown);

  EXPECT_EQ(service_->Resolve("no-such", true).kind, ResolveResult::kNoJob);
  const ResolveResult resolved = service_->Resolve(first.job.id, false);
  EXPECT_EQ(resolved.kind, ResolveResult::kResolved);
  EXPECT_TRUE(resolved.job.resolved);
  const SubmitResult third = service_->Submit("till", "k", Receipt("A"));
  EXPECT_EQ(third.job.attempts, 3);
  EXPECT_EQ(Ended(third).outcome, PrintOutcome::kPrinted);
  EXPECT_EQ(service_->Submit("till", "k", Receipt("A")).kind, SubmitResult::kExisting);
  EXPECT_EQ(service_->Resolve(first.job.id, false).kind, ResolveResult::kNotUnknown);
  EXPECT_EQ(runner.ran.size(), 3u);
}

// Many jobs of one second: the list still has them newest first, as they came in.
TEST_F(PrintServiceTest, JobsOfOneSecondListNewestFirst) {
  Start();
  std::vector<std::string> submitted;
  for (int i = 0; i < 20; ++i)
    submitted.push_back(
        service_->Submit("till", "k" + std::to_string(i), Receipt(std::to_string(i))).job.id);
  std::vector<std::string> listed;
  for (const Job& job : service_->List("till", 0, 200)) listed.insert(listed.begin(), job.id);
  EXPECT_EQ(listed, submitted);
}

TEST_F(PrintServiceTest, AfterARestartJobsAreFoundEndedOrQueuedAgain) {
  Start({0});
  const SubmitResult printed = service_->Submit("till", "p", Receipt("P"));
  Ended(printed);
  service_.reset();

  // As a service killed outright leaves them: one run under way, one job waiting.
  JobStore store(folder_ / "jobs");
  Job sending = printed.job;
  sending.id = "1000000000-00000001";
  sending.idempotencyKey = "s";
  sending.stage = JobStage::kSending;
  store.Save(sending);
  Job queued = printed.job;
  queued.id = "1000000000-00000002";
  queued.idempotencyKey = "q";
  store.Save(queued);

  auto runner = std::make_unique<FakeRunner>();
  runner->recovered = RunEnd{10, "cut off"};
  FakeRunner& fake = *runner;
  service_ = std::make_unique<PrintService>(std::vector<RegisterSettings>{{"till", folder_}},
                                            folder_, 30, std::move(runner));
  service_->Start();
  const auto lost = service_->Find(sending.id);
  ASSERT_TRUE(lost);
  EXPECT_EQ((std::tuple{lost->stage, lost->outcome, lost->exitStatus, lost->message}),
            (std::tuple{JobStage::kEnded, PrintOutcome::kUnknown, std::optional<int>(10),
                        std::string("cut off")}));
  EXPECT_EQ(service_->WaitForEnd(queued.id, 10s)->outcome, PrintOutcome::kPrinted);
  EXPECT_EQ(service_->Submit("till", "p", Receipt("P")).kind, SubmitResult::kExisting);
  EXPECT_EQ(fake.ran, std::vector<std::string>{queued.id});
  EXPECT_EQ(service_->List("till", 0, 200).size(), 3u);
  EXPECT_EQ(service_->List("till", 0, 1).front().id, printed.job.id);  // newest first
}

TEST_F(PrintServiceTest, AJobPastKeepIsForgottenWithItsKey) {
  JobStore store(folder_ / "jobs");
  Job old;
  old.id = "1000000000-0000000a";
  old.registerName = "till";
  old.idempotencyKey = "old";
  old.canonical = "O";
  old.stage = JobStage::kEnded;
  old.outcome = PrintOutcome::kPrinted;
  old.exitStatus = 0;
  old.created = 1000000000;
  old.ended = 1000000001;
  store.Save(old);
  Job recent = old;
  recent.id = "1000000000-0000000b";
  recent.idempotencyKey = "recent";
  recent.ended = recent.created = std::chrono::duration_cast<std::chrono::seconds>(
                                      std::chrono::system_clock::now().time_since_epoch())
                                      .count() -
                                  29 * 86400;
  store.Save(recent);
  Start();
  EXPECT_FALSE(service_->Find(old.id));
  EXPECT_FALSE(std::filesystem::exists(store.FolderOf(old.id)));
  EXPECT_TRUE(service_->Find(recent.id));
  EXPECT_EQ(service_->Submit("till", "recent", Receipt("O")).kind, SubmitResult::kExisting);
}

TEST(RunEnd, FromTheRunsLog) {
  const std::string log =
      "2026-12-10T23:20:40.100 start zelmo 1.0, folder /x\n"
      "2026-12-10T23:20:40.123 sent 05\n"
      "2026-12-10T23:20:41.000 message: Фискалната каса престана да одговара.\r\n"
      "Проверете ја касата.\n"
      "2026-12-10T23:20:41.001 end, exit status 10\n";
  RunEnd end;
  ASSERT_TRUE(ReadRunEnd(log, end));
  EXPECT_EQ(end.status, 10);
  EXPECT_EQ(end.message, "Фискалната каса престана да одговара.\nПроверете ја касата.");
  EXPECT_FALSE(ReadRunEnd(log.substr(0, log.rfind("2026")), end));  // cut before its end

  // A run that ended before its log was opened said why on standard error only.
  const RunEnd early = RunEndFromStatus(6, "", "Zelmo\nTimeout=\"x\": 1 to 3600\n");
  EXPECT_EQ((std::pair{early.status, early.message}),
            (std::pair{6, std::string("Timeout=\"x\": 1 to 3600")}));
}

}  // namespace
}  // namespace zelmo::service
