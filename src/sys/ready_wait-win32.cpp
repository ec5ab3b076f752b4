#include "sys/ready_wait.h"

namespace zelmo {

// The Windows port signals through overlapped I/O on its own thread, not through descriptors.
std::unique_ptr<ReadyWait> ReadyWait::Make() {
  return nullptr;
}

}  // namespace zelmo
