#include "app/exit_status.h"

#include <cstdio>
#include <cstdlib>

namespace zelmo {

void ProcessEnd::End(ExitStatus status) {
  // Only our own streams: standard input may be locked by a reader blocked on it.
  std::fflush(stdout);
  std::fflush(stderr);
  std::_Exit(static_cast<int>(status));
}

}  // namespace zelmo
