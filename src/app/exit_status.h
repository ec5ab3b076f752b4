// What a run's exit status tells the point-of-sale program that started it. The line between
// "nothing was sent, safe to retry" (1 to 8: at most the enquiry, which prints nothing) and "the
// register may hold part of it" (10, 11) is what keeps a receipt from being printed twice.
#pragma once

#include <span>
#include <string>

namespace zelmo {

enum class ExitStatus : int {
  kSent = 0,               // the whole job was sent
  kOther = 1,              // the program could not go on (or keep its journal); nothing sent
  kNoReceipt = 2,          // no smetka.txt
  kLoadFailed = 3,         // the receipt could not be loaded or was refused
  kOperatorRefused = 4,    // a default was refused or a product name was missing
  kStornoRefused = 5,      // storna.txt without smetka.txt
  kConfigError = 6,        // the configuration file could not be made, read or examined
  kPortFailed = 7,         // the port would not open, or failed before anything was sent
  kClosedBeforeSend = 8,   // closed before anything was sent
  kNotDeleted = 9,         // sent, but the receipt file could not be deleted
  kCutOff = 10,            // cut off after sending had begun: check the register before retrying
  kEarlierRunCutOff = 11,  // Journal=1: an earlier run of this receipt was cut off; nothing sent
};

// What a status promises about printing the receipt again.
enum class Safety {
  kNothingSent,    // nothing reached the register: print again
  kPrinted,        // the whole job went out: never print it again
  kCheckRegister,  // the register may hold some or all of it
};

struct StatusRow {
  ExitStatus status;
  Safety safety;
  const char* brief;  // the status in a few words, for --help
};

// Every status a run can end with, in the order the README lists them.
std::span<const StatusRow> ExitStatusTable();

// What `status` promises: the one place that says which statuses sent nothing, which printed the
// receipt and which leave it to the register to tell.
Safety SafetyOf(ExitStatus status);

// The statuses for --help, "Exit status: 0 sent; 2 no receipt; ...", in lines of at most 94
// characters.
std::string UsageStatusList();

// The one way a run ends. The program's own ending flushes and ends the process at once; tests
// put in one that records the status and unwinds.
class ProgramEnd {
 public:
  virtual ~ProgramEnd() = default;
  [[noreturn]] virtual void End(ExitStatus status) = 0;
};

// Ends the process: output flushed, nothing else of the run executed.
class ProcessEnd : public ProgramEnd {
 public:
  [[noreturn]] void End(ExitStatus status) override;
};

}  // namespace zelmo
