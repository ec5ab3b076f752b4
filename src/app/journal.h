// Journal=1: a guard against printing one receipt twice. Before the first byte goes out, a
// journal beside the receipt records its SHA-256, on disk; only a job that went out whole (and
// whose receipt was deleted, with Clear=1) removes it. A journal that is still there for the same
// receipt means an earlier run was cut off (a crash, kill -9, power lost).
#pragma once

#include "app/bridge.h"

namespace zelmo {

inline constexpr const char* kJournalFileName = "smetka.jrn";

// Before the first command: a journal of this very receipt ends the run unless the operator
// (shown mode) says to print again; then this run's journal is written and flushed to disk.
void GuardAgainstReprint(Bridge& b);

// The whole job went out: the journal goes.
void JobWentOut(Bridge& b);

}  // namespace zelmo
