#include "device/sequence.h"

#include "app/checked16.h"
#include "device/frames.h"

namespace zelmo {

std::string GetStepCommand(const JobState& state, int16_t step) {
  const int16_t n = state.iStepCount;
  if (step > 1 && step < Add16(n, -5)) {
    const ReceiptItem& item = state.aItems.at(Add16(step, -2));
    return BuildItemFrame(state.iReceiptKind, item.sName, item.sTaxCode, item.dUnitPrice,
                          item.dQuantity);
  }
  // Rows in this order; with fewer than 7 steps they coincide and the first one wins.
  if (step == 0) return std::string(1, kENQ);
  if (step == 1) return BuildOpeningFrame();
  if (step == Add16(n, -5)) return std::string(1, kEOT);
  if (step == Add16(n, -4)) return std::string(1, kENQ);
  if (step == Add16(n, -3)) return BuildOpeningFrame();
  if (step == Add16(n, -2)) return BuildTotalFrame(state.dTotal);
  if (step == Add16(n, -1)) return std::string(1, kEOT);
  return "";
}

}  // namespace zelmo
