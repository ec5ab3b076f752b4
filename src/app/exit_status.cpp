#include "app/exit_status.h"

#include <cstdio>
#include <cstdlib>

#include "sys/arguments.h"

namespace zelmo {
namespace {

constexpr StatusRow kStatuses[] = {
    {ExitStatus::kSent, Safety::kPrinted, "sent"},
    {ExitStatus::kNoReceipt, Safety::kNothingSent, "no receipt"},
    {ExitStatus::kLoadFailed, Safety::kNothingSent, "receipt not loaded or refused"},
    {ExitStatus::kOperatorRefused, Safety::kNothingSent, "default refused or name missing"},
    {ExitStatus::kStornoRefused, Safety::kNothingSent, "storno refused"},
    {ExitStatus::kConfigError, Safety::kNothingSent, "configuration error"},
    {ExitStatus::kPortFailed, Safety::kNothingSent, "port failed or no answer, nothing printed"},
    {ExitStatus::kClosedBeforeSend, Safety::kNothingSent, "closed before sending"},
    {ExitStatus::kNotDeleted, Safety::kPrinted, "sent but receipt not deleted"},
    {ExitStatus::kCutOff, Safety::kCheckRegister,
     "cut off after sending began (check the register before printing again)"},
    {ExitStatus::kEarlierRunCutOff, Safety::kCheckRegister,
     "an earlier run of this receipt was cut off (check the register)"},
    {ExitStatus::kOther, Safety::kNothingSent,
     "the program could not go on or keep its journal, nothing sent"},
};

constexpr std::size_t kUsageWidth = 94;

}  // namespace

std::span<const StatusRow> ExitStatusTable() {
  return kStatuses;
}

Safety SafetyOf(ExitStatus status) {
  for (const StatusRow& row : kStatuses) {
    if (row.status == status) return row.safety;
  }
  return Safety::kCheckRegister;  // a status no row promises anything for
}

std::string UsageStatusList() {
  std::string text, line = "Exit status:";
  for (const StatusRow& row : kStatuses) {
    const bool last = &row == &kStatuses[std::size(kStatuses) - 1];
    std::string item =
        std::to_string(static_cast<int>(row.status)) + " " + row.brief + (last ? "." : ";");
    // Words stay whole: an item too long for the rest of the line goes on word by word.
    std::size_t start = 0;
    while (start < item.size()) {
      std::size_t end = item.find(' ', start);
      if (end == std::string::npos) end = item.size();
      const std::string word = item.substr(start, end - start);
      if (line.size() + 1 + word.size() > kUsageWidth) {
        text += line + "\n";
        line = word;
      } else {
        line += " " + word;
      }
      start = end + 1;
    }
  }
  return text + line + "\n";
}

void ProcessEnd::End(ExitStatus status) {
  // Only our own streams: standard input may be locked by a reader blocked on it.
  std::fflush(stdout);
  std::fflush(stderr);
  RestoreConsole();
  std::_Exit(static_cast<int>(status));
}

}  // namespace zelmo
