// The desktop front-end lives in a module beside the program, loaded only when a desktop is there
// to be used: a console run, or any run without a display, never maps the toolkit's libraries.
#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "sys/display.h"
#include "sys/executable.h"
#include "ui/front_end.h"

namespace zelmo {
namespace {

constexpr const char* kModule = "zelmo-gtk.so";
constexpr const char* kEntry = "ZelmoMakeGtkFrontEnd";

// Beside the program in a build folder, under lib/zelmo once installed; empty in a build that
// has no desktop front-end.
std::filesystem::path FindModule() {
  const std::filesystem::path folder = ExecutablePath().parent_path();
  for (const auto& candidate : {folder / kModule, folder / ".." / "lib" / "zelmo" / kModule}) {
    std::error_code ec;
    if (std::filesystem::exists(candidate, ec)) return candidate;
  }
  return {};
}

}  // namespace

std::unique_ptr<FrontEnd> MakeDesktopFrontEnd(ProgramEnd&) {
  if (DisplayName().empty()) return nullptr;
  const std::filesystem::path module = FindModule();
  if (module.empty()) {
    // A desktop build without its module is a broken installation: say so, then go headless.
    if (ZELMO_DESKTOP_MODULE)
      std::fprintf(stderr,
                   "zelmo: no desktop window: %s is neither beside the program nor in "
                   "../lib/zelmo\n",
                   kModule);
    return nullptr;
  }
  // Lazy binding, as if the program were linked with the toolkit: only what is called is bound.
  void* handle = dlopen(module.c_str(), RTLD_LAZY | RTLD_LOCAL);
  const auto make = handle ? reinterpret_cast<FrontEnd* (*)()>(dlsym(handle, kEntry)) : nullptr;
  if (!make) {
    std::fprintf(stderr, "zelmo: no desktop window: %s\n", dlerror());
    return nullptr;
  }
  return std::unique_ptr<FrontEnd>(make());
}

}  // namespace zelmo
