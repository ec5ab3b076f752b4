// A build without a desktop toolkit: every run is headless.
#include "ui/front_end.h"

namespace zelmo {

std::unique_ptr<FrontEnd> MakeDesktopFrontEnd(ProgramEnd&) { return nullptr; }

}  // namespace zelmo
