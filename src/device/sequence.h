// The fixed order of a job's commands: ENQ, opening frame, the item frames, EOT, then ENQ,
// opening frame, total frame, EOT.
#pragma once

#include <cstdint>
#include <string>

#include "app/job_state.h"

namespace zelmo {

inline constexpr char kENQ = '\x05';
inline constexpr char kEOT = '\x04';

// The command of `step` for the job in `state` (iStepCount, aItems, iReceiptKind, dTotal), as
// wire bytes; empty for a step outside the job. Frame errors pass through.
std::string GetStepCommand(const JobState& state, int16_t step);

}  // namespace zelmo
