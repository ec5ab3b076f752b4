// The print job: load the receipt, build the whole command table, then send one command each time
// the register asks for the next one, and end the run when the table is used up.
#pragma once

#include <cstdint>

#include "app/bridge.h"

namespace zelmo {

// Starts the job (the print button, or start-up in the hidden mode). Once a job has started the
// button is disabled and a second press does nothing: restarting in the middle of a fiscal
// receipt would print it twice.
void btnPrintClick(Bridge& b);

void PrepareJob(Bridge& b);

// Sends entry `linija` of the command table and empties it; an empty entry ends the run.
// Throws SerialError when the line fails.
void Pecati(Bridge& b, int16_t& linija);

}  // namespace zelmo
