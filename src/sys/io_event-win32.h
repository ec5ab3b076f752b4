// The events overlapped I/O waits on. They are the program's own resources, not the line's: a
// system that has none to give ends the run as the program's failure, before anything is sent.
#pragma once

#include <windows.h>

#include <stdexcept>
#include <string>

namespace zelmo {

// The system could not give the program something it needs to go on (an event, a thread).
class ProgramResourceError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A new manual-reset event, not signalled; throws ProgramResourceError naming the call and the
// system's reason.
HANDLE NewIoEvent();

// For fault tests: the `nth` event from now (1: the next) is refused with `error`, as by a system
// out of resources; the rest are made as usual. Zero refuses none.
void RefuseIoEventForTest(int nth, DWORD error = ERROR_NOT_ENOUGH_MEMORY);

}  // namespace zelmo
