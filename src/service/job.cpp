#include "service/job.h"

#include <chrono>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "app/exit_status.h"

namespace zelmo::service {
namespace {

using nlohmann::json;

const char* StageName(JobStage stage) {
  switch (stage) {
    case JobStage::kQueued:
      return "queued";
    case JobStage::kSending:
      return "sending";
    case JobStage::kEnded:
      return "ended";
  }
  return "queued";
}

JobStage StageOf(const std::string& name) {
  if (name == "queued") return JobStage::kQueued;
  if (name == "sending") return JobStage::kSending;
  if (name == "ended") return JobStage::kEnded;
  throw JobRecordError("state \"" + name + "\" is no job state");
}

PrintOutcome OutcomeOf(const json& value) {
  if (value.is_null()) return PrintOutcome::kNone;
  const std::string name = value.get<std::string>();
  if (name == "printed") return PrintOutcome::kPrinted;
  if (name == "not-printed") return PrintOutcome::kNotPrinted;
  if (name == "unknown") return PrintOutcome::kUnknown;
  throw JobRecordError("outcome \"" + name + "\" is no outcome");
}

json ApiObject(const Job& job) {
  json items = json::array();
  for (const RequestItem& item : job.items) {
    items.push_back({{"name", item.name},
                     {"quantity", item.quantity},
                     {"taxGroup", item.taxGroup},
                     {"unitPrice", item.unitPrice}});
  }
  json o = {{"id", job.id},
            {"register", job.registerName},
            {"idempotencyKey", job.idempotencyKey},
            {"state", StageName(job.stage)},
            {"outcome",
             job.outcome == PrintOutcome::kNone ? json(nullptr) : json(OutcomeName(job.outcome))},
            {"exitStatus", job.exitStatus ? json(*job.exitStatus) : json(nullptr)},
            {"message", job.message},
            {"attempts", job.attempts},
            {"created", IsoTime(job.created)},
            {"ended", job.ended ? json(IsoTime(job.ended)) : json(nullptr)},
            {"items", items},
            {"total", job.total}};
  if (job.resolved) o["resolved"] = true;
  return o;
}

std::int64_t TimeOf(const json& value) {
  if (value.is_null()) return 0;
  const auto time = ParseIsoTime(value.get<std::string>());
  if (!time) throw JobRecordError("\"" + value.get<std::string>() + "\" is no time");
  return *time;
}

}  // namespace

const char* OutcomeName(PrintOutcome outcome) {
  switch (outcome) {
    case PrintOutcome::kPrinted:
      return "printed";
    case PrintOutcome::kNotPrinted:
      return "not-printed";
    case PrintOutcome::kUnknown:
      return "unknown";
    case PrintOutcome::kNone:
      break;
  }
  return "";
}

PrintOutcome OutcomeOfExitStatus(int status) {
  for (const StatusRow& row : ExitStatusTable()) {
    if (static_cast<int>(row.status) != status) continue;
    switch (row.safety) {
      case Safety::kPrinted:
        return PrintOutcome::kPrinted;
      case Safety::kNothingSent:
        return PrintOutcome::kNotPrinted;
      case Safety::kCheckRegister:
        return PrintOutcome::kUnknown;
    }
  }
  return PrintOutcome::kUnknown;
}

std::string JobJson(const Job& job) {
  return ApiObject(job).dump();
}

std::string JobRecord(const Job& job) {
  json o = ApiObject(job);
  o["canonical"] = job.canonical;
  o["resolved"] = job.resolved;
  return o.dump(1) + "\n";
}

Job JobFromRecord(std::string_view text) {
  try {
    const json o = json::parse(text);
    Job job;
    job.id = o.at("id").get<std::string>();
    job.registerName = o.at("register").get<std::string>();
    job.idempotencyKey = o.at("idempotencyKey").get<std::string>();
    job.canonical = o.at("canonical").get<std::string>();
    job.stage = StageOf(o.at("state").get<std::string>());
    job.outcome = OutcomeOf(o.at("outcome"));
    if (!o.at("exitStatus").is_null()) job.exitStatus = o.at("exitStatus").get<int>();
    job.message = o.at("message").get<std::string>();
    job.attempts = o.at("attempts").get<int>();
    job.created = TimeOf(o.at("created"));
    job.ended = TimeOf(o.at("ended"));
    job.resolved = o.value("resolved", false);
    for (const json& item : o.at("items")) {
      job.items.push_back({item.at("name").get<std::string>(), item.at("quantity").get<double>(),
                           item.at("taxGroup").get<std::string>(),
                           item.at("unitPrice").get<double>()});
    }
    job.total = o.at("total").get<double>();
    return job;
  } catch (const json::exception& e) {
    throw JobRecordError(e.what());
  }
}

std::string IsoTime(std::int64_t seconds) {
  using namespace std::chrono;
  const sys_seconds at{std::chrono::seconds(seconds)};
  const sys_days day = floor<days>(at);
  const year_month_day date{day};
  const hh_mm_ss time{at - day};
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                static_cast<int>(time.seconds().count()));
  return text;
}

std::optional<std::int64_t> ParseIsoTime(std::string_view text) {
  int y, mo, d, h, mi, s, used = 0;
  char z = 0;
  const std::string whole(text);
  if (std::sscanf(whole.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%c%n", &y, &mo, &d, &h, &mi, &s, &z,
                  &used) != 7 ||
      z != 'Z' || used != static_cast<int>(whole.size()))
    return std::nullopt;
  using namespace std::chrono;
  const year_month_day date{year{y}, month{static_cast<unsigned>(mo)},
                            day{static_cast<unsigned>(d)}};
  if (!date.ok() || y < 1970 || h > 23 || mi > 59 || s > 59) return std::nullopt;
  const sys_seconds at = sys_days{date} + hours{h} + minutes{mi} + std::chrono::seconds{s};
  return at.time_since_epoch().count();
}

}  // namespace zelmo::service
