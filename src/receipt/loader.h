// Reads the receipt file into the job: one item per line, checked and, where a default can stand
// in, completed by the operator's answer.
#pragma once

#include <string>

#include "app/job_state.h"
#include "app/operator.h"

namespace zelmo {

enum class LoadResult {
  kLoaded,   // every line accepted; aItems, iItemCount and dTotal describe the receipt
  kFailed,   // the file could not be read or a line was bad; nothing shown to the operator, but
             // for a control byte, whose line an error box names
  kRefused,  // a name was missing (after its error box) or the operator refused a default
};

// Adds to state.dTotal (the caller zeroes it). Reads state.sDelimiter. The file is code page
// 1251, or UTF-8 when it starts with the byte order mark; lines end in CR LF or LF, and no other
// byte below 20h (tab included) may stand anywhere in it.
LoadResult LoadReceipt(const std::string& path, JobState& state, Operator& op);

}  // namespace zelmo
