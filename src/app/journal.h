// Journal=1: a guard against printing one receipt twice. Before the first frame that can print
// goes out, a journal beside the receipt records its SHA-256, on the disk; only a job that went
// out whole (and whose receipt was deleted, with Clear=1) removes it. A journal that is still
// there for the same receipt means an earlier run was cut off (a crash, kill -9, power lost)
// after the register may have printed. A run that ends before that frame leaves no journal of
// its own, so the same receipt simply goes out again.
#pragma once

#include "app/bridge.h"
#include "app/journal_file.h"

namespace zelmo {

// Before the enquiry: a journal of this very receipt ends the run unless the operator (shown
// mode) says to print again, which takes that journal away. A journal that cannot be read ends
// the run too: only a journal that is not there means none.
void LookForEarlierRun(Bridge& b);

// The first frame that can print is next: this run's journal is written and on the disk.
void WriteJournal(Bridge& b);

// The whole job went out: the journal goes.
void JobWentOut(Bridge& b);

}  // namespace zelmo
