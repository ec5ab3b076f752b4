#include "device/sequence.h"

#include "device/frames.h"

namespace zelmo {

std::string GetStepCommand(const JobSteps& job, int16_t step) {
  // Step numbers are 16-bit and the job has at least 7 steps: these differences cannot leave
  // the range.
  const int n = job.iStepCount;
  if (step > 1 && step < n - 5) {
    const StepItem& item = job.aItems.at(static_cast<std::size_t>(step - 2));
    return BuildItemFrame(job.iReceiptKind, item.sName, item.sTaxCode, item.dUnitPrice,
                          item.dQuantity);
  }
  // Rows in this order; with fewer than 7 steps they coincide and the first one wins.
  if (step == 0) return std::string(1, kENQ);
  if (step == 1) return BuildOpeningFrame();
  if (step == n - 5) return std::string(1, kEOT);
  if (step == n - 4) return std::string(1, kENQ);
  if (step == n - 3) return BuildOpeningFrame();
  if (step == n - 2) return BuildTotalFrame(job.dTotal);
  if (step == n - 1) return std::string(1, kEOT);
  return "";
}

}  // namespace zelmo
