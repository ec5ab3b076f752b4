#include "app/exit_status.h"

#include <cstdio>
#include <cstdlib>

namespace zelmo {

void ProcessEnd::End(ExitStatus status) {
  std::fflush(nullptr);
  std::_Exit(static_cast<int>(status));
}

}  // namespace zelmo
