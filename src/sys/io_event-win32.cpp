#include "sys/io_event-win32.h"

#include <atomic>

#include "sys/wide-win32.h"

namespace zelmo {
namespace {

std::atomic<int> untilRefusal{0};
std::atomic<DWORD> refusal{ERROR_NOT_ENOUGH_MEMORY};

// Counts one event down to the refused one, if one is to be.
bool Refused() {
  int left = untilRefusal.load();
  while (left > 0) {
    if (untilRefusal.compare_exchange_weak(left, left - 1)) return left == 1;
  }
  return false;
}

}  // namespace

HANDLE NewIoEvent() {
  DWORD error = refusal;
  if (!Refused()) {
    const HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (event) return event;
    error = GetLastError();
  }
  throw ProgramResourceError("CreateEventW: " + SystemMessage(error));
}

void RefuseIoEventForTest(int nth, DWORD error) {
  refusal = error;
  untilRefusal = nth;
}

}  // namespace zelmo
