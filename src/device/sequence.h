// The fixed order of a job's commands: ENQ, opening frame, the item frames, EOT, then ENQ,
// opening frame, total frame, EOT.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zelmo {

inline constexpr char kENQ = '\x05';
inline constexpr char kEOT = '\x04';

// One receipt item as its frame needs it; the texts are UTF-8.
struct StepItem {
  std::string sName;
  double dQuantity = 0;
  std::string sTaxCode;
  double dUnitPrice = 0;
};

// What the sequence reads of a job: its number of steps, the receipt's kind, its total and its
// items in file order.
struct JobSteps {
  int16_t iStepCount = 0;
  int16_t iReceiptKind = 0;
  double dTotal = 0;
  std::vector<StepItem> aItems;
};

// The command of `step` for `job`, as wire bytes; empty for a step outside the job. Frame errors
// pass through.
std::string GetStepCommand(const JobSteps& job, int16_t step);

}  // namespace zelmo
