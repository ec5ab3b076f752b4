#include "sys/display.h"

#include <cstdlib>

namespace zelmo {

std::string DisplayName() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
    const char* value = std::getenv(name);
    if (value && *value) return value;
  }
  return {};
}

}  // namespace zelmo
