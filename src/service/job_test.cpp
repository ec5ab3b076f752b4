#include "service/job.h"

#include <gtest/gtest.h>

namespace zelmo::service {
namespace {

// The caller's "may I print again?" rests on this: the README's table, row by row.
TEST(JobOutcome, FollowsTheExitStatusTable) {
  const struct {
    int status;
    PrintOutcome outcome;
  } cases[] = {
      {0, PrintOutcome::kPrinted},       {9, PrintOutcome::kPrinted},
      {1, PrintOutcome::kNotPrinted},    {2, PrintOutcome::kNotPrinted},
      {3, PrintOutcome::kNotPrinted},    {4, PrintOutcome::kNotPrinted},
      {5, PrintOutcome::kNotPrinted},    {6, PrintOutcome::kNotPrinted},
      {7, PrintOutcome::kNotPrinted},    {8, PrintOutcome::kNotPrinted},
      {10, PrintOutcome::kUnknown},      {11, PrintOutcome::kUnknown},
      {128 + 9, PrintOutcome::kUnknown},  // killed: nobody knows how far it got
      {127, PrintOutcome::kUnknown},
  };
  for (const auto& c : cases) EXPECT_EQ(OutcomeOfExitStatus(c.status), c.outcome) << c.status;
}

TEST(JobRecord, ReadsBackWhatWasWritten) {
  Job job;
  job.id = "1765465445-0a1b2c3d";
  job.registerName = "till-1";
  job.idempotencyKey = "order-77";
  job.canonical = "{\"items\":[]}";
  job.stage = JobStage::kEnded;
  job.outcome = PrintOutcome::kUnknown;
  job.exitStatus = 10;
  job.message = "Фискалната каса престана да одговара.\nпроверете";
  job.attempts = 2;
  job.created = 1765465445;
  job.ended = 1765465450;
  job.resolved = true;
  job.items = {{"Млеко", 2, "Б", 58.5}};
  job.total = 117;
  const Job back = JobFromRecord(JobRecord(job));
  EXPECT_EQ(JobRecord(back), JobRecord(job));
  EXPECT_EQ(back.items[0].name, "Млеко");
  EXPECT_EQ(back.exitStatus, 10);

  // The API form leaves out the canonical body and says nothing of an outcome not yet known.
  Job queued = job;
  queued.stage = JobStage::kQueued;
  queued.outcome = PrintOutcome::kNone;
  queued.exitStatus.reset();
  queued.ended = 0;
  queued.resolved = false;
  const std::string api = JobJson(queued);
  EXPECT_EQ(api.find("canonical"), std::string::npos);
  EXPECT_NE(api.find("\"outcome\":null"), std::string::npos) << api;
  EXPECT_NE(api.find("\"created\":\"2025-12-11T15:04:05Z\""), std::string::npos) << api;
}

TEST(JobRecord, RefusesWhatIsNoRecord) {
  for (const char* text : {"", "[]", "{\"id\": 1}", "not json"}) {
    EXPECT_THROW(JobFromRecord(text), JobRecordError) << text;
  }
}

TEST(IsoTime, BothWaysAndRefusals) {
  EXPECT_EQ(IsoTime(0), "1970-01-01T00:00:00Z");
  EXPECT_EQ(IsoTime(1797001445), "2026-12-11T15:04:05Z");
  EXPECT_EQ(ParseIsoTime("2026-12-11T15:04:05Z"), 1797001445);
  EXPECT_EQ(ParseIsoTime("2024-02-29T00:00:00Z"), 1709164800);
  for (const char* bad : {"2026-12-11", "2026-12-11T15:04:05", "2026-02-30T00:00:00Z",
                          "2026-12-11T25:00:00Z", "2026-12-11T15:04:05Zjunk", "yesterday"}) {
    EXPECT_EQ(ParseIsoTime(bad), std::nullopt) << bad;
  }
}

}  // namespace
}  // namespace zelmo::service
