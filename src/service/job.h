// A print job of the service: one receipt for one register, from its request to its outcome. The
// same record is the job's file on disk and, without the canonical body, its API form.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "service/receipt_request.h"

namespace zelmo::service {

enum class JobStage { kQueued, kSending, kEnded };

// What the point-of-sale program may do next: printed (never again), not printed (print again),
// unknown (someone must look at the register first).
enum class PrintOutcome { kNone, kPrinted, kNotPrinted, kUnknown };

struct Job {
  std::string id;
  std::string registerName;
  std::string idempotencyKey;
  std::string canonical;  // the body's canonical form: the same key must come with the same one
  JobStage stage = JobStage::kQueued;
  PrintOutcome outcome = PrintOutcome::kNone;
  std::optional<int> exitStatus;
  std::string message;  // the operator's text the last run ended with
  int attempts = 1;
  std::int64_t created = 0;  // seconds since 1970, UTC
  std::int64_t ended = 0;    // 0 while not ended
  bool resolved = false;     // the outcome was set by someone who looked at the register
  std::vector<RequestItem> items;
  double total = 0;
};

class JobRecordError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The outcome a run's exit status means, by the statuses' own table: a status the table does not
// know (a run killed by a signal) is unknown.
PrintOutcome OutcomeOfExitStatus(int status);

// The API's name of an outcome ("printed", "not-printed", "unknown"); empty for none yet.
const char* OutcomeName(PrintOutcome outcome);

// The job as the API shows it (UTF-8 JSON object text).
std::string JobJson(const Job& job);
// The job's record on disk, and back. Throws JobRecordError for a record that is not one.
std::string JobRecord(const Job& job);
Job JobFromRecord(std::string_view text);

// "2026-12-11T15:04:05Z", and back; nothing for a text that is no such time.
std::string IsoTime(std::int64_t seconds);
std::optional<std::int64_t> ParseIsoTime(std::string_view text);

}  // namespace zelmo::service
