// The desktop a POSIX session names in its environment (X11 or Wayland). Only the environment is
// read: whether the display can really be opened is for the toolkit to find out.
#pragma once

#include <string>

namespace zelmo {

// $DISPLAY, else $WAYLAND_DISPLAY; empty when the session names no display.
std::string DisplayName();

}  // namespace zelmo
